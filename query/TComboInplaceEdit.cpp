#include "query/TComboInplaceEdit.h"

#include "query/CellFormat.h"
#include "query/TComboGrid.h"
#include "query/TInplaceListBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace vemo::query {

TComboInplaceEdit::TComboInplaceEdit(QWidget* parent, TComboGrid* grid)
    : QLineEdit(parent), grid_(grid)
{
    setFrame(false);
    setMouseTracking(true);
}

TComboInplaceEdit::~TComboInplaceEdit() = default;

int TComboInplaceEdit::buttonWidth()
{
    static const int width = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return width;
}

QRect TComboInplaceEdit::buttonRect() const
{
    const int w = buttonWidth();
    return QRect(width() - w, 0, w, height() - 1);
}

void TComboInplaceEdit::setCellKind(const TCellKind& kind)
{
    cellKind_.assign(kind);
    if (cellKind_.Kind == KindText) {
        setInputMask(toInputMask(cellKind_.item(0)));
        setMaxLength(cellKind_.EditLimit > 0 ? cellKind_.EditLimit : 32767);
    } else {
        setInputMask(QString());
        setMaxLength(32767);
    }
    if (isDropDown()) {
        if (!list_)
            list_ = new TInplaceListBox(this);
        list_->clear();
        list_->setFixedWidth(std::max(cellKind_.DropDownWidth, 1));
        for (const CellItem& it : cellKind_.Items)
            list_->addItem(it.text);
    }
    applyTextArea();
    update();
}

void TComboInplaceEdit::applyTextArea()
{
    if (isDropDown())
        setTextMargins(2, 2, buttonWidth() + 2, 0);
    else
        setTextMargins(0, 0, 0, 0);
}

bool TComboInplaceEdit::listVisible() const
{
    return list_ && list_->isVisible();
}

void TComboInplaceEdit::openList()
{
    if (!isDropDown() || !list_ || list_->isVisible())
        return;
    list_->clearSelection();
    list_->setCurrentItem(nullptr);
    if (list_->count() > 0) {
        const QList<QListWidgetItem*> same = list_->findItems(text(), Qt::MatchExactly);
        if (!same.isEmpty())
            list_->setCurrentItem(same.first());
        else
            list_->clearSelection();
    }
    list_->setFixedWidth(std::max(width(), cellKind_.DropDownWidth));
    const int rows = std::clamp(list_->count(), 1, 8);
    list_->setFixedHeight(rows * list_->sizeHintForRow(0) + 2 * list_->frameWidth());
    const QPoint bottomRight = mapToGlobal(QPoint(width(), height()));
    list_->move(bottomRight.x() - list_->width(), bottomRight.y());
    selectAll();
    list_->show();
    list_->setFocus(Qt::PopupFocusReason);
}

void TComboInplaceEdit::closeList()
{
    if (list_)
        list_->hide();
}

void TComboInplaceEdit::toggleList()
{
    if (listVisible())
        closeList();
    else
        openList();
}

void TComboInplaceEdit::listClicked()
{
    if (grid_)
        grid_->raiseGridBtnClick(grid_->currentColumn(), grid_->currentRow());
}

void TComboInplaceEdit::paintEvent(QPaintEvent* e)
{
    QLineEdit::paintEvent(e);
    if (!isDropDown())
        return;
    QPainter p(this);
    const QRect r = buttonRect();
    const bool down = buttonDownX_ >= 0;
    qDrawWinButton(&p, r, palette(), down, &palette().brush(QPalette::Button));
    // A down-pointing triangle of 7, 5, 3 and 1 pixel lines.
    p.setPen(palette().color(QPalette::ButtonText));
    const int cx = r.right() - buttonWidth() / 2 + (down ? 1 : 0);
    const int top = r.top() + (r.height() - 4) / 2 + (down ? 1 : 0);
    for (int i = 0; i < 4; ++i)
        p.drawLine(cx - 3 + i, top + i, cx + 3 - i, top + i);
    if (down) {
        QStyleOptionFocusRect fo;
        fo.initFrom(this);
        fo.rect = r.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &fo, &p, this);
    }
}

void TComboInplaceEdit::mousePressEvent(QMouseEvent* e)
{
    if (isDropDown() && e->button() == Qt::LeftButton && buttonRect().contains(e->position().toPoint())) {
        buttonDownX_ = e->position().toPoint().x();
        update();
        return;
    }
    QLineEdit::mousePressEvent(e);
}

void TComboInplaceEdit::mouseMoveEvent(QMouseEvent* e)
{
    if (isDropDown() && buttonRect().contains(e->position().toPoint()))
        setCursor(Qt::ArrowCursor);
    else
        setCursor(Qt::IBeamCursor);
    QLineEdit::mouseMoveEvent(e);
}

void TComboInplaceEdit::mouseReleaseEvent(QMouseEvent* e)
{
    if (buttonDownX_ >= 0) {
        const bool onButton = buttonRect().contains(e->position().toPoint());
        buttonDownX_ = -1;
        update();
        if (onButton)
            toggleList();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void TComboInplaceEdit::keyPressEvent(QKeyEvent* e)
{
    if (listVisible()) {
        switch (e->key()) {
        case Qt::Key_Escape:
            closeList();
            return;
        case Qt::Key_Return: case Qt::Key_Enter:
        case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Left: case Qt::Key_Right: {
            QKeyEvent press(QEvent::KeyPress, e->key(), e->modifiers());
            QKeyEvent release(QEvent::KeyRelease, e->key(), e->modifiers());
            QApplication::sendEvent(list_, &press);
            QApplication::sendEvent(list_, &release);
            return;
        }
        default:
            break;
        }
    }
    QLineEdit::keyPressEvent(e);
}

void TComboInplaceEdit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    applyTextArea();
}

void TComboInplaceEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // Focus moving into our own list is still editing.
    if (e->reason() == Qt::PopupFocusReason && listVisible())
        return;
    closeList();
    if (grid_)
        grid_->raiseEditEnd();
}

} // namespace vemo::query
