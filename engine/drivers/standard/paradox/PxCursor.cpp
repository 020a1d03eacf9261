#include "PxCursor.h"

#include "PxCompanions.h"
#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace vemo::engine::paradox {
namespace {

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}


} // namespace

PxCursor::PxCursor(const std::filesystem::path& file, const OpenOptions& options, const standard::TableSettings& settings)
    : path_(file), options_(options), settings_(settings) {
    openFiles();
}

PxCursor::~PxCursor() {
    undoBatch(); // a batch never committed is undone, as a kill would leave it
    try {
        flushIndexes();
    } catch (const EngineError&) {
        // Closing cannot report; the next write rewrites every index file again.
    }
}

void PxCursor::setDeferIndexWrites(bool defer) {
    deferIndexes_ = defer;
    if (!defer) flushIndexes();
}

void PxCursor::flushIndexes() {
    if (!indexesDirty_ || !table_->writable() || batch_) return;
    PxTable::WriteScope scope(*table_);
    indexTouched_ = false;
    if (scope.changed()) {
        forgetIndexImages();
        rebuildNeeded_ = true; // the changes noted are lost with what another writer did
    }
    writeIndexes();
    syncIndexFiles();
    scope.finish(true);
}

void PxCursor::openFiles() {
    problems_.clear();
    keyOrderChecked_ = false;
    indexesDirty_ = false;
    rebuildNeeded_ = false;
    pending_.clear();
    moved_.clear();
    // What writes through the table's journal goes before the table.
    xTables_.clear();
    treeImages_.clear();
    primaryImage_.reset();
    orderStale_ = true;
    memoryOrder_ = false;
    bool writable = !options_.readOnly;
    if (writable) {
        try {
            table_ = std::make_unique<PxTable>(path_, true, false, settings_);
        } catch (const EngineError& e) {
            if (e.code() != ErrIO) throw;
            writable = false;
            problems_.push_back("ファイルに書き込めません");
        }
    }
    if (!writable) table_ = std::make_unique<PxTable>(path_, false, false, settings_);
    table_->setMoveObserver([this](const uint8_t* rec) {
        if (secondary_.empty() || rebuildNeeded_) return;
        moved_.emplace_back(rec, rec + table_->header().recordSize);
    });
    bool unfinished = false;
    if (writable && table_->hasJournal()) {
        // A write was cut off: every file it wrote in place goes back as it was before it;
        // the index files are rebuilt, once they are known, only where the journal says
        // they lag (or were replaced whole by that write).
        PxTable::WriteScope scope(*table_);
        unfinished = scope.indexesLag();
        scope.finish(!unfinished);
    }
    if (writable && !table_->damage().empty()) table_->reloadLocked(); // read again, alone
    const PxHeader& h = table_->header();
    fields_.clear();
    for (const auto& f : h.fields) fields_.push_back(toFieldDef(f));
    if (!table_->damage().empty()) problems_.push_back("テーブルが壊れています: " + table_->damage());
    if (h.writeProtected) problems_.push_back("テーブルは書き込み禁止に設定されています");
    if (h.unconvertible)
        problems_.push_back("コードページ " + std::to_string(h.unconvertible) + " はこのシステムで変換できません (文字はバイトのまま表示されます)");
    const bool hasBlobs = std::any_of(h.fields.begin(), h.fields.end(), [](const PxField& f) { return isBlobType(f.type); });
    blobs_.reset();
    if (hasBlobs) {
        try {
            blobs_ = std::make_unique<PxBlobStore>(companionPath(path_, ".MB"), writable);
        } catch (const EngineError& e) {
            if (!writable || e.code() != ErrIO) throw;
            blobs_ = std::make_unique<PxBlobStore>(companionPath(path_, ".MB"), false);
            problems_.push_back("ブロブファイル (.MB) に書き込めません");
        }
        if (h.encrypted) blobs_->protect(h.checksum);
        if (!blobs_->exists()) problems_.push_back("ブロブファイル (.MB) がありません");
    }
    if (h.keyed() && writable) {
        std::error_code ec;
        if (!std::filesystem::exists(companionPath(path_, ".PX"), ec))
            problems_.push_back("プライマリインデックス (.PX) がありません");
    }
    primaryImage_ = std::make_unique<IndexFileImage>(companionPath(path_, ".PX"));
    primaryImage_->journalThrough(table_->journalSlot());
    findSecondaryIndexes();
    if (unfinished && readOnlyReason().empty()) recoverUnfinishedWrite();
}

