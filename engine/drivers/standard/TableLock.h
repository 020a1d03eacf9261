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

// A format's cursor together with the lock that keeps its table in use. With heldElsewhere
// set the table is read-only for that reason (the cursor was opened read-only).
std::unique_ptr<Cursor> lockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> cursor,
                                     std::string heldElsewhere = {});

// Why another desktop database program is taken to hold the table, so that it is not
// written beside it: its lock files in the table's folder (PDOXUSRS.LCK, PARADOX.LCK,
// NAME.LCK, for a Paradox table), or a byte-range lock of the classic kind some program
// holds on the table file (this program's own locks are of the open-file kind). Empty when
// nothing says so. Lock files are never removed here: a stale one is the user's to delete.
std::string otherProgramLock(const std::filesystem::path& file, bool paradox);

} // namespace vemo::engine::standard
