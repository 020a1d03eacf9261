#pragma once
// The SQLite virtual-table module over a database's cursors. Each virtual table keeps a few
// cursors of its table open, one per record order in use, so that a lookup by an indexed
// field is a binary search in that index's order rather than a scan. Writes go through the
// cursor's insert, update and remove (with their key checks and index upkeep) and are logged,
// so that a statement or transaction that fails is undone record by record.
#include "engine/contract/Database.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

struct sqlite3;

namespace vemo::engine::localsql {

// Opens a table of another alias: (alias, table).
using OtherTables = std::function<std::unique_ptr<Cursor>(const std::string&, const std::string&)>;

// ":ALIAS:TABLE", split; false for any other name.
bool splitAliasTable(const std::string& name, std::string& alias, std::string& table);

// The planner's estimate of a file table's records: its size over the width its fields suggest.
int64_t estimatedRows(int64_t fileBytes, const std::vector<FieldDef>& fields);

class TableModule {
public:
    // fileOf names the file of a table, so that changes by other writers are noticed; other
    // opens the tables named ":ALIAS:TABLE".
    TableModule(Database& tables, std::function<std::filesystem::path(const std::string&)> fileOf, OtherTables other = {})
        : tables_(tables), fileOf_(std::move(fileOf)), other_(std::move(other)) {}
    // Registers the module as "vemo_table" on db.
    void registerOn(sqlite3* db);
    Database& tables() { return tables_; }
    // A cursor on a table of the folder, or of another alias for ":ALIAS:TABLE".
    std::unique_ptr<Cursor> open(const std::string& name);
    std::filesystem::path fileOf(const std::string& table) const { return fileOf_ ? fileOf_(table) : std::filesystem::path(); }

    // Failures while undoing a failed statement, collected until taken.
    std::string takeUndoFailures() { return std::exchange(undoFailures_, {}); }
    void addUndoFailure(const std::string& text) { undoFailures_ += text + "\n"; }

private:
    Database& tables_;
    std::function<std::filesystem::path(const std::string&)> fileOf_;
    OtherTables other_;
    std::string undoFailures_;
};

} // namespace vemo::engine::localsql
