#include "engine/drivers/postgres/PgTypes.h"

namespace vemo::engine::sql {

FieldDef pgField(const std::string& name, const std::string& t, int typmod, bool notNull, bool autoValue) {
    FieldDef f;
    f.name = name;
    f.required = notNull && !autoValue;
    f.nativeType = t;
    if (t == "int2") {
        f.type = FieldType::Smallint;
    } else if (t == "int4") {
        f.type = autoValue ? FieldType::AutoInc : FieldType::Integer;
    } else if (t == "int8") {
        f.type = FieldType::LargeInt;
    } else if (t == "float4" || t == "float8") {
        f.type = FieldType::Float;
    } else if (t == "money") {
        f.type = FieldType::Currency;
    } else if (t == "numeric") {
        f.type = FieldType::BCD;
        if (typmod >= 4) {
            f.precision = ((typmod - 4) >> 16) & 0xffff;
            f.scale = (typmod - 4) & 0xffff;
            f.size = f.scale;
        }
    } else if (t == "bool") {
        f.type = FieldType::Boolean;
    } else if (t == "date") {
        f.type = FieldType::Date;
    } else if (t == "time" || t == "timetz") {
        f.type = FieldType::Time;
    } else if (t == "timestamp" || t == "timestamptz") {
        f.type = FieldType::DateTime;
    } else if (t == "bytea") {
        f.type = FieldType::Blob;
    } else if (t == "varchar") {
        f.type = FieldType::String;
        f.size = typmod >= 4 ? typmod - 4 : 0;
    } else if (t == "bpchar") {
        f.type = FieldType::FixedChar;
        f.size = typmod >= 4 ? typmod - 4 : 1;
    } else if (t == "text" || t == "json" || t == "jsonb" || t == "xml") {
        f.type = FieldType::Memo;
    } else if (t == "name") {
        f.type = FieldType::String;
        f.size = 63;
    } else if (t == "uuid") {
        f.type = FieldType::String;
        f.size = 36;
    } else {
        // Anything else (intervals, arrays, network types...) is shown in its text form.
        f.type = FieldType::String;
    }
    return f;
}

std::string pgDeclaredType(const FieldDef& f) {
    auto sized = [](const char* base, int n) { return std::string(base) + "(" + std::to_string(n) + ")"; };
    switch (f.type) {
    case FieldType::String: case FieldType::WideString: return f.size > 0 ? sized("varchar", f.size) : "varchar";
    case FieldType::FixedChar: return sized("char", f.size > 0 ? f.size : 1);
    case FieldType::Smallint: return "smallint";
    case FieldType::Integer: case FieldType::Word: return "integer";
    case FieldType::AutoInc: return "serial";
    case FieldType::LargeInt: return "bigint";
    case FieldType::Boolean: return "boolean";
    case FieldType::Float: return "double precision";
    case FieldType::Currency: return "money";
    case FieldType::BCD:
        if (f.precision <= 0)
            return "numeric";
        return "numeric(" + std::to_string(f.precision) + "," + std::to_string(f.scale > 0 ? f.scale : f.size) + ")";
    case FieldType::Date: return "date";
    case FieldType::Time: return "time";
    case FieldType::DateTime: return "timestamp";
    case FieldType::Memo: case FieldType::FmtMemo: return "text";
    default: return "bytea";
    }
}

} // namespace vemo::engine::sql
