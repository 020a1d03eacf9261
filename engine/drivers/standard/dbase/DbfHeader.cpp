#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/contract/EngineError.h"
#include "engine/values/Codepage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vemo::engine::dbase {
namespace {

[[noreturn]] void corrupt(const std::string& table, const std::string& why) {
    throw EngineError(ErrCorruptFile, "テーブル " + table + " が壊れています: " + why);
}

struct VersionInfo {
    Variant variant;
    MemoKind memo;
    bool known;
};

VersionInfo classify(uint8_t v, uint8_t ldid) {
    switch (v) {
    case 0x30: case 0x31: case 0x32: return {Variant::VisualFoxPro, MemoKind::Fpt, true};
    case 0xF5: return {Variant::FoxPro, MemoKind::Fpt, true};
    case 0xFB: return {Variant::FoxPro, MemoKind::None, true};
    case 0x83: return {Variant::Dbase3, MemoKind::Dbt3, true};
    case 0x8B: case 0xCB: case 0x7B: return {Variant::Dbase4, MemoKind::Dbt4, true};
    case 0x8C: return {Variant::Dbase7, MemoKind::Dbt4, true};
    case 0x8E: return {Variant::Dbase4, MemoKind::None, true};
    default: break;
    }
    switch (v & 7) {
    case 3: return {ldid == 0 ? Variant::Dbase3 : Variant::Dbase4, MemoKind::None, true};
    case 4: return {Variant::Dbase7, MemoKind::None, true};
    case 2: case 5: return {Variant::FoxPro, MemoKind::None, true};
    default: return {Variant::Dbase3, MemoKind::None, false};
    }
}

bool validType(char t, Variant v) {
    static const char* common = "CNFDLMBGPIO+@TYVQW0";
    (void)v;
    return t != 0 && std::strchr(common, t) != nullptr;
}

} // namespace

