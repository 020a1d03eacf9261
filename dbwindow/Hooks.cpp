#include "dbwindow/Hooks.h"

#include "dbwindow/TAlias_Open.h"
#include "engine/session/Session.h"
#include "query/TSPChild.h"
#include "shell/Prompt.h"
#include "shell/WindowHooks.h"

#include <QApplication>
#include <QPointer>

namespace vemo::dbwindow {

namespace {
QPointer<TAlias_Open>& databaseWindow()
{
    static QPointer<TAlias_Open> window;
    return window;
}
} // namespace

engine::LoginCallback windowLogin()
{
    return [](const std::string& alias, std::string& user, std::string& password) {
        QString u = QString::fromStdString(user), p;
        if (!shell::loginDialog(QApplication::activeWindow(), QString::fromStdString(alias), u, p))
            return false;
        user = u.toStdString();
        password = p.toStdString();
        return true;
    };
}

void installWindowHooks()
{
    engine::Session::global().setLoginCallback(windowLogin());
    engine::Session::global().setNoticeCallback([](const std::string& text) {
        shell::messageBox(QApplication::activeWindow(), QString::fromStdString(text), QStringLiteral("警告"),
                          QMessageBox::Warning);
    });
    shell::WindowHooks& h = shell::windowHooks();
    h.makeDatabaseWindow = [] {
        auto* w = new TAlias_Open(); // the frame's MDI area takes ownership
        databaseWindow() = w;
        return static_cast<shell::ChildWindow*>(w);
    };
    h.openStoredProcWindow = [](const QString& alias, const QString& procedure) {
        query::openStoredProcWindow(engine::Session::global(), alias, procedure);
    };
    h.selectedAlias = [] {
        const QPointer<TAlias_Open>& w = databaseWindow();
        return w && w->aliasSelected() ? w->selectedAlias() : QString();
    };
}

} // namespace vemo::dbwindow
