#pragma once
// The drop-down list of a combo grid's drop-down cells: a pop-up window of its editor, so it
// is not clipped by the grid.
#include <QListWidget>

namespace vemo::query {

class TComboInplaceEdit;

class TInplaceListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TInplaceListBox(TComboInplaceEdit* editor);

    TComboInplaceEdit* editor() const { return editor_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void takeSelection();
    TComboInplaceEdit* editor_;
};

} // namespace vemo::query
