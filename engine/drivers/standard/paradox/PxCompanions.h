#pragma once
// Finding the files that belong to one Paradox table, whatever the case of their names.
#include <filesystem>
#include <string>
#include <vector>

namespace vemo::engine::paradox {

// Every existing companion of a .DB file (the .DB itself first).
std::vector<std::filesystem::path> paradoxCompanions(const std::filesystem::path& dbFile);
// The existing file with the given extension (".PX"), or where a new one goes (same case
// as the table's own extension).
std::filesystem::path companionPath(const std::filesystem::path& dbFile, const std::string& ext);
// True for ".Xnn", ".XGn" (and the Y forms when y is set), case-insensitively.
bool isSecondaryExtension(const std::string& ext, bool y);

} // namespace vemo::engine::paradox
