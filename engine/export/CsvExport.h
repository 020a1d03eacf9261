#pragma once
// Export of a table's visible records (current order and filter) in the program's CSV
// format, as the table window and the command-line tool write it.
#include "engine/dataset/Table.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vemo::engine {

// Called now and then with the records written and the total; returning false cancels.
using ExportProgress = std::function<bool(int64_t done, int64_t total)>;

// Writes every visible record of an open table to path, one csvLine per record in the
// locale's text encoding with CR LF line ends. The file appears only when the whole export
// succeeded: it is written under a temporary name and renamed at the end, so a failure or a
// cancel leaves any earlier file at path untouched. Returns false when cancelled. The
// table's current record does not move.
bool exportCsv(Table& table, const std::string& path, const ExportProgress& progress = {});

// The same lines handed to sink in blocks (already encoded), for a stream such as stdout.
bool writeCsv(Table& table, const std::function<void(const std::string& block)>& sink,
              const ExportProgress& progress = {});

} // namespace vemo::engine
