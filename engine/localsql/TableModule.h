#pragma once
// The SQLite virtual-table module over a database's cursors. Each virtual table keeps a few
// cursors of its table open, one per record order in use, so that a lookup by an indexed
// field is a binary search in that index's order rather than a scan. Writes go through the
// cursor's insert, update and remove (with their key checks and index upkeep) and are logged,
// so that a statement or transaction that fails is undone record by record.
#include "engine/contract/Database.h"

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

struct sqlite3;

namespace vemo::engine::localsql {

class TableModule {
public:
    // fileOf names the file of a table, so that changes by other writers are noticed.
    TableModule(Database& tables, std::function<std::filesystem::path(const std::string&)> fileOf)
        : tables_(tables), fileOf_(std::move(fileOf)) {}
    // Registers the module as "vemo_table" on db.
    void registerOn(sqlite3* db);
    Database& tables() { return tables_; }
    std::filesystem::path fileOf(const std::string& table) const { return fileOf_ ? fileOf_(table) : std::filesystem::path(); }

    // Failures while undoing a failed statement, collected until taken.
    std::string takeUndoFailures() { return std::exchange(undoFailures_, {}); }
    void addUndoFailure(const std::string& text) { undoFailures_ += text + "\n"; }

private:
    Database& tables_;
    std::function<std::filesystem::path(const std::string&)> fileOf_;
    std::string undoFailures_;
};

} // namespace vemo::engine::localsql
