// Writes of PxCursor: every check happens before the first byte is written, and every
// index file is rewritten before the call returns.
#include "PxCompanions.h"
#include "PxCursor.h"
#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

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

void PxCursor::afterWrite() {
    indexesDirty_ = true;
    if (!deferIndexes_) writeIndexes();
}

template <class Body> auto PxCursor::writing(Body&& body) {
    requireWritable();
    PxTable::WriteScope scope(*table_);
    if (scope.changed()) forgetIndexImages();
    if (scope.recovered()) indexesDirty_ = true;
    if (blobs_) blobs_->forgetFreeList();
    try {
        auto result = body();
        if (blobs_) blobs_->sync();
        afterWrite();
        scope.finish(!indexesDirty_);
        // Space of replaced values is given back only now: until the write is committed the
        // old record, which a rollback would bring back, still points to it.
        for (const auto& [rec, which] : releaseAfterCommit_) releaseBlobs(rec.data(), which);
        releaseAfterCommit_.clear();
        if (orderIndex_ >= 0) buildOrder();
        return result;
    } catch (...) {
        releaseAfterCommit_.clear();
        try {
            scope.rollBack();
            forgetIndexImages();
            writeIndexes();
            scope.finish(true);
        } catch (const EngineError&) {
            // The journal stays as the mark: the next open or write rebuilds the indexes.
            indexesDirty_ = true;
        }
        if (blobs_) blobs_->forgetFreeList();
        throw;
    }
}

void PxCursor::recoverUnfinishedWrite() {
    if (!table_->writable() || !table_->hasJournal()) return;
    writing([] { return 0; });
}

void PxCursor::forgetIndexImages() {
    // Another writer changed the table: the files are rewritten whole, not patched.
    primaryImage_ = std::make_unique<IndexFileImage>(primaryImage_->path());
    for (auto& [x, y] : secondaryImages_) {
        x = IndexFileImage(x.path());
        y = IndexFileImage(y.path());
    }
    if (orderIndex_ >= 0) buildOrder();
}

void PxCursor::writeIndexes() {
    if (table_->header().keyed()) primaryImage_->update(buildPrimaryIndex(*table_));
    for (size_t i = 0; i < secondary_.size(); ++i) {
        auto [x, y] = buildSecondaryIndex(secondary_[i], *table_);
        secondaryImages_[i].second.update(std::move(y));
        secondaryImages_[i].first.update(std::move(x));
    }
    indexesDirty_ = false;
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
            table_->remove(pos);
            table_->insert(rec.data());
        } else {
            table_->overwrite(pos, rec.data());
        }
    } catch (...) {
        releaseBlobs(rec.data(), written);
        throw;
    }
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
    std::vector<int> blobs;
    for (size_t i = 0; i < h.fields.size(); ++i)
        if (isBlobType(h.fields[i].type)) blobs.push_back(int(i));
    releaseAfterCommit_.emplace_back(old, blobs);
    return 0;
    });
}

} // namespace vemo::engine::paradox
