#include "tablewin/TableText.h"

namespace vemo::tablewin {

ImeModes defaultImeModes()
{
    ImeModes m;
    m.fill(ImeClose);
    return m;
}

ImeModes readImeModes(const std::string& text)
{
    ImeModes modes = defaultImeModes();
    if (text.empty())
        return modes;
    size_t at = 0; // byte offset of the next character
    for (int i = 0; i < kImeEntries; ++i) {
        int digit = 0;
        if (at < text.size()) {
            const unsigned char c = static_cast<unsigned char>(text[at]);
            // Step over a whole UTF-8 sequence: a multibyte character is one (invalid) character.
            size_t len = 1;
            if (c >= 0xF0) len = 4;
            else if (c >= 0xE0) len = 3;
            else if (c >= 0xC0) len = 2;
            at += len;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
        }
        modes[i] = static_cast<uint8_t>((digit == 1 || digit >= 12) ? 1 : digit);
    }
    return modes;
}

std::string writeImeModes(const ImeModes& modes)
{
    static const char kDigits[] = "0123456789AB";
    std::string s;
    s.reserve(kImeEntries);
    for (uint8_t m : modes)
        s += m <= 11 ? kDigits[m] : '1';
    return s;
}

std::string thousands(int64_t n)
{
    const bool negative = n < 0;
    std::string digits = std::to_string(n);
    if (negative)
        digits.erase(0, 1);
    std::string out;
    const size_t len = digits.size();
    for (size_t i = 0; i < len; ++i) {
        if (i > 0 && (len - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

std::string exportFileName(const std::string& tableName)
{
    const size_t sep = tableName.find_last_of("\\/");
    return (sep == std::string::npos ? tableName : tableName.substr(sep + 1)) + ".TXT";
}

} // namespace vemo::tablewin
