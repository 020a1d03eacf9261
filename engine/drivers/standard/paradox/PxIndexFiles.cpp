#include "PxIndexFiles.h"

#include "PxFile.h"
#include "PxTable.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine::paradox {

void IndexEntries::add(const uint8_t* key, uint16_t block, int count) {
    keys.insert(keys.end(), key, key + keyLength);
    blocks.push_back(block);
    counts.push_back(count);
}

void replaceFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    standard::replaceFile(
        path,
        [&](int fd) {
            if (int e = standard::writeFully(fd, 0, bytes.data(), bytes.size()))
                throw EngineError(ErrIO, path.string() + ": " + std::strerror(e));
        },
        "索引を書き込めません");
}

IndexFileImage::~IndexFileImage() { close(); }

void IndexFileImage::close() {
    if (fd_ >= 0) {
        link_.release(); // what the journal holds for this fd lands before it closes
        ::close(fd_);
    }
    fd_ = -1;
}

void IndexFileImage::forget() {
    close();
    bytes_.clear();
    known_ = false;
    treeLoaded_ = false;
    unsynced_ = false;
}

void IndexFileImage::replace(std::vector<uint8_t> bytes) {
    // Inside a write: its journal says first that a file went whole (playback cannot put it back).
    if (standard::FileSetJournal* j = link_.slot ? *link_.slot : nullptr) j->note(standard::FileSetJournal::NoteReplaced, true);
    close();
    known_ = false;
    treeLoaded_ = false;
    replaceFile(path_, bytes);
    bytes_ = std::move(bytes);
    known_ = true;
    unsynced_ = false;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC); // for the next changes in place
}

