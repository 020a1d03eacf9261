#pragma once
// The status window's clipboard text: a rectangle of the definition listing as
// comma-separated, blank-padded columns, widths counted in code page 932 bytes.
#include "engine/values/FieldTypeNames.h"

#include <string>
#include <vector>

namespace vemo::tablewin {

// One cell in the form its column takes in a copy (0 number, 1 name, 2 description,
// 3 field class, 4 size, 5 SQL type), quoted by `quotation` (0 none, 1 ', 2 ").
std::string statusCellText(int column, const std::string& text, int quotation);

// Rows top..bottom, columns left..right of `cells` (row 0 the headings), each row ended by
// CR LF, the columns separated by ",". The text is never cut, however long the selection.
std::string statusCopyText(const std::vector<engine::ListingRow>& cells, int left, int top, int right,
                           int bottom, int quotation);

} // namespace vemo::tablewin
