#pragma once
// Field values of a record: bytes on disk to engine values and back.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"

namespace vemo::engine::dbase {

class MemoFile;
class TextDecoder;

// How a field of the table is shown to the engine.
FieldDef fieldDefOf(const DbfField& f, Variant variant);

// True when this program can write the field's type in place.
bool canWriteType(char type);

struct RecordContext {
    const DbfHeader* header = nullptr;
    const MemoFile* memo = nullptr;      // null when the table has no memo file
    const TextDecoder* decoder = nullptr;
};

// The value of field f in record (the record's first byte is the deletion flag).
Value decodeField(const DbfField& f, const uint8_t* record, const RecordContext& ctx);

// Writes v into field f of record. Memo fields store their text in memo (new blocks).
// Throws EngineError(ErrConvert) when the value does not fit the field.
void encodeField(const DbfField& f, const Value& v, uint8_t* record, int codepage, MemoFile* memo);

// Calendar helpers (proleptic Gregorian): days since 0001-01-01 and back.
int64_t dayNumber(int year, int month, int day);
Date dateFromDayNumber(int64_t days);
bool validDate(int year, int month, int day);

} // namespace vemo::engine::dbase
