#pragma once
// A table file format of the STANDARD driver (dBASE, Paradox): how to open, create and
// find the files of one table in a directory.
#include "engine/contract/Cursor.h"
#include "engine/contract/Database.h"
#include "engine/contract/Definitions.h"
#include "engine/drivers/standard/TableSettings.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::standard {

// Check: say what a repair would mend, writing nothing. OnOpen: mend only what is safe on
// every open for writing (derived data: counts against a sound chain, missing index files
// whose definitions are known). Full: everything a repair can mend.
enum class RepairMode { Check, OnOpen, Full };

class TableFormat {
public:
    virtual ~TableFormat() = default;
    virtual std::string name() const = 0;       // "PARADOX", "DBASE"
    virtual std::string extension() const = 0;  // ".DB", ".DBF"
    virtual std::unique_ptr<Cursor> open(const std::filesystem::path& file, const OpenOptions& options) = 0;
    // Creates a new table file (and its companions); fails when the file exists.
    virtual void create(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
                        const std::vector<IndexDef>& indexes) = 0;
    // Every existing file that belongs to the table, the table file first (.DB .PX .MB
    // .Xnn .Ynn .VAL ... / .DBF .DBT .FPT .MDX .NDX ...).
    virtual std::vector<std::filesystem::path> companionFiles(const std::filesystem::path& file) = 0;
    // Mends what derives from the records; never drops one. The caller holds the table
    // exclusively unless mode is Check.
    virtual RepairReport repair(const std::filesystem::path& file, RepairMode mode) = 0;
};

std::unique_ptr<TableFormat> makeDbaseFormat(const TableSettings& settings = {});
std::unique_ptr<TableFormat> makeParadoxFormat(const TableSettings& settings = {});

} // namespace vemo::engine::standard
