#pragma once
// Creating a new dBASE IV table (with its .DBT memo file and production .MDX).
#include "engine/contract/Definitions.h"

#include <filesystem>
#include <vector>

namespace vemo::engine::dbase {

// A field described as dBASE describes it: its type letter ("C", "N", "D", "L", "M" ...),
// width, and decimals for numbers.
FieldDef dbaseField(const char* name, const char* type, int size, int decimals = 0);

// Fails with ErrInvalidParam for definitions dBASE cannot hold, and when the file exists.
// On failure no file of the table is left behind.
// codepage: the code page the table's text is in, named by its language driver byte.
void createDbf(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
               const std::vector<IndexDef>& indexes, int codepage = 932);

// Gives an existing table without indexes a production .MDX with these tags, built from its
// records (loading many records first and indexing once is much faster than indexing on
// every insert).
void addProductionIndex(const std::filesystem::path& file, const std::vector<IndexDef>& indexes);

} // namespace vemo::engine::dbase
