#pragma once
// Repair of a Paradox table: header counts that disagree with a sound block chain set to
// what the chain holds, index files that cannot be read set aside, missing and stale
// index files rewritten from the records. No record is ever dropped.
#include "engine/contract/Database.h"
#include "engine/drivers/standard/TableSettings.h"

#include <filesystem>

namespace vemo::engine::paradox {

// With apply off nothing is written: the report says what a repair would mend, and
// mendableOnOpen whether some of it is safe to mend on every open. With onOpenOnly only
// that part is mended: counts, and .PX/.Y files that are missing or stale. The caller
// holds the table exclusively while it applies.
RepairReport repairParadox(const std::filesystem::path& file, bool apply, bool onOpenOnly,
                          const standard::TableSettings& settings = {});

} // namespace vemo::engine::paradox
