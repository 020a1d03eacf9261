#include "shell/ChildWindow.h"

#include "shell/AppState.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace vemo::shell {

ChildWindow::ChildWindow(QWidget* parent) : QWidget(parent) {}

bool ChildWindow::event(QEvent* e)
{
    const bool handled = QWidget::event(e);
    switch (e->type()) {
    case QEvent::Paint:
        finishFirstPaint();
        break;
    case QEvent::ParentChange:
    case QEvent::Show:
        // A window covered by its controls may never receive a paint of its own; the MDI
        // frame around it always paints, so that counts as well.
        if (!painted_ && parentWidget() != watchedFrame_) {
            if (watchedFrame_)
                watchedFrame_->removeEventFilter(this);
            watchedFrame_ = parentWidget();
            if (watchedFrame_)
                watchedFrame_->installEventFilter(this);
        }
        break;
    default:
        break;
    }
    return handled;
}

bool ChildWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == watchedFrame_ && e->type() == QEvent::Paint && !painted_ && !finishing_) {
        finishing_ = true;
        // Let the rest of this paint pass (the window's own controls) finish first.
        QTimer::singleShot(0, this, [this] { finishFirstPaint(); });
    }
    return QWidget::eventFilter(watched, e);
}

void ChildWindow::finishFirstPaint()
{
    if (painted_)
        return;
    painted_ = true;
    if (watchedFrame_) {
        watchedFrame_->removeEventFilter(this);
        watchedFrame_ = nullptr;
    }
    firstPaint();
    g_windowOpening = false;
    emit firstPainted();
}

void ChildWindow::closeEvent(QCloseEvent* e)
{
    if (!closeQuery()) {
        e->ignore();
        return;
    }
    closeHandler();
    e->accept();
}

bool waitForFirstPaint(int boundMs)
{
    if (!g_windowOpening)
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!g_windowOpening || clock.elapsed() >= boundMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    const bool painted = !g_windowOpening;
    g_windowOpening = false;
    return painted;
}

} // namespace vemo::shell
