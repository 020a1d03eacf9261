#include "PxTable.h"
#include "PxCipher.h"

#include "engine/contract/EngineError.h"

#include "engine/drivers/standard/io/UndoJournal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sys/stat.h>

namespace vemo::engine::paradox {

PxTable::PxTable(const std::filesystem::path& path, bool writable, bool indexFile, const standard::TableSettings& settings)
    : file_(path, writable ? PxFile::ReadWrite : PxFile::ReadOnly), settings_(settings) {
    const std::string what = path.filename().string();
    std::vector<uint8_t> head(0x800);
    head.resize(file_.readSome(0, head.data(), head.size()));
    if (head.size() < 0x58) throw EngineError(ErrCorruptFile, what + " が壊れています: ファイルが短すぎます");
    const uint16_t headerSize = getLE16(head.data() + 2);
    if (headerSize > head.size()) {
        head.resize(headerSize);
        head.resize(file_.readSome(0, head.data(), head.size()));
    }
    h_ = parseHeader(head.data(), head.size(), what, settings_);
    if (!indexFile && h_.fileType != FtKeyedDb && h_.fileType != FtUnkeyedDb)
        throw EngineError(ErrCorruptFile, what + " はテーブルファイルではありません");
    if (h_.encrypted) file_.setCipher(unlockTable(h_.checksum, h_.codepage, settings_, what), h_.headerSize, h_.blockSize());
    headerBytes_.assign(head.begin(), head.begin() + h_.headerSize);
    if (h_.keyed()) {
        if (h_.keyFields < 1) throw EngineError(ErrCorruptFile, what + " が壊れています: キーフィールド数が 0 です");
        for (int i = 0; i < h_.keyFields; ++i) keyLength_ += h_.fields[i].length;
    } else if (indexFile && h_.fields.size() >= 2) {
        // An .X file is keyed by every field but the trailing hint.
        for (size_t i = 0; i + 1 < h_.fields.size(); ++i) keyLength_ += h_.fields[i].length;
        if (keyLength_ + 2 != h_.recordSize) throw EngineError(ErrCorruptFile, what + " が壊れています: レコード長が不正です");
    }
    cache_.resize(h_.blockSize());
    loadChain();
    if (!indexFile && writable) {
        journal_ = std::make_unique<standard::FileSetJournal>(journalPath());
        file_.journalThrough(&activeJournal_);
    }
    file_.setBlockStart(h_.headerSize);
}

PxTable::~PxTable() {
    activeJournal_ = nullptr;
    file_.journalThrough(nullptr);
    // The journal kept between writes goes with the table, unless another writer is at work
    // (it is idle then, or theirs): removing it needs the writers' lock.
    if (journal_ && file_.tryLockWriters()) {
        try {
            journal_->retire();
        } catch (const EngineError&) {
        }
        file_.unlockWriters();
    }
}

std::filesystem::path PxTable::journalPath() const { return standard::UndoJournal::pathFor(path()); }

bool PxTable::hasJournal() const {
    return standard::FileSetJournal::inspect(journalPath()) != standard::FileSetJournal::Found::None;
}

// A journal left by a write cut off puts back every file it names: only the table's own
// files (its name with any extension), never another table's. One of the older kind names
// the table file alone. Returns whether the index files must then be rebuilt: the journal
// was a mark, the write replaced one of them whole or noted that they lagged already, or it
// does not tell (an older journal).
bool PxTable::playBackJournal(standard::FileSetJournal::Found found) {
    using Found = standard::FileSetJournal::Found;
    const auto j = journalPath();
    if (found == Found::Journal) {
        std::string stem = path().stem().string();
        auto upper = [](std::string v) {
            for (auto& c : v) c = char(std::toupper(static_cast<unsigned char>(c)));
            return v;
        };
        stem = upper(stem);
        const std::string own = path().filename().string();
        const auto outcome = standard::FileSetJournal::playBack(
            j, [&](const std::string& name) { return upper(std::filesystem::path(name).stem().string()) == stem; },
            [&](const std::string& name) { return name == own ? file_.fd() : -1; });
        return outcome.mark || !outcome.known || (outcome.notes & standard::FileSetJournal::NoteReplaced);
    }
    if (found == Found::Other) standard::UndoJournal::playBack(j, file_.fd(), path());
    return true;
}

PxTable::Stamp PxTable::stampNow(const std::vector<uint8_t>& head) const {
    Stamp s;
    s.head = head;
    struct stat st{};
    if (::fstat(file_.fd(), &st) == 0) {
        s.size = uint64_t(st.st_size);
        s.inode = uint64_t(st.st_ino);
        s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return s;
}

void PxTable::reloadUnderLock(bool& changed) {
    std::vector<uint8_t> now(0x58);
    if (!file_.readAt(0, now.data(), now.size()))
        throw EngineError(ErrCorruptFile, path().filename().string() + " が壊れています: ファイルが短すぎます");
    cachedNo_ = 0;
    // Every write scope of this program advances the counter in the header, and any write
    // at all moves the file's mtime: when neither moved since this table last looked, the
    // chain in memory is still the file's.
    Stamp s = stampNow(now);
    if (stampValid_ && s == stamp_) return;
    // Someone else wrote since: what this process holds of the table and its index files
    // (their chains, cached blocks) is taken as stale, even where the chain reads the same.
    if (stampValid_) changed = true;
    const auto oldBlocks = blocks_;
    const auto oldCounts = counts_;
    if (!std::equal(now.begin(), now.end(), headerBytes_.begin())) {
        std::copy(now.begin(), now.end(), headerBytes_.begin());
        PxHeader h = parseHeader(headerBytes_.data(), headerBytes_.size(), path().filename().string(), settings_);
        h.fields = h_.fields; // the definition itself never changes under an open table
        h_ = h;
        changed = true;
    }
    // Another writer's delete and insert can leave the header as it was while moving records
    // between blocks: the chain is re-read.
    loadChain();
    if (blocks_ != oldBlocks || counts_ != oldCounts) changed = true;
    stamp_ = std::move(s);
    stampValid_ = true;
}

void PxTable::reloadLocked() {
    file_.lockWriters();
    try {
        stampValid_ = false;
        bool changed = false;
        reloadUnderLock(changed);
    } catch (...) {
        file_.unlockWriters();
        throw;
    }
    file_.unlockWriters();
}

PxTable::WriteScope::WriteScope(PxTable& t) : t_(t) {
    if (!t_.file_.writable() || !t_.journal_) t_.requireWritable();
    t_.file_.lockWriters();
    try {
        // The files are added as this write first reaches them.
        const auto found = t_.journal_->begin();
        recovered_ = found != standard::FileSetJournal::Found::None;
        if (recovered_) {
            indexesLag_ = t_.playBackJournal(found);
            t_.stampValid_ = false;
        }
        t_.counterBumped_ = false;
        t_.reloadUnderLock(changed_);
        if (recovered_) changed_ = true;
        t_.requireWritable();
        // Should this write be cut off too, its playback leaves them lagging still.
        if (indexesLag_) t_.journal_->note(standard::FileSetJournal::NoteMark, false);
        t_.activeJournal_ = t_.journal_.get();
    } catch (...) {
        t_.file_.unlockWriters();
        throw;
    }
}

void PxTable::WriteScope::finish(bool indexesCurrent) {
    // Commit: the journal synced once, then every file of the write once. Without
    // indexesCurrent the journal stays as a mark: nothing to undo, but the index files lag
    // behind the table. A write that wrote nothing (refused) leaves the files as they were.
    if (t_.journal_->started() || recovered_) t_.journal_->commit(!indexesCurrent);
    else t_.journal_->discard();
    t_.activeJournal_ = nullptr;
    t_.stamp_ = t_.stampNow(std::vector<uint8_t>(t_.headerBytes_.begin(), t_.headerBytes_.begin() + 0x58));
    t_.stampValid_ = true;
    done_ = true;
}

void PxTable::WriteScope::rollBack() {
    // Every file back as it was; a mark found when the scope began stays.
    t_.journal_->rollBack(indexesLag_);
    bool ignored = false;
    std::fill(t_.headerBytes_.begin(), t_.headerBytes_.begin() + 0x58, 0); // parse the header again
    t_.stampValid_ = false;
    t_.counterBumped_ = false;
    t_.reloadUnderLock(ignored);
}

PxTable::WriteScope::~WriteScope() {
    if (!done_) {
        try {
            rollBack();
        } catch (const EngineError&) {
            // The journal stays: the next writer plays it back.
        }
        t_.activeJournal_ = nullptr;
    }
    t_.file_.unlockWriters();
}

void PxTable::noteReplacingIndexFiles() {
    if (activeJournal_) activeJournal_->note(standard::FileSetJournal::NoteReplaced, true);
}

void PxTable::writeBytes(uint64_t offset, const void* data, size_t n) {
    ++writeCount_;
    file_.writeAt(offset, data, n);
}

void PxTable::loadChain() {
    blocks_.clear();
    counts_.clear();
    damage_.clear();
    cachedNo_ = 0;
    firstKeysValid_ = false;
    chainAll_ = true;
    chainRuns_.clear();
    emptyBlock_ = false;
    ordered_.clear();
    const uint64_t size = file_.size();
    // A block cut short by the end of the file still counts: its whole records are read.
    const uint64_t inFile = size > h_.headerSize ? (size - h_.headerSize + h_.blockSize() - 1) / h_.blockSize() : 0;
    bool cut = false;
    const uint16_t maxBlock = uint16_t(std::min<uint64_t>(inFile, 0xFFFF));
    std::vector<bool> seen(size_t(maxBlock) + 1, false);
    const int perBlock = h_.recordsPerBlock();
    uint16_t n = h_.firstBlock;
    if (h_.numRecords == 0 && h_.fileBlocks == 0) n = 0;
    while (n != 0) {
        if (n > maxBlock) { damage_ = "ブロックチェーンがファイルの外を指しています"; break; }
        if (seen[n]) { damage_ = "ブロックチェーンが循環しています"; break; }
        seen[n] = true;
        uint8_t bh[6];
        if (!file_.readAt(blockOffset(n), bh, 6)) { cut = true; break; }
        const int add = int16_t(getLE16(bh + 4));
        int count = add < 0 ? 0 : add / h_.recordSize + 1;
        if (add >= 0 && (add % h_.recordSize != 0 || count > perBlock)) {
            damage_ = "ブロックのレコード数が不正です";
            count = 0;
        }
        uint64_t present = std::min<uint64_t>(h_.blockSize(), size - blockOffset(n));
        if (file_.ciphered()) present -= present % 256; // a cut chunk cannot be unscrambled
        if (present < 6 + uint64_t(count) * h_.recordSize) {
            count = present > 6 ? int((present - 6) / h_.recordSize) : 0;
            cut = true;
        }
        blocks_.push_back(n);
        counts_.push_back(uint16_t(count));
        if (count == 0) emptyBlock_ = true;
        n = getLE16(bh);
    }
    rebuildStarts();
    if (cut && damage_.empty()) {
        const int64_t missing = int64_t(h_.numRecords) - count();
        damage_ = "ファイルが途中で切れています";
        if (missing > 0)
            damage_ += ": ヘッダーのレコード数 " + std::to_string(h_.numRecords) + " 件のうち " + std::to_string(missing) + " 件を読めません";
    }
    // New blocks are numbered after fileBlocks: a chain reaching past it would be overwritten.
    if (damage_.empty() && !blocks_.empty() && *std::max_element(blocks_.begin(), blocks_.end()) > h_.fileBlocks)
        damage_ = "ヘッダーのブロック数がデータと合いません";
    if (damage_.empty() && uint64_t(count()) != h_.numRecords)
        damage_ = "ヘッダーのレコード数 (" + std::to_string(h_.numRecords) + ") がデータ (" + std::to_string(count()) + ") と合いません";
}

const std::vector<uint8_t>& PxTable::firstKeys() {
    if (!firstKeysValid_) {
        firstKeys_.assign(blocks_.size() * size_t(keyLength_), 0);
        // The key bytes alone of each block (whole blocks when scrambled).
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (!counts_[i]) continue;
            uint8_t* k = firstKeys_.data() + i * keyLength_;
            if (file_.ciphered() || !file_.readAt(blockOffset(blocks_[i]) + 6, k, size_t(keyLength_)))
                std::memcpy(k, record(starts_[i]), keyLength_);
        }
        firstKeysValid_ = true;
    }
    return firstKeys_;
}

void PxTable::setFirstKey(size_t ci, const uint8_t* rec, bool insertNew) {
    if (!firstKeysValid_ || keyLength_ == 0) return;
    const auto at = firstKeys_.begin() + long(ci * keyLength_);
    if (insertNew) firstKeys_.insert(at, rec, rec + keyLength_);
    else std::copy(rec, rec + keyLength_, at);
}

void PxTable::eraseFirstKey(size_t ci) {
    if (!firstKeysValid_ || keyLength_ == 0) return;
    const auto at = firstKeys_.begin() + long(ci * keyLength_);
    firstKeys_.erase(at, at + keyLength_);
}

bool PxTable::firstKeysInOrder() {
    if (!keyed()) return true;
    const auto& fk = firstKeys();
    const size_t kl = size_t(keyLength_);
    const uint8_t* prev = nullptr;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        if (!counts_[i]) continue;
        const uint8_t* k = fk.data() + i * kl;
        if (prev && order_.compare(prev, k, int(kl)) >= 0) return false;
        prev = k;
    }
    return true;
}

