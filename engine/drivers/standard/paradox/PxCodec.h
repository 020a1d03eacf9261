#pragma once
// Byte-level helpers and the encoding of field values inside Paradox records.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <cstdint>
#include <span>
#include <string>

namespace vemo::engine::paradox {

// Paradox field type bytes.
enum PxType : uint8_t {
    PxAlpha = 0x01, PxDate = 0x02, PxShort = 0x03, PxLong = 0x04, PxMoney = 0x05,
    PxNumber = 0x06, PxLogical = 0x09, PxMemo = 0x0C, PxBlob = 0x0D, PxFmtMemo = 0x0E,
    PxOle = 0x0F, PxGraphic = 0x10, PxTime = 0x14, PxTimestamp = 0x15, PxAutoInc = 0x16,
    PxBcd = 0x17, PxBytes = 0x18,
};

struct PxField {
    std::string name;
    uint8_t type = 0;
    uint8_t sizeByte = 0; // as stored: length, or decimals for BCD
    int length = 0;       // bytes in the record
    int offset = 0;       // from the start of the record
};

inline uint16_t getLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void putLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void putLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

bool isBlobType(uint8_t type);
inline bool isTextBlob(uint8_t type) { return type == PxMemo || type == PxFmtMemo; }
bool isKnownType(uint8_t type);
// Bytes a field of this type and size byte takes in a record; 0 for an impossible pair.
int fieldLength(uint8_t type, uint8_t sizeByte);
// The table level (3, 4, 5) that first has the type.
int typeLevel(uint8_t type);
FieldType engineType(uint8_t type);
std::string nativeTypeName(uint8_t type, uint8_t sizeByte);
FieldDef toFieldDef(const PxField& f);
// Paradox type and size byte for an engine field definition; throws ErrNotSupported or
// ErrInvalidParam with the field's name.
void fromFieldDef(const FieldDef& def, uint8_t& type, uint8_t& sizeByte);

// Day numbers as the format stores them: 0001-01-01 is day 1.
int64_t pxDayNumber(const Date& d);
Date pxDateFromDayNumber(int64_t n);

// Decoding and encoding of a non-blob field; text goes through the table's code page.
Value decodeField(const PxField& f, const uint8_t* data, int codepage);
// Writes the value into data (f.length bytes). Throws EngineError(ErrConvert) naming the
// field when the value does not fit (text too long, number out of range).
void encodeField(const PxField& f, const Value& v, uint8_t* data, int codepage);

// Encoded short/long/double used by index entries too.
void putShortBE(uint8_t* p, int v);
int getShortBE(const uint8_t* p);

} // namespace vemo::engine::paradox
