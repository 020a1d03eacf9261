#pragma once
// Record numbers in an index order, kept in blocks of at most a few thousand: a record that
// comes in or leaves moves only the entries of its own block and the start positions of the
// blocks after it, so a write costs about the square root of the table's size rather than a
// shift of the whole list. Positions are 0-based.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vemo::engine::dbase {

class RecordOrder {
public:
    RecordOrder() = default;
    explicit RecordOrder(const std::vector<uint32_t>& recnos);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint32_t operator[](size_t pos) const;
    void insert(size_t pos, uint32_t recno);
    void erase(size_t pos);
    // Position of the first entry holding recno (a pass over the whole order); size() if none.
    size_t find(uint32_t recno) const;
    std::vector<uint32_t> toVector() const;

    template <typename F>
    void forEach(F&& f) const {
        for (const auto& b : blocks_)
            for (uint32_t r : b)
                f(r);
    }

    static constexpr size_t BlockSize = 2048; // a block splits in two past twice this

private:
    // Block holding pos and pos's offset in it (pos == size() gives the end of the last block).
    std::pair<size_t, size_t> locate(size_t pos) const;
    void restart(size_t fromBlock); // recomputes starts_ from that block on

    std::vector<std::vector<uint32_t>> blocks_;
    std::vector<size_t> starts_; // position of each block's first entry
    size_t size_ = 0;
};

} // namespace vemo::engine::dbase
