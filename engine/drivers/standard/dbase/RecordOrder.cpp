#include "engine/drivers/standard/dbase/RecordOrder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vemo::engine::dbase {

RecordOrder::RecordOrder(const std::vector<uint32_t>& recnos, size_t keyBytes) : size_(recnos.size()), keyBytes_(keyBytes) {
    for (size_t at = 0; at < recnos.size(); at += BlockSize) {
        const size_t end = std::min(recnos.size(), at + BlockSize);
        Block b;
        b.recnos.assign(recnos.begin() + static_cast<std::ptrdiff_t>(at), recnos.begin() + static_cast<std::ptrdiff_t>(end));
        if (keyBytes_) {
            b.keys.assign((end - at) * keyBytes_, '\0');
            b.known.assign(end - at, 0);
        }
        blocks_.push_back(std::move(b));
    }
    restart(0);
}

RecordOrder::RecordOrder(const std::vector<uint32_t>& recnos, const std::string& keys, size_t width, size_t keyBytes)
    : RecordOrder(recnos, std::min(width, keyBytes)) {
    if (!keyBytes_ || keys.size() < recnos.size() * width)
        return;
    size_t i = 0;
    for (Block& b : blocks_) {
        for (size_t j = 0; j < b.recnos.size(); ++j, ++i) {
            const char* k = keys.data() + i * width;
            std::memcpy(b.keys.data() + j * keyBytes_, k, keyBytes_);
            b.known[j] = std::all_of(k + keyBytes_, k + width, [](char c) { return c == ' '; }) ? KnownRestBlank : Known;
        }
    }
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

void RecordOrder::restart(size_t fromBlock) {
    starts_.resize(blocks_.size());
    size_t at = fromBlock == 0 ? 0 : starts_[fromBlock - 1] + blocks_[fromBlock - 1].recnos.size();
    for (size_t b = fromBlock; b < blocks_.size(); ++b) {
        starts_[b] = at;
        at += blocks_[b].recnos.size();
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
    const Block& block = blocks_[b];
    const uint8_t kind = keyBytes_ ? block.known[off] : uint8_t(Unknown);
    return {block.recnos[off], kind != Unknown ? block.keys.data() + off * keyBytes_ : nullptr, kind == KnownRestBlank};
}

void RecordOrder::setKey(size_t pos, const std::string& key) {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    const uint8_t kind = kindOf(&key);
    if (!keyBytes_ || kind == Unknown)
        return;
    const auto [b, off] = locate(pos);
    std::memcpy(blocks_[b].keys.data() + off * keyBytes_, key.data(), keyBytes_);
    blocks_[b].known[off] = kind;
}

void RecordOrder::split(size_t b) {
    Block& block = blocks_[b];
    Block upper;
    const auto from = static_cast<std::ptrdiff_t>(BlockSize);
    upper.recnos.assign(block.recnos.begin() + from, block.recnos.end());
    block.recnos.resize(BlockSize);
    if (keyBytes_) {
        upper.keys = block.keys.substr(BlockSize * keyBytes_);
        block.keys.resize(BlockSize * keyBytes_);
        upper.known.assign(block.known.begin() + from, block.known.end());
        block.known.resize(BlockSize);
    }
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
}

void RecordOrder::join(size_t b) {
    Block& block = blocks_[b];
    Block& next = blocks_[b + 1];
    block.recnos.insert(block.recnos.end(), next.recnos.begin(), next.recnos.end());
    block.keys += next.keys;
    block.known.insert(block.known.end(), next.known.begin(), next.known.end());
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
}

void RecordOrder::insert(size_t pos, uint32_t recno, const std::string* key) {
    if (pos > size_)
        throw std::out_of_range("RecordOrder position");
    if (blocks_.empty()) {
        blocks_.emplace_back();
        restart(0);
    }
    auto [b, off] = locate(pos);
    if (off == 0 && b > 0 && pos == starts_[b] && blocks_[b - 1].recnos.size() < blocks_[b].recnos.size()) {
        // The seam between two blocks: the smaller side takes the entry.
        --b;
        off = blocks_[b].recnos.size();
    }
    Block& block = blocks_[b];
    block.recnos.insert(block.recnos.begin() + static_cast<std::ptrdiff_t>(off), recno);
    if (keyBytes_) {
        const uint8_t kind = kindOf(key);
        block.keys.insert(off * keyBytes_, kind != Unknown ? key->data() : std::string(keyBytes_, '\0').data(), keyBytes_);
        block.known.insert(block.known.begin() + static_cast<std::ptrdiff_t>(off), kind);
    }
    ++size_;
    if (block.recnos.size() > 2 * BlockSize)
        split(b);
    restart(b);
}

void RecordOrder::erase(size_t pos) {
    if (pos >= size_)
        throw std::out_of_range("RecordOrder position");
    auto [b, off] = locate(pos);
    Block& block = blocks_[b];
    block.recnos.erase(block.recnos.begin() + static_cast<std::ptrdiff_t>(off));
    if (keyBytes_) {
        block.keys.erase(off * keyBytes_, keyBytes_);
        block.known.erase(block.known.begin() + static_cast<std::ptrdiff_t>(off));
    }
    --size_;
    if (block.recnos.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    } else if (b + 1 < blocks_.size() && block.recnos.size() + blocks_[b + 1].recnos.size() <= BlockSize) {
        // Two small neighbours become one, so deletions do not leave a trail of tiny blocks.
        join(b);
    }
    restart(b == 0 ? 0 : std::min(b, blocks_.size()));
}

size_t RecordOrder::find(uint32_t recno) const {
    for (size_t b = 0; b < blocks_.size(); ++b) {
        const auto& r = blocks_[b].recnos;
        auto it = std::find(r.begin(), r.end(), recno);
        if (it != r.end())
            return starts_[b] + static_cast<size_t>(it - r.begin());
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