void PxTable::requireOrdered(size_t ci, const Block& b) {
    if (!keyed()) return;
    const uint16_t no = blocks_[ci];
    if (ordered_.size() <= no) ordered_.resize(size_t(no) + 1, false);
    if (ordered_[no]) return;
    const size_t kl = size_t(keyLength_), rs = size_t(h_.recordSize);
    const int n = counts_[ci];
    const uint8_t* base = b.data.data() + 6;
    bool ok = true;
    for (int k = 1; ok && k < n; ++k) ok = order_.compare(base + (k - 1) * rs, base + k * rs, int(kl)) < 0;
    std::vector<uint8_t> edge(kl);
    // The last key of the block before and the first of the block after.
    for (size_t j = ci; ok && n > 0 && j > 0; --j) {
        if (!counts_[j - 1]) continue;
        if (!file_.readAt(blockOffset(blocks_[j - 1]) + 6 + uint64_t(counts_[j - 1] - 1) * rs, edge.data(), kl)) break;
        ok = order_.compare(edge.data(), base, int(kl)) < 0;
        break;
    }
    for (size_t j = ci + 1; ok && n > 0 && j < blocks_.size(); ++j) {
        if (!counts_[j]) continue;
        ok = order_.compare(base + (n - 1) * rs, firstKeys().data() + j * kl, int(kl)) < 0;
        break;
    }
    if (!ok) {
        outOfOrder_ = true;
        throw EngineError(ErrReadOnly, path().filename().string() + ": キーの並び順がこのプログラムの照合順序と異なります");
    }
    ordered_[no] = true;
}

