#pragma once
// How a field of one driver's table becomes a field of another's, and how a value is
// brought to the destination field's type without silent loss.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <string>

namespace vemo::engine {

// The kinds of table a move can write. File tables count their text in bytes of code page
// 932 (a full-width character takes two); the servers count characters.
enum class TableKind { Dbase, Paradox, Sqlite, Postgres };

bool isFileKind(TableKind kind);
// The kind from a driver name ("STANDARD", "SQLITE", "POSTGRESQL"), and for STANDARD the
// table's extension or, without one, the alias's default table type ("PARADOX", "DBASE").
TableKind tableKindOf(const std::string& driver, const std::string& tableName, const std::string& defaultFileType);

// The field a copy creates in a table of kind `to` for a source field of kind `from`.
FieldDef mapFieldType(const FieldDef& source, TableKind from, TableKind to);

// Brings a value to the destination field's type. Returns false, leaving out untouched,
// when that cannot be done without loss: text that does not convert, text longer than the
// field, a number out of the field's range or with decimals the field cannot hold.
bool convertValue(const Value& in, FieldType sourceType, const FieldDef& destination, TableKind kind, Value& out);

} // namespace vemo::engine
