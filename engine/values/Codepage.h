#pragma once
// Text conversion between table code pages and the program's UTF-8.
#include <string>
#include <string_view>

namespace vemo::engine {

// Code page numbers as the formats name them: 932 (Japanese, Windows), 437, 850, 1252 ...
// Decoding never fails: bytes that do not convert become U+FFFD.
std::string decodeText(std::string_view bytes, int codepage);
// Encoding fails with EngineError(ErrConvert) when a character has no form in the code page.
std::string encodeText(std::string_view utf8, int codepage);
// The same two conversions straight through iconv, without the tables that the double-byte
// code pages are converted through (the tables are checked against these).
std::string decodeTextWithIconv(std::string_view bytes, int codepage);
std::string encodeTextWithIconv(std::string_view utf8, int codepage);
// True when iconv converts the code page both ways on this system. Code page numbers follow
// Windows: 437, 850, 866, 1250-1258, 932, 936, 949, 950, 10000 (Mac Roman), 20866 (KOI8-R),
// 28591-28599 (ISO-8859-n) ...
bool codepageConvertible(int codepage);
// The code page whose bytes decode one for one (ISO-8859-1): a table in a code page that
// cannot be converted is shown through it, so every byte stays what it is.
constexpr int RawBytesCodepage = 28591;

// The code page a language driver setting names: a number ("1251"), "CP1251", a dBASE
// driver name ("DB437US0", "DBWINUS0"), a Paradox sort order name ("ascii", "intl850",
// "japan", "ANSIINTL") or an iconv name this system knows ("KOI8-R", "WINDOWS-1250").
// 0 when it names none.
int languageDriverCodepage(std::string_view name);

// True when every character of utf8 can be written in the code page.
bool canEncode(std::string_view utf8, int codepage);

// Width of a text counted in code page 932 bytes (a full-width character counts 2).
size_t cp932Width(std::string_view utf8);

// Cuts encoded bytes to at most maxBytes without splitting a double-byte character.
std::string truncateEncoded(std::string_view bytes, size_t maxBytes, int codepage);

// The user's locale encoding for text files (CSV, SQL); UTF-8 when it cannot hold Japanese.
std::string localeTextEncoding();
std::string encodeForLocale(std::string_view utf8);

} // namespace vemo::engine
