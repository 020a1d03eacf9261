#include "engine/drivers/standard/dbase/RecordOrder.h"

#include <algorithm>
#include <stdexcept>

namespace vemo::engine::dbase {

RecordOrder::RecordOrder(const std::vector<uint32_t>& recnos, size_t keyBytes)
    : size_(recnos.size()), keyBytes_(keyBytes), stride_(5 + keyBytes) {
    for (size_t at = 0; at < recnos.size(); at += BlockSize) {
        const size_t end = std::min(recnos.size(), at + BlockSize);
        Block b;
        b.count = end - at;
        b.bytes.assign(b.count * stride_, 0);
        for (size_t i = at; i < end; ++i)
            fill(b.bytes.data() + (i - at) * stride_, recnos[i], nullptr);
        blocks_.push_back(std::move(b));
    }
    fences_.resize(blocks_.size() * stride_);
    for (size_t b = 0; b < blocks_.size(); ++b)
        setFence(b);
    restart(0);
}

RecordOrder::RecordOrder(const std::vector<uint32_t>& recnos, const std::string& keys, size_t width, size_t keyBytes)
    : RecordOrder(recnos, std::min(width, keyBytes)) {
    if (!keyBytes_ || keys.size() < recnos.size() * width)
        return;
    size_t i = 0;
    for (Block& b : blocks_) {
        for (size_t j = 0; j < b.count; ++j, ++i) {
            const char* k = keys.data() + i * width;
            uint8_t* e = b.bytes.data() + j * stride_;
            e[4] = std::all_of(k + keyBytes_, k + width, [](char c) { return c == ' '; }) ? KnownRestBlank : Known;
            std::memcpy(e + 5, k, keyBytes_);
        }
    }
    for (size_t b = 0; b < blocks_.size(); ++b)
        setFence(b);
}

bool RecordOrder::blankBetween(const std::string& key, size_t from, size_t to) {
    to = std::min(to, key.size());
    return from >= to || std::all_of(key.begin() + static_cast<std::ptrdiff_t>(from),
                                     key.begin() + static_cast<std::ptrdiff_t>(to), [](char c) { return c == ' '; });
}

uint8_t RecordOrder::kindOf(const std::string* key) const {
    if (!key || key->size() < keyBytes_)
        return Unknown;
    return blankBetween(*key, keyBytes_, key->size()) ? KnownRestBlank : Known;
}

void RecordOrder::fill(uint8_t* e, uint32_t recno, const std::string* key) const {
    std::memcpy(e, &recno, 4);
    const uint8_t kind = keyBytes_ ? kindOf(key) : uint8_t(Unknown);
    e[4] = kind;
    if (kind != Unknown)
        std::memcpy(e + 5, key->data(), keyBytes_);
    else
        std::memset(e + 5, 0, keyBytes_);
}

void RecordOrder::setFence(size_t b) {
    std::memcpy(fences_.data() + b * stride_, blocks_[b].bytes.data(), stride_);
}

void RecordOrder::restart(size_t fromBlock) {
    starts_.resize(blocks_.size());
    size_t at = fromBlock == 0 ? 0 : starts_[fromBlock - 1] + blocks_[fromBlock - 1].count;
    for (size_t b = fromBlock; b < blocks_.size(); ++b) {
        starts_[b] = at;
        at += blocks_[b].count;
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

uint32_t RecordOrder::operator[](size_t pos) const { return entry(pos).recno; }

RecordOrder::Entry RecordOrder::entry(size_t pos) const {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    const auto [b, off] = locate(pos);
    return entryAt(blocks_[b].bytes.data() + off * stride_);
}

void RecordOrder::setKey(size_t pos, const std::string& key) {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    if (!keyBytes_ || kindOf(&key) == Unknown)
        return;
    const auto [b, off] = locate(pos);
    uint8_t* e = blocks_[b].bytes.data() + off * stride_;
    fill(e, recnoOf(e), &key);
    if (off == 0)
        setFence(b);
}

void RecordOrder::split(size_t b) {
    Block upper;
    {
        Block& block = blocks_[b];
        upper.count = block.count - BlockSize;
        upper.bytes.assign(block.bytes.begin() + static_cast<std::ptrdiff_t>(BlockSize * stride_), block.bytes.end());
        block.bytes.resize(BlockSize * stride_);
        block.count = BlockSize;
    }
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    fences_.insert(fences_.begin() + static_cast<std::ptrdiff_t>((b + 1) * stride_), stride_, 0);
    setFence(b + 1);
}

void RecordOrder::join(size_t b) {
    Block& block = blocks_[b];
    Block& next = blocks_[b + 1];
    block.bytes.insert(block.bytes.end(), next.bytes.begin(), next.bytes.end());
    block.count += next.count;
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    const auto f = fences_.begin() + static_cast<std::ptrdiff_t>((b + 1) * stride_);
    fences_.erase(f, f + static_cast<std::ptrdiff_t>(stride_));
}

void RecordOrder::insert(size_t pos, uint32_t recno, const std::string* key) {
    if (pos > size_)
        throw std::out_of_range("RecordOrder position");
    if (blocks_.empty()) {
        blocks_.emplace_back();
        fences_.assign(stride_, 0);
        restart(0);
    }
    auto [b, off] = locate(pos);
    if (off == 0 && b > 0 && pos == starts_[b] && blocks_[b - 1].count < blocks_[b].count) {
        // The seam between two blocks: the smaller side takes the entry.
        --b;
        off = blocks_[b].count;
    }
    Block& block = blocks_[b];
    std::vector<uint8_t> e(stride_);
    fill(e.data(), recno, key);
    block.bytes.insert(block.bytes.begin() + static_cast<std::ptrdiff_t>(off * stride_), e.begin(), e.end());
    ++block.count;
    ++size_;
    if (off == 0)
        setFence(b);
    if (block.count > 2 * BlockSize)
        split(b);
    restart(b);
}

void RecordOrder::erase(size_t pos) {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    auto [b, off] = locate(pos);
    Block& block = blocks_[b];
    const auto at = block.bytes.begin() + static_cast<std::ptrdiff_t>(off * stride_);
    block.bytes.erase(at, at + static_cast<std::ptrdiff_t>(stride_));
    --block.count;
    --size_;
    if (block.count == 0) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
        const auto f = fences_.begin() + static_cast<std::ptrdiff_t>(b * stride_);
        fences_.erase(f, f + static_cast<std::ptrdiff_t>(stride_));
    } else {
        if (off == 0)
            setFence(b);
        if (b + 1 < blocks_.size() && block.count + blocks_[b + 1].count <= BlockSize)
            join(b); // two small neighbours become one, so deletions leave no trail of tiny blocks
    }
    restart(b == 0 ? 0 : std::min(b, blocks_.size()));
}

size_t RecordOrder::find(uint32_t recno) const {
    for (size_t b = 0; b < blocks_.size(); ++b) {
        const Block& block = blocks_[b];
        for (size_t i = 0; i < block.count; ++i)
            if (recnoOf(block.bytes.data() + i * stride_) == recno)
                return starts_[b] + i;
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
