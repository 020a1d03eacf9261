#pragma once
// The alias configuration file: one "[ALIAS]" section per alias with DRIVER=... and the
// driver's parameters as NAME=value lines. Blank lines and lines starting with "#" or ";"
// are comments.
#include "engine/contract/Driver.h"
#include "engine/values/NameCompare.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::engine {

struct AliasConfig {
    std::string name;
    std::string driver;
    Params params;
};

// Throws EngineError(ErrCorruptFile) naming the line of the first fault.
std::vector<AliasConfig> parseEngineConfig(std::string_view text);
std::string formatEngineConfig(const std::vector<AliasConfig>& aliases);

// Checks an alias name, a parameter name and a value for what the file can hold;
// throws EngineError(ErrInvalidParam).
void validateAlias(const AliasConfig& alias);

// Reads the file; an empty list when it does not exist.
std::vector<AliasConfig> readEngineConfig(const std::filesystem::path& file, bool& existed);
// Writes through a temporary file in the same folder, flushed to disk and renamed over the
// old one; mode 0600 when a parameter named PASSWORD has a value.
void writeEngineConfig(const std::filesystem::path& file, const std::vector<AliasConfig>& aliases);

} // namespace vemo::engine
