#pragma once
// Field mappings of a batch move: lines "DEST = SRC", or one name used on both sides.
#include "engine/contract/Definitions.h"

#include <string>
#include <vector>

namespace vemo::engine {

struct FieldPair {
    std::string destination;
    std::string source;
};

// Parses mapping lines; blanks around the names are dropped and empty lines skipped.
// Throws EngineError(ErrInvalidParam) for a line with an empty name on either side.
std::vector<FieldPair> parseMappings(const std::vector<std::string>& lines);

// Index of a field by name (ASCII case ignored), -1 when absent.
int fieldIndexOf(const std::vector<FieldDef>& fields, const std::string& name);

// The field names of an index's field list ("A;B"), blanks around each dropped.
std::vector<std::string> splitIndexFields(const std::string& fields);

// Source field index for each destination field (-1: the field gets no value). With no
// pairs, fields of the same name are paired. Throws EngineError(ErrNotFound) naming the
// field when a pair names a field that the source or the destination does not have, and
// ErrInvalidParam when a destination field is named twice or nothing pairs at all.
std::vector<int> resolveMappings(const std::vector<FieldPair>& pairs, const std::vector<FieldDef>& source,
                                 const std::vector<FieldDef>& destination);

} // namespace vemo::engine
