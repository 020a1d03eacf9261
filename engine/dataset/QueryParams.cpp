#include "engine/dataset/QueryParams.h"

#include <algorithm>

namespace vemo::engine {

namespace {

// Bytes of the character that starts with lead (UTF-8; a stray byte counts as one).
size_t charLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

size_t nextChar(std::string_view s, size_t i) {
    return std::min(s.size(), i + charLength(static_cast<unsigned char>(s[i])));
}

bool endsName(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == ',' || c == ';' || c == ')';
}

} // namespace

std::vector<ParamOccurrence> scanParamOccurrences(std::string_view sql) {
    std::vector<ParamOccurrence> out;
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // A literal (or quoted identifier) runs to the same quote; a doubled quote stays inside.
            size_t j = i + 1;
            while (j < n && sql[j] != c)
                j = nextChar(sql, j);
            i = j < n ? j + 1 : n;
            continue;
        }
        if (c != ':') {
            i = nextChar(sql, i);
            continue;
        }
        if (i + 1 < n && sql[i + 1] == ':') {
            i += 2;
            continue;
        }
        ParamOccurrence p;
        p.begin = i;
        size_t j = i + 1;
        if (j < n && sql[j] == '"') {
            size_t close = j + 1;
            while (close < n && sql[close] != '"')
                close = nextChar(sql, close);
            p.name = std::string(sql.substr(j + 1, std::min(close, n) - j - 1));
            j = close < n ? close + 1 : n;
        } else {
            while (j < n && !endsName(sql[j]))
                j = nextChar(sql, j);
            p.name = std::string(sql.substr(i + 1, j - i - 1));
        }
        p.end = j;
        i = j;
        // A colon with no name after it (at the end, before a blank) is plain text.
        if (!p.name.empty())
            out.push_back(std::move(p));
    }
    return out;
}

std::vector<std::string> distinctParamNames(std::string_view sql) {
    std::vector<std::string> names;
    for (auto& p : scanParamOccurrences(sql))
        if (std::find(names.begin(), names.end(), p.name) == names.end())
            names.push_back(std::move(p.name));
    return names;
}

std::string replaceParamOccurrences(std::string_view sql, const std::vector<ParamOccurrence>& occurrences,
                                    const std::function<std::string(size_t)>& placeholder) {
    std::string out;
    out.reserve(sql.size() + occurrences.size() * 8);
    size_t at = 0;
    for (size_t k = 0; k < occurrences.size(); ++k) {
        out.append(sql.substr(at, occurrences[k].begin - at));
        out += placeholder(k);
        at = occurrences[k].end;
    }
    out.append(sql.substr(std::min(at, sql.size())));
    return out;
}

std::string_view trimmedStatement(std::string_view sql) {
    size_t i = 0;
    while (i < sql.size() && static_cast<unsigned char>(sql[i]) <= ' ')
        ++i;
    return sql.substr(i);
}

bool isSelectStatement(std::string_view sql) {
    const std::string_view t = trimmedStatement(sql);
    if (t.size() < 6)
        return false;
    static constexpr std::string_view word = "SELECT";
    for (size_t i = 0; i < word.size(); ++i)
        if ((t[i] >= 'a' && t[i] <= 'z' ? t[i] - 32 : t[i]) != word[i])
            return false;
    return true;
}

} // namespace vemo::engine
