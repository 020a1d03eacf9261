#pragma once
// The fixed part of a .DBF file: header, field descriptors and the variant they imply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

enum class Variant { Dbase2, Dbase3, Dbase4, Dbase7, FoxPro, VisualFoxPro };
enum class MemoKind { None, Dbt3, Dbt4, Fpt };

struct DbfField {
    std::string name;
    char type = 'C';
    int offset = 0;   // inside the record, after the deletion flag byte
    int length = 0;
    int decimals = 0;
    uint8_t flags = 0; // Visual FoxPro field flags
    int nullBit = -1;  // bit in _NullFlags that marks this field null
    int varBit = -1;   // bit in _NullFlags that marks a varchar shorter than its width
    bool hidden = false;
};

struct DbfHeader {
    uint8_t version = 0x03;
    Variant variant = Variant::Dbase3;
    MemoKind memo = MemoKind::None;
    int year = 0, month = 0, day = 0;   // last update
    uint32_t recordCount = 0;            // as stored in the header
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint8_t tableFlags = 0;              // byte 28: production index / FoxPro table flags
    uint8_t ldid = 0;                    // byte 29
    std::string driverName;              // dBASE 7 language driver name
    int namedCodepage = 0;               // the code page the header names, 0 when none
    int codepage = 932;                  // the one the text is read in
    bool encrypted = false;
    std::vector<DbfField> fields;        // every descriptor, hidden ones included
    int nullFlagsField = -1;             // index of the _NullFlags field, -1 when none
};

// Parses and checks the header bytes (at least the header length, or the whole file when
// shorter). fileSize is the size of the .DBF. Throws EngineError(ErrCorruptFile).
DbfHeader parseHeader(const uint8_t* data, size_t size, uint64_t fileSize, const std::string& tableName);

// Bytes needed before parseHeader can run: the header length at bytes 8-9, at least 32
// (the fixed 521 bytes of a dBASE II header).
size_t headerLengthOf(const uint8_t* first32);

// Whether a field of this type keeps its value in the memo file (in that variant: a Visual
// FoxPro 'B' is a number held in the record).
bool isMemoType(char type, Variant variant);

int codepageFromLdid(uint8_t ldid, int fallback);
int codepageFromDriverName(const std::string& name, int fallback);
// The language driver byte that names a code page in a new table (0 when none does).
uint8_t ldidForCodepage(int codepage);
// The dBASE 7 language driver name of a code page (empty when none is known).
std::string driverNameForCodepage(int codepage);

// The code page a table without a language driver byte is taken to be in.
constexpr int DefaultCodepage = 932;
// Language driver byte of the tables this program creates (Japanese, code page 932).
constexpr uint8_t DefaultLdid = 0x13;

// A name or text field of a header: up to the first NUL byte, trailing blanks dropped.
std::string headerText(const uint8_t* p, size_t max);

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void putLe16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

} // namespace vemo::engine::dbase
