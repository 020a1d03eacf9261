#include "tablewin/TDBGrid2.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTimer>

namespace vemo::tablewin {

// Remembers the line editor it opens, so the clipboard operations can reach it.
class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TDBGrid2* grid) : QStyledItemDelegate(grid), grid_(grid) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(w))
            grid_->editor_ = line;
        return w;
    }
    // Only what the user typed reaches the record. An editor left untouched writes nothing,
    // so a cell whose value could not be read (shown empty) is never blanked by leaving it.
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && !line->isModified())
            return;
        QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    TDBGrid2* grid_;
};

TDBGrid2::TDBGrid2(QWidget* parent) : QTableView(parent)
{
    setItemDelegate(new CellDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    setWordWrap(false);
    // Fixed row heights keep a million-row grid cheap to lay out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setSectionsMovable(false);
}

bool TDBGrid2::editorMode() const
{
    return state() == QAbstractItemView::EditingState && editor_;
}

QLineEdit* TDBGrid2::cellEditor() const
{
    return editorMode() ? editor_.data() : nullptr;
}

void TDBGrid2::commitCellEditor()
{
    if (!editorMode())
        return;
    QWidget* e = editor_.data();
    commitData(e);
    closeEditor(e, QAbstractItemDelegate::NoHint);
}

void TDBGrid2::CopyCellText()
{
    if (auto* e = cellEditor())
        e->copy();
}

void TDBGrid2::CutCellText()
{
    if (auto* e = cellEditor())
        e->cut();
}

void TDBGrid2::PasteCellText()
{
    if (auto* e = cellEditor())
        e->paste();
}

void TDBGrid2::ClearCellText()
{
    if (auto* e = cellEditor())
        e->del();
}

void TDBGrid2::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (!restoring_ && current.isValid() && previous.isValid() && current.row() != previous.row()
        && rowChanging && !rowChanging(current.row())) {
        // The record could not be left: go back to it once this change has settled.
        const QPersistentModelIndex back(previous);
        QTimer::singleShot(0, this, [this, back] {
            if (!back.isValid())
                return;
            restoring_ = true;
            setCurrentIndex(back);
            restoring_ = false;
        });
        QTableView::currentChanged(current, previous);
        return;
    }
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        emit focusedCellChanged(current.row(), current.column());
}

void TDBGrid2::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && state() != QAbstractItemView::EditingState && cancelRecord) {
        cancelRecord();
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

} // namespace vemo::tablewin
