#include "PxCreate.h"

#include "PxBlobStore.h"
#include "PxCompanions.h"
#include "PxFile.h"
#include "PxHeader.h"
#include "PxIndexFiles.h"
#include "PxTable.h"
#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cctype>

namespace vemo::engine::paradox {
namespace {


std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> splitFields(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(';', start);
        if (end == std::string::npos) end = s.size();
        std::string part = s.substr(start, end - start);
        while (!part.empty() && part.front() == ' ') part.erase(0, 1);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (!part.empty()) out.push_back(part);
        start = end + 1;
    }
    return out;
}

size_t utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

int fieldIndex(const std::vector<PxField>& fields, const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (upper(fields[i].name) == upper(name)) return int(i);
    throw EngineError(ErrNotFound, "索引のフィールド \"" + name + "\" がありません");
}

// Removes the files a failed creation made, leaving what was there before alone.
struct CreatedFiles {
    std::vector<std::filesystem::path> paths;
    bool keep = false;
    ~CreatedFiles() {
        if (keep) return;
        std::error_code ec;
        for (const auto& p : paths) std::filesystem::remove(p, ec);
    }
};

} // namespace

void createParadoxTable(const std::filesystem::path& file, const std::vector<FieldDef>& defs,
                        const std::vector<IndexDef>& indexes, int codepage) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec))
        throw EngineError(ErrInvalidParam, file.filename().string() + " は既にあります");
    if (defs.empty() || defs.size() > 255) throw EngineError(ErrInvalidParam, "フィールドの数が不正です");
    PxHeader h;
    int level = 4;
    int offset = 0;
    for (const auto& d : defs) {
        if (d.name.empty() || utf8Length(d.name) > 25)
            throw EngineError(ErrInvalidParam, "フィールド名 \"" + d.name + "\" は使えません (1〜25 文字)");
        if (!canEncode(d.name, codepage))
            throw EngineError(ErrInvalidParam, "フィールド名 \"" + d.name + "\" にテーブルのコードページで書けない文字があります");
        for (const auto& f : h.fields)
            if (upper(f.name) == upper(d.name)) throw EngineError(ErrInvalidParam, "フィールド名 \"" + d.name + "\" が重複しています");
        PxField f;
        f.name = d.name;
        fromFieldDef(d, f.type, f.sizeByte);
        f.length = fieldLength(f.type, f.sizeByte);
        f.offset = offset;
        offset += f.length;
        level = std::max(level, typeLevel(f.type));
        h.fields.push_back(f);
    }
    if (offset > 0x7FF0) throw EngineError(ErrInvalidParam, "レコード長が大きすぎます");

    const IndexDef* primary = nullptr;
    std::vector<SecondaryIndexSpec> secondary;
    for (const auto& ix : indexes) {
        if (ix.primary) {
            if (primary) throw EngineError(ErrInvalidParam, "プライマリインデックスが複数あります");
            primary = &ix;
        }
    }
    if (primary) {
        const auto names = splitFields(primary->fields);
        if (names.empty() || names.size() > 16) throw EngineError(ErrInvalidParam, "キーフィールドの数が不正です");
        for (size_t i = 0; i < names.size(); ++i) {
            if (upper(names[i]) != upper(h.fields[i].name))
                throw EngineError(ErrInvalidParam, "キーフィールドはテーブルの先頭のフィールドでなければなりません: " + names[i]);
            if (isBlobType(h.fields[i].type))
                throw EngineError(ErrInvalidParam, "フィールド \"" + names[i] + "\" はキーにできません");
        }
        h.keyFields = int(names.size());
    }
    int composites = 0;
    for (const auto& ix : indexes) {
        if (ix.primary) continue;
        if (!primary) throw EngineError(ErrInvalidParam, "セカンダリインデックスにはプライマリキーが必要です");
        SecondaryIndexSpec s;
        for (const auto& n : splitFields(ix.fields)) {
            const int fi = fieldIndex(h.fields, n);
            if (isBlobType(h.fields[fi].type)) throw EngineError(ErrInvalidParam, "フィールド \"" + n + "\" は索引にできません");
            s.fields.push_back(fi);
        }
        if (s.fields.empty() || s.fields.size() > 16) throw EngineError(ErrInvalidParam, "索引 \"" + ix.name + "\" のフィールドが不正です");
        s.caseInsensitive = ix.caseInsensitive;
        // Opened again before any text with a lower-case letter is in it, a composite index
        // without case cannot be told from one with case (the files do not say): not made.
        if (ix.caseInsensitive && s.fields.size() > 1)
            throw EngineError(ErrNotSupported, "索引 \"" + ix.name + "\": 複数フィールドの大文字小文字を区別しない索引は作成できません");
        s.composite = s.fields.size() > 1 || ix.caseInsensitive
            || (!ix.name.empty() && upper(ix.name) != upper(h.fields[s.fields[0]].name));
        s.name = s.composite ? ix.name : h.fields[s.fields[0]].name;
        if (s.composite && s.name.empty()) throw EngineError(ErrInvalidParam, "複合索引には名前が必要です");
        for (const auto& o : secondary)
            if (upper(o.name) == upper(s.name)) throw EngineError(ErrInvalidParam, "索引名 \"" + s.name + "\" が重複しています");
        char ext[8];
        if (s.composite) {
            if (composites > 15) throw EngineError(ErrInvalidParam, "複合索引が多すぎます");
            std::snprintf(ext, sizeof ext, "G%X", composites++);
        } else {
            std::snprintf(ext, sizeof ext, "%02X", s.fields[0] + 1);
        }
        s.xPath = companionPath(file, std::string(".X") + ext);
        s.yPath = companionPath(file, std::string(".Y") + ext);
        // Where a level-7 .X marks a unique index is not known; a file the other programs
        // would take for an ordinary index is not made.
        if (ix.unique)
            throw EngineError(ErrNotSupported, "索引 \"" + ix.name + "\": 一意のセカンダリインデックスは作成できません");
        s.descending = ix.descending;
        if (s.descending) level = 7; // the direction is marked from level 7 on
        secondary.push_back(std::move(s));
    }

    h.recordSize = uint16_t(offset);
    for (int k : {4, 16, 32}) {
        h.blockSizeK = uint8_t(k);
        if (offset + 6 <= k * 0x400 && (h.keyFields == 0 || offset * 3 <= k * 0x400)) break;
    }
    if (offset + 6 > h.blockSize()) throw EngineError(ErrInvalidParam, "レコード長が大きすぎます");
    if (h.blockSizeK > 4) level = 7;
    h.fileType = primary ? FtKeyedDb : FtUnkeyedDb;
    h.version = versionForLevel(level);
    h.codepage = codepage;
    h.sortOrder = sortOrderForCodepage(codepage, h.sortOrderName);
    h.tableName = file.filename().string();
    if (!canEncode(h.tableName, codepage)) h.tableName = file.stem().string();
    h.tableName = encodeText(canEncode(h.tableName, codepage) ? h.tableName : std::string("TABLE"), codepage);

    CreatedFiles created;
    {
        const std::vector<uint8_t> bytes = buildHeader(h);
        PxFile f(file, PxFile::CreateNew);
        created.paths.push_back(file);
        f.writeAt(0, bytes.data(), bytes.size());
    }
    const bool hasBlobs = std::any_of(h.fields.begin(), h.fields.end(), [](const PxField& f) { return isBlobType(f.type); });
    if (hasBlobs) {
        const auto mb = companionPath(file, ".MB");
        PxBlobStore::create(mb);
        created.paths.push_back(mb);
    }
    if (primary) {
        PxTable table(file, true);
        const auto px = companionPath(file, ".PX");
        created.paths.push_back(px);
        writePrimaryIndex(px, table);
        for (const auto& s : secondary) {
            created.paths.push_back(s.xPath);
            created.paths.push_back(s.yPath);
            writeSecondaryIndex(s, table);
        }
    }
    created.keep = true;
}

} // namespace vemo::engine::paradox
