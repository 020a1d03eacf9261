#pragma once
// The table definition listing: a heading row and one row per field (number, name, type
// description, field class, size, SQL type), read by the status window, printing and the
// definition scripts.
#include "engine/values/FieldTypeNames.h"

#include <vector>

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

using Listing = std::vector<engine::ListingRow>; // row 0 holds the headings

// The listing of a set of field definitions.
Listing definitionListing(const std::vector<engine::FieldDef>& fields);

// Opens the table (when it is not open yet), lists its fields and closes it; returns the number of fields.
// A table that cannot be opened raises the engine's error and leaves `out` untouched.
int fillListing(engine::Table& table, Listing& out);

} // namespace vemo::tablewin
