#include "engine/values/FieldTypeNames.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

namespace vemo::engine {

namespace {

constexpr FieldTypeName kNames[] = {
    {"???", "ftUnknown", "[UNKNOWN]", false},
    {"文字型", "ftString", "VARCHAR(", true},
    {"整数型", "ftSmallint", "SMALLINT", false},
    {"倍長整数型", "ftInteger", "INTEGER", false},
    {"ワード型", "ftWord", "INTEGER", false},
    {"論理型", "ftBoolean", "CHARACTER(5)", false},
    {"実数型", "ftFloat", "DOUBLE PRECISION", false},
    {"金額型", "ftCurrency", "DOUBLE  PRECISION", false},
    {"ＢＣＤ型", "ftBCD", "DOUBLE PRECISION", false},
    {"日付型", "ftDate", "DATE", false},
    {"時刻型", "ftTime", "DATE", false},
    {"日付時刻型", "ftDateTime", "DATE", false},
    {"バイト型", "ftBytes", "VARCHAR", false},
    {"可変バイト型", "ftVarBytes", "BLOB", false},
    {"自動ｲﾝｸﾘﾒﾝﾄ型", "ftAutoInc", "INTEGER", false},
    {"Ｂｌｏｂ型", "ftBlob", "BLOB", false},
    {"メモ型", "ftMemo", "BLOB SUB_TYPE 1", false},
    {"ｸﾞﾗﾌｨｯｸ型", "ftGraphic", "BLOB", false},
    {"書式付メモ型", "ftFmtMemo", "BLOB", false},
    {"Paradox OLE型", "ftParadoxOle", "BLOB", false},
    {"dBASE OLE型", "ftDBaseOle", "BLOB", false},
    {"型付ﾊﾞｲﾅﾘ型", "ftTypedBinary", "BLOB", false},
    {"Oracle SP C型", "ftCursor", "BLOB", false},
    {"固定長文字型", "ftFixedChar", "VARCHAR(", true},
    {"ワイド文字型", "ftWideString", "VARCHAR(", true},
    {"32Bit整数型", "ftLargeInt", "INTEGER", false},
    {"抽象データ型", "ftADT", "BLOB", false},
    {"配列項目", "ftArray", "BLOB", false},
    {"参照項目", "ftReference", "BLOB", false},
    {"データセット", "ftDataSet", "BLOB", false},
};
static_assert(std::size(kNames) == 30);

unsigned listedSize(int size) { return static_cast<unsigned>(static_cast<uint16_t>(size)); }

} // namespace

const FieldTypeName* fieldTypeName(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kNames)))
        return nullptr;
    return &kNames[code];
}

std::string sqlTypeText(int code, int size) {
    const FieldTypeName* n = fieldTypeName(code);
    if (!n)
        return {};
    if (!n->sized)
        return n->sqlType;
    return std::string(n->sqlType) + std::to_string(listedSize(size)) + ")";
}

ListingRow listingHeadings() {
    return {"NO.", "ﾌｨｰﾙﾄﾞ名", "変数型", "TField型", "幅", ""};
}

ListingRow listingRow(int number, const std::string& name, int typeCode, int size) {
    char num[16];
    std::snprintf(num, sizeof num, "%03d", number);
    char width[16];
    std::snprintf(width, sizeof width, "%3u", listedSize(size));
    ListingRow row;
    row[0] = num;
    row[1] = name;
    if (const FieldTypeName* n = fieldTypeName(typeCode)) {
        row[2] = n->description;
        row[3] = n->className;
    }
    row[4] = width;
    row[5] = sqlTypeText(typeCode, size);
    return row;
}

ListingRow listingRow(int number, const FieldDef& field) {
    return listingRow(number, field.name, typeCode(field.type), field.size);
}

} // namespace vemo::engine
