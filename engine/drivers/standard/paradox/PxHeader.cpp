#include "PxHeader.h"

#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

#include <cstring>

namespace vemo::engine::paradox {
namespace {

[[noreturn]] void corrupt(const std::string& what, const std::string& why) {
    throw EngineError(ErrCorruptFile, what + " が壊れています: " + why);
}

size_t tableNameLength(uint8_t version) { return version >= 0x0C ? 261 : 79; }
bool hasDataHeader(const PxHeader& h) { return hasFieldNames(h.fileType) && h.version >= 5; }

} // namespace

bool hasFieldNames(uint8_t t) {
    return t == FtKeyedDb || t == FtUnkeyedDb || t == FtSecondaryX || t == FtSecondaryXInc
        || t == FtCompositeX || t == FtCompositeXInc;
}

int codepageFromSortOrder(uint8_t s) {
    switch (s) {
    case 0xB7: case 0xF0: return 437;
    case 0x82: case 0xE6: return 865;
    case 0x54: return 850;
    case 0x0A: return 932;
    case 0x03: return 936;
    case 0x12: return 949;
    case 0x84: return 950;
    case 0x8F: return 1251;
    case 0x62: case 0x11: case 0x5D: case 0x69: case 0x4C: return 1252;
    default: return 0;
    }
}

uint8_t sortOrderForCodepage(int codepage, std::string& name) {
    static const struct { int codepage; uint8_t code; const char* name; } orders[] = {
        {932, 0x0A, "japan"}, {437, 0xB7, "intl"}, {850, 0x54, "intl850"}, {865, 0x82, "nordan"},
        {936, 0x03, "china"}, {949, 0x12, "korea"}, {950, 0x84, "taiwan"}, {1251, 0x8F, "ancyrr"},
        {1252, 0x62, "ANSIINTL"},
    };
    for (const auto& o : orders)
        if (o.codepage == codepage) {
            name = o.name;
            return o.code;
        }
    name = "ascii";
    return 0x00;
}

uint8_t versionForLevel(int level) {
    switch (level) {
    case 3: return 4;
    case 4: return 9;
    case 5: return 0x0B;
    default: return 0x0C;
    }
}

PxHeader parseHeader(const uint8_t* d, size_t size, const std::string& what, const standard::TableSettings& settings) {
    if (size < 0x58) corrupt(what, "ヘッダーが短すぎます");
    PxHeader h;
    h.recordSize = getLE16(d + 0x00);
    h.headerSize = getLE16(d + 0x02);
    h.fileType = d[0x04];
    h.blockSizeK = d[0x05];
    h.numRecords = getLE32(d + 0x06);
    h.usedBlocks = getLE16(d + 0x0A);
    h.fileBlocks = getLE16(d + 0x0C);
    h.firstBlock = getLE16(d + 0x0E);
    h.lastBlock = getLE16(d + 0x10);
    h.indexFieldNumber = d[0x15];
    h.indexRoot = getLE16(d + 0x1E);
    h.indexLevels = d[0x20];
    const int numFields = int16_t(getLE16(d + 0x21));
    h.keyFields = int16_t(getLE16(d + 0x23));
    h.sortOrder = d[0x29];
    h.writeProtected = d[0x38];
    h.version = d[0x39];
    h.autoInc = getLE32(d + 0x49);
    h.firstFree = getLE16(d + 0x4D);
    h.indexDirection = d[0x55];

    if (h.fileType > FtCompositeXInc) corrupt(what, "ファイル種別 " + std::to_string(h.fileType) + " は不明です");
    if (h.blockSizeK < 1 || h.blockSizeK > 32) corrupt(what, "ブロックサイズが不正です");
    if (h.headerSize < 0x58 || h.headerSize > size) corrupt(what, "ヘッダーサイズが不正です");
    if (numFields < 1 || numFields > 255) corrupt(what, "フィールド数が不正です");
    if (h.recordSize < 1 || h.recordSize + 6 > h.blockSize()) corrupt(what, "レコード長が不正です");
    if (h.keyFields < 0 || h.keyFields > numFields) corrupt(what, "キーフィールド数が不正です");

    const uint32_t enc1 = getLE32(d + 0x25);
    h.checksum = hasDataHeader(h) && h.headerSize >= 0x78 ? getLE32(d + 0x5C) : (enc1 == 0xFF00FF00u ? 0 : enc1);
    h.encrypted = h.checksum != 0;
    // The code page field, where the header has one; a zero there names none, whatever the
    // sort order (a collation) says. Older headers have only the sort order.
    const bool codepageField = hasDataHeader(h) && h.headerSize >= 0x78;
    h.namedCodepage = codepageField ? getLE16(d + 0x6A) : codepageFromSortOrder(h.sortOrder);
    h.codepage = settings.codepageFor(h.namedCodepage);
    if (!codepageConvertible(h.codepage)) {
        h.unconvertible = h.codepage;
        h.codepage = RawBytesCodepage;
    }

    size_t pos = hasDataHeader(h) ? 0x78 : 0x58;
    const size_t end = h.headerSize;
    auto need = [&](size_t n) { if (pos + n > end) corrupt(what, "ヘッダーが途中で切れています"); };
    need(2 * size_t(numFields));
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        PxField f;
        f.type = d[pos + 2 * i];
        f.sizeByte = d[pos + 2 * i + 1];
        f.length = fieldLength(f.type, f.sizeByte);
        if (!isKnownType(f.type)) corrupt(what, "フィールド " + std::to_string(i + 1) + " の型 " + std::to_string(f.type) + " は不明です");
        if (f.length == 0) corrupt(what, "フィールド " + std::to_string(i + 1) + " のサイズが不正です");
        f.offset = offset;
        offset += f.length;
        h.fields.push_back(f);
    }
    pos += 2 * size_t(numFields);
    if (offset + (hasFieldNames(h.fileType) ? 0 : 6) != h.recordSize) corrupt(what, "レコード長がフィールドと合いません");
    need(4);
    pos += 4; // table name pointer
    if (hasFieldNames(h.fileType)) { need(4 * size_t(numFields)); pos += 4 * size_t(numFields); }
    const size_t tnl = tableNameLength(h.version);
    need(tnl);
    h.tableName.assign(reinterpret_cast<const char*>(d + pos), strnlen(reinterpret_cast<const char*>(d + pos), tnl));
    pos += tnl;
    auto readString = [&]() {
        size_t n = 0;
        while (pos + n < end && d[pos + n]) ++n;
        if (pos + n >= end) corrupt(what, "ヘッダーの名前が途中で切れています");
        std::string s(reinterpret_cast<const char*>(d + pos), n);
        pos += n + 1;
        return s;
    };
    if (!hasFieldNames(h.fileType)) {
        for (int i = 0; i < numFields; ++i) h.fields[i].name = "Field" + std::to_string(i + 1);
        return h;
    }
    for (auto& f : h.fields) f.name = decodeText(readString(), h.codepage);
    // A protected table has the fields' protection bytes here (256 of them with auxiliary
    // passwords).
    if (h.encrypted) pos += d[0x3D] ? 256 : size_t(numFields);
    if (pos + 2 * size_t(numFields) <= end) {
        for (int i = 0; i < numFields; ++i) h.fieldNumbers.push_back(int16_t(getLE16(d + pos + 2 * i)));
        pos += 2 * size_t(numFields);
        if (pos < end) h.sortOrderName = readString();
        if (pos < end && (h.fileType == FtCompositeX || h.fileType == FtCompositeXInc || h.fileType == FtSecondaryX
                          || h.fileType == FtSecondaryXInc)) {
            size_t n = 0;
            while (pos + n < end && d[pos + n]) ++n;
            h.indexName = decodeText(std::string(reinterpret_cast<const char*>(d + pos), n), h.codepage);
        }
    }
    return h;
}

