#pragma once
// Writes the visible records of a table (current order, filter applied) as the program's
// CSV text: no header, CR LF line ends, the user's locale encoding. The text goes to a
// temporary file beside the target that is renamed into place at the end, so a failed or
// cancelled export never leaves a half-written file under the chosen name.
#include <cstdint>
#include <filesystem>
#include <functional>

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

// Called after each record with (records written, records expected); returning false
// cancels the export, which then throws and leaves no file behind.
using CsvProgress = std::function<bool(int64_t done, int64_t total)>;

// Returns the number of records written. Raises engine::EngineError(ErrIO) when the file
// cannot be written, and the engine's error when a record cannot be read.
int64_t exportCsvFile(engine::Table& table, const std::filesystem::path& target, const CsvProgress& progress = {});

} // namespace vemo::tablewin
