#pragma once
// The data grid: a table view over a dataset model with an in-place line editor, plus the
// four clipboard operations on that editor that the owning window's Edit menu calls.
#include <QPointer>
#include <QTableView>
#include <functional>

class QLineEdit;

namespace vemo::tablewin {

class TDBGrid2 : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid2(QWidget* parent = nullptr);

    // True while the in-place editor is open on a cell.
    bool editorMode() const;
    QLineEdit* cellEditor() const;
    // The open cell editor's text into the record, and the editor closed.
    void commitCellEditor();

    // Each acts on the cell editor while it is open and does nothing otherwise.
    void CopyCellText();
    void CutCellText();
    void PasteCellText();
    void ClearCellText();

    // Asked before the current cell moves to another row: may post the record being edited.
    // Returning false (a failed post) keeps the current cell where it is.
    std::function<bool(int newRow)> rowChanging;
    // Esc outside the cell editor: cancel the edit of the current record.
    std::function<void()> cancelRecord;

signals:
    // The focused cell is now at (row, column): the owner tracks the current field by it.
    void focusedCellChanged(int row, int column);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    friend class CellDelegate;
    QPointer<QLineEdit> editor_;
    bool restoring_ = false;
};

} // namespace vemo::tablewin
