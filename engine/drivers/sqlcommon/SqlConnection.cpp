#include "engine/drivers/sqlcommon/SqlConnection.h"

#include "engine/drivers/sqlcommon/SqlText.h"

#include <cmath>
#include <cstring>
#include <strings.h>

namespace vemo::engine::sql {

void assignFromText(Value& slot, std::string_view text, const FieldDef& field) {
    auto keepText = [&] {
        if (auto* s = std::get_if<std::string>(&slot))
            s->assign(text);
        else
            slot = std::string(text);
    };
    // A value that does not read as the field's type stays text rather than being lost.
    auto parsed = [&](const auto& value) {
        if (value)
            slot = *value;
        else
            keepText();
    };
    auto is = [&](const char* word) {
        return text.size() == std::strlen(word) && strncasecmp(text.data(), word, text.size()) == 0;
    };
    switch (field.type) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
    case FieldType::Memo: case FieldType::FmtMemo: case FieldType::Unknown:
        return keepText();
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word:
    case FieldType::LargeInt: case FieldType::AutoInc:
        return parsed(parseInt(text));
    case FieldType::Float: case FieldType::Currency:
        return parsed(parseDouble(text));
    case FieldType::BCD:
        return parsed(isDecimalText(text) ? std::optional<Decimal>(Decimal{std::string(text)}) : std::nullopt);
    case FieldType::Boolean:
        if (is("t") || is("true") || is("1") || is("y"))
            return parsed(std::optional<bool>(true));
        if (is("f") || is("false") || is("0") || is("n"))
            return parsed(std::optional<bool>(false));
        return keepText();
    case FieldType::Date:
        return parsed(parseIsoDate(text));
    case FieldType::Time:
        return parsed(parseIsoTime(text));
    case FieldType::DateTime:
        return parsed(parseIsoDateTime(text));
    default:
        slot = Bytes(text.begin(), text.end());
        return;
    }
}

// A value that does not fit its declared type is kept as it is rather than lost: SQLite
// lets any column hold anything.
Value SqlConnection::toTyped(const Value& raw, const FieldDef& field) const {
    if (isNull(raw))
        return raw;
    if (const auto* text = std::get_if<std::string>(&raw)) {
        Value typed;
        assignFromText(typed, *text, field);
        return typed;
    }
    // Numbers and bytes (SQLite storage classes).
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
        return raw;
    case FieldType::Float: case FieldType::Currency:
        if (i)
            return static_cast<double>(*i);
        return raw;
    case FieldType::BCD:
        if (i)
            return Decimal{std::to_string(*i)};
        if (d)
            return Decimal{doubleText(*d)};
        return raw;
    case FieldType::Boolean:
        if (i)
            return *i != 0;
        if (d)
            return *d != 0;
        return raw;
    case FieldType::Date: case FieldType::Time: case FieldType::DateTime:
        return raw;
    default:
        if (i)
            return std::to_string(*i);
        if (d)
            return doubleText(*d);
        return raw;
    }
}

Value storedForm(const Value& v) {
    if (isNull(v) || std::holds_alternative<Bytes>(v) || std::holds_alternative<int64_t>(v) ||
        std::holds_alternative<double>(v) || std::holds_alternative<bool>(v))
        return v;
    return paramText(v).value();
}

void guardedWrite(SqlConnection& c, const std::function<void()>& write) {
    if (!c.inTransaction()) {
        write();
        return;
    }
    c.execute("SAVEPOINT vemo_write", {});
    try {
        write();
    } catch (...) {
        try {
            c.execute("ROLLBACK TO SAVEPOINT vemo_write", {});
            c.execute("RELEASE SAVEPOINT vemo_write", {});
        } catch (...) {
        }
        throw;
    }
    c.execute("RELEASE SAVEPOINT vemo_write", {});
}

void appendInsertValues(SqlBuilder& b, const Row& values, const std::function<std::string(size_t)>& columnName) {
    std::vector<size_t> used;
    for (size_t i = 0; i < values.size(); ++i)
        if (!isNull(values[i]))
            used.push_back(i);
    if (used.empty()) {
        b << " DEFAULT VALUES";
        return;
    }
    b << " (";
    for (size_t i = 0; i < used.size(); ++i)
        b << (i ? ", " : "") << columnName(used[i]);
    b << ") VALUES (";
    for (size_t i = 0; i < used.size(); ++i) {
        b << (i ? ", " : "");
        b.bind(values[used[i]]);
    }
    b << ")";
}

} // namespace vemo::engine::sql
