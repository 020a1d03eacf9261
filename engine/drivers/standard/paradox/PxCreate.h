#pragma once
// Creation of new Paradox tables from engine definitions.
#include "engine/contract/Definitions.h"

#include <filesystem>
#include <vector>

namespace vemo::engine::paradox {

// Writes a new empty table (.DB, and .PX/.MB/.Xnn/.Ynn as its definitions need) at the
// lowest table level its field types and indexes allow. Nothing is left behind on failure.
// codepage: the one its text is written in, recorded in the header with a sort order that
// names it where there is one.
void createParadoxTable(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
                        const std::vector<IndexDef>& indexes, int codepage = 932);

} // namespace vemo::engine::paradox
