#include "engine/filter/FilterLexer.h"
#include "engine/contract/EngineError.h"

namespace vemo::engine {

void filterError(const std::string& text, size_t bytePosition, const std::string& detail) {
    size_t chars = 0;
    for (size_t i = 0; i < bytePosition && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ++chars;
    throw EngineError(ErrFilter, "フィルタ式の " + std::to_string(chars + 1) + " 文字目: " + detail);
}

namespace {

bool isIdeographicSpace(const std::string& s, size_t i) {
    return s.compare(i, 3, "\xE3\x80\x80") == 0;
}

bool isNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '#' || c == '$'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to the closing delimiter; a doubled delimiter stands for itself when allowed.
std::string readDelimited(const std::string& s, size_t& i, char close, bool doubling, const char* what) {
    const size_t start = i;
    std::string out;
    for (++i; i < s.size(); ++i) {
        if (s[i] == close) {
            if (doubling && i + 1 < s.size() && s[i + 1] == close) {
                out += close;
                ++i;
                continue;
            }
            ++i;
            return out;
        }
        out += s[i];
    }
    filterError(s, start, std::string(what) + "が閉じられていません。");
}

} // namespace

std::vector<FilterToken> lexFilter(const std::string& s) {
    std::vector<FilterToken> tokens;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') { ++i; continue; }
        if (isIdeographicSpace(s, i)) { i += 3; continue; }
        FilterToken t;
        t.position = i;
        if (c == '\'') {
            t.kind = FilterToken::Kind::String;
            t.text = readDelimited(s, i, '\'', true, "文字列");
        } else if (c == '[') {
            t.kind = FilterToken::Kind::QuotedName;
            t.text = readDelimited(s, i, ']', false, "[ ]");
            if (t.text.empty())
                filterError(s, t.position, "フィールド名が空です。");
        } else if (c == '"') {
            t.kind = FilterToken::Kind::QuotedName;
            t.text = readDelimited(s, i, '"', true, "\" \"");
            if (t.text.empty())
                filterError(s, t.position, "フィールド名が空です。");
        } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
            t.kind = FilterToken::Kind::Number;
            const size_t start = i;
            while (i < s.size() && isDigit(s[i])) ++i;
            if (i < s.size() && s[i] == '.') {
                ++i;
                while (i < s.size() && isDigit(s[i])) ++i;
            }
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                size_t j = i + 1;
                if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < s.size() && isDigit(s[j])) {
                    i = j;
                    while (i < s.size() && isDigit(s[i])) ++i;
                }
            }
            if (i < s.size() && isNameChar(static_cast<unsigned char>(s[i])))
                filterError(s, start, "数値が正しくありません。");
            t.text = s.substr(start, i - start);
        } else if (isNameStart(c)) {
            t.kind = FilterToken::Kind::Name;
            const size_t start = i;
            while (i < s.size() && isNameChar(static_cast<unsigned char>(s[i])) && !isIdeographicSpace(s, i)) ++i;
            t.text = s.substr(start, i - start);
        } else if (c == '(' || c == ')') {
            t.kind = c == '(' ? FilterToken::Kind::LParen : FilterToken::Kind::RParen;
            t.text = std::string(1, static_cast<char>(c));
            ++i;
        } else if (c == '<' || c == '>') {
            t.kind = FilterToken::Kind::Op;
            t.text = std::string(1, static_cast<char>(c));
            ++i;
            if (i < s.size() && (s[i] == '=' || (c == '<' && s[i] == '>')))
                t.text += s[i++];
        } else if (c == '=' || c == '+' || c == '-' || c == '*' || c == '/') {
            t.kind = FilterToken::Kind::Op;
            t.text = std::string(1, static_cast<char>(c));
            ++i;
        } else {
            filterError(s, i, std::string("使えない文字 '") + static_cast<char>(c) + "' があります。");
        }
        tokens.push_back(std::move(t));
    }
    FilterToken end;
    end.position = s.size();
    tokens.push_back(end);
    return tokens;
}

} // namespace vemo::engine
