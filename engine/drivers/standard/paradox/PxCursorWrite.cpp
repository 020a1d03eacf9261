// Writes of PxCursor: every check happens before the first byte is written, and every
// index file is brought up to date (entry by entry) before the call returns, or at the end
// of a batch.
#include "PxCompanions.h"
#include "PxCursor.h"
#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cstring>

namespace vemo::engine::paradox {

void PxCursor::encodeScalars(const Row& values, std::vector<uint8_t>& rec, const std::vector<uint8_t>* old) {
    const PxHeader& h = table_->header();
    if (values.size() > h.fields.size())
        throw EngineError(ErrInvalidParam, "値の数がフィールドの数より多くなっています");
    rec.assign(h.recordSize, 0);
    if (old) rec = *old;
    for (size_t i = 0; i < h.fields.size(); ++i) {
        const PxField& f = h.fields[i];
        if (isBlobType(f.type)) continue;
        static const Value null;
        const Value& v = i < values.size() ? values[i] : null;
        if (f.type == PxAutoInc && isNull(v) && !old) {
            const int64_t next = int64_t(h.autoInc) + 1;
            encodeField(f, Value(next), rec.data() + f.offset, h.codepage);
            continue;
        }
        encodeField(f, v, rec.data() + f.offset, h.codepage);
    }
}

void PxCursor::writeBlobs(const Row& values, const Row* before, std::vector<uint8_t>& rec, std::vector<int>& written) {
    const PxHeader& h = table_->header();
    for (size_t i = 0; i < h.fields.size(); ++i) {
        const PxField& f = h.fields[i];
        if (!isBlobType(f.type)) continue;
        static const Value null;
        const Value& v = i < values.size() ? values[i] : null;
        if (before && i < before->size() && (*before)[i] == v) continue; // unchanged: keep its bytes
        std::string data;
        if (auto s = std::get_if<std::string>(&v)) data = isTextBlob(f.type) ? encodeText(*s, h.codepage) : *s;
        else if (auto b = std::get_if<Bytes>(&v)) data.assign(b->begin(), b->end());
        else if (!isNull(v)) throw EngineError(ErrConvert, "フィールド \"" + f.name + "\": 値を書き込めません");
        if (f.type == PxMemo && data.find('\0') != std::string::npos)
            throw EngineError(ErrConvert, "フィールド \"" + f.name + "\": メモに NUL 文字があります");
        try {
            blobs_->write(f, data, rec.data() + f.offset);
        } catch (...) {
            releaseBlobs(rec.data(), written);
            throw;
        }
        written.push_back(int(i));
    }
}

int64_t PxCursor::locateForWrite(const RowId& id, const Row& before) {
    const int64_t pos = locate(id);
    auto matches = [&](int64_t p) {
        const uint8_t* r = table_->record(p);
        const std::vector<uint8_t> copy(r, r + table_->header().recordSize);
        return decodeRow(copy.data()) == before;
    };
    if (pos >= 0 && matches(pos)) return pos;
    if (!table_->header().keyed() && id.recno >= 0) {
        // Records of an unkeyed table move up when one before them is deleted: look for
        // the record as it was read, nearest to where it was first (identical records are
        // interchangeable).
        const int64_t n = table_->count();
        for (int64_t p = std::min(id.recno, n - 1); p >= 0; --p)
            if (matches(p)) return p;
        for (int64_t p = id.recno + 1; p < n; ++p)
            if (matches(p)) return p;
    }
    if (pos < 0 && table_->header().keyed())
        throw EngineError(ErrUpdateConflict, "レコードは他のユーザーによって削除されています");
    throw EngineError(ErrUpdateConflict, "レコードは他のユーザーによって変更または削除されています");
}

void PxCursor::releaseBlobs(const uint8_t* rec, const std::vector<int>& which) {
    const PxHeader& h = table_->header();
    for (int i : which) {
        try {
            blobs_->release(h.fields[i], rec + h.fields[i].offset);
        } catch (const EngineError&) {
            // Space that cannot be given back is only space; the table stays correct.
        }
    }
}

namespace {
// Changes noted before the index files are rebuilt whole instead: past this share of the
// table one sort of every key costs less than maintaining them one by one.
size_t maxPending(int64_t records) { return 1000 + size_t(records / 32); }
} // namespace

void PxCursor::afterWrite() {
    indexesDirty_ = true;
    if (!deferIndexes_ && !batch_) writeIndexes();
}

void PxCursor::noteChange(const uint8_t* oldRec, const uint8_t* newRec) {
    if (rebuildNeeded_ || (!table_->header().keyed())) return;
    if (pending_.size() >= maxPending(table_->count()) || moved_.size() >= maxPending(table_->count())) {
        rebuildNeeded_ = true;
        pending_.clear();
        moved_.clear();
        return;
    }
    const size_t rs = table_->header().recordSize;
    std::vector<uint8_t> a, b;
    if (oldRec) a.assign(oldRec, oldRec + rs);
    if (newRec) b.assign(newRec, newRec + rs);
    pending_.emplace_back(std::move(a), std::move(b));
}

template <class Body> auto PxCursor::writing(Body&& body) {
    // After a batch was undone, nothing is written until its caller has heard of it (by
    // commitBatch or rollbackBatch): the rest of the batch would land on its own.
    if (batchUndone_) throw EngineError(ErrIO, "一括書き込みは途中の書き込みに失敗したため取り消されました");
    requireWritable();
    const uint64_t wroteBefore = table_->writeCount();
    const size_t pendingBefore = pending_.size(), movedBefore = moved_.size();
    if (batch_) {
        // Inside a batch: no scope of its own, nothing synced, indexes at commitBatch().
        try {
            auto result = body();
            indexesDirty_ = true;
            orderStale_ = true;
            return result;
        } catch (...) {
            noteOrderProblems();
            if (table_->writeCount() == wroteBefore) {
                // Refused before anything was written (a key violation, a conflict, a value
                // that does not fit): the batch goes on.
                pending_.resize(std::min(pending_.size(), pendingBefore));
                moved_.resize(std::min(moved_.size(), movedBefore));
                throw;
            }
            // Cut off half way: the whole batch goes back, as a kill would leave it.
            undoBatch();
            batchUndone_ = true;
            throw;
        }
    }
    PxTable::WriteScope scope(*table_);
    indexTouched_ = false;
    indexReplaced_ = false;
    if (scope.changed()) forgetIndexImages();
    if (scope.indexesLag()) {
        indexesDirty_ = true;
        rebuildNeeded_ = true;
    }
    requireWritable(true);
    if (blobs_) blobs_->forgetFreeList();
    try {
        auto result = body();
        if (blobs_) blobs_->sync();
        afterWrite();
        syncIndexFiles();
        scope.finish(!indexesDirty_);
        // Space of replaced values is given back only now: until the write is committed the
        // old record, which a rollback would bring back, still points to it.
        for (const auto& [rec, which] : releaseAfterCommit_) releaseBlobs(rec.data(), which);
        releaseAfterCommit_.clear();
        orderStale_ = true;
        return result;
    } catch (...) {
        noteOrderProblems();
        releaseAfterCommit_.clear();
        pending_.resize(std::min(pending_.size(), pendingBefore));
        moved_.resize(std::min(moved_.size(), movedBefore));
        try {
            if (table_->writeCount() == wroteBefore && !indexTouched_) {
                scope.finish(!indexesDirty_); // refused before anything was written
            } else {
                // Every file written in place is put back by the journal; only index files
                // replaced whole in this write must be built again.
                const bool replaced = indexReplaced_;
                const bool noted = !pending_.empty() || !moved_.empty();
                scope.rollBack();
                if (indexTouched_) {
                    forgetIndexImages();
                    if (noted) rebuildNeeded_ = true; // changes noted before this write went with them
                    if (replaced) {
                        replaceIndexFiles();
                        syncIndexFiles();
                    }
                }
                scope.finish(!indexesDirty_ && !rebuildNeeded_);
            }
        } catch (const EngineError&) {
            // The journal stays as the mark: the next open or write rebuilds the indexes.
            indexesDirty_ = true;
            rebuildNeeded_ = true;
        }
        if (blobs_) blobs_->forgetFreeList();
        orderStale_ = true;
        throw;
    }
}

void PxCursor::recoverUnfinishedWrite() {
    if (!table_->writable() || !table_->hasJournal()) return;
    // The index files were written by the write cut off, in place: whatever they hold is
    // replaced, so their order is not checked first (it is, at the first write, after).
    PxTable::WriteScope scope(*table_);
    forgetIndexImages();
    replaceIndexFiles();
    scope.finish(true);
    keyOrderChecked_ = false;
}

void PxCursor::forgetIndexImages() {
    // Another writer changed the table: what is known of the index files is read again.
    primaryImage_->forget();
    for (auto& y : treeImages_) y.forget();
    xTables_.clear();
    pending_.clear();
    moved_.clear();
    orderStale_ = true;
}

void PxCursor::writeIndexes() {
    indexTouched_ = true;
    if (rebuildNeeded_) replaceIndexFiles();
    else applyIndexChanges();
}

void PxCursor::replaceIndexFiles() {
    table_->noteReplacingIndexFiles();
    indexTouched_ = true;
    indexReplaced_ = true;
    xTables_.clear();
    pending_.clear();
    moved_.clear();
    if (table_->header().keyed()) primaryImage_->replace(buildPrimaryIndex(*table_));
    for (size_t i = 0; i < secondary_.size(); ++i) {
        auto [x, y] = buildSecondaryIndex(secondary_[i], *table_);
        treeImages_[i].replace(std::move(y));
        replaceFile(secondary_[i].xPath, x);
    }
    rebuildNeeded_ = false;
    indexesDirty_ = false;
}

void PxCursor::rebuildIndexFiles() {
    if (batch_) throw EngineError(ErrInvalidParam, "一括書き込みの途中では索引を作り直せません");
    // No check of the cursor's reasons to refuse writes: a missing or stale index file, one
    // of them, is what this mends. The scope refuses a table that cannot be written.
    PxTable::WriteScope scope(*table_);
    forgetIndexImages();
    replaceIndexFiles();
    scope.finish(true);
}

PxTable& PxCursor::xTable(size_t i) {
    if (xTables_.size() != secondary_.size()) xTables_.resize(secondary_.size());
    if (!xTables_[i]) {
        xTables_[i] = std::make_unique<PxTable>(secondary_[i].xPath, table_->writable(), true, settings_);
        xTables_[i]->setKeyOrder(secondaryKeyOrder(secondary_[i], table_->header()));
        xTables_[i]->joinJournalOf(*table_);
    }
    return *xTables_[i];
}

void PxCursor::applyIndexChanges() {
    const PxHeader& h = table_->header();
    if (!h.keyed()) {
        indexesDirty_ = false;
        return;
    }
    primaryImage_->updateTree(*table_, [&] { return buildPrimaryIndex(*table_); });
    const int klen = table_->keyLength();
    // Records noted as added or removed since the index files matched the table.
    int64_t net = 0;
    for (const auto& [a, b] : pending_) net += int64_t(!b.empty()) - int64_t(!a.empty());
    for (size_t i = 0; i < secondary_.size(); ++i) {
        const auto& ix = secondary_[i];
        PxTable* xp = nullptr;
        try {
            xp = &xTable(i);
        } catch (const EngineError&) {
        }
        // An .X that does not hold one entry for every record (another program wrote the
        // table, say) is rebuilt from the records.
        if (!xp || !xp->damage().empty() || xp->keyLength() != xp->header().recordSize - 2
            || xp->header().recordSize != secondaryFieldsLength(ix, h) + klen + 2 || xp->count() + net != table_->count()) {
            replaceIndexFiles();
            return;
        }
        PxTable& x = *xp;
        const int xrs = x.header().recordSize;
        std::vector<uint8_t> xa(static_cast<size_t>(xrs)), xb(static_cast<size_t>(xrs));
        auto blockNow = [&](const uint8_t* rec) -> uint16_t {
            bool found = false;
            const int64_t p = table_->findKey(rec, found);
            return found ? table_->blockOf(p) : 0;
        };
        bool lost = false;
        for (const auto& [a, b] : pending_) {
            if (!a.empty()) secondaryRecord(ix, h, klen, a.data(), 0, xa.data());
            if (!b.empty()) secondaryRecord(ix, h, klen, b.data(), blockNow(b.data()), xb.data());
            if (!a.empty() && !b.empty() && std::memcmp(xa.data(), xb.data(), size_t(xrs - 2)) == 0) continue;
            if (!a.empty()) {
                bool found = false;
                const int64_t p = x.findKey(xa.data(), found);
                if (!found) { lost = true; break; }
                x.remove(p);
            }
            if (!b.empty()) {
                bool found = false;
                x.findKey(xb.data(), found);
                if (found) { lost = true; break; }
                x.insert(xb.data());
            }
        }
        if (lost) {
            replaceIndexFiles();
            return;
        }
        // Records that moved to another block keep their entries, with the new block as hint.
        for (const auto& m : moved_) {
            bool found = false;
            const int64_t tp = table_->findKey(m.data(), found);
            if (!found) continue;
            const uint16_t block = table_->blockOf(tp);
            secondaryRecord(ix, h, klen, table_->record(tp), block, xb.data());
            const int64_t p = x.findKey(xb.data(), found);
            if (found && std::memcmp(x.record(p) + xrs - 2, xb.data() + xrs - 2, 2) != 0)
                x.patch(p, xrs - 2, xb.data() + xrs - 2, 2);
        }
        const uint8_t yType = ix.composite ? FtCompositeY : FtSecondaryY;
        treeImages_[i].updateTree(x, [&] { return buildTreeOver(x, yType); });
    }
    pending_.clear();
    moved_.clear();
    indexesDirty_ = false;
}

void PxCursor::syncIndexFiles() {
    if (!indexTouched_) return;
    primaryImage_->sync();
    for (auto& y : treeImages_) y.sync();
    for (auto& x : xTables_)
        if (x) x->sync();
}

void PxCursor::beginBatch() {
    if (batch_) throw EngineError(ErrInvalidParam, "一括書き込みは入れ子にできません");
    requireWritable();
    batchUndone_ = false;
    auto scope = std::make_unique<PxTable::WriteScope>(*table_);
    indexTouched_ = false;
    if (scope->changed()) forgetIndexImages();
    if (scope->indexesLag()) {
        indexesDirty_ = true;
        rebuildNeeded_ = true;
    }
    requireWritable(true);
    if (blobs_) blobs_->forgetFreeList();
    if (indexesDirty_) {
        // Index work left over from before (deferred writes, a recovery) is done first, so
        // that a rollback finds the index files matching the table.
        writeIndexes();
        syncIndexFiles();
        scope->finish(true);
        scope = std::make_unique<PxTable::WriteScope>(*table_);
        indexTouched_ = false;
    }
    batch_ = std::move(scope);
}

void PxCursor::commitBatch() {
    if (!batch_) {
        if (batchUndone_) {
            batchUndone_ = false;
            throw EngineError(ErrIO, "一括書き込みは途中の書き込みに失敗したため取り消されました");
        }
        return;
    }
    try {
        if (blobs_) blobs_->sync();
        if (indexesDirty_) writeIndexes();
        syncIndexFiles();
        batch_->finish(!indexesDirty_);
    } catch (...) {
        undoBatch();
        batchUndone_ = true; // until rollbackBatch()
        throw;
    }
    batch_.reset();
    for (const auto& [rec, which] : releaseAfterCommit_) releaseBlobs(rec.data(), which);
    releaseAfterCommit_.clear();
    orderStale_ = true;
}

void PxCursor::undoBatch() noexcept {
    if (!batch_) return;
    releaseAfterCommit_.clear();
    pending_.clear();
    moved_.clear();
    try {
        batch_->rollBack();
        indexesDirty_ = false;
        if (indexTouched_) {
            forgetIndexImages();
            replaceIndexFiles();
            syncIndexFiles();
        }
        batch_->finish(true);
    } catch (...) {
        // The journal stays: the next writer puts the table back and rebuilds the indexes.
        indexesDirty_ = true;
        rebuildNeeded_ = true;
        xTables_.clear();
    }
    batch_.reset();
    if (blobs_) blobs_->forgetFreeList();
    orderStale_ = true;
}

void PxCursor::rollbackBatch() noexcept {
    undoBatch();
    batchUndone_ = false;
}

RowId PxCursor::insert(const Row& values) {
    return writing([&] {
    const PxHeader& h = table_->header();
    std::vector<uint8_t> rec;
    encodeScalars(values, rec, nullptr);
    if (h.keyed()) {
        bool found = false;
        table_->findKey(rec.data(), found);
        if (found) throw EngineError(ErrKeyViolation, "キー違反です: 同じキーのレコードが既にあります");
    }
    std::vector<int> written;
    writeBlobs(values, nullptr, rec, written);
    int64_t pos;
    try {
        pos = table_->insert(rec.data());
    } catch (...) {
        releaseBlobs(rec.data(), written);
        throw;
    }
    noteChange(nullptr, rec.data());
    for (const auto& f : h.fields) {
        if (f.type != PxAutoInc) continue;
        const Value v = decodeField(f, rec.data() + f.offset, h.codepage);
        if (auto i = std::get_if<int64_t>(&v); i && *i > int64_t(h.autoInc)) table_->setAutoInc(uint32_t(*i));
    }
    return idOf(rec.data(), pos);
    });
}

void PxCursor::update(const RowId& id, const Row& before, const Row& after) {
    writing([&] {
    const PxHeader& h = table_->header();
    const int64_t pos = locateForWrite(id, before);
    const std::vector<uint8_t> old(table_->record(pos), table_->record(pos) + h.recordSize);
    std::vector<uint8_t> rec;
    encodeScalars(after, rec, &old);
    const bool keyChanged = h.keyed() && std::memcmp(rec.data(), old.data(), table_->keyLength()) != 0;
    if (keyChanged) {
        bool found = false;
        table_->findKey(rec.data(), found);
        if (found) throw EngineError(ErrKeyViolation, "キー違反です: 同じキーのレコードが既にあります");
    }
    std::vector<int> written;
    writeBlobs(after, &before, rec, written);
    try {
        if (keyChanged) {
            // The new record goes in before the old one comes out: a failed insert (a full
            // disk, the block limit) leaves the old record where it was.
            table_->insert(rec.data());
            bool found = false;
            const int64_t oldPos = table_->findKey(old.data(), found);
            if (!found) throw EngineError(ErrCorruptFile, "変更前のレコードが見つかりません");
            table_->remove(oldPos);
        } else {
            table_->overwrite(pos, rec.data());
        }
    } catch (...) {
        releaseBlobs(rec.data(), written);
        throw;
    }
    noteChange(old.data(), rec.data());
    releaseAfterCommit_.emplace_back(old, written); // the replaced values' space
    for (const auto& f : h.fields) {
        if (f.type != PxAutoInc) continue;
        const Value v = decodeField(f, rec.data() + f.offset, h.codepage);
        if (auto i = std::get_if<int64_t>(&v); i && *i > int64_t(h.autoInc)) table_->setAutoInc(uint32_t(*i));
    }
    return 0;
    });
}

void PxCursor::remove(const RowId& id, const Row& before) {
    writing([&] {
    const PxHeader& h = table_->header();
    const int64_t pos = locateForWrite(id, before);
    const std::vector<uint8_t> old(table_->record(pos), table_->record(pos) + h.recordSize);
    table_->remove(pos);
    noteChange(old.data(), nullptr);
    std::vector<int> blobs;
    for (size_t i = 0; i < h.fields.size(); ++i)
        if (isBlobType(h.fields[i].type)) blobs.push_back(int(i));
    releaseAfterCommit_.emplace_back(old, blobs);
    return 0;
    });
}

} // namespace vemo::engine::paradox
