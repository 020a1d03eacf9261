#pragma once
// The cell editor of a combo grid: a masked line editor that, for drop-down columns, draws a
// button at its right edge and opens a list of choices (the text stays free to type).
#include "query/TCellKind.h"

#include <QLineEdit>

namespace vemo::query {

class TComboGrid;
class TInplaceListBox;

class TComboInplaceEdit : public QLineEdit {
    Q_OBJECT
public:
    TComboInplaceEdit(QWidget* parent, TComboGrid* grid);
    ~TComboInplaceEdit() override;

    // The editor keeps its own copy of the column's kind.
    const TCellKind& CellKind() const { return cellKind_; }
    void setCellKind(const TCellKind& kind);

    TInplaceListBox* list() const { return list_; }
    bool listVisible() const;
    void openList();
    void closeList();
    void toggleList();
    // Keeps typed text clear of the drop-down button.
    void applyTextArea();

    // The width of the drop-down button (a scroll bar's arrow button), read once.
    static int buttonWidth();
    QRect buttonRect() const;

    // Called by the list when an item was clicked.
    void listClicked();
    // Called by a grid that goes away before its editor.
    void detachGrid() { grid_ = nullptr; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    bool isDropDown() const { return cellKind_.Kind == KindDropDown; }
    TComboGrid* grid_;
    TCellKind cellKind_;
    TInplaceListBox* list_ = nullptr;
    int buttonDownX_ = -1;
};

} // namespace vemo::query
