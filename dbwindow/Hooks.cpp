#include "dbwindow/Hooks.h"

#include "dbwindow/TAlias_Open.h"
#include "shell/WindowHooks.h"

#include <QPointer>

namespace vemo::dbwindow {

namespace {
QPointer<TAlias_Open>& databaseWindow()
{
    static QPointer<TAlias_Open> window;
    return window;
}
} // namespace

void installWindowHooks()
{
    shell::WindowHooks& h = shell::windowHooks();
    h.makeDatabaseWindow = [] {
        auto* w = new TAlias_Open(); // the frame's MDI area takes ownership
        databaseWindow() = w;
        return static_cast<shell::ChildWindow*>(w);
    };
    h.selectedAlias = [] {
        const QPointer<TAlias_Open>& w = databaseWindow();
        return w && w->aliasSelected() ? w->selectedAlias() : QString();
    };
}

} // namespace vemo::dbwindow
