#pragma once
// Texts of the table window that need no window: the stored form of the per-field input
// method modes, the record count panel and the CSV file's default name.
#include <array>
#include <cstdint>
#include <string>

namespace vemo::tablewin {

constexpr int kImeEntries = 256;
using ImeModes = std::array<uint8_t, kImeEntries>;

// Input method mode codes as stored (0 disabled ... 11 full-width Hangul).
enum ImeCode : uint8_t {
    ImeDisabled = 0, ImeClose = 1, ImeOpen = 2, ImeDontCare = 3, ImeSAlpha = 4, ImeAlpha = 5,
    ImeHira = 6, ImeSKata = 7, ImeKata = 8, ImeChinese = 9, ImeSHanguel = 10, ImeHanguel = 11,
};

// Every entry 1 (IME not used).
ImeModes defaultImeModes();

// The stored text (UTF-8) back into modes. Empty text gives the defaults. Otherwise
// character i (counted in characters, not bytes) gives entry i: a character other than
// "0".."9", "A".."F" (or a missing one, past a short text) counts as 0; 0 and 2..11 are kept,
// 1 and 12..15 read as 1.
ImeModes readImeModes(const std::string& text);

// 256 characters "0".."9", "A", "B"; any other value is written as "1".
std::string writeImeModes(const ImeModes& modes);

// "#,##0": 1234567 gives "1,234,567".
std::string thousands(int64_t n);

// Table name + ".TXT", without the directory of a table given as a path.
std::string exportFileName(const std::string& tableName);

} // namespace vemo::tablewin
