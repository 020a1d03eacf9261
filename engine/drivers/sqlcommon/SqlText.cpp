#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>

#include "engine/contract/EngineError.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vemo::engine::sql {

std::string quoteIdent(std::string_view name) {
    if (name.find('\0') != std::string_view::npos)
        throw EngineError(ErrInvalidParam, "名前に使えない文字が含まれています。");
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string quoteLiteral(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\0')
            throw EngineError(ErrInvalidParam, "文字列に使えない文字が含まれています。");
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

static bool globMatch(std::string_view n, std::string_view p) {
    size_t ni = 0, pi = 0, star = std::string_view::npos, mark = 0;
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || lower(p[pi]) == lower(n[ni]))) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

bool matchesTablePattern(std::string_view name, std::string_view pattern) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    if (globMatch(name, pattern))
        return true;
    // SQL tables have no extension: "CUST*.*" means "CUST*".
    if (pattern.size() > 2 && pattern.substr(pattern.size() - 2) == ".*")
        return globMatch(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

std::string isoDate(const Date& d) {
    // Written digit by digit: a move writes one for every record.
    if (d.year >= 0 && d.year <= 9999 && d.month >= 0 && d.month <= 99 && d.day >= 0 && d.day <= 99) {
        std::string out(10, '-');
        auto put = [&](size_t at, int value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10)
                out[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        };
        put(0, d.year, 4);
        put(5, d.month, 2);
        put(8, d.day, 2);
        return out;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string isoTime(const Time& t) {
    char buf[32];
    int ms = t.msecs;
    if (ms % 1000)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    return buf;
}

std::string isoDateTime(const DateTime& dt) { return isoDate(dt.date) + " " + isoTime(dt.time); }

static bool digits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size())
        return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

std::optional<Date> parseIsoDate(std::string_view s) {
    Date d;
    if (s.size() < 10 || !digits(s, 0, 4, d.year) || s[4] != '-' || !digits(s, 5, 2, d.month) || s[7] != '-' ||
        !digits(s, 8, 2, d.day))
        return std::nullopt;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31)
        return std::nullopt;
    return d;
}

std::optional<Time> parseIsoTime(std::string_view s) {
    int h, m, sec = 0;
    if (!digits(s, 0, 2, h) || s.size() < 5 || s[2] != ':' || !digits(s, 3, 2, m))
        return std::nullopt;
    size_t pos = 5;
    if (pos < s.size() && s[pos] == ':') {
        if (!digits(s, pos + 1, 2, sec))
            return std::nullopt;
        pos += 3;
    }
    int ms = 0;
    if (pos < s.size() && s[pos] == '.') {
        int scale = 100;
        for (++pos; pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])); ++pos) {
            ms += (s[pos] - '0') * scale;
            scale /= 10;
        }
    }
    // A zone suffix ("+09", "Z") may follow; anything else is not a time.
    if (pos < s.size() && s[pos] != '+' && s[pos] != '-' && s[pos] != 'Z' && s[pos] != ' ')
        return std::nullopt;
    if (h > 24 || m > 59 || sec > 60)
        return std::nullopt;
    return Time{((h * 60 + m) * 60 + sec) * 1000 + ms};
}

std::optional<DateTime> parseIsoDateTime(std::string_view s) {
    auto d = parseIsoDate(s);
    if (!d)
        return std::nullopt;
    if (s.size() == 10)
        return DateTime{*d, Time{}};
    if (s[10] != ' ' && s[10] != 'T')
        return std::nullopt;
    auto t = parseIsoTime(s.substr(11));
    if (!t)
        return std::nullopt;
    return DateTime{*d, *t};
}

std::string doubleText(double d) {
    if (std::isnan(d))
        return "NaN";
    if (std::isinf(d))
        return d > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::optional<int64_t> parseInt(std::string_view s) {
    int64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

std::optional<double> parseDouble(std::string_view s) {
    if (s == "NaN")
        return NAN;
    if (s == "Infinity")
        return INFINITY;
    if (s == "-Infinity")
        return -INFINITY;
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

bool isDecimalText(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    bool any = false, dot = false;
    for (; i < s.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(s[i])))
            any = true;
        else if (s[i] == '.' && !dot)
            dot = true;
        else
            return false;
    }
    return any;
}

std::optional<std::string> paramText(const Value& v) {
    struct V {
        std::optional<std::string> operator()(std::monostate) const { return std::nullopt; }
        std::optional<std::string> operator()(bool b) const { return std::string(b ? "true" : "false"); }
        std::optional<std::string> operator()(int64_t i) const { return std::to_string(i); }
        std::optional<std::string> operator()(double d) const { return doubleText(d); }
        std::optional<std::string> operator()(const Decimal& d) const { return d.text; }
        std::optional<std::string> operator()(const std::string& s) const { return s; }
        std::optional<std::string> operator()(const Date& d) const { return isoDate(d); }
        std::optional<std::string> operator()(const Time& t) const { return isoTime(t); }
        std::optional<std::string> operator()(const DateTime& t) const { return isoDateTime(t); }
        std::optional<std::string> operator()(const Bytes& b) const { return std::string(b.begin(), b.end()); }
    };
    return std::visit(V{}, v);
}

std::vector<std::string> splitFieldList(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(';', start);
        if (end == std::string::npos)
            end = s.size();
        if (end > start)
            out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

void declaredSize(std::string_view decl, int& first, int& second) {
    first = second = 0;
    size_t open = decl.find('(');
    if (open == std::string_view::npos)
        return;
    size_t i = open + 1;
    auto number = [&](int& out) {
        while (i < decl.size() && decl[i] == ' ')
            ++i;
        int v = 0;
        bool any = false;
        while (i < decl.size() && std::isdigit(static_cast<unsigned char>(decl[i]))) {
            v = v * 10 + (decl[i++] - '0');
            any = true;
            if (v > 100000000)
                return;
        }
        if (any)
            out = v;
        while (i < decl.size() && decl[i] == ' ')
            ++i;
    };
    number(first);
    if (i < decl.size() && decl[i] == ',') {
        ++i;
        number(second);
    }
}

namespace {

// "A;B" -> "\"A\", \"B\"" (empty parts dropped).
std::string columnList(const std::string& joined) {
    std::string out;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = std::min(joined.find(';', start), joined.size());
        if (end > start)
            out += (out.empty() ? "" : ", ") + quoteIdent(joined.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace

std::vector<std::string> createTableStatements(const std::string& table, const std::string& bareName,
                                               const std::vector<FieldDef>& fields,
                                               const std::vector<IndexDef>& indexes,
                                               const std::function<std::string(const FieldDef&)>& declaredType) {
    std::string ddl = "CREATE TABLE " + table + " (";
    for (size_t i = 0; i < fields.size(); ++i) {
        ddl += (i ? ", " : "") + quoteIdent(fields[i].name) + " " + declaredType(fields[i]);
        if (fields[i].required)
            ddl += " NOT NULL";
    }
    for (const auto& ix : indexes)
        if (ix.primary)
            ddl += ", PRIMARY KEY (" + columnList(ix.fields) + ")";
    ddl += ")";
    std::vector<std::string> statements{ddl};
    for (size_t i = 0; i < indexes.size(); ++i) {
        const auto& ix = indexes[i];
        if (ix.primary)
            continue;
        std::string ixName = ix.name.empty() ? bareName + "_" + std::to_string(i) : ix.name;
        statements.push_back(std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX " + quoteIdent(ixName) +
                             " ON " + table + " (" + columnList(ix.fields) + ")");
    }
    return statements;
}

} // namespace vemo::engine::sql
