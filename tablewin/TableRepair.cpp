#include "tablewin/TableRepair.h"

#include "engine/contract/Database.h"
#include "engine/contract/EngineError.h"
#include "engine/dataset/Table.h"
#include "engine/session/Session.h"

namespace vemo::tablewin {
namespace {

engine::RepairReport repairOf(engine::Session& session, const engine::Table& table, bool apply) {
    std::string name;
    engine::Database& db = session.databaseFor(table.databaseName(), table.tableName(), name);
    return db.repairTable(name, apply);
}

} // namespace

std::string repairQuestion(engine::Session& session, const engine::Table& table) {
    if (!table.isOpen() || table.canModify())
        return {};
    engine::RepairReport r;
    try {
        r = repairOf(session, table, false);
    } catch (const engine::EngineError&) {
        return {}; // a database without table repair
    }
    if (r.mended.empty() || !r.remaining.empty())
        return {};
    std::string text = "テーブルは読み取り専用で開かれました: " + table.readOnlyReason() +
                       "\n\nインデックスを再構築して、書き込めるようにしますか?\n";
    for (const auto& line : r.mended)
        text += "\n・" + line;
    return text;
}

std::string repairAndReopen(engine::Session& session, engine::Table& table) {
    table.close();
    engine::RepairReport r;
    try {
        r = repairOf(session, table, true);
    } catch (...) {
        try {
            table.open();
        } catch (const engine::EngineError&) {
        }
        throw;
    }
    table.open();
    std::string left;
    for (const auto& line : r.remaining)
        left += (left.empty() ? "" : "\n") + line;
    return left;
}

} // namespace vemo::tablewin