void PxTable::chainAt(size_t ci, ChainEdit edit) {
    auto& runs = chainRuns_;
    // Runs after the block move with it when a block comes in or goes.
    const long shift = edit == ChainEdit::Inserted ? 1 : edit == ChainEdit::Removed ? -1 : 0;
    ChainRun r{ci, edit == ChainEdit::Removed ? ci : ci + 1, shift};
    for (auto& x : runs) {
        if (x.lo > ci) {
            x.lo = size_t(long(x.lo) + shift);
            x.hi = size_t(long(x.hi) + shift);
        } else if (x.hi > ci) {
            x.hi = size_t(long(x.hi) + shift); // the block is inside the run
        }
    }
    // The new run taken together with every run it touches.
    std::vector<ChainRun> out;
    out.reserve(runs.size() + 1);
    bool placed = false;
    for (const auto& x : runs) {
        if (x.hi < r.lo) {
            out.push_back(x);
        } else if (x.lo > r.hi) {
            if (!placed) out.push_back(r), placed = true;
            out.push_back(x);
        } else {
            r.lo = std::min(r.lo, x.lo);
            r.hi = std::max(r.hi, x.hi);
            r.added += x.added;
        }
    }
    if (!placed) out.push_back(r);
    // A write touches a handful of places; past that one run covers them all.
    if (out.size() > 8) {
        ChainRun all{out.front().lo, out.back().hi, 0};
        for (const auto& x : out) all.added += x.added;
        out.assign(1, all);
    }
    runs = std::move(out);
}

