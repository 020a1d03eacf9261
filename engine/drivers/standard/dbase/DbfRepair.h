#pragma once
// Repair of a dBASE table: an interrupted write undone, a header record count that promises
// more than the file holds set to what it holds, index files that cannot be read set aside
// and every index file rewritten from the records. No record is ever dropped.
#include "engine/contract/Database.h"
#include "engine/drivers/standard/TableSettings.h"

#include <filesystem>

namespace vemo::engine::dbase {

// With apply off nothing is written; the report says what a repair would mend. The caller
// holds the table exclusively while it applies.
RepairReport repairDbf(const std::filesystem::path& file, bool apply, const standard::TableSettings& settings = {});

} // namespace vemo::engine::dbase