void PxCursor::findSecondaryIndexes() {
    secondary_.clear();
    treeImages_.clear();
    const PxHeader& t = table_->header();
    for (const auto& p : paradoxCompanions(path_)) {
        const std::string ext = p.extension().string();
        if (!isSecondaryExtension(ext, false)) continue;
        std::string yext = ext;
        yext[1] = std::islower(static_cast<unsigned char>(ext[1])) ? 'y' : 'Y';
        const std::filesystem::path y = std::filesystem::path(p).replace_extension(yext);
        const std::string what = p.filename().string();
        try {
            PxFile f(p, PxFile::ReadOnly);
            std::vector<uint8_t> head(0x10000);
            head.resize(f.readSome(0, head.data(), head.size()));
            PxHeader x = parseHeader(head.data(), head.size(), what, settings_);
            if (!hasFieldNames(x.fileType) || x.fileType == FtKeyedDb || x.fileType == FtUnkeyedDb)
                throw EngineError(ErrCorruptFile, what + " は索引ファイルではありません");
            const int m = int(x.fields.size()) - 1 - t.keyFields;
            if (!t.keyed() || m < 1) throw EngineError(ErrCorruptFile, what + " の構成がテーブルと合いません");
            SecondaryIndexSpec s;
            s.composite = x.fileType == FtCompositeX || x.fileType == FtCompositeXInc;
            for (int i = 0; i < m; ++i) {
                int no = i < int(x.fieldNumbers.size()) ? x.fieldNumbers[i] : (i == 0 ? x.indexFieldNumber : 0);
                if (no < 1 || no > int(t.fields.size()) || t.fields[no - 1].type != x.fields[i].type
                    || t.fields[no - 1].length != x.fields[i].length)
                    throw EngineError(ErrCorruptFile, what + " のフィールドがテーブルと合いません");
                s.fields.push_back(no - 1);
            }
            s.name = s.composite && !x.indexName.empty() ? x.indexName : t.fields[s.fields[0]].name;
            // Level 7 tells the direction; another value there may mean a kind of index (a
            // unique one, say) whose rules are not known here, so such a table is not written.
            s.descending = x.version >= 0x0C && x.indexDirection == IxDescending;
            if (x.version >= 0x0C && x.indexDirection != 0 && x.indexDirection != IxAscending && !s.descending) {
                char b[8];
                std::snprintf(b, sizeof b, "0x%02X", x.indexDirection);
                problems_.push_back("索引 \"" + s.name + "\" の種類 (" + b + ") はこのプログラムでは維持できません");
            }
            s.xPath = p;
            s.yPath = y;
            s.caseInsensitive = foldedIndex(s);
            std::error_code ec;
            if (!std::filesystem::exists(y, ec)) problems_.push_back(y.filename().string() + " がありません");
            treeImages_.emplace_back(s.yPath);
            treeImages_.back().journalThrough(table_->journalSlot());
            secondary_.push_back(std::move(s));
        } catch (const EngineError& e) {
            problems_.push_back(std::string("索引を維持できません: ") + e.what());
        }
    }
}

std::vector<IndexDef> PxCursor::indexes() const {
    std::vector<IndexDef> out;
    const PxHeader& h = table_->header();
    if (h.keyed()) {
        IndexDef d;
        d.primary = d.unique = true;
        for (int i = 0; i < h.keyFields; ++i) d.fields += (i ? ";" : "") + h.fields[i].name;
        out.push_back(d);
    }
    for (const auto& s : secondary_) {
        IndexDef d;
        d.name = s.name;
        for (size_t i = 0; i < s.fields.size(); ++i) d.fields += (i ? ";" : "") + h.fields[s.fields[i]].name;
        d.caseInsensitive = s.caseInsensitive;
        d.descending = s.descending;
        out.push_back(d);
    }
    return out;
}