std::string headerText(const uint8_t* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

size_t headerLengthOf(const uint8_t* first32) {
    const size_t stored = std::max<size_t>(32, le16(first32 + 8));
    return first32[0] == 0x02 ? std::max<size_t>(521, stored) : stored;
}

int codepageFromLdid(uint8_t ldid, int fallback) {
    switch (ldid) {
    case 0x01: case 0x09: case 0x0B: case 0x0D: case 0x0F: case 0x11: case 0x15: case 0x18:
    case 0x19: case 0x1B: return 437;
    case 0x02: case 0x0A: case 0x0E: case 0x10: case 0x12: case 0x14: case 0x16: case 0x1A:
    case 0x1D: case 0x25: case 0x37: return 850;
    case 0x03: case 0x57: case 0x58: case 0x59: return 1252;
    case 0x08: case 0x17: case 0x66: return 865;
    case 0x13: case 0x56: case 0x7B: return 932;
    case 0x1C: return 863;
    case 0x1F: case 0x22: case 0x23: case 0x64: case 0x87: return 852;
    case 0x24: return 860;
    case 0x26: case 0x65: return 866;
    case 0x4D: case 0x7A: return 936;
    case 0x4E: case 0x79: return 949;
    case 0x4F: case 0x78: return 950;
    case 0x50: case 0x7C: return 874;
    case 0x67: return 861;
    case 0x6A: case 0x86: return 737;
    case 0x6B: case 0x88: return 857;
    case 0x7D: return 1255;
    case 0x7E: return 1256;
    case 0x85: return 862;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0xCA: return 1254;
    case 0xCB: return 1253;
    case 0xCC: return 1257;
    case 0x04: return 10000;
    case 0x68: return 895;
    case 0x69: return 620;
    case 0x8E: return 868;
    case 0x96: return 10007;
    case 0x97: return 10029;
    case 0x98: return 10006;
    default: return fallback;
    }
}

int codepageFromDriverName(const std::string& name, int fallback) {
    const int cp = languageDriverCodepage(name);
    return cp ? cp : fallback;
}

uint8_t ldidForCodepage(int codepage) {
    switch (codepage) {
    case 932: return DefaultLdid;
    case 437: return 0x01;
    case 850: return 0x02;
    case 1252: return 0x03;
    case 865: return 0x08;
    case 863: return 0x1C;
    case 852: return 0x64;
    case 860: return 0x24;
    case 866: return 0x26;
    case 936: return 0x7A;
    case 949: return 0x79;
    case 950: return 0x78;
    case 874: return 0x7C;
    case 861: return 0x67;
    case 737: return 0x6A;
    case 857: return 0x6B;
    case 1255: return 0x7D;
    case 1256: return 0x7E;
    case 862: return 0x85;
    case 1250: return 0xC8;
    case 1251: return 0xC9;
    case 1254: return 0xCA;
    case 1253: return 0xCB;
    case 1257: return 0xCC;
    default: return 0;
    }
}

std::string driverNameForCodepage(int codepage) {
    switch (codepage) {
    case 932: return "DB932JP0";
    case 437: return "DB437US0";
    case 850: return "DB850US0";
    case 1252: return "DBWINUS0";
    case 865: return "DB865NO0";
    case 852: return "DB852CZ0";
    case 866: return "DB866RU0";
    case 936: return "DB936CN0";
    case 949: return "DB949KO0";
    case 950: return "DB950TW0";
    default: return {};
    }
}

bool isMemoType(char type, Variant variant) {
    switch (type) {
    case 'M': case 'G': case 'P': case 'W': return true;
    case 'B': return variant != Variant::VisualFoxPro;
    default: return false;
    }
}

namespace {

// dBASE II: a fixed 521-byte header, 16-byte field descriptors (at most 32) from byte 8, the
// record count a word at byte 1, the date as month, day, year at 3-5, the record length at 6.
// Returns false when the bytes do not read as one (a FoxBASE table shares the version byte).
bool parseDbase2(const uint8_t* data, size_t size, uint64_t fileSize, DbfHeader& h) {
    constexpr size_t HeaderLength = 521;
    if (size < HeaderLength || fileSize < HeaderLength)
        return false;
    std::vector<DbfField> fields;
    int offset = 1;
    for (size_t i = 0; i < 32; ++i) {
        const uint8_t* d = data + 8 + 16 * i;
        if (d[0] == 0x0D)
            break;
        DbfField f;
        f.name = headerText(d, 11);
        f.type = static_cast<char>(d[11]);
        f.length = d[12];
        f.decimals = d[15];
        if (f.name.empty() || std::strchr("CNL", f.type) == nullptr || f.type == 0 || f.length == 0)
            return false;
        for (unsigned char c : f.name)
            if (c < 0x20 || c >= 0x7F)
                return false;
        f.offset = offset;
        offset += f.length;
        fields.push_back(std::move(f));
    }
    if (fields.empty())
        return false;
    // Writers disagree on whether the stored length counts the deletion flag.
    const uint16_t stored = le16(data + 6);
    if (stored != offset && stored != offset - 1)
        return false;
    h.variant = Variant::Dbase2;
    h.memo = MemoKind::None;
    h.recordCount = le16(data + 1);
    h.month = data[3];
    h.day = data[4];
    h.year = 1900 + data[5];
    h.headerLength = HeaderLength;
    h.recordLength = static_cast<uint16_t>(offset);
    h.fields = std::move(fields);
    return true;
}

} // namespace

DbfHeader parseHeader(const uint8_t* data, size_t size, uint64_t fileSize, const std::string& table) {
    if (size < 32 || fileSize < 32)
        corrupt(table, "ヘッダーが短すぎます");
    DbfHeader h;
    h.version = data[0];
    if (h.version == 0x02 && parseDbase2(data, size, fileSize, h))
        return h;
    h.ldid = data[29];
    VersionInfo info = classify(h.version, h.ldid);
    if (!info.known)
        throw EngineError(ErrCorruptFile, table + " は dBASE テーブルではありません。");
    h.variant = info.variant;
    h.memo = info.memo;
    h.year = data[1] < 100 && data[1] < 80 ? 2000 + data[1] : 1900 + data[1];
    h.month = data[2];
    h.day = data[3];
    h.recordCount = le32(data + 4);
    h.headerLength = le16(data + 8);
    h.recordLength = le16(data + 10);
    h.tableFlags = data[28];
    if (h.variant == Variant::Dbase4 || h.variant == Variant::Dbase3)
        h.encrypted = data[15] != 0;
    if (h.variant == Variant::VisualFoxPro && (h.tableFlags & 0x02))
        h.memo = MemoKind::Fpt;
    if (h.variant == Variant::FoxPro && h.version == 0x03 && (h.tableFlags & 0x02))
        h.memo = MemoKind::Fpt;

    const bool level7 = h.variant == Variant::Dbase7;
    const size_t descStart = level7 ? 68 : 32;
    const size_t descSize = level7 ? 48 : 32;
    if (h.headerLength < descStart + 1 || h.headerLength > size)
        corrupt(table, "ヘッダー長が不正です");
    if (h.recordLength < 1)
        corrupt(table, "レコード長が不正です");
    if (level7) {
        h.driverName = headerText(data + 32, 32);
        h.namedCodepage = codepageFromDriverName(h.driverName, 0);
    } else {
        h.namedCodepage = codepageFromLdid(h.ldid, 0);
    }
    h.codepage = h.namedCodepage ? h.namedCodepage : DefaultCodepage;

    size_t pos = descStart;
    int offset = 1;
    int nullBits = 0;
    while (true) {
        if (pos >= h.headerLength)
            corrupt(table, "フィールド定義の終端がありません");
        if (data[pos] == 0x0D)
            break;
        if (pos + descSize > h.headerLength) {
            // Some writers end the descriptors with 0x00 instead of 0x0D.
            if (data[pos] == 0)
                break;
            corrupt(table, "フィールド定義が途中で切れています");
        }
        const uint8_t* d = data + pos;
        DbfField f;
        if (level7) {
            f.name = headerText(d, 32);
            f.type = static_cast<char>(d[32]);
            f.length = d[33];
            f.decimals = d[34];
        } else {
            f.name = headerText(d, 11);
            f.type = static_cast<char>(d[11]);
            f.length = d[16];
            f.decimals = d[17];
            f.flags = h.variant == Variant::VisualFoxPro ? d[18] : 0;
            if (f.type == 'C' && (h.variant == Variant::FoxPro || h.variant == Variant::VisualFoxPro)) {
                f.length += f.decimals * 256;
                f.decimals = 0;
            }
        }
        if (f.name.empty() && d[0] == 0)
            break; // zero padding where a terminator was expected
        if (!validType(f.type, h.variant))
            corrupt(table, "フィールド " + f.name + " の型 '" + std::string(1, f.type) + "' は不明です");
        if (f.length <= 0)
            corrupt(table, "フィールド " + f.name + " の長さが 0 です");
        f.offset = offset;
        offset += f.length;
        if (f.type == '0') {
            f.hidden = true;
            h.nullFlagsField = static_cast<int>(h.fields.size());
        }
        if (h.variant == Variant::VisualFoxPro && f.type != '0') {
            if (f.flags & 0x01)
                f.hidden = true;
            if (f.type == 'V' || f.type == 'Q')
                f.varBit = nullBits++;
            if (f.flags & 0x02)
                f.nullBit = nullBits++;
        }
        h.fields.push_back(std::move(f));
        pos += descSize;
        if (h.fields.size() > 2048)
            corrupt(table, "フィールドが多すぎます");
    }
    if (h.fields.empty())
        corrupt(table, "フィールドがありません");
    if (offset > h.recordLength)
        corrupt(table, "フィールド長の合計がレコード長を超えています");
    if (h.nullFlagsField >= 0 && nullBits > h.fields[h.nullFlagsField].length * 8)
        corrupt(table, "_NullFlags が短すぎます");
    return h;
}

} // namespace vemo::engine::dbase
