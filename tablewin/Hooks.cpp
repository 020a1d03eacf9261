#include "tablewin/Hooks.h"

#include "tablewin/TMDIChild.h"
#include "tablewin/TTableStatus.h"

#include "index/TTableIndex.h"

#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/THelpWindow.h"
#include "shell/TMainForm.h"
#include "shell/WindowHooks.h"

namespace vemo::tablewin {

void installWindowHooks()
{
    shell::WindowHooks& h = shell::windowHooks();
    h.openTableFile = [](const QString& path) { openTableFile(path); };
    h.openStatusWindow = [](const QString& table, const QString& alias) {
        openStatusWindow(engine::Session::global(), table, alias);
    };
    h.openIndexWindow = [](const QString& table, const QString& alias) {
        openIndexWindow(engine::Session::global(), table, alias);
    };
}

namespace {
void placeChild(shell::ChildWindow* w)
{
    if (shell::TMainForm* frame = shell::mainForm())
        frame->addChild(w);
    else
        w->show();
}
} // namespace

TTableStatus* openStatusWindow(engine::Session& session, const QString& table, const QString& alias)
{
    auto* w = new TTableStatus(session, shell::g_childOwner);
    w->setPersistence(1);
    w->setWindowTitle(TTableStatus::captionFor(alias, table));
    w->Table1().setDatabaseName(alias.toStdString());
    w->Table1().setTableName(table.toStdString());
    placeChild(w);
    return w;
}

index::TTableIndex* openIndexWindow(engine::Session& session, const QString& table, const QString& alias)
{
    auto* w = new index::TTableIndex(session, shell::g_childOwner);
    w->setPersistence(1);
    w->setWindowTitle(index::TTableIndex::captionFor(alias, table));
    w->Table1().setDatabaseName(alias.toStdString());
    w->Table1().setTableName(table.toStdString());
    placeChild(w);
    return w;
}

TMDIChild* openTableFile(const QString& path)
{
    return openTableFile(engine::Session::global(), path);
}

TMDIChild* openTableFile(engine::Session& session, const QString& path)
{
    auto* w = new TMDIChild(session, shell::g_childOwner);
    w->setPersistence(0);
    engine::Table& t = w->Table1();
    t.setDatabaseName(std::string());
    t.setTableName(path.toStdString());
    w->setWindowTitle(QStringLiteral("テーブル編集 - [") + path + QLatin1Char(']'));
    t.setCachedUpdates(false);
    if (shell::TMainForm* frame = shell::mainForm())
        frame->addChild(w);
    else
        w->show();
    try {
        t.open();
        // A table without an index has no way to find a changed record again: write directly.
        if (!t.indexDefs().empty()) {
            w->setIndexLabel(QStringLiteral("[主キー]"));
            t.setCachedUpdates(true);
        } else {
            w->setIndexLabel(QStringLiteral("[キー無し]"));
        }
    } catch (const std::exception& e) {
        shell::showError(w, QString::fromUtf8(e.what()));
    }
    return w;
}

} // namespace vemo::tablewin