std::string PxCursor::readOnlyReason() const {
    std::string r;
    if (options_.readOnly) r = "読み取り専用で開かれています";
    for (const auto& p : problems_) r += (r.empty() ? "" : "; ") + p;
    return r;
}

// Inserts find their place by comparing stored key bytes; a table sorted by another
// collation (or not sorted at all) would be damaged by that, so it is not written to. Here
// the blocks' first keys are compared, of the table and of each .X file; each block a write
// changes is checked as it is read for the write (PxTable), so the first write after
// opening a large table does not read every record.
void PxCursor::checkKeyOrder() {
    keyOrderChecked_ = true;
    if (!table_->header().keyed()) return;
    if (!table_->firstKeysInOrder()) {
        problems_.push_back("キーの並び順がこのプログラムの照合順序と異なります");
        return;
    }
    // Index files written in another order (another collation, the case-insensitive order
    // of text beyond ASCII letters) would be rewritten in this program's order; keep them as
    // they are instead.
    for (size_t i = 0; i < secondary_.size(); ++i) {
        const auto& ix = secondary_[i];
        try {
            PxTable& x = xTable(i);
            const bool sorted = x.header().recordSize > 2 && x.damage().empty() && x.firstKeysInOrder();
            if (!sorted) problems_.push_back(orderProblem(ix));
        } catch (const EngineError& e) {
            problems_.push_back(std::string("索引を維持できません: ") + e.what());
        }
    }
}

std::string PxCursor::orderProblem(const SecondaryIndexSpec& ix) {
    return "索引 \"" + ix.name + "\" の並び順はこのプログラムでは維持できません";
}

// A write stopped by a block out of order: the table or index stays read-only from now on.
void PxCursor::noteOrderProblems() {
    if (table_->outOfOrder() && std::find(problems_.begin(), problems_.end(), "キーの並び順がこのプログラムの照合順序と異なります") == problems_.end())
        problems_.push_back("キーの並び順がこのプログラムの照合順序と異なります");
    for (size_t i = 0; i < xTables_.size() && i < secondary_.size(); ++i) {
        if (!xTables_[i] || !xTables_[i]->outOfOrder()) continue;
        const std::string p = orderProblem(secondary_[i]);
        if (std::find(problems_.begin(), problems_.end(), p) == problems_.end()) problems_.push_back(p);
    }
}

void PxCursor::requireWritable(bool locked) {
    // The order is read under the writers' lock: another writer's half-done write would
    // look like records out of order.
    if (locked && !keyOrderChecked_ && readOnlyReason().empty()) checkKeyOrder();
    const std::string r = readOnlyReason();
    if (!r.empty()) throw EngineError(ErrReadOnly, path_.filename().string() + " は変更できません: " + r);
}

void PxCursor::setOrder(const std::string& name) {
    if (name.empty()) {
        orderName_.clear();
        orderIndex_ = -1;
        order_.clear();
        return;
    }
    for (size_t i = 0; i < secondary_.size(); ++i) {
        if (sameName(secondary_[i].name, name)) {
            orderName_ = secondary_[i].name;
            orderIndex_ = int(i);
            memoryOrder_ = false;
            order_.clear();
            orderStale_ = true;
            return;
        }
    }
    throw EngineError(ErrNotFound, "索引 \"" + name + "\" がありません");
}