std::vector<uint8_t> buildHeader(const PxHeader& h) {
    const int n = int(h.fields.size());
    const bool names = hasFieldNames(h.fileType);
    std::vector<uint8_t> var;
    auto append = [&](const void* p, size_t len) {
        auto b = static_cast<const uint8_t*>(p);
        var.insert(var.end(), b, b + len);
    };
    for (const auto& f : h.fields) { var.push_back(f.type); var.push_back(f.sizeByte); }
    var.insert(var.end(), 4, 0);
    if (names) var.insert(var.end(), 4 * size_t(n), 0);
    std::string tname = h.tableName.substr(0, tableNameLength(h.version) - 1);
    append(tname.data(), tname.size());
    var.insert(var.end(), tableNameLength(h.version) - tname.size(), 0);
    size_t fieldNumbersAt = 0;
    if (names) {
        for (const auto& f : h.fields) {
            std::string enc = encodeText(f.name, h.codepage);
            append(enc.data(), enc.size());
            var.push_back(0);
        }
        fieldNumbersAt = var.size();
        for (int i = 0; i < n; ++i) {
            int num = i < int(h.fieldNumbers.size()) ? h.fieldNumbers[i] : i + 1;
            var.push_back(uint8_t(num)); var.push_back(uint8_t(num >> 8));
        }
        append(h.sortOrderName.data(), h.sortOrderName.size());
        var.push_back(0);
        if (!h.indexName.empty()) {
            std::string enc = encodeText(h.indexName, h.codepage);
            append(enc.data(), enc.size());
            var.push_back(0);
        }
    }
    const size_t start = hasDataHeader(h) ? 0x78 : 0x58;
    size_t headerSize = (start + var.size() + 0x7FF) / 0x800 * 0x800;
    if (headerSize > 0xF800) throw EngineError(ErrInvalidParam, "フィールド名が長すぎてヘッダーに収まりません");
    std::vector<uint8_t> out(headerSize, 0);
    uint8_t* d = out.data();
    putLE16(d + 0x00, h.recordSize);
    putLE16(d + 0x02, uint16_t(headerSize));
    d[0x04] = h.fileType;
    d[0x05] = h.blockSizeK;
    putLE32(d + 0x06, h.numRecords);
    putLE16(d + 0x0A, h.usedBlocks);
    putLE16(d + 0x0C, h.fileBlocks);
    putLE16(d + 0x0E, h.firstBlock);
    putLE16(d + 0x10, h.lastBlock);
    putLE16(d + 0x12, names ? 12 : 17);
    d[0x15] = h.indexFieldNumber;
    putLE16(d + 0x1E, h.indexRoot);
    d[0x20] = h.indexLevels;
    putLE16(d + 0x21, uint16_t(n));
    putLE16(d + 0x23, uint16_t(h.keyFields));
    putLE32(d + 0x25, hasDataHeader(h) ? 0xFF00FF00u : 0);
    d[0x29] = h.sortOrder;
    d[0x2C] = names ? 0 : 102;
    d[0x2D] = 2;
    d[0x39] = h.version;
    putLE16(d + 0x3A, h.fileBlocks);
    d[0x3E] = 0x1F; d[0x3F] = 0x0F;
    putLE32(d + 0x49, h.autoInc);
    putLE16(d + 0x4D, h.firstFree);
    putLE16(d + 0x51, uint16_t(start + var.size()));
    d[0x55] = h.indexDirection;
    d[0x56] = names ? 0x20 : 0;
    if (hasDataHeader(h)) {
        const uint16_t vword = uint16_t(0x0100 | h.version);
        putLE16(d + 0x58, vword);
        putLE16(d + 0x5A, vword);
        putLE16(d + 0x64, uint16_t(n + 1));
        putLE16(d + 0x66, uint16_t(start + fieldNumbersAt - 0x58));
        putLE16(d + 0x68, uint16_t(n));
        putLE16(d + 0x6A, uint16_t(h.codepage));
        d[0x6C] = 1; d[0x6D] = 1;
    }
    std::memcpy(d + start, var.data(), var.size());
    return out;
}

} // namespace vemo::engine::paradox
