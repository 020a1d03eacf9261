#include "engine/values/Value.h"
#include "engine/values/DateText.h"
#include "engine/contract/EngineError.h"
#include "engine/values/FieldTypeNames.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vemo::engine {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Reads an unsigned run of 1..maxDigits digits.
bool readNumber(std::string_view& s, int maxDigits, int& out, int& digits) {
    out = 0;
    digits = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9' && digits < maxDigits) {
        out = out * 10 + (s.front() - '0');
        s.remove_prefix(1);
        ++digits;
    }
    return digits > 0;
}

std::string doubleText(double v) {
    if (std::isnan(v))
        return "NAN";
    if (std::isinf(v))
        return v < 0 ? "-INF" : "INF";
    // Plain digits for the magnitudes money and measures have ("800000", not "8e+05");
    // exponent form only where plain digits would run long.
    const double a = std::fabs(v);
    const bool plain = a == 0 || (a >= 1e-4 && a < 1e15);
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, plain ? std::chars_format::fixed : std::chars_format::scientific);
    return std::string(buf, res.ptr);
}

} // namespace

std::string shortestDecimalText(std::string_view text) {
    // Only a plain decimal is rewritten; anything else ("NaN", exponents) stays as stored.
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::string_view intPart, fracPart;
    const size_t point = text.find('.', i);
    intPart = text.substr(i, point == std::string_view::npos ? std::string_view::npos : point - i);
    if (point != std::string_view::npos)
        fracPart = text.substr(point + 1);
    auto digitsOnly = [](std::string_view s) {
        for (char c : s)
            if (c < '0' || c > '9')
                return false;
        return true;
    };
    if ((intPart.empty() && fracPart.empty()) || !digitsOnly(intPart) || !digitsOnly(fracPart))
        return std::string(text);
    while (intPart.size() > 1 && intPart.front() == '0')
        intPart.remove_prefix(1);
    while (!fracPart.empty() && fracPart.back() == '0')
        fracPart.remove_suffix(1);
    std::string out;
    if (intPart.empty())
        intPart = "0";
    const bool zero = intPart == "0" && fracPart.empty();
    if (negative && !zero)
        out += '-';
    out += intPart;
    if (!fracPart.empty()) {
        out += '.';
        out += fracPart;
    }
    return out;
}

namespace {

[[noreturn]] void convertError(const std::string& text, FieldType type) {
    const FieldTypeName* n = fieldTypeName(typeCode(type));
    throw EngineError(ErrConvert, "'" + text + "' は" + (n ? n->description : std::string("この型")) +
                                      "の値として正しくありません。");
}

Value integerFromText(const std::string& text, std::string_view s, FieldType type) {
    int64_t v = 0;
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size())
        convertError(text, type);
    int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
    if (type == FieldType::Smallint) { lo = -32768; hi = 32767; }
    else if (type == FieldType::Word) { lo = 0; hi = 65535; }
    else if (type == FieldType::Integer || type == FieldType::AutoInc) { lo = INT32_MIN; hi = INT32_MAX; }
    if (v < lo || v > hi)
        throw EngineError(ErrConvert, "'" + text + "' は範囲外の値です (" + std::to_string(lo) + " ～ " +
                                          std::to_string(hi) + ")。");
    return v;
}

Value floatFromText(const std::string& text, std::string_view s, FieldType type) {
    double v = 0;
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v))
        convertError(text, type);
    return v;
}

Value decimalFromText(const std::string& text, std::string_view s, FieldType type) {
    std::string out;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        if (s[i] == '-')
            out += '-';
        ++i;
    }
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') { digits = true; out += c; }
        else if (c == '.' && !point) { point = true; out += c; }
        else convertError(text, type);
    }
    if (!digits)
        convertError(text, type);
    return Decimal{out};
}

Value booleanFromText(const std::string& text, std::string_view s) {
    std::string u;
    for (char c : s)
        u += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (u == "TRUE" || u == "T" || u == "YES" || u == "Y" || u == "1")
        return true;
    if (u == "FALSE" || u == "F" || u == "NO" || u == "N" || u == "0")
        return false;
    convertError(text, FieldType::Boolean);
}

} // namespace

// Days from 0001-01-01; the civil algorithm counts from 1970-01-01.
int64_t daysFromCivil(const Date& d) {
    int64_t y = d.year;
    const int64_t m = d.month, dd = d.day;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 719162;
}

Date civilFromDays(int64_t days) {
    int64_t z = days - 719162 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    return Date{static_cast<int32_t>(y + (m <= 2)), static_cast<int32_t>(m), static_cast<int32_t>(d)};
}

