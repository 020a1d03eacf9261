#pragma once
// The names a field type code is shown with: the Japanese description, the field class
// name and the SQL type of generated scripts. The one table every listing reads.
#include "engine/contract/Definitions.h"

#include <array>
#include <string>

namespace vemo::engine {

struct FieldTypeName {
    const char* description; // "文字型"
    const char* className;   // "ftString"
    const char* sqlType;     // "VARCHAR(" for sized types, completed by sqlTypeText
    bool sized;              // the SQL type takes the size: "VARCHAR(" n ")"
};

// Entry for codes 0-29; nullptr for any other code.
const FieldTypeName* fieldTypeName(int code);

// Column 5 of the listing: the SQL type, with the size where the type takes one; empty for
// codes outside 0-29.
std::string sqlTypeText(int code, int size);

// The six columns of the definition listing.
constexpr int kListingColumns = 6;
using ListingRow = std::array<std::string, kListingColumns>;

// "NO.", "ﾌｨｰﾙﾄﾞ名", "変数型", "TField型", "幅", "".
ListingRow listingHeadings();

// Row for field number `number` (1-based): "001", name, description, class name, the size
// right-aligned in three characters, SQL type. The size is read as an unsigned 16-bit number
// (as the listing always did); unknown codes leave columns 2, 3 and 5 empty.
ListingRow listingRow(int number, const std::string& name, int typeCode, int size);
ListingRow listingRow(int number, const FieldDef& field);

} // namespace vemo::engine
