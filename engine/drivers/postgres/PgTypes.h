#pragma once
// PostgreSQL catalog types as engine field types, and back for created tables.
#include "engine/contract/Definitions.h"

#include <string>

namespace vemo::engine::sql {

// typname as in pg_type ("int4", "varchar", "bpchar"), atttypmod, and whether the column
// fills itself (serial or identity).
FieldDef pgField(const std::string& name, const std::string& typname, int typmod, bool notNull, bool autoValue);
std::string pgDeclaredType(const FieldDef& field);

} // namespace vemo::engine::sql
