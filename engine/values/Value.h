#pragma once
// A field value as the engine carries it between drivers and datasets.
#include "engine/contract/FieldType.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vemo::engine {

struct Date {
    int32_t year = 0, month = 0, day = 0;
    auto operator<=>(const Date&) const = default;
};
struct Time {
    int32_t msecs = 0; // since midnight
    auto operator<=>(const Time&) const = default;
};
struct DateTime {
    Date date;
    Time time;
    auto operator<=>(const DateTime&) const = default;
};
// An exact decimal kept as its text ("-123.4500"), for BCD and server NUMERIC values.
struct Decimal {
    std::string text;
    auto operator<=>(const Decimal&) const = default;
};
using Bytes = std::vector<uint8_t>;

// Null, Boolean, integer, floating (float and currency), decimal, text (UTF-8; strings
// and memos), date, time, date-time, bytes (binary and blob fields).
using Value = std::variant<std::monostate, bool, int64_t, double, Decimal, std::string, Date, Time,
                           DateTime, Bytes>;
using Row = std::vector<Value>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// The value as the windows show and export it: integers in decimal, floating values in the
// shortest text that reads back the same, dates "yyyy/mm/dd", times "hh:mm:ss", date-times
// "yyyy/mm/dd hh:mm:ss", booleans "True"/"False", null as empty text, memos as their text,
// binary values as "(BLOB)".
std::string valueToText(const Value& v, FieldType type);
// The same text appended to out, for callers that build long text such as an export.
void appendValueText(std::string& out, const Value& v, FieldType type);

// A plain decimal text in its shortest form, as floats are shown: no leading zeros, no
// trailing fractional zeros, no point without digits after it, no minus on zero
// ("012.50" -> "12.5", "-0.00" -> "0"). Other text comes back unchanged.
std::string shortestDecimalText(std::string_view text);

// Parses text typed by a user into a value of the field's type. Empty text is null.
// Throws EngineError(ErrConvert) naming the type when the text does not convert.
Value valueFromText(const std::string& text, FieldType type);

// Calendar helpers shared by the formats (proleptic Gregorian calendar).
int64_t daysFromCivil(const Date& d);   // days since 0001-01-01 (which is day 0)
Date civilFromDays(int64_t days);
bool isValidDate(const Date& d);

} // namespace vemo::engine
