#pragma once
// Field and index definitions of a table.
#include "engine/contract/FieldType.h"

#include <string>
#include <vector>

namespace vemo::engine {

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Unknown;
    int size = 0;          // characters or bytes for strings/bytes; BCD: decimals; 0 when none
    bool required = false;
    int precision = 0;     // total digits where the format has them (dBASE N/F, SQL NUMERIC)
    int scale = 0;         // decimals where the format has them
    std::string nativeType; // the format's own type name or letter ("C", "N", "A20", "VARCHAR(40)")
};

struct IndexDef {
    std::string name;      // empty for a primary index that has no name of its own
    std::string fields;    // field names joined by ";" (or the key expression when not a field list)
    bool primary = false;
    bool unique = false;
    bool descending = false;
    bool caseInsensitive = false;
    std::string expression; // dBASE key expression when the index is not a plain field list
    std::string condition;  // dBASE FOR condition: the index holds only the records meeting it
};

} // namespace vemo::engine
