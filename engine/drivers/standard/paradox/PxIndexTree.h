#pragma once
// The tree of an index file (.PX, .Y) held as its blocks: the level-1 blocks (one entry a
// block of the file indexed: its first key, its number, its count) keep their numbers
// across changes, so that a change of a few entries rewrites only the level-1 blocks that
// hold them, plus the few blocks above. A full level-1 block splits into two, an emptied
// one goes back to a list of free blocks that the next split takes first.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vemo::engine::paradox {

struct IndexEntries;

class PxIndexTree {
public:
    // Takes the tree of a file image (header and blocks); false when the image is not a
    // tree it can follow (then the file is built anew and loaded from that).
    bool load(const std::vector<uint8_t>& image);
    // Bytes of a key as the loaded file stores it.
    int keyLength() const { return keyLen_; }
    // Gives the level-1 blocks `wanted` (the entries in key order) and returns the image of
    // the file, `image` (the one loaded or last returned) with only the blocks that change.
    std::vector<uint8_t> update(const std::vector<uint8_t>& image, const IndexEntries& wanted);

    // The entries wanted, described by what changed since the tree last matched them: there
    // are now `count`; the first `same` and the last `sameTail` are as they were, and
    // entryAt(i, out) writes the key, block and count of entry i (keyLength() + 4 bytes)
    // for any i in between. Changes `image` in place and returns the numbers of the blocks
    // it changed (the header always changes when anything does). Work in proportion to the
    // entries changed and the number of level-1 blocks, not to the entries.
    struct Window {
        size_t count = 0, same = 0, sameTail = 0;
        bool scan = false; // find `same` and `sameTail` by comparing every entry instead
        std::function<void(size_t i, uint8_t* key, uint16_t& block, int& count)> entryAt;
    };
    std::vector<uint16_t> update(std::vector<uint8_t>& image, const Window& wanted);
    size_t entries() const { return starts_.empty() ? 0 : starts_.back(); }

private:
    struct Leaf {
        uint16_t no = 0;
        std::vector<uint8_t> entries; // raw entries, rs bytes each
    };
    size_t entriesIn(const Leaf& l) const { return l.entries.size() / size_t(rs_); }
    uint16_t allocate();

    int rs_ = 0, keyLen_ = 0, headerSize_ = 0, blockSize_ = 0, perBlock_ = 0;
    uint16_t fileBlocks_ = 0;
    void recount();
    std::vector<size_t> keptCuts(size_t la, size_t lb, size_t from, const std::vector<uint8_t>& w, size_t e) const;
    std::vector<Leaf> leaves_;
    std::vector<size_t> starts_; // entries before each leaf (and the total)
    std::vector<long> sums_;     // records under each leaf
    std::vector<uint16_t> upper_; // numbers of the blocks above level 1
    std::vector<uint16_t> free_;
};

} // namespace vemo::engine::paradox
