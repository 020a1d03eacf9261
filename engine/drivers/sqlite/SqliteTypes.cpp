#include "engine/drivers/sqlite/SqliteTypes.h"

#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <cctype>

namespace vemo::engine::sql {

FieldDef sqliteField(const std::string& name, const std::string& decl, bool notNull) {
    FieldDef f;
    f.name = name;
    f.required = notNull;
    f.nativeType = decl;
    std::string u = decl;
    std::transform(u.begin(), u.end(), u.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::string base = u.substr(0, u.find('('));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    int a = 0, b = 0;
    declaredSize(u, a, b);
    auto has = [&](const char* s) { return u.find(s) != std::string::npos; };
    auto is = [&](std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(), [&](const char* n) { return base == n; });
    };
    if (is({"SMALLINT", "INT2", "TINYINT"})) {
        f.type = FieldType::Smallint;
    } else if (is({"BIGINT", "INT8", "UNSIGNED BIG INT"})) {
        f.type = FieldType::LargeInt;
    } else if (is({"BOOLEAN", "BOOL", "BIT", "LOGICAL"})) {
        f.type = FieldType::Boolean;
    } else if (is({"DATE"})) {
        f.type = FieldType::Date;
    } else if (is({"TIME"})) {
        f.type = FieldType::Time;
    } else if (is({"DATETIME", "TIMESTAMP"})) {
        f.type = FieldType::DateTime;
    } else if (is({"MONEY", "CURRENCY", "SMALLMONEY"})) {
        f.type = FieldType::Currency;
    } else if (is({"NUMERIC", "DECIMAL", "NUMBER"})) {
        f.type = FieldType::BCD;
        f.precision = a;
        f.scale = b;
        f.size = b;
    } else if (is({"CHAR", "CHARACTER", "NCHAR", "NATIVE CHARACTER"})) {
        f.type = FieldType::FixedChar;
        f.size = a;
    } else if (is({"BINARY"})) {
        f.type = FieldType::Bytes;
        f.size = a;
    } else if (is({"VARBINARY"})) {
        f.type = FieldType::VarBytes;
        f.size = a;
    } else if (is({"TEXT", "CLOB", "NTEXT", "LONGTEXT", "MEDIUMTEXT"}) && a == 0) {
        f.type = FieldType::Memo;
    } else if (has("INT")) {
        // SQLite's own rule: any type naming INT has integer affinity.
        f.type = FieldType::Integer;
    } else if (has("CHAR") || has("CLOB") || has("TEXT") || has("STRING")) {
        f.type = FieldType::String;
        f.size = a;
    } else if (has("BLOB") || has("IMAGE") || has("BINARY")) {
        f.type = FieldType::Blob;
    } else if (has("REAL") || has("FLOA") || has("DOUB")) {
        f.type = FieldType::Float;
    } else if (u.empty()) {
        // No declared type (a view's computed column): shown as text whatever it holds.
        f.type = FieldType::String;
    } else {
        f.type = FieldType::BCD;
        f.precision = a;
        f.scale = b;
        f.size = b;
    }
    return f;
}

std::string sqliteDeclaredType(const FieldDef& f) {
    auto sized = [](const char* base, int n) { return n > 0 ? std::string(base) + "(" + std::to_string(n) + ")" : std::string(base); };
    switch (f.type) {
    case FieldType::String: case FieldType::WideString: return f.size > 0 ? sized("VARCHAR", f.size) : "VARCHAR";
    case FieldType::FixedChar: return sized("CHAR", f.size);
    case FieldType::Smallint: return "SMALLINT";
    case FieldType::Integer: case FieldType::Word: case FieldType::AutoInc: return "INTEGER";
    case FieldType::LargeInt: return "BIGINT";
    case FieldType::Boolean: return "BOOLEAN";
    case FieldType::Float: return "DOUBLE";
    case FieldType::Currency: return "MONEY";
    case FieldType::BCD: {
        int p = f.precision > 0 ? f.precision : 0;
        int s = f.scale > 0 ? f.scale : f.size;
        if (p <= 0)
            return "NUMERIC";
        return "NUMERIC(" + std::to_string(p) + "," + std::to_string(s) + ")";
    }
    case FieldType::Date: return "DATE";
    case FieldType::Time: return "TIME";
    case FieldType::DateTime: return "DATETIME";
    case FieldType::Memo: case FieldType::FmtMemo: return "TEXT";
    case FieldType::Bytes: return sized("BINARY", f.size);
    case FieldType::VarBytes: return sized("VARBINARY", f.size);
    default: return "BLOB";
    }
}

} // namespace vemo::engine::sql
