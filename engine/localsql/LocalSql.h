#pragma once
// SQL over the tables of a STANDARD alias: an embedded SQLite connection in which every
// table a statement names is a virtual table over this engine's own cursors, so joins,
// aggregates and INSERT/UPDATE/DELETE read and write the files themselves.
#include "engine/contract/Database.h"
#include "engine/drivers/standard/StandardSql.h"
#include "engine/localsql/TableModule.h"

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vemo::engine::sql {
class SqliteConnection;
}

namespace vemo::engine::localsql {

class LocalSql final : public standard::StandardSql {
public:
    // other opens the tables a statement names as ":ALIAS:TABLE" (none without it).
    explicit LocalSql(Database& tables, OtherTables other = {});
    ~LocalSql() override;

    std::unique_ptr<Cursor> openQuery(const std::string& sql, const std::vector<QueryParam>& params) override;
    int64_t executeSql(const std::string& sql, const std::vector<QueryParam>& params) override;

    static standard::StandardSqlFactory factory(OtherTables other = {});

private:
    // Makes a virtual table for every name in the text that names a table of the folder.
    void attachTables(const std::string& sql);
    void makeTable(const std::string& name);
    // The editable rows of a SELECT that shows fields of one dBASE table, each at most once;
    // null for any other statement, which opens read-only.
    std::unique_ptr<Cursor> openLive(const std::string& sql, const std::vector<QueryParam>& params);
    // Throws when a failed statement could not be undone completely.
    void checkUndo();
    // After a failed statement: the undo failures, or the refusal of a statement kind.
    void failed();

    Database& tables_;
    std::unique_ptr<TableModule> module_;
    std::unique_ptr<sql::SqliteConnection> conn_;
    std::set<std::string> attached_; // upper-cased names already made
    std::pair<bool, bool> auth_{false, false}; // making our own tables; a statement was refused
};

// The names a statement could use for tables: bare words and "quoted", [bracketed] or
// `back-quoted` identifiers, outside string literals and comments.
std::vector<std::string> tableNameCandidates(const std::string& sql);

} // namespace vemo::engine::localsql
