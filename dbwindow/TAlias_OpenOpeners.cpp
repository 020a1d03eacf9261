// The database window's openers of child windows and the window-opening handshake.
#include "dbwindow/TAlias_Open.h"

#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/RestoreRecords.h"
#include "shell/TMainForm.h"
#include "shell/WindowHooks.h"

#include <QListWidget>

#if VEMO_HAVE_TABLEWIN
#include "tablewin/TMDIChild.h"
#endif

namespace vemo::dbwindow {

using shell::RestoreKind;

namespace {

// Runs an opener hook with the window-opening flag set; a missing hook (that window is not
// part of this build) is a clear error.
template <class Hook, class... Args>
void openThroughHook(const Hook& hook, const char* missing, const Args&... args)
{
    if (!hook)
        throw engine::EngineError(engine::ErrNotSupported, missing);
    shell::g_windowOpening = true;
    try {
        hook(args...);
    } catch (...) {
        shell::g_windowOpening = false;
        throw;
    }
}

} // namespace

bool TAlias_Open::canOpenTables() const
{
#if VEMO_HAVE_TABLEWIN
    return true;
#else
    return false;
#endif
}

bool TAlias_Open::canOpenSql() const { return bool(shell::windowHooks().openSqlWindow); }
bool TAlias_Open::canOpenProcedures() const { return bool(shell::windowHooks().openStoredProcWindow); }
bool TAlias_Open::canOpenStatus() const { return bool(shell::windowHooks().openStatusWindow); }
bool TAlias_Open::canOpenIndex() const { return bool(shell::windowHooks().openIndexWindow); }

void TAlias_Open::place(shell::ChildWindow* child)
{
    if (placeChild)
        placeChild(child);
    else if (shell::TMainForm* frame = shell::mainForm())
        frame->addChild(child);
    else
        child->show();
}

void TAlias_Open::waitForChild()
{
    // A child that never paints (a minimised frame) must not hang the program: the wait is
    // bounded and the flag is cleared when the bound passes.
    shell::waitForFirstPaint(firstPaintBoundMs);
}

void TAlias_Open::openSelected(QListWidget* list, RestoreKind kind,
                               const std::function<void(const QString&, const QString&)>& make)
{
    restoreBeforeOpening();
    const QString alias = selectedAlias();
    for (const QString& name : selectedNames(list)) {
        const bool recorded = shell::restoreEnabled(kind);
        if (recorded)
            shell::writeRestoreRecord(kind, alias, name);
        try {
            make(alias, name);
        } catch (...) {
            // No record of a window that did not open (a procedure that cannot be prepared).
            if (recorded)
                shell::deleteRestoreRecord(kind, alias, name);
            throw;
        }
    }
}

void TAlias_Open::restoreBeforeOpening()
{
    // The last run's windows come first, and before this run writes records of its own.
    if (restorePending_)
        restoreWindows();
}

void TAlias_Open::Make_Child()
{
    restoreBeforeOpening();
    const QString alias = selectedAlias();
    for (const QString& table : selectedNames(LB1)) {
        try {
            Make_Child2(alias, table);
        } catch (const std::exception& e) {
            shell::showError(this, QString::fromStdString(e.what()));
            return; // the remaining tables are not opened
        }
    }
}

void TAlias_Open::Make_Child2(const QString& alias, const QString& table)
{
#if VEMO_HAVE_TABLEWIN
    shell::g_windowOpening = true;
    auto child = std::make_unique<tablewin::TMDIChild>(session_, nullptr);
    child->setPersistence(1);
    engine::Table& t = child->Table1();
    t.setDatabaseName(alias.toStdString());
    t.setTableName(table.toStdString());
    const bool recorded = shell::restoreEnabled(RestoreKind::Table);
    if (recorded)
        shell::writeRestoreRecord(RestoreKind::Table, alias, table);
    child->setWindowTitle(tablewin::TMDIChild::captionFor(alias, table));
    try {
        t.setIndexName(std::string());
        t.open();
        const auto indexes = t.indexDefs();
        if (!indexes.empty()) {
            child->setIndexLabel(QStringLiteral("[主キー]"));
            t.close();
            t.setIndexName(indexes.front().name);
            t.open();
        } else {
            child->setIndexLabel(QStringLiteral("[キー無し]"));
        }
    } catch (...) {
        // No empty window and no record of a table that cannot be opened.
        shell::g_windowOpening = false;
        if (recorded)
            shell::deleteRestoreRecord(RestoreKind::Table, alias, table);
        throw;
    }
    place(child.release());
    waitForChild();
#else
    Q_UNUSED(alias);
    Q_UNUSED(table);
    throw engine::EngineError(engine::ErrNotSupported, "テーブル編集ウィンドウはこの版にはありません。");
#endif
}

void TAlias_Open::Open_SQLClick()
{
    restoreBeforeOpening();
    if (!aliasSelected())
        return;
    const QString alias = selectedAlias();
    if (shell::restoreEnabled(RestoreKind::Sql))
        shell::writeRestoreRecord(RestoreKind::Sql, alias, QString());
    Make_SQL(alias);
}

void TAlias_Open::Make_SQL(const QString& alias)
{
    openThroughHook(shell::windowHooks().openSqlWindow,
                    "SQLウィンドウはこの版にはありません。", alias);
    waitForChild();
}

void TAlias_Open::Make_SP()
{
    openSelected(LB2, RestoreKind::StoredProc,
                 [this](const QString& alias, const QString& name) { Make_SP2(alias, name); });
}

void TAlias_Open::Make_SP2(const QString& alias, const QString& procedure)
{
    openThroughHook(shell::windowHooks().openStoredProcWindow,
                    "ストアドプロシージャウィンドウはこの版にはありません。", alias, procedure);
    waitForChild();
}

void TAlias_Open::S1Click()
{
    openSelected(LB1, RestoreKind::Status,
                 [this](const QString& alias, const QString& name) { Make_Status(alias, name); });
}

void TAlias_Open::Make_Status(const QString& alias, const QString& table)
{
    openThroughHook(shell::windowHooks().openStatusWindow,
                    "テーブル情報ウィンドウはこの版にはありません。", table, alias);
    waitForChild();
}

void TAlias_Open::N2Click()
{
    openSelected(LB1, RestoreKind::Index,
                 [this](const QString& alias, const QString& name) { Make_Index(alias, name); });
}

void TAlias_Open::Make_Index(const QString& alias, const QString& table)
{
    openThroughHook(shell::windowHooks().openIndexWindow,
                    "インデックス情報ウィンドウはこの版にはありません。", table, alias);
    waitForChild();
}

} // namespace vemo::dbwindow
