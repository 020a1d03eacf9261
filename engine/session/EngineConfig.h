#pragma once
// The alias configuration file: one "[ALIAS]" section per alias with DRIVER=... and the
// driver's parameters as NAME=value lines. Blank lines and lines starting with "#" or ";"
// are comments.
#include "engine/contract/Driver.h"
#include "engine/values/NameCompare.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
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
// old one; mode 0600 when a parameter named PASSWORD has a value, and never wider than the
// file it replaces.
void writeEngineConfig(const std::filesystem::path& file, const std::vector<AliasConfig>& aliases);

// The mode a written file gets: that of the file it replaces (0644 for a new one), without
// any access for others when it holds a password, and always readable and writable by
// its owner.
mode_t configFileMode(const std::filesystem::path& file, bool password);

// A warning when the file holds a password but others may read it; empty otherwise.
std::string configExposure(const std::filesystem::path& file, const std::vector<AliasConfig>& aliases);

} // namespace vemo::engine
