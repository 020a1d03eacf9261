#pragma once
// Record numbers in an index order, kept in blocks of at most a few thousand: a record that
// comes in or leaves moves only the entries of its own block and the start positions of the
// blocks after it, so a write costs about the square root of the table's size rather than a
// shift of the whole list. Positions are 0-based.
//
// Beside each record number the order may keep the leading bytes of the record's sortable
// key (keyBytes() of them, 0 for none), so that a search through the order compares in
// memory instead of reading each record it passes; a key not known yet is learnt by the
// caller and handed in with setKey. The kept key is the one the record had when it took its
// place, which is what keeps the order sorted: whoever changes a record's key moves its
// entry (erase, insert with the new key). For a key longer than the kept bytes the order
// also keeps whether the rest of it is blank (spaces, how character keys are padded), so that
// two short keys tie without a read.
//
// An entry's record number, key bytes and their kind lie side by side, and the first entry
// of every block is copied into one small array, so that a search (lowerBound) touches a
// few cache lines of that array and then one line per step inside a single block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

class RecordOrder {
public:
    RecordOrder() = default;
    // No key known yet.
    explicit RecordOrder(const std::vector<uint32_t>& recnos, size_t keyBytes = 0);
    // keys: the sortable key of each record in turn, `width` bytes each.
    RecordOrder(const std::vector<uint32_t>& recnos, const std::string& keys, size_t width, size_t keyBytes);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t keyBytes() const { return keyBytes_; }
    uint32_t operator[](size_t pos) const;
    // The record number at pos and its kept key bytes (null when not known).
    struct Entry {
        uint32_t recno;
        const char* key;
        bool restBlank; // every byte of the key past the kept ones is a space
    };
    Entry entry(size_t pos) const;
    // key: the record's sortable key (its first keyBytes() are kept), or null.
    void insert(size_t pos, uint32_t recno, const std::string* key = nullptr);
    void setKey(size_t pos, const std::string& key);
    void erase(size_t pos);
    // Position of the first entry holding recno (a pass over the whole order); size() if none.
    size_t find(uint32_t recno) const;
    std::vector<uint32_t> toVector() const;
    // Whether every byte of key from `from` to `to` is a space.
    static bool blankBetween(const std::string& key, size_t from, size_t to);

    // The first position whose entry is not before the sought one: before(pos, entry) must
    // be true for a prefix of the order and false after it. It may call setKey(pos, ...).
    template <typename Before>
    size_t lowerBound(Before&& before);

    template <typename F>
    void forEach(F&& f) const {
        for (const auto& b : blocks_)
            for (size_t i = 0; i < b.count; ++i)
                f(recnoOf(b.bytes.data() + i * stride_));
    }

    static constexpr size_t BlockSize = 512; // a block splits in two past twice this

private:
    // An entry: record number (4 bytes), kind (1), key bytes (keyBytes_).
    enum : uint8_t { Unknown = 0, Known = 1, KnownRestBlank = 2 };
    struct Block {
        std::vector<uint8_t> bytes; // count entries of stride_ bytes
        size_t count = 0;
    };
    static uint32_t recnoOf(const uint8_t* e) {
        uint32_t r;
        std::memcpy(&r, e, 4);
        return r;
    }
    Entry entryAt(const uint8_t* e) const {
        const uint8_t kind = keyBytes_ ? e[4] : uint8_t(Unknown);
        return {recnoOf(e), kind != Unknown ? reinterpret_cast<const char*>(e + 5) : nullptr, kind == KnownRestBlank};
    }
    void fill(uint8_t* e, uint32_t recno, const std::string* key) const;
    uint8_t kindOf(const std::string* key) const;
    // Block holding pos and pos's offset in it (pos == size() gives the end of the last block).
    std::pair<size_t, size_t> locate(size_t pos) const;
    void restart(size_t fromBlock); // recomputes starts_ from that block on
    void split(size_t b);           // a block past twice BlockSize gives its upper part away
    void join(size_t b);            // block b takes in block b + 1
    void setFence(size_t b);        // block b's first entry changed

    std::vector<Block> blocks_;
    std::vector<size_t> starts_;   // position of each block's first entry
    std::vector<uint8_t> fences_;  // each block's first entry, stride_ bytes a block
    size_t size_ = 0;
    size_t keyBytes_ = 0;
    size_t stride_ = 5;
};

template <typename Before>
size_t RecordOrder::lowerBound(Before&& before) {
    if (size_ == 0)
        return 0;
    // The last block whose first entry is before the sought one; none: position 0.
    size_t lo = 0, hi = blocks_.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (before(starts_[mid], entryAt(fences_.data() + mid * stride_)))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0)
        return 0;
    const size_t b = lo - 1;
    // Inside it, past its first entry.
    size_t l = 1, h = blocks_[b].count;
    while (l < h) {
        const size_t mid = (l + h) / 2;
        if (before(starts_[b] + mid, entryAt(blocks_[b].bytes.data() + mid * stride_)))
            l = mid + 1;
        else
            h = mid;
    }
    return starts_[b] + l;
}

} // namespace vemo::engine::dbase
