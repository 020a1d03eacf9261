#pragma once
// The records of a .DB file: the block chain in logical order, random access by position,
// and in-place writes that keep keyed tables sorted and the header consistent.
#include "PxFile.h"
#include "PxHeader.h"
#include "PxKeyOrder.h"
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vemo::engine::paradox {

class PxTable {
public:
    // indexFile: open a secondary index's .X file (itself a table) for reading.
    // settings: the code page rules, and the password of a protected table.
    PxTable(const std::filesystem::path& path, bool writable, bool indexFile = false,
            const standard::TableSettings& settings = {});
    ~PxTable();

    const PxHeader& header() const { return h_; }
    const std::filesystem::path& path() const { return file_.path(); }
    bool writable() const { return file_.writable(); }
    // Why the table cannot be trusted for writing (a damaged chain, counts that disagree).
    const std::string& damage() const { return damage_; }

    int64_t count() const { return starts_.back(); }
    // Bytes of the key at the start of each record: the key fields of a keyed table, every
    // field but the hint of a secondary index's .X file (0 for unkeyed tables).
    int keyLength() const { return keyLength_; }
    bool keyed() const { return keyLength_ > 0; }
    // The record at a position in chain order; the pointer lives until the next call.
    const uint8_t* record(int64_t pos);
    uint16_t blockOf(int64_t pos) const;

    // Lower bound of a key (first keyLength() bytes) in a keyed table; found when equal.
    int64_t findKey(const uint8_t* key, bool& found);
    // First position whose first `len` key bytes are not less than `key` (count() when none).
    int64_t lowerBound(const uint8_t* key, int len);

    // Called for every record that a write moves to another block (a split, a merge), with
    // the record's bytes; the secondary indexes keep their block hints by it.
    void setMoveObserver(std::function<void(const uint8_t* rec)> onMoved) { onMoved_ = std::move(onMoved); }

    // Holds the writers' lock for one logical write and brings the in-memory chain up to
    // date with what other writers did (header and every block's links and count, re-read
    // under the lock); changed() tells whether they did anything. Every write inside the
    // scope, to the table and to each file that joins it (journalSlot()), goes through one
    // journal of the table's files, so the logical write is all or nothing: finish() commits
    // it (journal synced once, each file once), a scope left without finish() (an error at
    // any step) puts every file back as it was. A journal found when the scope begins (a
    // writer killed mid-write) is played back first: recovered() tells that there was one,
    // indexesLag() that the index files must be rebuilt (the write replaced some of them
    // whole, or they lagged already); otherwise they are as before that write, with the table.
    class WriteScope {
    public:
        explicit WriteScope(PxTable& t);
        ~WriteScope();
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;
        bool changed() const { return changed_; }
        bool recovered() const { return recovered_; }
        bool indexesLag() const { return indexesLag_; }
        // Commits. indexesCurrent: the index files match the table; otherwise the journal
        // stays as the mark that they must be rebuilt.
        void finish(bool indexesCurrent);
        // Puts the table back as it was when the scope began (the mark stays).
        void rollBack();

    private:
        PxTable& t_;
        bool changed_ = false;
        bool recovered_ = false;
        bool indexesLag_ = false;
        bool done_ = false;
    };
    // Reads the header and chain again under the writers' lock: what was read without it
    // may have caught another writer half way (the counts then seem not to match).
    void reloadLocked();
    std::filesystem::path journalPath() const;
    // Where the journal of the write in progress is kept (null between writes): the index
    // files of the table write through it (PxFile::journalThrough).
    standard::FileSetJournal* const* journalSlot() const { return &activeJournal_; }
    // For an .X file: its writes go through the journal of its table's write.
    void joinJournalOf(const PxTable& owner) { file_.journalThrough(owner.journalSlot()); }
    // Whether a journal or mark of an unfinished write is there.
    bool hasJournal() const;
    // Before index files are replaced whole inside a write scope: its journal says so (and
    // is down), so that a playback of it knows they must be rebuilt.
    void noteReplacingIndexFiles();

    // Writes; each leaves the file consistent when it returns. insert returns the position.
    int64_t insert(const uint8_t* rec);
    void overwrite(int64_t pos, const uint8_t* rec);
    // Overwrites n bytes at `offset` within the record at pos, nothing else of its block.
    void patch(int64_t pos, int offset, const uint8_t* bytes, int n);
    void remove(int64_t pos);
    void setAutoInc(uint32_t value);
    // Writes made through this object so far (a failed step tells by it whether it wrote).
    uint64_t writeCount() const { return writeCount_; }
    void sync() { file_.sync(); }

    // Chain order view for index building.
    const std::vector<uint16_t>& blocks() const { return blocks_; }
    const std::vector<uint16_t>& counts() const { return counts_; }
    int64_t blockStart(size_t chainIndex) const { return starts_[chainIndex]; }
    // Key of each block's first record in chain order (keyed tables), kept across writes.
    const std::vector<uint8_t>& firstKeys();

    // What changed in the chain (its blocks' first keys, numbers and counts) since the last
    // call, as runs of chain indexes: the blocks now at [lo, hi) may differ from those they
    // took the place of, which were `hi - lo - added` blocks; every block outside the runs is
    // as it was. In order, apart from one another. `all` when that is not known (the chain
    // was read anew, the table was or became empty). The tree over the blocks (.PX, .Y) is
    // brought up to date run by run, so two changes far apart (a key edit) cost two small
    // changes, not one spanning everything between them.
    struct ChainRun {
        size_t lo = 0, hi = 0;
        long added = 0;
    };
    struct ChainChange {
        bool all = true;
        std::vector<ChainRun> runs;
    };
    ChainChange takeChainChange();
    void markChainUnknown() { chainAll_ = true; }

    // Keyed files are written only where their keys are in this program's byte order: the
    // first keys of all blocks are compared once (firstKeysInOrder), and each block a write
    // changes is checked with its neighbours' edge keys before it is changed (a write into a
    // block out of order throws ErrReadOnly and sets outOfOrder()).
    bool firstKeysInOrder();
    bool outOfOrder() const { return outOfOrder_; }
    // The order the keys are kept in (byte order unless set: the .X of a descending or
    // case-insensitive index). Every search, insert and order check goes by it.
    void setKeyOrder(PxKeyOrder order) { order_ = std::move(order); }
    const PxKeyOrder& keyOrder() const { return order_; }

private:
    struct Block {
        uint16_t next = 0, prev = 0;
        int count = 0;
        std::vector<uint8_t> data; // whole block
    };
    void loadChain();
    // Record positions of the chain's blocks from chain index `from` on (those before it
    // are unchanged by the write that calls it). When only the `changed` blocks from `from`
    // on (now) differ in count, blocks added or removed among them, the blocks after them
    // keep their positions but for one difference, added to all of them at once.
    void rebuildStarts(size_t from = 0, size_t changed = SIZE_MAX);
    uint64_t blockOffset(uint16_t n) const { return uint64_t(h_.headerSize) + uint64_t(n - 1) * h_.blockSize(); }
    Block readBlock(uint16_t n);
    void writeBlock(uint16_t n, Block& b);
    // Block ci read for a change (its keys checked against its neighbours').
    Block blockForWrite(size_t ci);
    // Puts rec at idx of block ci (b, which has room) and writes the block.
    void putRecord(size_t ci, Block& b, int idx, const uint8_t* rec);
    // A new block after ci holding rec alone; b (block ci) gets the new link, unwritten.
    void addBlockAfter(size_t ci, Block& b, const uint8_t* rec);
    uint16_t allocateBlock();
    void freeBlock(uint16_t n);
    void dropBlock(size_t ci, Block& prev, uint16_t next);
    void writeHeader();
    size_t chainIndexOf(int64_t pos) const;
    int compareKey(const uint8_t* a, const uint8_t* b) const;
    void requireWritable() const;

    void writeBytes(uint64_t offset, const void* data, size_t n);
    void reloadUnderLock(bool& changed);
    // What tells this table's state from another writer's: the header's first bytes (with
    // the write counter every write scope advances) and the file's size, inode and mtime.
    struct Stamp {
        std::vector<uint8_t> head;
        uint64_t size = 0, inode = 0;
        int64_t mtimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stampNow(const std::vector<uint8_t>& head) const;
    Stamp stamp_;
    bool stampValid_ = false;
    bool counterBumped_ = false;
    std::function<void(const uint8_t* rec)> onMoved_;
    uint64_t writeCount_ = 0;

    PxFile file_;
    standard::TableSettings settings_;
    std::unique_ptr<standard::FileSetJournal> journal_;
    standard::FileSetJournal* activeJournal_ = nullptr; // journal_ while a write scope is open
    bool playBackJournal(standard::FileSetJournal::Found found);
    std::vector<uint8_t> headerBytes_;
    PxHeader h_;
    std::string damage_;
    int keyLength_ = 0;
    std::vector<uint16_t> blocks_;
    std::vector<uint16_t> counts_;
    std::vector<int64_t> starts_{0};
    std::vector<uint8_t> firstKeys_;
    bool firstKeysValid_ = false;
    void setFirstKey(size_t ci, const uint8_t* rec, bool insertNew = false);
    // Block ci changes, is inserted (called after) or removed (called before).
    enum class ChainEdit { Changed, Inserted, Removed };
    void chainAt(size_t ci, ChainEdit edit = ChainEdit::Changed);
    void requireOrdered(size_t ci, const Block& b);
    std::vector<bool> ordered_; // by block number: checked since the chain was read
    bool outOfOrder_ = false;
    PxKeyOrder order_;
    bool chainAll_ = true;
    bool emptyBlock_ = false; // a block without records in the chain (a file from elsewhere)
    std::vector<ChainRun> chainRuns_; // since the last takeChainChange
    void eraseFirstKey(size_t ci);
    uint16_t cachedNo_ = 0;
    std::vector<uint8_t> cache_;
};

} // namespace vemo::engine::paradox