bool isValidDate(const Date& d) {
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int max = kDays[d.month - 1];
    if (d.month == 2 && ((d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0))
        max = 29;
    return d.day <= max;
}

std::optional<Date> parseDateText(std::string_view s) {
    s = trimmed(s);
    int y, m, d, yd, md, dd;
    if (!readNumber(s, 4, y, yd) || s.empty())
        return std::nullopt;
    const char sep = s.front();
    if (sep != '/' && sep != '-' && sep != '.')
        return std::nullopt;
    s.remove_prefix(1);
    if (!readNumber(s, 2, m, md) || s.empty() || s.front() != sep)
        return std::nullopt;
    s.remove_prefix(1);
    if (!readNumber(s, 2, d, dd) || !s.empty())
        return std::nullopt;
    if (yd <= 2)
        y += y < 50 ? 2000 : 1900;
    else if (yd == 3)
        return std::nullopt;
    Date date{y, m, d};
    if (!isValidDate(date))
        return std::nullopt;
    return date;
}

std::optional<Time> parseTimeText(std::string_view s) {
    s = trimmed(s);
    int h, m, sec = 0, ms = 0, digits;
    if (!readNumber(s, 2, h, digits) || s.empty() || s.front() != ':')
        return std::nullopt;
    s.remove_prefix(1);
    if (!readNumber(s, 2, m, digits) || digits != 2)
        return std::nullopt;
    if (!s.empty() && s.front() == ':') {
        s.remove_prefix(1);
        if (!readNumber(s, 2, sec, digits) || digits != 2)
            return std::nullopt;
        if (!s.empty() && s.front() == '.') {
            s.remove_prefix(1);
            if (!readNumber(s, 3, ms, digits))
                return std::nullopt;
            for (; digits < 3; ++digits)
                ms *= 10;
        }
    }
    if (!s.empty() || h > 23 || m > 59 || sec > 59)
        return std::nullopt;
    return Time{((h * 60 + m) * 60 + sec) * 1000 + ms};
}

std::optional<DateTime> parseDateTimeText(std::string_view s) {
    s = trimmed(s);
    const size_t blank = s.find_first_of(" T");
    auto date = parseDateText(s.substr(0, blank));
    if (!date)
        return std::nullopt;
    if (blank == std::string_view::npos)
        return DateTime{*date, Time{}};
    auto time = parseTimeText(s.substr(blank + 1));
    if (!time)
        return std::nullopt;
    return DateTime{*date, *time};
}

std::string dateText(const Date& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.year, d.month, d.day);
    return buf;
}

std::string timeText(const Time& t) {
    const int secs = t.msecs / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60);
    return buf;
}

std::string dateTimeText(const DateTime& t) { return dateText(t.date) + " " + timeText(t.time); }

namespace {

// Two digits of n (0..99).
void appendTwoDigits(std::string& out, int n) {
    out += static_cast<char>('0' + n / 10);
    out += static_cast<char>('0' + n % 10);
}

void appendDateText(std::string& out, const Date& d) {
    if (d.year < 0 || d.year > 9999 || d.month < 0 || d.month > 99 || d.day < 0 || d.day > 99) {
        out += dateText(d);
        return;
    }
    appendTwoDigits(out, d.year / 100);
    appendTwoDigits(out, d.year % 100);
    out += '/';
    appendTwoDigits(out, d.month);
    out += '/';
    appendTwoDigits(out, d.day);
}

} // namespace

void appendValueText(std::string& out, const Value& v, FieldType type) {
    if (isNull(v))
        return;
    if (isBinaryType(type) || std::holds_alternative<Bytes>(v)) {
        out += "(BLOB)";
        return;
    }
    std::visit(
        [&out](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, bool>) {
                out += x ? "True" : "False";
            } else if constexpr (std::is_same_v<T, int64_t>) {
                char buf[24];
                out.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
            } else if constexpr (std::is_same_v<T, double>) {
                out += doubleText(x);
            } else if constexpr (std::is_same_v<T, Decimal>) {
                out += shortestDecimalText(x.text);
            } else if constexpr (std::is_same_v<T, std::string>) {
                out += x;
            } else if constexpr (std::is_same_v<T, Date>) {
                appendDateText(out, x);
            } else if constexpr (std::is_same_v<T, Time>) {
                out += timeText(x);
            } else if constexpr (std::is_same_v<T, DateTime>) {
                appendDateText(out, x.date);
                out += ' ';
                out += timeText(x.time);
            }
        },
        v);
}

std::string valueToText(const Value& v, FieldType type) {
    std::string out;
    appendValueText(out, v, type);
    return out;
}

Value valueFromText(const std::string& text, FieldType type) {
    switch (type) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
    case FieldType::Memo: case FieldType::FmtMemo:
        if (text.empty())
            return {};
        return text;
    default:
        break;
    }
    const std::string_view s = trimmed(text);
    if (s.empty())
        return {};
    switch (type) {
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word:
    case FieldType::AutoInc: case FieldType::LargeInt:
        return integerFromText(text, s, type);
    case FieldType::Float: case FieldType::Currency:
        return floatFromText(text, s, type);
    case FieldType::BCD:
        return decimalFromText(text, s, type);
    case FieldType::Boolean:
        return booleanFromText(text, s);
    case FieldType::Date:
        if (auto d = parseDateText(s))
            return *d;
        break;
    case FieldType::Time:
        if (auto t = parseTimeText(s))
            return *t;
        break;
    case FieldType::DateTime:
        if (auto t = parseDateTimeText(s))
            return *t;
        break;
    default:
        throw EngineError(ErrConvert, "この型のフィールドには文字で値を入力できません。");
    }
    convertError(text, type);
}

} // namespace vemo::engine
