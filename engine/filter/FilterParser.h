#pragma once
// The filter expression parser: text to a checked FilterNode tree. Plain function so the
// fuzzer and the tests reach it without a dataset.
#include "engine/filter/Filter.h"

#include <memory>
#include <string>
#include <vector>

namespace vemo::engine {

// Throws EngineError(ErrFilter) naming the character position of the fault. String
// literals compared with non-text fields come back converted to the field's value type.
std::unique_ptr<FilterNode> parseFilter(const std::string& text, const std::vector<FieldDef>& fields,
                                        const FilterOptions& options);

// Case-insensitive (ASCII letters) field lookup; -1 when missing.
int findField(const std::vector<FieldDef>& fields, std::string_view name);

} // namespace vemo::engine
