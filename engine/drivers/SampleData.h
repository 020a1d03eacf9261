#pragma once
// The sample data a newcomer sees: generated, never shipped as binary files.
#include <filesystem>

namespace vemo::engine {

// dBASE tables (Japanese text in code page 932, a memo field, indexes) into dir.
void writeDbaseSample(const std::filesystem::path& dir);
// Paradox tables (keyed, secondary indexes, memo) into dir.
void writeParadoxSample(const std::filesystem::path& dir);
// A SQLite database with the same data and a stored view.
void writeSqliteSample(const std::filesystem::path& databaseFile);

} // namespace vemo::engine
