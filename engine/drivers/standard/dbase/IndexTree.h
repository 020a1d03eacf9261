#pragma once
// The B-tree of one MDX tag or one NDX file, changed in place: an entry is inserted or
// removed by descending to its leaf, and pages split upwards. A page that a removal leaves
// under a quarter full takes entries from a sibling, or, when the two fit well in one page,
// is merged with it; the parent loses the separating entry and may in turn fall under the
// threshold, up to a root that hands its place down to its only child. A page given up goes
// on the MDX free list; an NDX file has no such list, so the page stays in the file unreferenced
// until the file is next built whole (a repair, the end of a batch). Entries are ordered by key in the tag's order, then by record number, so equal
// keys keep the order of their records. Every page write goes through beforeWrite first
// (the caller journals the old bytes there).
#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/drivers/standard/dbase/IndexFiles.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

class IndexTree {
public:
    using BeforeWrite = std::function<void(uint64_t offset, size_t n)>;
    // visit(key, recno) for entries in order; returning false stops the walk.
    using Visit = std::function<bool(const std::string& key, uint32_t recno)>;

    // Reads the tree's shape from the file's headers. Throws ErrCorruptFile for a tag whose
    // shape cannot be maintained (an entry that does not fit a page, a missing tag).
    IndexTree(File& file, const IndexTag& tag, BeforeWrite beforeWrite);

    // Orders two stored keys as the tag orders them (descending tags reversed).
    int compare(const std::string& a, const std::string& b) const;

    void insert(const std::string& key, uint32_t recno);
    // False when the entry is not in the tree (the file does not match the table).
    bool remove(const std::string& key, uint32_t recno);
    // Entries from the first one not less than (key, recno); from the start when key is empty.
    void scanFrom(const std::string& key, uint32_t recno, const Visit& visit) const;
    void scanAll(const Visit& visit) const { scanFrom({}, 0, visit); }
    // Record numbers of every entry in order, without their keys (a whole order quickly).
    void recordNumbers(std::vector<uint32_t>& out) const;

    size_t keyLength() const { return keyLength_; }

    // For a tree that is only read (lookups): pages stay in memory once read, up to 16 MB,
    // so that repeated descents cost no reads. The caller drops the tree when the
    // file may have changed.
    void keepPages() { keep_ = true; }
    // For a tree that is changed in place and kept from one write to the next: the branch
    // pages (and the root's page number) stay in memory once read, and every write of them
    // goes to the copy as well, so that a descent reads only its leaf. The caller drops the
    // tree when the file may have been changed by anything but this tree (another writer, a
    // write rolled back, another tag's tree releasing pages is not such a change: a page
    // belongs to one tag).
    // Each leaf's last entry is kept as well: an equal key in a branch is decided by the
    // last entry under the child (see chooseChild), which then costs no leaf read.
    void keepBranches() { keepBranches_ = true; }

private:
    struct Node {
        uint32_t page = 0;
        std::vector<uint8_t> b;
        uint32_t n = 0;
        bool branch = false;
    };
    struct Split {
        uint32_t left;   // new page holding the lower half
        std::string key; // highest key of that half
    };
    Node load(uint32_t page) const;
    void store(Node& node);
    uint32_t allocate();
    void release(uint32_t page);
    uint8_t* entry(Node& node, uint32_t i) const;
    const uint8_t* entry(const Node& node, uint32_t i) const;
    std::string keyAt(const Node& node, uint32_t i) const;
    uint32_t ptrAt(const Node& node, uint32_t i) const;   // child (branch) or record (leaf)
    uint32_t childAt(const Node& node, uint32_t i) const; // i == n: the trailing child
    void setChild(Node& node, uint32_t i, uint32_t child);
    void setEntry(Node& node, uint32_t i, uint32_t ptr, const std::string& key);
    void writeEntry(uint8_t* e, bool branch, uint32_t ptr, const std::string& key) const;
    // Compound order of (key, recno) pairs.
    int compareEntry(const std::string& ka, uint32_t ra, const std::string& kb, uint32_t rb) const;
    std::optional<std::pair<std::string, uint32_t>> lastEntry(uint32_t page, int depth) const;
    uint32_t chooseChild(const Node& node, const std::string& key, uint32_t recno, int depth) const;
    uint32_t leafPosition(const Node& node, const std::string& key, uint32_t recno) const;
    std::optional<Split> insertAt(uint32_t page, const std::string& key, uint32_t recno, int depth);
    // Returns whether found. node is the page after the removal; a page left under the fill
    // threshold is not written: the caller rebalances it with a sibling and writes it then.
    bool removeAt(uint32_t page, const std::string& key, uint32_t recno, int depth, Node& node);
    bool underfull(const Node& node) const { return node.n < minFill_; }
    // Child `at` of node is under the threshold: it takes entries from a sibling or is merged
    // with it (node loses an entry then). Writes the children; node is written by the caller.
    void rebalance(Node& node, uint32_t at, Node& child);
    bool scan(uint32_t page, const std::string& key, uint32_t recno, bool fromStart, int depth, const Visit& visit) const;
    void collect(uint32_t page, int depth, std::vector<uint32_t>& out) const;
    uint32_t root() const;
    void setRoot(uint32_t page);
    [[noreturn]] void corrupt(const std::string& why) const;

    File& file_;
    BeforeWrite beforeWrite_;
    bool ndx_;
    bool numeric_;
    bool descending_;
    size_t pageBytes_, pageUnits_, head_, entryLen_, keyOffset_, keyLength_;
    uint32_t maxKeys_;
    uint32_t minFill_;    // fewer entries than this: the page is rebalanced
    uint32_t mergeLimit_; // two siblings holding at most this many together become one page
    uint64_t tagHeader_; // where the root page number is
    bool keep_ = false;
    bool keepBranches_ = false;
    // What is kept of one page: its bytes (any page with keepPages, a branch with
    // keepBranches) or, for a leaf with keepBranches, its last entry.
    struct KeptPage {
        std::vector<uint8_t> bytes; // empty: not kept
        bool lastKnown = false;
        bool lastNone = false;      // the leaf is empty
        std::string lastKey;
        uint32_t lastRecno = 0;
    };
    // Found by page number through a flat table (a lookup is one step, not a hash and a chase).
    const KeptPage* keptOf(uint32_t page) const;
    KeptPage* keptFor(uint32_t page) const; // made on first use; null for a page past the table's reach
    void forget(uint32_t page);
    void keepBytes(KeptPage& k, const std::vector<uint8_t>& bytes) const;
    void keepCopy(const Node& node) const; // after a load or store: the kept copies follow the page
    mutable std::vector<uint32_t> keptSlot_;   // by page number: 1 + index into keptPages_, 0 for none
    mutable std::vector<KeptPage> keptPages_;
    mutable size_t keptBytes_ = 0;
    mutable uint32_t keptRoot_ = 0;
};

// Orders two MDX packed-decimal keys by the numbers they hold, exactly, digit by digit.
int compareMdxNumbers(const std::string& a, const std::string& b);

} // namespace vemo::engine::dbase
