#include "engine/drivers/sqlcommon/SqlShape.h"

#include <algorithm>
#include <cctype>

namespace vemo::engine::sql {

namespace {

struct Token {
    enum Kind { Word, Quoted, Literal, Punct } kind;
    std::string text;   // a word upper-cased, a quoted name without its quotes
    size_t end = 0;     // offset just after the token
    int depth = 0;      // parentheses open before it
};

bool wordChar(unsigned char c) { return c >= 0x80 || std::isalnum(c) || c == '_' || c == '$'; }

// The tokens of the text; nullopt when a quote or comment is left open.
std::optional<std::vector<Token>> tokens(std::string_view s) {
    std::vector<Token> out;
    int depth = 0;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            i = s.find('\n', i);
            if (i == std::string_view::npos)
                i = n;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            const size_t close = s.find("*/", i + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            i = close + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : static_cast<char>(c);
            std::string text;
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= n)
                    return std::nullopt;
                if (s[j] == close) {
                    if (close != ']' && j + 1 < n && s[j + 1] == close) {
                        text += close;
                        ++j;
                        continue;
                    }
                    break;
                }
                text += s[j];
            }
            out.push_back({c == '\'' ? Token::Literal : Token::Quoted, std::move(text), j + 1, depth});
            i = j + 1;
        } else if (c == '$' && i + 1 < n && !std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            // A dollar-quoted string: $tag$ ... $tag$.
            const size_t tagEnd = s.find('$', i + 1);
            if (tagEnd == std::string_view::npos)
                return std::nullopt;
            const std::string_view tag = s.substr(i, tagEnd - i + 1);
            const size_t close = s.find(tag, tagEnd + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            i = close + tag.size();
            out.push_back({Token::Literal, {}, i, depth});
        } else if (wordChar(c)) {
            const size_t start = i;
            while (i < n && wordChar(static_cast<unsigned char>(s[i])))
                ++i;
            std::string w(s.substr(start, i - start));
            std::transform(w.begin(), w.end(), w.begin(), [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
            out.push_back({Token::Word, std::move(w), i, depth});
        } else {
            if (c == ')')
                --depth;
            out.push_back({Token::Punct, std::string(1, static_cast<char>(c)), i + 1, depth});
            if (c == '(')
                ++depth;
            ++i;
        }
    }
    return out;
}

bool isWord(const Token& t, const char* w) { return t.kind == Token::Word && t.text == w; }

bool isClauseWord(const Token& t) {
    for (const char* w : {"WHERE", "ORDER", "LIMIT", "OFFSET", "FETCH", "FOR"})
        if (isWord(t, w))
            return true;
    return false;
}

} // namespace

std::optional<OneTableSelect> oneTableSelect(std::string_view sql) {
    const auto toks = tokens(sql);
    if (!toks || toks->empty() || !isWord(toks->front(), "SELECT"))
        return std::nullopt;
    const auto& t = *toks;
    OneTableSelect shape;
    size_t i = 1;
    shape.listStart = t[0].end;
    if (i < t.size() && isWord(t[i], "ALL"))
        shape.listStart = t[i++].end;
    if (i < t.size() && isWord(t[i], "DISTINCT"))
        return std::nullopt;
    // The select list, up to FROM at the outer level.
    for (; i < t.size() && !(t[i].depth == 0 && isWord(t[i], "FROM")); ++i)
        if (t[i].depth == 0 && isWord(t[i], "INTO"))
            return std::nullopt;
    if (i == t.size() || i == 1)
        return std::nullopt;
    ++i;
    // [schema .] name
    auto isName = [&](size_t k) { return k < t.size() && (t[k].kind == Token::Word || t[k].kind == Token::Quoted); };
    if (!isName(i) || isWord(t[i], "ONLY") || isWord(t[i], "LATERAL"))
        return std::nullopt;
    shape.table.push_back(t[i].kind == Token::Word ? std::string(sql.substr(t[i].end - t[i].text.size(), t[i].text.size()))
                                                   : t[i].text);
    ++i;
    if (i < t.size() && t[i].kind == Token::Punct && t[i].text == ".") {
        if (!isName(i + 1))
            return std::nullopt;
        const Token& n = t[i + 1];
        shape.table.push_back(n.kind == Token::Word ? std::string(sql.substr(n.end - n.text.size(), n.text.size())) : n.text);
        i += 2;
    }
    // [AS] alias
    if (i < t.size() && isWord(t[i], "AS"))
        ++i;
    if (isName(i) && !isClauseWord(t[i]) && !isWord(t[i], "JOIN") && !isWord(t[i], "NATURAL") &&
        !isWord(t[i], "INNER") && !isWord(t[i], "LEFT") && !isWord(t[i], "RIGHT") && !isWord(t[i], "FULL") &&
        !isWord(t[i], "CROSS") && !isWord(t[i], "GROUP") && !isWord(t[i], "HAVING") && !isWord(t[i], "WINDOW") &&
        !isWord(t[i], "UNION") && !isWord(t[i], "INTERSECT") && !isWord(t[i], "EXCEPT") && !isWord(t[i], "TABLESAMPLE"))
        ++i;
    if (i < t.size() && !isClauseWord(t[i]) && !(t[i].kind == Token::Punct && t[i].text == ";"))
        return std::nullopt;
    // Nothing at the outer level that merges, groups or repeats rows.
    for (; i < t.size(); ++i) {
        if (t[i].depth != 0)
            continue;
        for (const char* w : {"GROUP", "HAVING", "WINDOW", "UNION", "INTERSECT", "EXCEPT", "INTO", "JOIN", "FROM"})
            if (isWord(t[i], w))
                return std::nullopt;
        if (t[i].kind == Token::Punct && t[i].text == ";" && i + 1 != t.size())
            return std::nullopt;
    }
    return shape;
}

} // namespace vemo::engine::sql
