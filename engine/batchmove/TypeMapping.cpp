#include "engine/batchmove/TypeMapping.h"

#include "engine/contract/EngineError.h"
#include "engine/values/Codepage.h"

#include <cmath>
#include <limits>
#include <strings.h>

namespace vemo::engine {
namespace {

bool isTextType(FieldType t) {
    return t == FieldType::String || t == FieldType::FixedChar || t == FieldType::WideString;
}
bool isMemoType(FieldType t) { return t == FieldType::Memo || t == FieldType::FmtMemo; }

size_t characters(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Length of a text as the destination counts it against its field size.
size_t textLength(const std::string& s, TableKind kind) {
    return isFileKind(kind) ? cp932Width(s) : characters(s);
}

bool integerRange(FieldType t, int64_t& low, int64_t& high) {
    switch (t) {
    case FieldType::Smallint: low = -32767; high = 32767; return true;
    case FieldType::Word: low = 0; high = 65535; return true;
    case FieldType::Integer: case FieldType::AutoInc: low = -2147483647LL; high = 2147483647LL; return true;
    case FieldType::LargeInt: low = std::numeric_limits<int64_t>::min(); high = std::numeric_limits<int64_t>::max(); return true;
    default: return false;
    }
}

// The digits a dBASE numeric field or SQL NUMERIC can hold before the point.
bool fitsDigits(double v, const FieldDef& f) {
    if (f.precision <= 0)
        return true;
    const int whole = f.precision - (f.scale > 0 ? f.scale + 1 : 0) - (v < 0 ? 1 : 0);
    if (whole <= 0)
        return std::fabs(v) < 1.0;
    // Powers of ten up to 1e22 are exact doubles: the table gives what pow would.
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return std::fabs(v) < (whole <= 22 ? kPowers[whole] : std::pow(10.0, whole));
}

bool fromText(const std::string& text, FieldType type, Value& out) {
    try {
        out = valueFromText(text, type);
        return true;
    } catch (const EngineError&) {
        return false;
    }
}

} // namespace

bool isFileKind(TableKind kind) { return kind == TableKind::Dbase || kind == TableKind::Paradox; }

TableKind tableKindOf(const std::string& driver, const std::string& tableName, const std::string& defaultFileType) {
    if (strcasecmp(driver.c_str(), "SQLITE") == 0)
        return TableKind::Sqlite;
    if (strcasecmp(driver.c_str(), "POSTGRESQL") == 0)
        return TableKind::Postgres;
    const size_t dot = tableName.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : tableName.substr(dot);
    if (strcasecmp(ext.c_str(), ".DBF") == 0)
        return TableKind::Dbase;
    if (strcasecmp(ext.c_str(), ".DB") == 0)
        return TableKind::Paradox;
    return strcasecmp(defaultFileType.c_str(), "DBASE") == 0 ? TableKind::Dbase : TableKind::Paradox;
}

FieldDef mapFieldType(const FieldDef& source, TableKind from, TableKind to) {
    FieldDef f;
    f.name = source.name;
    f.type = source.type;
    f.size = source.size;
    f.precision = source.precision;
    f.scale = source.scale;
    f.required = source.required;
    if (from == to) {
        f.nativeType = source.nativeType;
        return f;
    }
    // A text sized in characters needs up to two bytes a character in a code page 932 file.
    int textBytes = source.size;
    if (isTextType(source.type) && !isFileKind(from) && isFileKind(to))
        textBytes = source.size * 2;
    switch (to) {
    case TableKind::Dbase:
        switch (source.type) {
        case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
            if (textBytes <= 0 || textBytes > 254) { f.type = FieldType::Memo; f.size = 0; }
            else { f.type = FieldType::String; f.size = textBytes; }
            break;
        case FieldType::AutoInc: f.type = FieldType::Integer; break;
        case FieldType::Time: f.type = FieldType::String; f.size = 12; break;          // "hh:mm:ss.zzz"
        case FieldType::DateTime: f.type = FieldType::String; f.size = 23; break;      // "yyyy/mm/dd hh:mm:ss.zzz"
        case FieldType::BCD: case FieldType::Float: case FieldType::Currency:
            if (f.precision <= 0 || f.precision > 20) { f.precision = 20; f.scale = source.type == FieldType::BCD && source.scale > 0 ? std::min(source.scale, 15) : 4; }
            break;
        default: break;
        }
        break;
    case TableKind::Paradox:
        switch (source.type) {
        case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
            if (textBytes <= 0 || textBytes > 255) { f.type = FieldType::Memo; f.size = 10; }
            else { f.type = FieldType::String; f.size = textBytes; }
            break;
        case FieldType::Memo: case FieldType::FmtMemo: f.type = FieldType::Memo; f.size = 10; break;
        case FieldType::AutoInc: f.type = FieldType::Integer; break;
        case FieldType::Word: f.type = FieldType::Integer; break;
        case FieldType::Bytes: case FieldType::VarBytes:
            if (f.size < 1 || f.size > 255) { f.type = FieldType::Blob; f.size = 10; }
            break;
        case FieldType::Blob: case FieldType::Graphic: case FieldType::TypedBinary:
        case FieldType::DBaseOle: case FieldType::ParadoxOle:
            f.type = FieldType::Blob; f.size = 10; break;
        case FieldType::BCD: f.size = source.scale > 0 ? std::min(source.scale, 32) : std::min(std::max(source.size, 0), 32); break;
        default: break;
        }
        break;
    case TableKind::Sqlite:
    case TableKind::Postgres:
        switch (source.type) {
        case FieldType::AutoInc: f.type = FieldType::Integer; break;
        case FieldType::Word: f.type = FieldType::Integer; break;
        case FieldType::FmtMemo: f.type = FieldType::Memo; break;
        case FieldType::Graphic: case FieldType::TypedBinary: case FieldType::DBaseOle: case FieldType::ParadoxOle:
            f.type = FieldType::Blob; break;
        case FieldType::BCD:
            if (from == TableKind::Paradox) { f.precision = 32; f.scale = source.size; }
            break;
        case FieldType::Float:
            // A dBASE N field with decimals keeps its exact digits as NUMERIC.
            if (from == TableKind::Dbase && f.precision > 0) f.type = FieldType::BCD;
            break;
        default: break;
        }
        if (from == TableKind::Paradox && source.type == FieldType::Memo) f.size = 0;
        if (from == TableKind::Dbase && isMemoType(source.type)) f.size = 0;
        break;
    }
    return f;
}

bool convertValue(const Value& in, FieldType sourceType, const FieldDef& d, TableKind kind, Value& out) {
    if (isNull(in)) {
        out = Value{};
        return true;
    }
    const FieldType t = d.type;
    if (isTextType(t) || isMemoType(t)) {
        std::string text = std::holds_alternative<std::string>(in) ? std::get<std::string>(in) : valueToText(in, sourceType);
        if (std::holds_alternative<Bytes>(in))
            return false;
        if (isTextType(t) && d.size > 0 && textLength(text, kind) > static_cast<size_t>(d.size))
            return false;
        if (isFileKind(kind) && !canEncode(text, 932))
            return false;
        out = std::move(text);
        return true;
    }
    int64_t low = 0, high = 0;
    if (integerRange(t, low, high)) {
        int64_t v = 0;
        if (auto p = std::get_if<int64_t>(&in)) v = *p;
        else if (auto b = std::get_if<bool>(&in)) v = *b ? 1 : 0;
        else if (auto dbl = std::get_if<double>(&in)) {
            if (!std::isfinite(*dbl) || std::trunc(*dbl) != *dbl || std::fabs(*dbl) > 9.2e18) return false;
            v = static_cast<int64_t>(*dbl);
        } else {
            Value parsed;
            const std::string text = std::holds_alternative<std::string>(in) ? std::get<std::string>(in)
                                   : std::holds_alternative<Decimal>(in) ? std::get<Decimal>(in).text : valueToText(in, sourceType);
            std::string trimmed = text;
            // "12.000" is a whole number; "12.5" is not.
            if (const size_t dot = trimmed.find('.'); dot != std::string::npos) {
                if (trimmed.find_first_not_of('0', dot + 1) != std::string::npos) return false;
                trimmed.erase(dot);
            }
            if (!fromText(trimmed, FieldType::LargeInt, parsed) || !std::holds_alternative<int64_t>(parsed)) return false;
            v = std::get<int64_t>(parsed);
        }
        if (v < low || v > high) return false;
        if (kind == TableKind::Dbase && d.precision > 0 && !fitsDigits(static_cast<double>(v), d)) return false;
        out = v;
        return true;
    }
    switch (t) {
    case FieldType::Float: case FieldType::Currency: {
        double v = 0;
        if (auto p = std::get_if<double>(&in)) v = *p;
        else if (auto i = std::get_if<int64_t>(&in)) v = static_cast<double>(*i);
        else if (auto b = std::get_if<bool>(&in)) v = *b ? 1 : 0;
        else {
            Value parsed;
            const std::string text = std::holds_alternative<Decimal>(in) ? std::get<Decimal>(in).text
                                   : std::holds_alternative<std::string>(in) ? std::get<std::string>(in) : valueToText(in, sourceType);
            if (!fromText(text, FieldType::Float, parsed) || !std::holds_alternative<double>(parsed)) return false;
            v = std::get<double>(parsed);
        }
        if (!std::isfinite(v) || !fitsDigits(v, d)) return false;
        out = v;
        return true;
    }
    case FieldType::BCD: {
        std::string text;
        if (auto p = std::get_if<Decimal>(&in)) text = p->text;
        else if (auto i = std::get_if<int64_t>(&in)) text = std::to_string(*i);
        else if (std::holds_alternative<double>(in)) {
            if (!std::isfinite(std::get<double>(in))) return false;
            text = valueToText(in, FieldType::Float);
        } else if (auto s = std::get_if<std::string>(&in)) text = *s;
        else return false;
        Value parsed;
        if (!fromText(text, FieldType::BCD, parsed)) return false;
        if (auto dec = std::get_if<Decimal>(&parsed)) {
            if (!fitsDigits(std::strtod(dec->text.c_str(), nullptr), d)) return false;
        }
        out = std::move(parsed);
        return true;
    }
    case FieldType::Boolean:
        if (auto b = std::get_if<bool>(&in)) { out = *b; return true; }
        if (auto i = std::get_if<int64_t>(&in)) {
            if (*i != 0 && *i != 1) return false;
            out = *i == 1;
            return true;
        }
        if (auto s = std::get_if<std::string>(&in)) return fromText(*s, FieldType::Boolean, out);
        return false;
    case FieldType::Date:
        if (auto p = std::get_if<Date>(&in)) { out = *p; return true; }
        if (auto p = std::get_if<DateTime>(&in)) {
            if (p->time.msecs != 0) return false;
            out = p->date;
            return true;
        }
        if (auto s = std::get_if<std::string>(&in)) return fromText(*s, FieldType::Date, out);
        return false;
    case FieldType::Time:
        if (auto p = std::get_if<Time>(&in)) { out = *p; return true; }
        if (auto s = std::get_if<std::string>(&in)) return fromText(*s, FieldType::Time, out);
        return false;
    case FieldType::DateTime:
        if (auto p = std::get_if<DateTime>(&in)) { out = *p; return true; }
        if (auto p = std::get_if<Date>(&in)) { out = DateTime{*p, Time{}}; return true; }
        if (auto s = std::get_if<std::string>(&in)) return fromText(*s, FieldType::DateTime, out);
        return false;
    default:
        break;
    }
    if (auto b = std::get_if<Bytes>(&in)) {
        if ((t == FieldType::Bytes || t == FieldType::VarBytes) && d.size > 0 && b->size() > static_cast<size_t>(d.size))
            return false;
        out = *b;
        return true;
    }
    if (auto s = std::get_if<std::string>(&in)) {
        out = Bytes(s->begin(), s->end());
        return true;
    }
    return false;
}

} // namespace vemo::engine