PxTable::ChainChange PxTable::takeChainChange() {
    ChainChange c;
    c.all = chainAll_ || emptyBlock_ || count() == 0;
    c.runs = std::move(chainRuns_);
    chainAll_ = false;
    chainRuns_.clear();
    return c;
}

void PxTable::rebuildStarts(size_t from, size_t changed) {
    if (starts_.empty()) starts_.push_back(0);
    const size_t oldN = starts_.size() - 1, newN = counts_.size();
    from = std::min({from, oldN, newN});
    const long added = long(newN) - long(oldN);
    const size_t end = std::min(newN, from + std::min(changed, newN));
    const long oldEnd = long(end) - added;
    if (end == newN || oldEnd <= long(from) || oldEnd > long(oldN)) {
        starts_.resize(newN + 1);
        for (size_t i = from; i < newN; ++i) starts_[i + 1] = starts_[i] + counts_[i];
        return;
    }
    // The old positions of the blocks after the changed ones, moved to their new places.
    if (added > 0) starts_.insert(starts_.begin() + oldEnd, size_t(added), 0);
    else if (added < 0) starts_.erase(starts_.begin() + long(end), starts_.begin() + oldEnd);
    const int64_t oldAtEnd = starts_[end];
    for (size_t i = from; i < end; ++i) starts_[i + 1] = starts_[i] + counts_[i];
    const int64_t d = starts_[end] - oldAtEnd;
    if (d != 0)
        for (size_t i = end + 1; i <= newN; ++i) starts_[i] += d;
}

