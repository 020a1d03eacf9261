#include "engine/drivers/standard/dbase/RecordOrder.h"

#include <algorithm>
#include <stdexcept>

namespace vemo::engine::dbase {

RecordOrder::RecordOrder(const std::vector<uint32_t>& recnos) : size_(recnos.size()) {
    for (size_t at = 0; at < recnos.size(); at += BlockSize) {
        const size_t end = std::min(recnos.size(), at + BlockSize);
        blocks_.emplace_back(recnos.begin() + static_cast<std::ptrdiff_t>(at), recnos.begin() + static_cast<std::ptrdiff_t>(end));
    }
    restart(0);
}

void RecordOrder::restart(size_t fromBlock) {
    starts_.resize(blocks_.size());
    size_t at = fromBlock == 0 ? 0 : starts_[fromBlock - 1] + blocks_[fromBlock - 1].size();
    for (size_t b = fromBlock; b < blocks_.size(); ++b) {
        starts_[b] = at;
        at += blocks_[b].size();
    }
}

std::pair<size_t, size_t> RecordOrder::locate(size_t pos) const {
    if (blocks_.empty())
        return {0, 0};
    // The last block starting at or before pos.
    auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
    const size_t b = static_cast<size_t>(it - starts_.begin()) - 1;
    return {b, pos - starts_[b]};
}

uint32_t RecordOrder::operator[](size_t pos) const {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    const auto [b, off] = locate(pos);
    return blocks_[b][off];
}

void RecordOrder::insert(size_t pos, uint32_t recno) {
    if (pos > size_)
        throw std::out_of_range("RecordOrder position");
    if (blocks_.empty()) {
        blocks_.emplace_back(1, recno);
        size_ = 1;
        restart(0);
        return;
    }
    auto [b, off] = locate(pos);
    if (off == 0 && b > 0 && pos == starts_[b] && blocks_[b - 1].size() < blocks_[b].size()) {
        // The seam between two blocks: the smaller side takes the entry.
        --b;
        off = blocks_[b].size();
    }
    auto& block = blocks_[b];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(off), recno);
    ++size_;
    if (block.size() > 2 * BlockSize) {
        std::vector<uint32_t> upper(block.begin() + static_cast<std::ptrdiff_t>(BlockSize), block.end());
        block.resize(BlockSize);
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    }
    restart(b);
}

void RecordOrder::erase(size_t pos) {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    auto [b, off] = locate(pos);
    auto& block = blocks_[b];
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(off));
    --size_;
    if (block.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    } else if (b + 1 < blocks_.size() && block.size() + blocks_[b + 1].size() <= BlockSize) {
        // Two small neighbours become one, so deletions do not leave a trail of tiny blocks.
        block.insert(block.end(), blocks_[b + 1].begin(), blocks_[b + 1].end());
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    }
    restart(b == 0 ? 0 : std::min(b, blocks_.size()));
}

size_t RecordOrder::find(uint32_t recno) const {
    for (size_t b = 0; b < blocks_.size(); ++b) {
        auto it = std::find(blocks_[b].begin(), blocks_[b].end(), recno);
        if (it != blocks_[b].end())
            return starts_[b] + static_cast<size_t>(it - blocks_[b].begin());
    }
    return size_;
}

std::vector<uint32_t> RecordOrder::toVector() const {
    std::vector<uint32_t> out;
    out.reserve(size_);
    forEach([&](uint32_t r) { out.push_back(r); });
    return out;
}

} // namespace vemo::engine::dbase
