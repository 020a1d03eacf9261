#pragma once
// Whole-table locks of the STANDARD driver: flock on the table file, shared for a normal
// open and exclusive for an exclusive open, deletion or rename. The lock lives as long as
// the object; a conflict is an EngineError naming the table.
#include "engine/contract/Cursor.h"

#include <filesystem>
#include <memory>
#include <string>

namespace vemo::engine::standard {

class TableLock {
public:
    TableLock(const std::filesystem::path& file, bool exclusive, const std::string& tableName);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    int fd_ = -1;
};

// A format's cursor together with the lock that keeps its table in use.
std::unique_ptr<Cursor> lockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> cursor);

} // namespace vemo::engine::standard
