#include "tablewin/StatusCopy.h"

#include "engine/values/Codepage.h"

namespace vemo::tablewin {

namespace {

// Blanks on the right up to `bytes`; a longer text is kept whole.
std::string padded(std::string text, size_t bytes)
{
    const size_t width = engine::cp932Width(text);
    if (width < bytes)
        text.append(bytes - width, ' ');
    return text;
}

std::string quoted(const std::string& text, int quotation)
{
    const char* q = quotation == 1 ? "'" : quotation == 2 ? "\"" : "";
    return q + text + q;
}

} // namespace

std::string statusCellText(int column, const std::string& text, int quotation)
{
    const bool quoting = quotation == 1 || quotation == 2;
    switch (column) {
    case 0: return padded(text, 3);
    case 1: return quoting ? padded(quoted(text, quotation), 28) : padded(text, 27);
    case 2: return quoting ? padded(quoted(text, quotation), 15) : padded(text, 14);
    case 3: return padded(text, 10);
    case 4: return padded(text, 3);
    default: return std::string();
    }
}

std::string statusCopyText(const std::vector<engine::ListingRow>& cells, int left, int top, int right,
                           int bottom, int quotation)
{
    std::string out;
    for (int r = top; r <= bottom; ++r) {
        if (r < 0 || r >= static_cast<int>(cells.size()))
            continue;
        for (int c = left; c <= right; ++c) {
            const std::string& text =
                c >= 0 && c < static_cast<int>(cells[r].size()) ? cells[r][c] : std::string();
            out += statusCellText(c, text, quotation);
            if (c != right)
                out += ',';
        }
        out += "\r\n";
    }
    return out;
}

} // namespace vemo::tablewin
