#include "query/Hooks.h"

#include "query/TSQLChild.h"

#include "engine/dataset/Query.h"
#include "engine/session/Session.h"
#include "shell/AppState.h"
#include "shell/TMainForm.h"
#include "shell/WindowHooks.h"

namespace vemo::query {

void installWindowHooks()
{
    shell::windowHooks().openSqlWindow = [](const QString& alias) { openSqlWindow(alias); };
}

TSQLChild* openSqlWindow(const QString& alias) { return openSqlWindow(engine::Session::global(), alias); }

TSQLChild* openSqlWindow(engine::Session& session, const QString& alias)
{
    auto* w = new TSQLChild(session, shell::g_childOwner);
    w->setPersistence(1);
    w->QRY1().setDatabaseName(alias.toStdString());
    w->QRY1().clearSql();
    w->QRY1().setRequestLive(false);
    w->setWindowTitle(TSQLChild::captionFor(alias));
    if (shell::TMainForm* frame = shell::mainForm())
        frame->addChild(w);
    else
        w->show();
    return w;
}

} // namespace vemo::query