// The header has no known mark of a case-insensitive index; it is always a .XGn file (as
// are composite ones and single-field ones named otherwise than their field). It is told by
// its entries: in the folded order but not in byte order; or, where both orders agree,
// holding no lower-case letter where the table's records do (entries are stored folded).
bool PxCursor::foldedIndex(const SecondaryIndexSpec& s) {
    const PxHeader& t = table_->header();
    if (!s.composite || std::none_of(s.fields.begin(), s.fields.end(), [&](int f) { return t.fields[f].type == PxAlpha; }))
        return false;
    try {
        PxTable x(s.xPath, false, true, settings_);
        const int fieldsLen = secondaryFieldsLength(s, t), kl = x.keyLength();
        if (!x.damage().empty() || kl != fieldsLen + table_->keyLength()) return false;
        SecondaryIndexSpec bytesSpec = s, foldedSpec = s;
        bytesSpec.caseInsensitive = false;
        foldedSpec.caseInsensitive = true;
        const PxKeyOrder bytes = secondaryKeyOrder(bytesSpec, t), folded = secondaryKeyOrder(foldedSpec, t);
        // Whether alpha text of the indexed fields has a lower-case letter; `at` is where
        // the fields start in rec, their offsets in the table (0) or in the .X (the rest).
        auto hasLower = [&](const uint8_t* rec, bool inTable) {
            int xat = 0;
            for (int fi : s.fields) {
                const PxField& f = t.fields[fi];
                const uint8_t* p = rec + (inTable ? f.offset : xat);
                xat += f.length;
                if (f.type != PxAlpha) continue;
                for (int i = 0; i < f.length && p[i]; ++i) {
                    if (PxKeyOrder::leadByte(p[i], t.codepage)) ++i;
                    else if (p[i] >= 'a' && p[i] <= 'z') return true;
                }
            }
            return false;
        };
        constexpr int64_t everyRecordUpTo = 20000;
        bool inBytes = true, inFolded = true, lowerInIndex = false;
        const uint8_t* prev = nullptr;
        std::vector<uint8_t> prevKey(static_cast<size_t>(kl));
        auto look = [&](const uint8_t* k) {
            if (prev) {
                inBytes = inBytes && bytes.compare(prev, k, kl) < 0;
                inFolded = inFolded && folded.compare(prev, k, kl) < 0;
            }
            lowerInIndex = lowerInIndex || hasLower(k, false);
            std::memcpy(prevKey.data(), k, size_t(kl));
            prev = prevKey.data();
        };
        if (x.count() <= everyRecordUpTo) {
            for (int64_t p = 0; p < x.count(); ++p) look(x.record(p));
        } else {
            const auto& fk = x.firstKeys();
            for (size_t i = 0; i < x.blocks().size(); ++i)
                if (x.counts()[i]) look(fk.data() + i * size_t(kl));
        }
        if (inBytes != inFolded) return inFolded;
        if (!inBytes || lowerInIndex) return false; // neither order (writes are refused), or stored as typed
        for (int64_t p = 0; p < std::min(table_->count(), everyRecordUpTo); ++p)
            if (hasLower(table_->record(p), true)) return true;
        // Nothing tells (no text with a lower-case letter yet): one field in a .XGn file is
        // taken for a case-insensitive index, since a case-sensitive one of one field is an
        // .Xnn file unless renamed; several fields for a case-sensitive one.
        return s.fields.size() == 1;
    } catch (const EngineError&) {
        // Unreadable: reported when the index is used.
    }
    return false;
}

bool PxCursor::orderThroughIndexFile() {
    if (orderIndex_ < 0 || memoryOrder_) return false;
    const auto& ix = secondary_[size_t(orderIndex_)];
    if (indexesDirty_ || rebuildNeeded_) return false;
    try {
        PxTable& x = xTable(size_t(orderIndex_));
        const int expected = secondaryFieldsLength(ix, table_->header()) + table_->keyLength() + 2;
        if (x.damage().empty() && x.count() == table_->count() && x.header().recordSize == expected) return true;
    } catch (const EngineError&) {
    }
    memoryOrder_ = true; // read-only or stale: the order is sorted in memory instead
    return false;
}

void PxCursor::buildOrder() {
    order_.clear();
    orderStale_ = false;
    if (orderIndex_ < 0) return;
    const auto& ix = secondary_[size_t(orderIndex_)];
    const PxHeader& h = table_->header();
    // The .X records the index would hold (their hints aside), in its order.
    const int len = secondaryFieldsLength(ix, h) + table_->keyLength(), rs = len + 2;
    const int64_t n = table_->count();
    std::vector<uint8_t> keys(size_t(n) * rs);
    for (int64_t p = 0; p < n; ++p)
        secondaryRecord(ix, h, table_->keyLength(), table_->record(p), 0, keys.data() + size_t(p) * rs);
    order_.resize(size_t(n));
    std::iota(order_.begin(), order_.end(), 0u);
    const PxKeyOrder keyOrder = secondaryKeyOrder(ix, h);
    std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
        return keyOrder.compare(keys.data() + size_t(a) * rs, keys.data() + size_t(b) * rs, len) < 0;
    });
}

