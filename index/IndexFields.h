#pragma once
// Field names of an index's ";"-separated field list, in key order.
#include <string>
#include <vector>

namespace vemo::index {

// Each name ends at a ";" (one is appended first); two ";" in a row give an empty name.
// At most 255 names are returned.
std::vector<std::string> splitIndexFields(const std::string& fields);

} // namespace vemo::index