size_t PxTable::chainIndexOf(int64_t pos) const {
    auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
    return size_t(it - starts_.begin()) - 1;
}

uint16_t PxTable::blockOf(int64_t pos) const {
    if (pos < 0 || pos >= count()) return 0;
    return blocks_[chainIndexOf(pos)];
}

const uint8_t* PxTable::record(int64_t pos) {
    if (pos < 0 || pos >= count()) return nullptr;
    const size_t ci = chainIndexOf(pos);
    const uint16_t n = blocks_[ci];
    if (cachedNo_ != n) {
        cachedNo_ = 0;
        const size_t need = 6 + size_t(counts_[ci]) * h_.recordSize; // the last block may be cut short
        if (file_.readSome(blockOffset(n), cache_.data(), cache_.size()) < need)
            throw EngineError(ErrCorruptFile, path().filename().string() + " が壊れています: ファイルが途中で切れています");
        cachedNo_ = n;
    }
    return cache_.data() + 6 + (pos - starts_[ci]) * h_.recordSize;
}

int PxTable::compareKey(const uint8_t* a, const uint8_t* b) const { return order_.compare(a, b, keyLength_); }

PxTable::Block PxTable::readBlock(uint16_t n) {
    Block b;
    b.data.resize(h_.blockSize());
    if (!file_.readAt(blockOffset(n), b.data.data(), b.data.size()))
        throw EngineError(ErrCorruptFile, path().filename().string() + " が壊れています: ファイルが途中で切れています");
    b.next = getLE16(b.data.data());
    b.prev = getLE16(b.data.data() + 2);
    const int add = int16_t(getLE16(b.data.data() + 4));
    b.count = add < 0 ? 0 : std::min(add / h_.recordSize + 1, h_.recordsPerBlock());
    return b;
}

void PxTable::writeBlock(uint16_t n, Block& b) {
    putLE16(b.data.data(), b.next);
    putLE16(b.data.data() + 2, b.prev);
    putLE16(b.data.data() + 4, uint16_t(int16_t((b.count - 1) * h_.recordSize)));
    // Stale bytes past the last record are never read; zero them so files stay tidy.
    const size_t used = 6 + size_t(b.count) * h_.recordSize;
    std::fill(b.data.begin() + used, b.data.end(), 0);
    if (cachedNo_ == n) cachedNo_ = 0;
    writeBytes(blockOffset(n), b.data.data(), b.data.size());
}

void PxTable::requireWritable() const {
    if (!file_.writable()) throw EngineError(ErrReadOnly, path().filename().string() + " は読み取り専用で開かれています");
    if (!damage_.empty()) throw EngineError(ErrReadOnly, path().filename().string() + " は壊れているため変更できません: " + damage_);
}

uint16_t PxTable::allocateBlock() {
    if (h_.firstFree != 0) {
        const uint16_t n = h_.firstFree;
        uint8_t bh[2];
        const bool inUse = std::find(blocks_.begin(), blocks_.end(), n) != blocks_.end();
        if (!inUse && n <= h_.fileBlocks && file_.readAt(blockOffset(n), bh, 2)) {
            const uint16_t next = getLE16(bh);
            h_.firstFree = next <= h_.fileBlocks ? next : 0;
            return n;
        }
        h_.firstFree = 0; // a broken free list is dropped, never followed
    }
    if (h_.fileBlocks == 0xFFFF) throw EngineError(ErrIO, path().filename().string() + ": テーブルが最大サイズに達しました");
    return ++h_.fileBlocks;
}

