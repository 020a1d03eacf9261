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
