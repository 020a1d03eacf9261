#pragma once
// Tokens of filter expressions.
#include <cstddef>
#include <string>
#include <vector>

namespace vemo::engine {

struct FilterToken {
    enum class Kind { End, Name, QuotedName, String, Number, LParen, RParen, Op };
    Kind kind = Kind::End;
    std::string text;   // name, string contents (quotes undone), number text or operator
    size_t position = 0; // byte offset in the expression
};

// Splits an expression; throws EngineError(ErrFilter) for an unterminated string or
// bracket and for characters the language does not use.
std::vector<FilterToken> lexFilter(const std::string& text);

// "フィルタ式の N 文字目: detail" with N counted in characters from 1.
[[noreturn]] void filterError(const std::string& text, size_t bytePosition, const std::string& detail);

} // namespace vemo::engine
