#pragma once
// A string grid whose columns each have a cell kind: plain text (optional edit mask and
// number display format), drop-down list, button or check cells. Row 0.. and column 0.. are
// addressed as in a string grid, fixed rows and columns included.
#include "query/ComboGridDescription.h"
#include "query/TCellKind.h"
#include "query/TComboInplaceEdit.h"

#include <QPointer>
#include <QStyle>
#include <QTableWidget>
#include <memory>
#include <vector>

class QStyleOptionViewItem;

namespace vemo::query {

class TComboInplaceEdit;

class TComboGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TComboGrid(QWidget* parent = nullptr);
    ~TComboGrid() override;

    int ColCount() const { return columnCount(); }
    void setColCount(int n) { setColumnCount(n); }
    int RowCount() const { return rowCount(); }
    void setRowCount(int n) { QTableWidget::setRowCount(n); }
    int FixedRows() const { return fixedRows_; }
    void setFixedRows(int n);
    int FixedCols() const { return fixedCols_; }
    void setFixedCols(int n);
    void setDefaultRowHeight(int px);

    QString Cells(int col, int row) const;
    // The text a data cell shows: a plain text cell with a number display format shows a
    // number text formatted, every other text as stored.
    QString displayText(int col, int row) const;
    void setCells(int col, int row, const QString& text);
    bool isFixedCell(int col, int row) const { return row < fixedRows_ || col < fixedCols_; }

    // Options of the grid: cells may be edited; the editor shows as soon as a cell is current.
    bool editingOption() const { return editing_; }
    void setEditingOption(bool on) { editing_ = on; }
    bool alwaysShowEditor() const { return alwaysShowEditor_; }
    void setAlwaysShowEditor(bool on) { alwaysShowEditor_ = on; }
    // Column widths may be dragged at a heading's right edge.
    bool columnSizing() const { return columnSizing_; }
    void setColumnSizing(bool on);
    // A range of data cells may be selected (shift-click, drag); otherwise one cell.
    bool rangeSelection() const { return selectionMode() == QAbstractItemView::ContiguousSelection; }
    void setRangeSelection(bool on);
    // The column whose right edge lies under a point of the viewport's heading rows, within
    // a few pixels; -1 when none.
    int sizingColumnAt(const QPoint& pos) const;

    // The kind of a column, created with defaults on first use.
    TCellKind& cellKind(int col);
    const TCellKind& cellKind(int col) const;

    // Edit mask and limit of a cell as the editor uses them.
    QString editMask(int col, int row) const;
    int editLimit(int col, int row) const;
    // Whether the editor may show on a cell (kind, CanEdit, the editing option).
    bool canShowEditor(int col, int row) const;

    // The button or check cell the mouse (or Space) went down on; (-1, -1) when none.
    QPoint pressedCell() const { return pressed_; }

    // The open cell editor, if any; commitEdit stores its text in the cell.
    TComboInplaceEdit* inplaceEditor() const { return editor_; }
    void commitEdit();
    void closeEdit();
    // Closes the editor without storing its text.
    void discardEdit();

    // Stored description.
    QList<CellDataEntry> cellData() const;
    void setCellData(const QList<CellDataEntry>& entries);
    QList<CellKindEntry> cellKinds() const;
    void setCellKinds(const QList<CellKindEntry>& entries);
    ComboGridDescription description() const { return {cellData(), cellKinds()}; }
    void setDescription(const ComboGridDescription& d);

    // Used by the delegate and the editor.
    void paintCell(QPainter* p, const QStyleOptionViewItem& option, int col, int row);
    void editorCreated(TComboInplaceEdit* editor);
    void raiseGridBtnClick(int col, int row) { emit OnGridBtnClick(this, col, row); }
    void raiseEditEnd() { emit OnEditEnd(this); }

signals:
    void OnGridBtnClick(QObject* Sender, int ACol, int ARow);
    void OnEditEnd(QObject* Sender);
    void OnDrawCell(QObject* Sender, int ACol, int ARow, const QRect& Rect, QStyle::State State);

public:
    // Fixed rows stay at the top and fixed columns at the left however the grid scrolls:
    // where a cell sits on screen, and which cell a point of the viewport hits.
    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& pos) const override;
    // Height of the fixed rows and width of the fixed columns, pixels.
    int fixedBandHeight() const;
    int fixedBandWidth() const;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void paintEvent(QPaintEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void paintFixedCell(QPainter* p, int col, int row, const QRect& r);
    void placeEditor();
    void pressAt(const QModelIndex& index);
    void releaseAt(const QPoint& pos);
    void drawButtonCell(QPainter* p, const QRect& r, const TCellKind& kind, const QString& text, bool pressed);
    void drawCheckCell(QPainter* p, const QRect& r, const TCellKind& kind, const QString& text, bool pressed);
    void drawText(QPainter* p, const QRect& r, const QString& text, int bits, int margin, bool fixed);

    mutable std::vector<std::unique_ptr<TCellKind>> kinds_;
    int fixedRows_ = 1;
    int fixedCols_ = 1;
    bool editing_ = false;
    bool alwaysShowEditor_ = false;
    bool columnSizing_ = false;
    int sizing_ = -1;     // the column being sized by the mouse
    int sizingFrom_ = 0;  // where the drag started, and the column's width then
    int sizingWidth_ = 0;
    QPoint pressed_{-1, -1};
    bool pressedWasCurrent_ = false;
    QPointer<TComboInplaceEdit> editor_;
};

} // namespace vemo::query