Value PxCursor::decodeBlob(const PxField& f, const uint8_t* data) {
    std::optional<std::string> raw;
    try {
        if (!blobs_ || !blobs_->exists()) {
            const uint32_t length = getLE32(data + f.length - 6);
            if (length > uint32_t(f.length - 10)) return {}; // its .MB is missing; reported by readOnlyReason
        }
        raw = blobs_ ? blobs_->read(f, data) : std::nullopt;
    } catch (const EngineError& e) {
        if (e.code() != ErrCorruptFile) throw;
        const std::string p = std::string("ブロブが読めません: ") + e.what();
        if (std::find(problems_.begin(), problems_.end(), p) == problems_.end()) problems_.push_back(p);
        return {};
    }
    if (!raw) return {};
    if (isTextBlob(f.type)) return decodeText(*raw, table_->header().codepage);
    return Bytes(raw->begin(), raw->end());
}

Row PxCursor::decodeRow(const uint8_t* rec) {
    const PxHeader& h = table_->header();
    Row row;
    row.reserve(h.fields.size());
    for (const auto& f : h.fields) {
        if (isBlobType(f.type)) row.push_back(decodeBlob(f, rec + f.offset));
        else row.push_back(decodeField(f, rec + f.offset, h.codepage));
    }
    return row;
}

RowId PxCursor::idOf(const uint8_t* rec, int64_t physical) {
    RowId id;
    id.recno = physical;
    const PxHeader& h = table_->header();
    for (int i = 0; i < (h.keyed() ? h.keyFields : 0); ++i)
        id.key.push_back(decodeField(h.fields[i], rec + h.fields[i].offset, h.codepage));
    return id;
}

bool PxCursor::read(int64_t pos, Row& row, RowId& id) {
    if (pos < 0 || pos >= table_->count()) return false;
    int64_t physical = pos;
    if (orderIndex_ >= 0) {
        physical = -1;
        if (orderThroughIndexFile()) {
            // The .X holds the order: its record names the table's key.
            const auto& ix = secondary_[size_t(orderIndex_)];
            bool found = false;
            const int64_t p = table_->findKey(xTable(size_t(orderIndex_)).record(pos) + secondaryFieldsLength(ix, table_->header()), found);
            if (found) physical = p;
            else memoryOrder_ = true;
        }
        if (physical < 0) {
            if (orderStale_ || int64_t(order_.size()) != table_->count()) buildOrder();
            physical = int64_t(order_[size_t(pos)]);
        }
    }
    const uint8_t* rec = table_->record(physical);
    std::vector<uint8_t> copy(rec, rec + table_->header().recordSize); // blob reads may not disturb it, but be safe
    if (wanted_.empty()) {
        row = decodeRow(copy.data());
    } else {
        const PxHeader& h = table_->header();
        row.assign(h.fields.size(), Value());
        for (int i : wanted_) {
            const PxField& f = h.fields[size_t(i)];
            row[size_t(i)] = isBlobType(f.type) ? decodeBlob(f, copy.data() + f.offset)
                                                : decodeField(f, copy.data() + f.offset, h.codepage);
        }
    }
    id = idOf(copy.data(), physical);
    return true;
}

void PxCursor::setWantedFields(const std::vector<int>& which) {
    wanted_.clear();
    for (int f : which)
        if (f >= 0 && size_t(f) < fields_.size() && std::find(wanted_.begin(), wanted_.end(), f) == wanted_.end())
            wanted_.push_back(f);
    if (wanted_.size() == fields_.size()) wanted_.clear();
}