void PxTable::freeBlock(uint16_t n) {
    Block b;
    b.data.assign(h_.blockSize(), 0);
    b.next = h_.firstFree;
    b.prev = 0;
    b.count = 0;
    writeBlock(n, b);
    h_.firstFree = n;
}

void PxTable::writeHeader() {
    uint8_t* d = headerBytes_.data();
    h_.numRecords = uint32_t(count());
    h_.usedBlocks = uint16_t(blocks_.size());
    h_.firstBlock = blocks_.empty() ? 0 : blocks_.front();
    h_.lastBlock = blocks_.empty() ? 0 : blocks_.back();
    putLE32(d + HoNumRecords, h_.numRecords);
    putLE16(d + HoUsedBlocks, h_.fileBlocks);
    putLE16(d + HoFileBlocks, h_.fileBlocks);
    putLE16(d + HoFirstBlock, h_.firstBlock);
    putLE16(d + HoLastBlock, h_.lastBlock);
    putLE16(d + HoMaxBlocks, h_.fileBlocks);
    putLE32(d + HoAutoInc, h_.autoInc);
    putLE16(d + HoFirstFree, h_.firstFree);
    if (activeJournal_ && !counterBumped_) {
        // The write counter other writers compare (see reloadUnderLock), once a write scope.
        putLE16(d + HoWriteCounter, uint16_t(getLE16(d + HoWriteCounter) + 1));
        counterBumped_ = true;
    }
    writeBytes(0, d, 0x58);
}

void PxTable::setAutoInc(uint32_t value) {
    requireWritable();
    h_.autoInc = value;
    writeHeader();
}

int64_t PxTable::lowerBound(const uint8_t* key, int len) {
    len = std::min(len, keyLength_);
    if (blocks_.empty() || len <= 0) return 0;
    // Last block whose first key is below key: the lower bound lies in it or at the start of
    // the next one. The first keys are held in memory.
    const auto& fk = firstKeys();
    size_t lo = 0, hi = blocks_.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (counts_[mid] && order_.compare(fk.data() + mid * size_t(keyLength_), key, len) < 0) lo = mid;
        else hi = mid;
    }
    int64_t a = starts_[lo], b = starts_[lo + 1];
    while (a < b) {
        const int64_t mid = (a + b) / 2;
        if (order_.compare(record(mid), key, len) < 0) a = mid + 1;
        else b = mid;
    }
    return a;
}

int64_t PxTable::findKey(const uint8_t* key, bool& found) {
    found = false;
    if (blocks_.empty()) return 0;
    const int64_t a = lowerBound(key, keyLength_);
    if (a < count()) found = compareKey(record(a), key) == 0;
    return a;
}

