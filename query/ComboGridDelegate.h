#pragma once
// Draws and edits combo grid cells on the grid's behalf.
#include <QStyledItemDelegate>

namespace vemo::query {

class TComboGrid;

class ComboGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ComboGridDelegate(TComboGrid* grid);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    TComboGrid* grid_;
};

} // namespace vemo::query
