#include "query/TInplaceListBox.h"

#include "query/TComboInplaceEdit.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace vemo::query {

TInplaceListBox::TInplaceListBox(TComboInplaceEdit* editor)
    : QListWidget(editor), editor_(editor)
{
    setWindowFlags(Qt::Popup);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::StrongFocus);
    hide();
}

void TInplaceListBox::takeSelection()
{
    if (QListWidgetItem* it = currentItem(); it && it->isSelected())
        editor_->setText(it->text());
}

void TInplaceListBox::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        hide();
        e->accept();
        return;
    }
    QListWidget::keyPressEvent(e);
}

void TInplaceListBox::keyReleaseEvent(QKeyEvent* e)
{
    takeSelection();
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        hide();
    QListWidget::keyReleaseEvent(e);
}

void TInplaceListBox::mouseReleaseEvent(QMouseEvent* e)
{
    QListWidget::mouseReleaseEvent(e);
    if (!rect().contains(e->position().toPoint())) {
        hide(); // a click outside a pop-up ends it
        return;
    }
    takeSelection();
    hide();
    editor_->listClicked();
}

} // namespace vemo::query