int64_t PxTable::insert(const uint8_t* rec) {
    requireWritable();
    const bool keyedFile = keyed();
    const int rs = h_.recordSize;
    const int perBlock = h_.recordsPerBlock();
    if (count() == 0) chainAll_ = true;
    if (blocks_.empty()) {
        const uint16_t n = allocateBlock();
        Block b;
        b.data.assign(h_.blockSize(), 0);
        b.count = 1;
        std::memcpy(b.data.data() + 6, rec, rs);
        writeBlock(n, b);
        blocks_.push_back(n);
        counts_.push_back(1);
        setFirstKey(0, rec, true);
        rebuildStarts();
        writeHeader();
        return 0;
    }
    size_t ci;
    int idx;
    if (keyedFile) {
        bool found = false;
        const int64_t pos = findKey(rec, found);
        if (found) throw EngineError(ErrKeyViolation, "キー違反です: 同じキーのレコードが既にあります");
        ci = pos >= count() ? blocks_.size() - 1 : chainIndexOf(pos);
        // A key that sorts after a block's last record goes to the end of that block.
        if (pos == starts_[ci] && ci > 0 && pos < count()) {
            const uint8_t* first = record(pos);
            if (compareKey(rec, first) < 0) --ci;
        }
        idx = int(pos - starts_[ci]);
    } else {
        ci = blocks_.size() - 1;
        idx = counts_[ci];
    }
    const int64_t at = keyedFile ? starts_[ci] + idx : count();
    Block b = blockForWrite(ci);
    uint8_t* base = b.data.data() + 6;
    auto room = [&](size_t j) { return j < blocks_.size() && counts_[j] < perBlock; };
    if (b.count < perBlock) {
        putRecord(ci, b, idx, rec);
    } else if (idx == b.count) {
        // Past the last record of a full block: to the front of the next block when that has
        // room, else into a block of its own after this one. Nothing moves, and appends at
        // the end fill every block.
        if (room(ci + 1)) {
            Block next = blockForWrite(ci + 1);
            putRecord(ci + 1, next, 0, rec);
        } else {
            addBlockAfter(ci, b, rec);
            writeBlock(blocks_[ci], b);
        }
    } else {
        // Inside a full block: one record makes room. The block's last goes to the front of
        // the next block, or its first to the end of the previous one, when that has room;
        // else the last goes to a new block after this one. So a write moves one record to
        // another block at most (the secondary indexes patch its hint), and a block is added
        // only where the blocks on both sides are full.
        const std::vector<uint8_t> last(base + size_t(b.count - 1) * rs, base + size_t(b.count) * rs);
        if (room(ci + 1)) {
            Block next = blockForWrite(ci + 1);
            putRecord(ci + 1, next, 0, last.data());
            --b.count;
            putRecord(ci, b, idx, rec);
            if (onMoved_) onMoved_(last.data());
        } else if (ci > 0 && room(ci - 1)) {
            const std::vector<uint8_t> first(base, base + rs);
            Block prev = blockForWrite(ci - 1);
            putRecord(ci - 1, prev, counts_[ci - 1], first.data());
            std::memmove(base, base + rs, size_t(b.count - 1) * rs);
            --b.count;
            putRecord(ci, b, idx - 1, rec);
            setFirstKey(ci, base);
            if (onMoved_) onMoved_(first.data());
        } else {
            addBlockAfter(ci, b, last.data());
            --b.count;
            putRecord(ci, b, idx, rec);
            if (onMoved_) onMoved_(last.data());
        }
    }
    rebuildStarts(ci > 0 ? ci - 1 : 0, ci > 0 ? 4 : 3); // the blocks from ci - 1 to ci + 1 changed, one added
    writeHeader();
    return at;
}

PxTable::Block PxTable::blockForWrite(size_t ci) {
    Block b = readBlock(blocks_[ci]);
    b.count = counts_[ci];
    requireOrdered(ci, b);
    return b;
}

void PxTable::putRecord(size_t ci, Block& b, int idx, const uint8_t* rec) {
    const size_t rs = h_.recordSize;
    uint8_t* base = b.data.data() + 6;
    std::memmove(base + size_t(idx + 1) * rs, base + size_t(idx) * rs, size_t(b.count - idx) * rs);
    std::memcpy(base + size_t(idx) * rs, rec, rs);
    ++b.count;
    writeBlock(blocks_[ci], b);
    counts_[ci] = uint16_t(b.count);
    chainAt(ci);
    if (idx == 0) setFirstKey(ci, base);
}

void PxTable::addBlockAfter(size_t ci, Block& b, const uint8_t* rec) {
    const uint16_t nn = allocateBlock();
    Block nb;
    nb.data.assign(h_.blockSize(), 0);
    nb.count = 1;
    nb.prev = blocks_[ci];
    nb.next = b.next;
    std::memcpy(nb.data.data() + 6, rec, h_.recordSize);
    writeBlock(nn, nb);
    if (b.next != 0) {
        Block after = readBlock(b.next);
        after.prev = nn;
        writeBlock(b.next, after);
    }
    b.next = nn;
    blocks_.insert(blocks_.begin() + long(ci) + 1, nn);
    counts_.insert(counts_.begin() + long(ci) + 1, uint16_t(1));
    chainAt(ci + 1, ChainEdit::Inserted);
    chainAt(ci);
    setFirstKey(ci + 1, rec, true);
}

