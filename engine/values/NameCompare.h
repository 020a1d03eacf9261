#pragma once
#include <string_view>

namespace vemo::engine {

// Names of aliases, parameters, fields and filter keywords compare without regard to the
// case of ASCII letters; other bytes (Japanese names) must match exactly.
bool sameName(std::string_view a, std::string_view b);

} // namespace vemo::engine