bool IndexFileImage::readExisting() {
    close();
    bytes_.clear();
    known_ = false;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st{};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (off_t(1) << 31)) return false;
    bytes_.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes_.size()) {
        const ssize_t r = ::pread(fd_, bytes_.data() + got, bytes_.size() - got, off_t(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    known_ = got == bytes_.size();
    return known_;
}

void IndexFileImage::update(std::vector<uint8_t> bytes) {
    if (!known_ && !readExisting()) {
        replace(std::move(bytes));
        return;
    }
    writeChanges(std::move(bytes));
}

void IndexFileImage::updateTree(PxTable& keyed, const std::function<std::vector<uint8_t>()>& build) {
    const PxTable::ChainChange change = keyed.takeChainChange();
    if (!treeLoaded_) {
        if (!known_) readExisting();
        // A file whose keys are not as long as the table's is rebuilt, not patched.
        treeLoaded_ = known_ && tree_.load(bytes_) && tree_.keyLength() == keyed.keyLength();
        if (!treeLoaded_) {
            replace(build());
            treeLoaded_ = tree_.load(bytes_);
            if (!treeLoaded_) throw EngineError(ErrCorruptFile, path_.string() + ": 索引を読み直せません");
            return;
        }
        // Loaded from the file: what it holds is compared entry by entry below.
        keyed.markChainUnknown();
    }
    try {
        if (change.all || keyed.takeChainChange().all) {
            writeChanges(tree_.update(bytes_, treeEntriesOf(keyed)));
            return;
        }
        // Only the blocks of the changed runs are looked at, the last run first: after it
        // the tree holds the old entries up to that run and the new ones from it on, so
        // each run is a change between unchanged ends of its own.
        const auto& keys = keyed.firstKeys();
        const size_t klen = size_t(keyed.keyLength());
        const size_t nw = keyed.blocks().size();
        long added = 0;
        for (const auto& r : change.runs) added += r.added;
        if (long(tree_.entries()) + added != long(nw)) {
            // The tree does not hold what the runs were counted from: compared entry by entry.
            writeChanges(tree_.update(bytes_, treeEntriesOf(keyed)));
            return;
        }
        const size_t oldSize = bytes_.size();
        std::vector<uint16_t> changed;
        for (size_t j = change.runs.size(); j-- > 0;) {
            const auto& r = change.runs[j];
            added -= r.added; // now the blocks added by the runs before this one
            const size_t oldLo = size_t(long(r.lo) - added);
            PxIndexTree::Window w;
            w.count = oldLo + nw - r.lo;
            w.same = oldLo;
            w.sameTail = nw - r.hi;
            w.entryAt = [&](size_t i, uint8_t* key, uint16_t& block, int& count) {
                const size_t at = i - oldLo + r.lo;
                std::memcpy(key, keys.data() + at * klen, klen);
                block = keyed.blocks()[at];
                count = keyed.counts()[at];
            };
            for (uint16_t no : tree_.update(bytes_, w))
                if (std::find(changed.begin(), changed.end(), no) == changed.end()) changed.push_back(no);
        }
        writeBlocks(changed, oldSize);
    } catch (...) {
        treeLoaded_ = false; // the tree in memory may be ahead of the file
        forget();
        keyed.markChainUnknown();
        throw;
    }
}

// In place: through the journal of the table's write, or straight to the file.
void IndexFileImage::writeAt(size_t at, const uint8_t* data, size_t len) {
    if (bytes_.size() >= 0x58) link_.pagePhase = getLE16(bytes_.data() + HoHeaderSize); // blocks in pages of their own
    if (standard::FileSetJournal* j = link_.route(path_, fd_)) {
        j->write(link_.target, at, data, len);
        return;
    }
    if (int e = standard::writeFully(fd_, at, data, len)) {
        forget();
        throw EngineError(ErrIO, path_.string() + ": 索引を書き込めません: " + std::strerror(e));
    }
    unsynced_ = true;
}

void IndexFileImage::writeBlocks(const std::vector<uint16_t>& blocks, size_t oldSize) {
    if (blocks.empty() && bytes_.size() == oldSize) return;
    if (fd_ < 0) {
        replace(bytes_);
        return;
    }
    auto put = [&](size_t at, size_t len) {
        if (at < bytes_.size()) writeAt(at, bytes_.data() + at, std::min(len, bytes_.size() - at));
    };
    const size_t headerSize = getLE16(bytes_.data() + HoHeaderSize), blockSize = size_t(bytes_[HoBlockSizeK]) * 0x400;
    put(0, 0x58);
    for (uint16_t no : blocks) put(headerSize + size_t(no - 1) * blockSize, blockSize);
    if (bytes_.size() > oldSize) put(oldSize, bytes_.size() - oldSize);
}

void IndexFileImage::writeChanges(std::vector<uint8_t> bytes) {
    if (fd_ < 0) {
        replace(std::move(bytes));
        return;
    }
    // Runs of changed bytes, neighbours closer than a few bytes written together; a longer
    // file is extended, a shorter one cut.
    const size_t n = bytes.size(), common = std::min(n, bytes_.size());
    standard::FileSetJournal* j = link_.route(path_, fd_);
    auto put = [&](size_t at, size_t len) { writeAt(at, bytes.data() + at, len); };
    size_t i = 0;
    while (i < common) {
        if (bytes[i] == bytes_[i]) { ++i; continue; }
        size_t end = i + 1, same = 0;
        for (size_t k = end; k < common && same < 16; ++k) {
            if (bytes[k] != bytes_[k]) { end = k + 1; same = 0; }
            else ++same;
        }
        put(i, end - i);
        i = end;
    }
    if (n > common) put(common, n - common);
    if (n < bytes_.size() && j) {
        j->truncate(link_.target, n);
    } else if (n < bytes_.size()) {
        if (int e = standard::truncateFile(fd_, n)) {
            forget();
            throw EngineError(ErrIO, path_.string() + ": 索引を書き込めません: " + std::strerror(e));
        }
        unsynced_ = true;
    }
    bytes_ = std::move(bytes);
}

void IndexFileImage::sync() {
    if (!unsynced_ || fd_ < 0) return;
    if (int e = standard::syncData(fd_)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
    unsynced_ = false;
}

std::vector<uint8_t> buildIndexTree(const PxHeader& owner, const std::vector<PxField>& keyFields, uint8_t fileType,
                                    IndexEntries entries) {
    PxHeader h;
    h.fileType = fileType;
    h.blockSizeK = owner.blockSizeK;
    h.version = owner.version;
    h.sortOrder = owner.sortOrder;
    h.codepage = owner.codepage;
    h.tableName = owner.tableName;
    h.fields = keyFields;
    h.keyFields = 0;
    const int keyLen = entries.keyLength;
    h.recordSize = uint16_t(keyLen + 6);
    const int bs = h.blockSize();
    const int perBlock = (bs - 6) / h.recordSize;
    if (perBlock < 2) throw EngineError(ErrInvalidParam, "キーが長すぎて索引を作れません");


    std::vector<std::vector<uint8_t>> blocks; // index blocks in file order, numbered from 1
    IndexEntries level = std::move(entries);
    int levels = 0;
    uint32_t totalEntries = 0;
    while (true) {
        ++levels;
        IndexEntries up;
        up.keyLength = keyLen;
        const size_t firstOfLevel = blocks.size();
        const size_t n = level.size();
        for (size_t i = 0; i < n || (n == 0 && i == 0); i += perBlock) {
            const size_t cnt = std::min<size_t>(perBlock, n - std::min(n, i));
            std::vector<uint8_t> b(bs, 0);
            int sum = 0;
            for (size_t k = 0; k < cnt; ++k) {
                uint8_t* e = b.data() + 6 + k * h.recordSize;
                std::memcpy(e, level.keys.data() + (i + k) * keyLen, keyLen);
                putShortBE(e + keyLen, level.blocks[i + k]);
                putShortBE(e + keyLen + 2, std::min(level.counts[i + k], 32767));
                putShortBE(e + keyLen + 4, 0);
                sum += level.counts[i + k];
            }
            putLE16(b.data() + 4, uint16_t(int16_t((int(cnt) - 1) * h.recordSize)));
            blocks.push_back(std::move(b));
            totalEntries += uint32_t(cnt);
            const uint16_t no = uint16_t(blocks.size());
            if (cnt > 0) up.add(level.keys.data() + i * keyLen, no, sum);
            if (n == 0) break;
        }
        // Chain the blocks of this level together.
        for (size_t k = firstOfLevel; k < blocks.size(); ++k) {
            putLE16(blocks[k].data(), uint16_t(k + 1 < blocks.size() ? k + 2 : 0));
            putLE16(blocks[k].data() + 2, uint16_t(k > firstOfLevel ? k : 0));
        }
        if (blocks.size() - firstOfLevel <= 1) break;
        if (blocks.size() > 0xFFF0) throw EngineError(ErrIO, "索引が大きすぎます");
        level = std::move(up);
    }
    h.numRecords = totalEntries;
    h.fileBlocks = uint16_t(blocks.size());
    h.usedBlocks = h.fileBlocks;
    h.firstBlock = 1;
    h.lastBlock = uint16_t(blocks.size());
    h.indexRoot = uint16_t(blocks.size());
    h.indexLevels = uint8_t(levels);
    std::vector<uint8_t> out = buildHeader(h);
    for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

IndexEntries treeEntriesOf(PxTable& table) {
    IndexEntries e;
    e.keyLength = table.keyLength();
    const auto& blocks = table.blocks();
    const auto& keys = table.firstKeys();
    e.keys.reserve(keys.size());
    e.blocks.reserve(blocks.size());
    e.counts.reserve(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (table.counts()[i] == 0) continue;
        e.add(keys.data() + i * size_t(e.keyLength), blocks[i], table.counts()[i]);
    }
    return e;
}

std::vector<uint8_t> buildTreeOver(PxTable& table, uint8_t fileType) {
    const PxHeader& h = table.header();
    IndexEntries e = treeEntriesOf(table);
    // A table's key fields lead its records; an .X file is keyed by all but its hint.
    const size_t nkeys = h.keyed() ? size_t(h.keyFields) : h.fields.size() - 1;
    std::vector<PxField> keyFields(h.fields.begin(), h.fields.begin() + long(nkeys));
    return buildIndexTree(h, keyFields, fileType, std::move(e));
}

std::vector<uint8_t> buildPrimaryIndex(PxTable& table) { return buildTreeOver(table, FtPrimaryIndex); }

int secondaryFieldsLength(const SecondaryIndexSpec& ix, const PxHeader& t) {
    int len = 0;
    for (int fi : ix.fields) len += t.fields[fi].length;
    return len;
}

PxKeyOrder secondaryKeyOrder(const SecondaryIndexSpec& ix, const PxHeader& t) {
    std::vector<PxKeyOrder::Segment> segs;
    int at = 0;
    for (int fi : ix.fields) {
        const PxField& f = t.fields[fi];
        segs.push_back({at, f.length, ix.descending, ix.caseInsensitive && f.type == PxAlpha});
        at += f.length;
    }
    return PxKeyOrder(std::move(segs), t.codepage);
}

void secondaryRecord(const SecondaryIndexSpec& ix, const PxHeader& t, int tableKeyLength, const uint8_t* r,
                     uint16_t block, uint8_t* o) {
    int at = 0;
    for (int fi : ix.fields) {
        const PxField& f = t.fields[fi];
        std::memcpy(o + at, r + f.offset, f.length);
        if (ix.caseInsensitive && f.type == PxAlpha) PxKeyOrder::foldText(o + at, f.length, t.codepage);
        at += f.length;
    }
    std::memcpy(o + at, r, tableKeyLength);
    putShortBE(o + at + tableKeyLength, block);
}

void writePrimaryIndex(const std::filesystem::path& path, PxTable& table) { replaceFile(path, buildPrimaryIndex(table)); }

void writeSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table) {
    auto [x, y] = buildSecondaryIndex(ix, table);
    replaceFile(ix.yPath, y);
    replaceFile(ix.xPath, x);
}

std::pair<std::vector<uint8_t>, std::vector<uint8_t>> buildSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table) {
    const PxHeader& t = table.header();
    PxHeader x;
    x.fileType = ix.composite ? FtCompositeX : FtSecondaryX;
    x.blockSizeK = t.blockSizeK;
    x.version = t.version;
    x.sortOrder = t.sortOrder;
    x.sortOrderName = t.sortOrderName;
    x.codepage = t.codepage;
    x.tableName = t.tableName;
    x.indexName = ix.composite ? ix.name : std::string();
    x.indexFieldNumber = ix.composite ? 0 : uint8_t(ix.fields[0] + 1);
    if (x.version >= 0x0C) x.indexDirection = ix.descending ? IxDescending : IxAscending;
    else if (ix.descending) throw EngineError(ErrInvalidParam, "索引 \"" + ix.name + "\": 降順の索引はレベル 7 のテーブルにだけ作れます");
    int offset = 0;
    for (int fi : ix.fields) {
        PxField f = t.fields[fi];
        if (!ix.composite) f.name = "Sec Key";
        f.offset = offset;
        offset += f.length;
        x.fields.push_back(f);
        x.fieldNumbers.push_back(fi + 1);
    }
    for (int i = 0; i < t.keyFields; ++i) {
        PxField f = t.fields[i];
        f.offset = offset;
        offset += f.length;
        x.fields.push_back(f);
        x.fieldNumbers.push_back(i + 1);
    }
    PxField hint{"Hint", PxShort, 2, 2, offset};
    x.fields.push_back(hint);
    x.fieldNumbers.push_back(0);
    x.keyFields = int(x.fields.size()) - 1;
    x.recordSize = uint16_t(offset + 2);
    const int keyLen = offset;
    const int rs = x.recordSize;
    if (rs + 6 > x.blockSize()) throw EngineError(ErrInvalidParam, "索引 \"" + ix.name + "\" のキーが長すぎます");

    const int64_t n = table.count();
    std::vector<uint8_t> recs(size_t(n) * rs);
    for (size_t ci = 0; ci < table.blocks().size(); ++ci) {
        for (int64_t p = table.blockStart(ci); p < table.blockStart(ci + 1); ++p)
            secondaryRecord(ix, t, table.keyLength(), table.record(p), table.blocks()[ci], recs.data() + size_t(p) * rs);
    }
    std::vector<uint32_t> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0u);
    const PxKeyOrder keyOrder = secondaryKeyOrder(ix, t);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return keyOrder.compare(recs.data() + size_t(a) * rs, recs.data() + size_t(b) * rs, keyLen) < 0;
    });
    const int perBlock = x.recordsPerBlock();
    const int64_t nblocks = (n + perBlock - 1) / perBlock;
    if (nblocks > 0xFFF0) throw EngineError(ErrIO, "索引 \"" + ix.name + "\" が大きすぎます");
    IndexEntries e;
    e.keyLength = keyLen;
    std::vector<uint8_t> body(size_t(nblocks) * x.blockSize(), 0);
    for (int64_t b = 0; b < nblocks; ++b) {
        uint8_t* blk = body.data() + size_t(b) * x.blockSize();
        const int cnt = int(std::min<int64_t>(perBlock, n - b * perBlock));
        putLE16(blk, uint16_t(b + 1 < nblocks ? b + 2 : 0));
        putLE16(blk + 2, uint16_t(b > 0 ? b : 0));
        putLE16(blk + 4, uint16_t(int16_t((cnt - 1) * rs)));
        for (int k = 0; k < cnt; ++k)
            std::memcpy(blk + 6 + size_t(k) * rs, recs.data() + size_t(order[size_t(b * perBlock + k)]) * rs, rs);
        e.add(blk + 6, uint16_t(b + 1), cnt);
    }
    x.numRecords = uint32_t(n);
    x.fileBlocks = uint16_t(nblocks);
    x.usedBlocks = x.fileBlocks;
    x.firstBlock = nblocks ? 1 : 0;
    x.lastBlock = uint16_t(nblocks);
    std::vector<uint8_t> out = buildHeader(x);
    out.insert(out.end(), body.begin(), body.end());
    std::vector<PxField> keys(x.fields.begin(), x.fields.end() - 1);
    return {std::move(out), buildIndexTree(x, keys, ix.composite ? FtCompositeY : FtSecondaryY, std::move(e))};
}

} // namespace vemo::engine::paradox
