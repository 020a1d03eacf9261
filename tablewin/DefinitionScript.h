#pragma once
// Routines and scripts that create an empty table like an existing one: kind 0 an Object
// Pascal procedure, kind 1 a C++ function (both for the table component of those
// environments), kind 2 an SQL script. Lines end in CR LF; padded columns count code page
// 932 bytes. The text is produced whole however long it gets.
#include "tablewin/DefinitionListing.h"

#include "engine/contract/Definitions.h"

#include <string>
#include <vector>

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

enum class ScriptKind { Pascal = 0, Cpp = 1, Sql = 2 };
enum class TableKind { Default, Paradox, DBase };

struct ScriptInput {
    std::string databaseName;
    std::string tableName;
    Listing listing;                        // row 0 headings, then one row per field
    std::vector<engine::IndexDef> indexes;
    int fieldNaming = 0;                    // kind 2: 1 writes "FIELD_nn" column names
};

// From the table name's ending, ignoring case: ".DBF" dBASE, ".DB" Paradox, else a server table.
TableKind tableKindOf(const std::string& tableName);
// "CUSTOMER" from "C:\DATA\customer.db" or "/data/customer.db".
std::string sqlTableName(const std::string& tableName);
// Blanks added on the right up to `width` code page 932 bytes; longer text stays whole.
std::string padCp932(const std::string& text, size_t width);

std::string definitionScript(const ScriptInput& input, ScriptKind kind);

// Reads the listing (which closes the table), reopens the table and reads its indexes, then
// builds the script. The table is left open on its first record.
std::string definitionScript(engine::Table& table, ScriptKind kind, int fieldNaming);

} // namespace vemo::tablewin
