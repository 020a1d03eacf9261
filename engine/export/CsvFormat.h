#pragma once
// The program's CSV line format (table window export and vemo32-tool export): fields in
// table order, small-integer/integer/word values bare, every other value between double
// quotes unchanged (quotes inside are not doubled), separated by ",", no header; lines end
// in CR LF.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <string>
#include <vector>

namespace vemo::engine {

// One line without its line end, from the values as text.
std::string csvLine(const std::vector<std::string>& texts, const std::vector<FieldDef>& fields);
// The line of a record (valueToText of each value) appended to out, without its line end.
void appendCsvLine(std::string& out, const Row& row, const std::vector<FieldDef>& fields);

} // namespace vemo::engine