int64_t PxCursor::locate(const RowId& id) {
    const PxHeader& h = table_->header();
    if (!h.keyed()) return id.recno >= 0 && id.recno < table_->count() ? id.recno : -1;
    if (int(id.key.size()) != h.keyFields) return -1;
    std::vector<uint8_t> key(size_t(table_->keyLength()));
    for (int i = 0; i < h.keyFields; ++i) {
        try {
            encodeField(h.fields[i], id.key[i], key.data() + h.fields[i].offset, h.codepage);
        } catch (const EngineError&) {
            return -1;
        }
    }
    bool found = false;
    const int64_t p = table_->findKey(key.data(), found);
    return found ? p : -1;
}

int64_t PxCursor::positionOf(const RowId& id) {
    const int64_t p = locate(id);
    if (p < 0 || orderIndex_ < 0) return p;
    if (orderThroughIndexFile()) {
        const auto& ix = secondary_[size_t(orderIndex_)];
        PxTable& x = xTable(size_t(orderIndex_));
        std::vector<uint8_t> xr(x.header().recordSize);
        secondaryRecord(ix, table_->header(), table_->keyLength(), table_->record(p), 0, xr.data());
        bool found = false;
        const int64_t xp = x.findKey(xr.data(), found);
        if (found) return xp;
        memoryOrder_ = true;
    }
    if (orderStale_ || int64_t(order_.size()) != table_->count()) buildOrder();
    auto it = std::find(order_.begin(), order_.end(), uint32_t(p));
    return it == order_.end() ? -1 : int64_t(it - order_.begin());
}

std::vector<uint8_t> PxCursor::encodeLeading(const std::vector<int>& fields, const Row& key, bool fold, int& len) {
    const PxHeader& h = table_->header();
    if (key.size() > fields.size())
        throw EngineError(ErrInvalidParam, "検索する値の数が索引のフィールドの数より多くなっています");
    len = 0;
    for (size_t i = 0; i < key.size(); ++i) len += h.fields[fields[i]].length;
    std::vector<uint8_t> out(size_t(len), 0);
    int at = 0;
    for (size_t i = 0; i < key.size(); ++i) {
        const PxField& f = h.fields[fields[i]];
        if (isBlobType(f.type)) throw EngineError(ErrInvalidParam, "フィールド \"" + f.name + "\" では検索できません");
        encodeField(f, key[i], out.data() + at, h.codepage);
        if (fold && f.type == PxAlpha) PxKeyOrder::foldText(out.data() + at, f.length, h.codepage);
        at += f.length;
    }
    return out;
}

int64_t PxCursor::seek(const Row& key) {
    const PxHeader& h = table_->header();
    if (!h.keyed()) return -1;
    if (orderIndex_ < 0) {
        std::vector<int> keyFields;
        for (int i = 0; i < h.keyFields; ++i) keyFields.push_back(i);
        int len = 0;
        const auto bytes = encodeLeading(keyFields, key, false, len);
        return table_->lowerBound(bytes.data(), len);
    }
    const auto& ix = secondary_[size_t(orderIndex_)];
    int len = 0;
    const auto bytes = encodeLeading(ix.fields, key, ix.caseInsensitive, len);
    if (len == 0) return 0; // no value: every record is not below it
    if (orderThroughIndexFile()) return xTable(size_t(orderIndex_)).lowerBound(bytes.data(), len);
    // Sorted in memory: a binary search over the order, comparing the indexed bytes.
    if (orderStale_ || int64_t(order_.size()) != table_->count()) buildOrder();
    std::vector<uint8_t> xr(size_t(secondaryFieldsLength(ix, h) + table_->keyLength() + 2));
    const PxKeyOrder keyOrder = secondaryKeyOrder(ix, h);
    auto it = std::partition_point(order_.begin(), order_.end(), [&](uint32_t p) {
        secondaryRecord(ix, h, table_->keyLength(), table_->record(p), 0, xr.data());
        return keyOrder.compare(xr.data(), bytes.data(), len) < 0;
    });
    return int64_t(it - order_.begin());
}

void PxCursor::refresh() {
    if (batch_) return; // the batch holds the writers' lock: nobody else has written
    flushIndexes();
    openFiles();
    if (!orderName_.empty()) {
        try {
            setOrder(orderName_);
        } catch (const EngineError&) {
            setOrder("");
        }
    }
}

} // namespace vemo::engine::paradox
