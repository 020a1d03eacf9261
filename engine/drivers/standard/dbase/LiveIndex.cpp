#include "engine/drivers/standard/dbase/LiveIndex.h"

#include <algorithm>
#include <bit>

namespace vemo::engine::dbase {

void LiveIndex::reset(uint32_t records) {
    records_ = records;
    scanned_ = 0;
    bits_.clear();
    liveBefore_.assign(1, 0);
}

bool LiveIndex::scanNext(const FlagReader& isDeleted) {
    if (scanned_ >= records_)
        return false;
    const uint32_t first = scanned_;
    const uint32_t end = std::min<uint32_t>(records_, first + Block);
    bits_.resize((end + 63) / 64, 0);
    int64_t live = 0;
    for (uint32_t r = first; r < end; ++r) {
        if (isDeleted(r))
            bits_[r / 64] |= uint64_t(1) << (r % 64);
        else
            ++live;
    }
    liveBefore_.push_back(liveBefore_.back() + live);
    scanned_ = end;
    return true;
}

int64_t LiveIndex::recnoAt(int64_t pos, const FlagReader& isDeleted) {
    if (pos < 0)
        return -1;
    while (liveBefore_.back() <= pos)
        if (!scanNext(isDeleted))
            return -1;
    // The block whose live range holds pos.
    auto it = std::upper_bound(liveBefore_.begin(), liveBefore_.end(), pos);
    const size_t block = static_cast<size_t>(it - liveBefore_.begin()) - 1;
    int64_t rest = pos - liveBefore_[block];
    uint32_t r = static_cast<uint32_t>(block) * Block;
    const uint32_t end = std::min<uint32_t>(scanned_, r + Block);
    const int64_t blockLive = liveBefore_[block + 1] - liveBefore_[block];
    if (blockLive == static_cast<int64_t>(end - r))
        return r + rest; // no deletions in this block
    while (r < end) {
        if (r % 64 == 0 && r + 64 <= end) {
            const int live = 64 - std::popcount(bits_[r / 64]);
            if (rest >= live) {
                rest -= live;
                r += 64;
                continue;
            }
        }
        if (!deleted(r)) {
            if (rest == 0)
                return r;
            --rest;
        }
        ++r;
    }
    return -1;
}

int64_t LiveIndex::positionOf(uint32_t recno, const FlagReader& isDeleted) {
    if (recno >= records_)
        return -1;
    while (scanned_ <= recno)
        scanNext(isDeleted);
    if (deleted(recno))
        return -1;
    const uint32_t block = recno / Block;
    int64_t pos = liveBefore_[block];
    for (uint32_t r = block * Block; r < recno; ++r)
        if (!deleted(r))
            ++pos;
    return pos;
}

int64_t LiveIndex::liveCount(const FlagReader& isDeleted) {
    while (scanNext(isDeleted)) {
    }
    return liveBefore_.back();
}

bool LiveIndex::isLive(uint32_t recno, const FlagReader& isDeleted) {
    if (recno >= records_)
        return false;
    while (scanned_ <= recno)
        scanNext(isDeleted);
    return !deleted(recno);
}

void LiveIndex::markDeleted(uint32_t recno) {
    if (recno >= scanned_ || deleted(recno))
        return; // not scanned yet: the scan will read the new flag from the file
    bits_[recno / 64] |= uint64_t(1) << (recno % 64);
    for (size_t b = recno / Block + 1; b < liveBefore_.size(); ++b)
        --liveBefore_[b];
}

void LiveIndex::appended(uint32_t recno) {
    if (recno != records_)
        return;
    ++records_;
    if (scanned_ + 1 != records_)
        return; // the scan has not reached the end; it will read the new record itself
    // The scan had covered everything: extend the last block, or start a new one.
    if (scanned_ % Block != 0) {
        ++liveBefore_.back();
    } else {
        liveBefore_.push_back(liveBefore_.back() + 1);
    }
    scanned_ = records_;
    bits_.resize((records_ + 63) / 64, 0);
}

} // namespace vemo::engine::dbase
