#include "PxRepair.h"

#include "PxCompanions.h"
#include "PxCodec.h"
#include "PxCursor.h"
#include "PxFile.h"
#include "PxTable.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace vemo::engine::paradox {

namespace {

bool fileExists(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::exists(p, ec);
}

// Sets the header's counts to what the chain holds; false (the header put back) when the
// table is still damaged afterwards.
bool mendCounts(const std::filesystem::path& file, PxTable& t, std::string& damage,
                const standard::TableSettings& settings) {
    const PxHeader& h = t.header();
    const uint16_t maxBlock = t.blocks().empty() ? 0 : *std::max_element(t.blocks().begin(), t.blocks().end());
    const uint16_t fileBlocks = std::max(h.fileBlocks, maxBlock);
    PxFile f(file, PxFile::ReadWrite);
    f.lockWriters();
    std::vector<uint8_t> old(0x58), now;
    if (!f.readAt(0, old.data(), old.size())) {
        f.unlockWriters();
        damage = "ヘッダーが短すぎます";
        return false;
    }
    now = old;
    putLE32(now.data() + HoNumRecords, uint32_t(t.count()));
    putLE16(now.data() + HoUsedBlocks, fileBlocks);
    putLE16(now.data() + HoFileBlocks, fileBlocks);
    putLE16(now.data() + HoMaxBlocks, fileBlocks);
    putLE16(now.data() + HoLastBlock, t.blocks().empty() ? 0 : t.blocks().back());
    f.writeAt(0, now.data(), now.size());
    f.sync();
    PxTable check(file, false, false, settings);
    if (!check.damage().empty()) {
        damage = check.damage();
        f.writeAt(0, old.data(), old.size());
        f.sync();
    }
    f.unlockWriters();
    return damage.empty();
}

} // namespace

RepairReport repairParadox(const std::filesystem::path& file, bool apply, bool onOpenOnly,
                          const standard::TableSettings& settings) {
    RepairReport r;
    std::unique_ptr<PxTable> t;
    try {
        t = std::make_unique<PxTable>(file, false, false, settings);
    } catch (const EngineError& e) {
        r.remaining.push_back(e.what());
        return r;
    }
    bool rebuild = !onOpenOnly; // a full repair rewrites every index file
    if (t->hasJournal() && !onOpenOnly)
        r.mended.push_back("中断された書き込みを取り消しました");

    if (!t->damage().empty()) {
        const PxHeader& h = t->header();
        const uint16_t maxBlock = t->blocks().empty() ? 0 : *std::max_element(t->blocks().begin(), t->blocks().end());
        // Only counts that disagree with a chain read whole (the table's messages for them
        // are about the header); a broken chain is not guessed at.
        const bool countsOnly = t->damage().rfind("ヘッダー", 0) == 0 &&
                                (uint64_t(t->count()) != h.numRecords || maxBlock > h.fileBlocks);
        if (!countsOnly) {
            r.remaining.push_back("テーブルが壊れています: " + t->damage());
            return r;
        }
        const std::string text = "ヘッダーのレコード数 " + std::to_string(h.numRecords) + " とブロック数 " +
                                 std::to_string(h.fileBlocks) + " を、ブロックチェーンにある " +
                                 std::to_string(t->count()) + " 件に合わせました";
        r.mendableOnOpen = true;
        if (apply) {
            std::string damage;
            if (!mendCounts(file, *t, damage, settings)) {
                r.remaining.push_back("テーブルが壊れています: " + damage);
                return r;
            }
            t = std::make_unique<PxTable>(file, false, false, settings);
            rebuild = true;
        }
        r.mended.push_back(text);
    }

    if (t->header().keyed() && !fileExists(companionPath(file, ".PX"))) {
        r.mended.push_back("プライマリインデックス " + companionPath(file, ".PX").filename().string() + " を作り直しました");
        r.mendableOnOpen = rebuild = true;
    }
    OpenOptions readOnly;
    readOnly.readOnly = true;
    auto c = std::make_unique<PxCursor>(file, apply ? OpenOptions{} : readOnly, settings);
    std::vector<std::filesystem::path> known;
    for (const auto& s : c->secondaryIndexes()) {
        known.push_back(s.xPath);
        // A level-7 index can be descending in some of its fields only, and where the file
        // says which is not known: one of several fields is not rebuilt in a guessed order.
        if (s.descending && s.fields.size() > 1) {
            r.remaining.push_back("複合の降順索引 \"" + s.name + "\" は作り直せません (フィールドごとの向きが分かりません)");
            return r;
        }
        if (!fileExists(s.yPath)) {
            r.mended.push_back("索引 " + s.yPath.filename().string() + " を作り直しました");
            r.mendableOnOpen = rebuild = true;
        }
    }
    if (!onOpenOnly) {
        bool setAsideAny = false;
        for (const auto& p : paradoxCompanions(file)) {
            if (!isSecondaryExtension(p.extension().string(), false) || std::find(known.begin(), known.end(), p) != known.end())
                continue;
            std::string yext = p.extension().string();
            yext[1] = std::islower(static_cast<unsigned char>(yext[1])) ? 'y' : 'Y';
            const auto y = std::filesystem::path(p).replace_extension(yext);
            if (apply)
                c.reset(); // the cursor keeps no file of it, but holds the table
            const auto to = standard::moveAside(p, apply);
            std::string line = "使えない索引 " + p.filename().string() + " を " + to.filename().string();
            if (fileExists(y))
                line += "、" + y.filename().string() + " を " + standard::moveAside(y, apply).filename().string();
            r.mended.push_back(line + " に移しました。この索引の定義は失われました");
            setAsideAny = true;
        }
        if (setAsideAny && apply)
            c = std::make_unique<PxCursor>(file, OpenOptions{}, settings);
    }
    if (!apply || !rebuild)
        return r;
    if (!c)
        c = std::make_unique<PxCursor>(file, OpenOptions{}, settings);
    c->rebuildIndexFiles();
    c.reset();
    if (!onOpenOnly)
        r.mended.push_back("索引ファイルをすべてレコードから作り直しました");
    PxCursor after(file, OpenOptions{}, settings);
    if (!after.readOnlyReason().empty())
        r.remaining.push_back(after.readOnlyReason());
    return r;
}

} // namespace vemo::engine::paradox
