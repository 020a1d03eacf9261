#include "query/ComboGridDelegate.h"

#include "query/TComboGrid.h"
#include "query/TComboInplaceEdit.h"

namespace vemo::query {

ComboGridDelegate::ComboGridDelegate(TComboGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

void ComboGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    grid_->paintCell(painter, option, index.column(), index.row());
}

QWidget* ComboGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    auto* editor = new TComboInplaceEdit(parent, grid_);
    editor->setFont(grid_->font());
    editor->setCellKind(grid_->cellKind(index.column()));
    grid_->editorCreated(editor);
    return editor;
}

void ComboGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* e = static_cast<TComboInplaceEdit*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    if (e->text() != text)
        e->setText(text);
}

void ComboGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    model->setData(index, static_cast<TComboInplaceEdit*>(editor)->text(), Qt::EditRole);
}

void ComboGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex&) const
{
    editor->setGeometry(option.rect);
}

} // namespace vemo::query
