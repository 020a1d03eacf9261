#pragma once
// How SQLite's declared column types map to the engine's field types and back.
#include "engine/contract/Definitions.h"

#include <string>

namespace vemo::engine::sql {

// A column of declared type decl ("VARCHAR(40)", "NUMERIC(10,2)", "" for none).
FieldDef sqliteField(const std::string& name, const std::string& decl, bool notNull);
// The declared type a created column gets; reads back as the same field type.
std::string sqliteDeclaredType(const FieldDef& field);

} // namespace vemo::engine::sql