void PxTable::overwrite(int64_t pos, const uint8_t* rec) {
    requireWritable();
    if (pos < 0 || pos >= count()) throw EngineError(ErrNotFound, "レコードがありません");
    const size_t ci = chainIndexOf(pos);
    Block b = readBlock(blocks_[ci]);
    b.count = counts_[ci];
    requireOrdered(ci, b);
    std::memcpy(b.data.data() + 6 + (pos - starts_[ci]) * h_.recordSize, rec, h_.recordSize);
    writeBlock(blocks_[ci], b);
    chainAt(ci);
    if (activeJournal_ && !counterBumped_) writeHeader(); // other writers must see the write counter move
}

void PxTable::patch(int64_t pos, int offset, const uint8_t* bytes, int n) {
    requireWritable();
    if (pos < 0 || pos >= count() || offset < 0 || offset + n > h_.recordSize)
        throw EngineError(ErrNotFound, "レコードがありません");
    const size_t ci = chainIndexOf(pos);
    if (file_.ciphered()) {
        // Scrambled blocks are written whole.
        Block b = readBlock(blocks_[ci]);
        b.count = counts_[ci];
        std::memcpy(b.data.data() + 6 + (pos - starts_[ci]) * h_.recordSize + offset, bytes, size_t(n));
        writeBlock(blocks_[ci], b);
        return;
    }
    if (cachedNo_ == blocks_[ci]) cachedNo_ = 0;
    writeBytes(blockOffset(blocks_[ci]) + 6 + uint64_t(pos - starts_[ci]) * h_.recordSize + uint64_t(offset), bytes, size_t(n));
}

// Takes the block at chain index ci (ci > 0) out of the chain: prev, the block before it,
// is linked to `next` (the block after it) and written, and the block is freed.
void PxTable::dropBlock(size_t ci, Block& prev, uint16_t next) {
    const uint16_t pn = blocks_[ci - 1];
    prev.next = next;
    if (next != 0) {
        Block after = readBlock(next);
        after.prev = pn;
        writeBlock(next, after);
    }
    writeBlock(pn, prev);
    freeBlock(blocks_[ci]);
    eraseFirstKey(ci);
    chainAt(ci, ChainEdit::Removed);
    blocks_.erase(blocks_.begin() + long(ci));
    counts_.erase(counts_.begin() + long(ci));
}

void PxTable::remove(int64_t pos) {
    requireWritable();
    if (pos < 0 || pos >= count()) throw EngineError(ErrNotFound, "レコードがありません");
    const int rs = h_.recordSize;
    const size_t ci = chainIndexOf(pos);
    const int idx = int(pos - starts_[ci]);
    const uint16_t n = blocks_[ci];
    Block b = readBlock(n);
    b.count = counts_[ci];
    requireOrdered(ci, b);
    uint8_t* base = b.data.data() + 6;
    std::memmove(base + size_t(idx) * rs, base + size_t(idx + 1) * rs, size_t(b.count - idx - 1) * rs);
    --b.count;
    if (count() == 1) chainAll_ = true; // the table becomes empty
    if (b.count > 0 || blocks_.size() == 1) {
        writeBlock(n, b);
        counts_[ci] = uint16_t(b.count);
        chainAt(ci);
        if (idx == 0 && b.count > 0) setFirstKey(ci, base);
    } else if (ci == 0) {
        // The first block stays first: it takes its successor's first record, and the
        // successor goes when that was its only one (one record moves, not a block of them).
        const uint16_t sn = blocks_[1];
        Block s = blockForWrite(1);
        uint8_t* sbase = s.data.data() + 6;
        b.count = std::min(s.count, 1);
        std::memcpy(base, sbase, size_t(b.count) * rs);
        if (s.count > 1) {
            std::memmove(sbase, sbase + rs, size_t(s.count - 1) * rs);
            --s.count;
            writeBlock(sn, s);
            writeBlock(n, b);
            counts_[1] = uint16_t(s.count);
            setFirstKey(1, sbase);
        } else {
            dropBlock(1, b, s.next);
        }
        if (onMoved_ && b.count) onMoved_(base);
        counts_[0] = uint16_t(b.count);
        if (b.count) setFirstKey(0, base);
        chainAt(0);
        chainAt(1);
    } else {
        Block p = readBlock(blocks_[ci - 1]);
        p.count = counts_[ci - 1];
        dropBlock(ci, p, b.next);
    }
    rebuildStarts(ci > 0 ? ci - 1 : 0, 3); // blocks ci - 1 to ci + 1, one of them gone
    writeHeader();
}

} // namespace vemo::engine::paradox
