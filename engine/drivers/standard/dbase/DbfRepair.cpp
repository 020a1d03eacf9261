#include "engine/drivers/standard/dbase/DbfRepair.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <cstring>
#include <memory>

namespace vemo::engine::dbase {
namespace {

void patchHeader(const std::filesystem::path& file, uint64_t offset, const uint8_t* bytes, size_t n) {
    File f(file, true);
    f.writeAt(offset, bytes, n);
    f.sync();
}

} // namespace

RepairReport repairDbf(const std::filesystem::path& file, bool apply, const standard::TableSettings& settings) {
    RepairReport r;
    const std::string stem = file.stem().string();
    std::unique_ptr<DbfTable> table;
    try {
        table = std::make_unique<DbfTable>(file, false, settings);
    } catch (const EngineError& e) {
        r.remaining.push_back(e.what());
        return r;
    }
    if (table->hasJournal()) {
        r.mended.push_back("中断された書き込みを取り消しました");
        if (apply) {
            DbfTable w(file, true, settings);
            DbfTable::WriteScope scope(w);
            scope.finish();
        }
    }
    if (table->recordCount() < table->header().recordCount) {
        r.mended.push_back("ヘッダーのレコード数 " + std::to_string(table->header().recordCount) +
                           " を、ファイルにあるレコード数 " + std::to_string(table->recordCount()) + " に合わせました");
        if (apply) {
            uint8_t count[4];
            putLe32(count, table->recordCount());
            patchHeader(file, 4, count, 4);
        }
    }

    // Index files whose definitions cannot be read: kept aside under another name, so the
    // table can be written (their tags are lost; the report says so).
    const auto cdx = findCompanion(file, ".CDX");
    if (!cdx.empty()) {
        r.remaining.push_back("FoxPro のインデックス (.CDX) は保守できません");
        return r;
    }
    const auto mdx = findCompanion(file, ".MDX");
    const auto ndx = findCompanion(file, ".NDX");
    const DbfHeader& h = table->header();
    const bool foxpro = h.variant == Variant::FoxPro || h.variant == Variant::VisualFoxPro;
    bool clearFlag = false;
    if (!mdx.empty()) {
        try {
            readMdxTags(mdx);
        } catch (const EngineError& e) {
            const auto to = standard::moveAside(mdx, apply);
            r.mended.push_back("読めないインデックス " + mdx.filename().string() + " (" + e.what() + ") を " +
                               to.filename().string() + " に移しました。タグの定義は失われました");
            clearFlag = true;
        }
    } else if ((h.tableFlags & 0x01) && !foxpro) {
        r.mended.push_back("インデックス " + stem + ".MDX がないため、テーブルの製品インデックスの印を外しました。タグの定義は失われました");
        clearFlag = true;
    }
    if (clearFlag && apply) {
        const uint8_t flags = uint8_t(h.tableFlags & ~0x01);
        patchHeader(file, 28, &flags, 1);
    }
    if (!ndx.empty()) {
        try {
            readNdxTag(ndx);
        } catch (const EngineError& e) {
            const auto to = standard::moveAside(ndx, apply);
            r.mended.push_back("読めないインデックス " + ndx.filename().string() + " (" + e.what() + ") を " +
                               to.filename().string() + " に移しました");
        }
    }
    if (!apply) {
        // What stays after the mends above: nothing to offer for it.
        if (!table->damage().empty() && table->recordCount() >= table->header().recordCount)
            r.remaining.push_back("テーブルが壊れています: " + table->damage());
        return r;
    }

    // Every index file rewritten from the records, under the writers' lock.
    DbfTable w(file, true, settings);
    if (!w.damage().empty()) {
        r.remaining.push_back("テーブルが壊れています: " + w.damage());
        return r;
    }
    IndexSet indexes(w);
    if (!indexes.problem().empty()) {
        r.remaining.push_back(indexes.problem());
        return r;
    }
    if (!indexes.empty()) {
        DbfTable::WriteScope scope(w);
        indexes.rebuild();
        scope.finish();
        std::string names;
        for (const auto& d : indexes.definitions())
            names += (names.empty() ? "" : ", ") + d.name;
        r.mended.push_back("インデックスをレコードから作り直しました: " + names);
    }
    return r;
}

} // namespace vemo::engine::dbase
