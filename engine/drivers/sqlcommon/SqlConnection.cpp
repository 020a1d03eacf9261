#include "engine/drivers/sqlcommon/SqlConnection.h"

#include "engine/drivers/sqlcommon/SqlText.h"

#include <cmath>
#include <cstring>
#include <strings.h>

namespace vemo::engine::sql {

// A value that does not fit its declared type is kept as it is rather than lost: SQLite
// lets any column hold anything.
Value SqlConnection::toTyped(const Value& raw, const FieldDef& field) const {
    if (isNull(raw))
        return raw;
    const auto* text = std::get_if<std::string>(&raw);
    const auto* i = std::get_if<int64_t>(&raw);
    const auto* d = std::get_if<double>(&raw);
    switch (field.type) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
    case FieldType::Memo: case FieldType::FmtMemo: case FieldType::Unknown:
        if (i)
            return std::to_string(*i);
        if (d)
            return doubleText(*d);
        if (const auto* b = std::get_if<Bytes>(&raw))
            return std::string(b->begin(), b->end());
        return raw;
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word:
    case FieldType::LargeInt: case FieldType::AutoInc:
        if (d && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18)
            return static_cast<int64_t>(*d);
        if (text)
            if (auto v = parseInt(*text))
                return *v;
        return raw;
    case FieldType::Float: case FieldType::Currency:
        if (i)
            return static_cast<double>(*i);
        if (text)
            if (auto v = parseDouble(*text))
                return *v;
        return raw;
    case FieldType::BCD:
        if (i)
            return Decimal{std::to_string(*i)};
        if (d)
            return Decimal{doubleText(*d)};
        if (text && isDecimalText(*text))
            return Decimal{*text};
        return raw;
    case FieldType::Boolean:
        if (i)
            return *i != 0;
        if (d)
            return *d != 0;
        if (text) {
            const char* t = text->c_str();
            if (!strcasecmp(t, "t") || !strcasecmp(t, "true") || !strcmp(t, "1") || !strcasecmp(t, "y"))
                return true;
            if (!strcasecmp(t, "f") || !strcasecmp(t, "false") || !strcmp(t, "0") || !strcasecmp(t, "n"))
                return false;
        }
        return raw;
    case FieldType::Date:
        if (text)
            if (auto v = parseIsoDate(*text))
                return *v;
        return raw;
    case FieldType::Time:
        if (text)
            if (auto v = parseIsoTime(*text))
                return *v;
        return raw;
    case FieldType::DateTime:
        if (text)
            if (auto v = parseIsoDateTime(*text))
                return *v;
        return raw;
    default:
        if (text)
            return Bytes(text->begin(), text->end());
        if (i)
            return std::to_string(*i);
        if (d)
            return doubleText(*d);
        return raw;
    }
}

} // namespace vemo::engine::sql
