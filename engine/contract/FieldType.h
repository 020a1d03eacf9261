#pragma once
// The engine's field data type codes. The numbers are fixed: windows, listings and
// generated scripts index tables by them.
#include <cstdint>

namespace vemo::engine {

enum class FieldType : int {
    Unknown = 0,
    String = 1,
    Smallint = 2,
    Integer = 3,
    Word = 4,
    Boolean = 5,
    Float = 6,
    Currency = 7,
    BCD = 8,
    Date = 9,
    Time = 10,
    DateTime = 11,
    Bytes = 12,
    VarBytes = 13,
    AutoInc = 14,
    Blob = 15,
    Memo = 16,
    Graphic = 17,
    FmtMemo = 18,
    ParadoxOle = 19,
    DBaseOle = 20,
    TypedBinary = 21,
    Cursor = 22,
    FixedChar = 23,
    WideString = 24,
    LargeInt = 25,
    ADT = 26,
    Array = 27,
    Reference = 28,
    DataSet = 29,
};

inline int typeCode(FieldType t) { return static_cast<int>(t); }

// Types whose values are bytes the windows never show raw.
inline bool isBinaryType(FieldType t) {
    switch (t) {
    case FieldType::Bytes: case FieldType::VarBytes: case FieldType::Blob:
    case FieldType::Graphic: case FieldType::ParadoxOle: case FieldType::DBaseOle:
    case FieldType::TypedBinary: case FieldType::Cursor: case FieldType::ADT:
    case FieldType::Array: case FieldType::Reference: case FieldType::DataSet:
        return true;
    default:
        return false;
    }
}

// Types exported without quotes in CSV (small integer, integer, word).
inline bool isBareIntegerType(FieldType t) {
    return t == FieldType::Smallint || t == FieldType::Integer || t == FieldType::Word;
}

} // namespace vemo::engine
