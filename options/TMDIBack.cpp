#include "options/TMDIBack.h"

#include <QEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QPainter>

namespace vemo::options {

namespace {
int g_instances = 0;
}

TMDIBack::TMDIBack(QWidget* owner) : QObject(owner), owner_(owner)
{
    if (g_instances > 0)
        throw EMDIBackError("Only single component allowed");
    ++g_instances;
}

TMDIBack::~TMDIBack()
{
    // One at a time: a frame created after this one has gone may have its own.
    --g_instances;
    if (viewport_)
        viewport_->removeEventFilter(this);
}

int TMDIBack::instanceCount()
{
    return g_instances;
}

void TMDIBack::Loaded(Painter paintContent)
{
    auto* frame = qobject_cast<QMainWindow*>(owner_);
    auto* area = frame ? qobject_cast<QMdiArea*>(frame->centralWidget()) : nullptr;
    if (!area)
        throw EMDIBackError("Owner must be a MDI Form");
    if (!area->viewport())
        throw EMDIBackError("ClientHandle is not available");
    if (viewport_)
        viewport_->removeEventFilter(this);
    client_ = area;
    viewport_ = area->viewport();
    paint_ = std::move(paintContent);
    client_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    client_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport_->installEventFilter(this);
    viewport_->update();
}

bool TMDIBack::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == viewport_ && e->type() == QEvent::Paint) {
        QPainter p(viewport_);
        const QRect r = viewport_->rect();
        p.fillRect(r, client_->background());
        if (paint_)
            paint_(p, r);
        return true; // replaces the area's own flat fill
    }
    return QObject::eventFilter(watched, e);
}

} // namespace vemo::options
