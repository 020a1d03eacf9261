#include "PxIndexTree.h"

#include "PxCodec.h"
#include "PxHeader.h"
#include "PxIndexFiles.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace vemo::engine::paradox {

bool PxIndexTree::load(const std::vector<uint8_t>& image) {
    leaves_.clear();
    upper_.clear();
    free_.clear();
    if (image.size() < 0x58) return false;
    const uint8_t* d = image.data();
    rs_ = getLE16(d + HoRecordSize);
    headerSize_ = getLE16(d + HoHeaderSize);
    blockSize_ = d[HoBlockSizeK] * 0x400;
    keyLen_ = rs_ - 6;
    fileBlocks_ = getLE16(d + HoFileBlocks);
    const int levels = d[HoIndexLevels];
    const uint16_t root = getLE16(d + HoIndexRoot);
    if (keyLen_ < 1 || blockSize_ < 0x400 || headerSize_ < 0x58 || levels < 1 || levels > 16) return false;
    perBlock_ = (blockSize_ - 6) / rs_;
    if (perBlock_ < 2 || image.size() < size_t(headerSize_) + size_t(fileBlocks_) * size_t(blockSize_)) return false;
    std::vector<bool> seen(size_t(fileBlocks_) + 1, false);
    // Down from the root: every block reached once, level 1 collected in key order.
    std::function<bool(uint16_t, int)> walk = [&](uint16_t no, int level) {
        if (no < 1 || no > fileBlocks_ || seen[no]) return false;
        seen[no] = true;
        const uint8_t* b = d + headerSize_ + size_t(no - 1) * size_t(blockSize_);
        const int add = int16_t(getLE16(b + 4));
        const int n = add < 0 ? 0 : add / rs_ + 1;
        if (add >= 0 && (add % rs_ != 0 || n > perBlock_)) return false;
        if (level == 1) {
            leaves_.push_back({no, std::vector<uint8_t>(b + 6, b + 6 + size_t(n) * size_t(rs_))});
            return true;
        }
        upper_.push_back(no);
        for (int i = 0; i < n; ++i)
            if (!walk(uint16_t(getShortBE(b + 6 + size_t(i) * size_t(rs_) + size_t(keyLen_))), level - 1)) return false;
        return n > 0;
    };
    if (!walk(root, levels)) {
        leaves_.clear();
        upper_.clear();
        return false;
    }
    for (uint16_t no = fileBlocks_; no >= 1; --no)
        if (!seen[no]) free_.push_back(no);
    return true;
}

uint16_t PxIndexTree::allocate() {
    if (!free_.empty()) {
        const uint16_t no = free_.back();
        free_.pop_back();
        return no;
    }
    return ++fileBlocks_;
}

void PxIndexTree::putBlock(std::vector<uint8_t>& image, uint16_t no, const uint8_t* entries, size_t n, uint16_t next,
                           uint16_t prev) const {
    uint8_t* b = image.data() + headerSize_ + size_t(no - 1) * size_t(blockSize_);
    std::memset(b, 0, size_t(blockSize_));
    putLE16(b, next);
    putLE16(b + 2, prev);
    putLE16(b + 4, uint16_t(int16_t((int(n) - 1) * rs_)));
    if (n) std::memcpy(b + 6, entries, n * size_t(rs_));
}

std::vector<uint8_t> PxIndexTree::update(const std::vector<uint8_t>& image, const IndexEntries& wanted) {
    if (wanted.keyLength != keyLen_)
        throw EngineError(ErrCorruptFile, "索引のキーの長さが表と合いません");
    // The wanted entries as they are stored.
    const size_t nw = wanted.size();
    std::vector<uint8_t> w(nw * size_t(rs_));
    for (size_t i = 0; i < nw; ++i) {
        uint8_t* e = w.data() + i * size_t(rs_);
        std::memcpy(e, wanted.keys.data() + i * size_t(keyLen_), size_t(keyLen_));
        putShortBE(e + keyLen_, wanted.blocks[i]);
        putShortBE(e + keyLen_ + 2, std::min(wanted.counts[i], 32767));
        putShortBE(e + keyLen_ + 4, 0);
    }
    // Where the old entries and the wanted ones start to differ, from either end.
    std::vector<size_t> start(leaves_.size() + 1, 0);
    std::vector<uint8_t> o;
    for (size_t i = 0; i < leaves_.size(); ++i) {
        start[i + 1] = start[i] + entriesIn(leaves_[i]);
        o.insert(o.end(), leaves_[i].entries.begin(), leaves_[i].entries.end());
    }
    const size_t no = start.back();
    const size_t r = size_t(rs_);
    size_t p = 0;
    while (p < no && p < nw && std::memcmp(o.data() + p * r, w.data() + p * r, r) == 0) ++p;
    if (p == no && p == nw) return image;
    size_t q = 0;
    while (q < no - p && q < nw - p && std::memcmp(o.data() + (no - 1 - q) * r, w.data() + (nw - 1 - q) * r, r) == 0) ++q;
    // The level-1 blocks around the change, a neighbour included so that blocks left nearly
    // empty are merged.
    auto leafOf = [&](size_t pos) {
        return size_t(std::upper_bound(start.begin(), start.end(), pos) - start.begin()) - 1;
    };
    size_t la = 0, lb = 0;
    if (no > 0) {
        la = leafOf(p > 0 ? p - 1 : 0);
        lb = leafOf(std::min(no - q, no - 1));
        if (lb < la) lb = la;
    }
    const size_t from = no > 0 ? start[la] : 0;
    const size_t oldTo = no > 0 ? start[lb + 1] : 0;
    const size_t newTo = oldTo + nw - no;
    const size_t e = newTo - from;
    const size_t k = leaves_.empty() ? 0 : lb - la + 1;
    size_t m = (e + size_t(perBlock_) - 1) / size_t(perBlock_);
    if (m < k && e >= k) m = std::min(k, (e + size_t(perBlock_) / 2 - 1) / (size_t(perBlock_) / 2)); // keep halves
    if (m == 0 && leaves_.size() == k) m = 1;                                                       // one empty block stays
    std::vector<Leaf> fresh(m);
    for (size_t i = 0; i < m; ++i) {
        const size_t a = from + e * i / m, b = from + e * (i + 1) / m;
        fresh[i].entries.assign(w.data() + a * size_t(rs_), w.data() + b * size_t(rs_));
        fresh[i].no = i < k ? leaves_[la + i].no : allocate();
    }
    for (size_t i = m; i < k; ++i) free_.push_back(leaves_[la + i].no);
    std::vector<uint16_t> touched;
    for (const auto& f : fresh) touched.push_back(f.no);
    if (k) leaves_.erase(leaves_.begin() + long(la), leaves_.begin() + long(la + k));
    leaves_.insert(leaves_.begin() + long(la), fresh.begin(), fresh.end());

    // The levels above, packed anew into the blocks they had (and more when they grow).
    std::vector<uint16_t> oldUpper = std::move(upper_);
    upper_.clear();
    std::reverse(oldUpper.begin(), oldUpper.end());
    auto upperBlock = [&]() {
        if (!oldUpper.empty()) {
            const uint16_t n = oldUpper.back();
            oldUpper.pop_back();
            return n;
        }
        return allocate();
    };
    struct Level {
        std::vector<uint8_t> entries;
        std::vector<uint16_t> blocks;
        std::vector<size_t> sizes;
    };
    std::vector<Level> levels;
    // Level-1 entries of the level above: first key, block, sum of counts.
    std::vector<uint8_t> up;
    auto entryFor = [&](const uint8_t* firstEntry, uint16_t block, long sum) {
        const size_t at = up.size();
        up.resize(at + size_t(rs_));
        std::memcpy(up.data() + at, firstEntry, size_t(keyLen_));
        putShortBE(up.data() + at + keyLen_, block);
        putShortBE(up.data() + at + keyLen_ + 2, int(std::min<long>(sum, 32767)));
        putShortBE(up.data() + at + keyLen_ + 4, 0);
    };
    std::vector<long> levelSums; // exact counts under each entry of `up`
    for (const auto& l : leaves_) {
        long sum = 0;
        for (size_t i = 0; i < entriesIn(l); ++i) sum += getShortBE(l.entries.data() + i * r + size_t(keyLen_) + 2);
        if (!entriesIn(l)) continue;
        entryFor(l.entries.data(), l.no, sum);
        levelSums.push_back(sum);
    }
    std::vector<uint8_t> out = image;
    uint16_t root = leaves_.front().no;
    int depth = 1;
    while (leaves_.size() > 1 && (depth == 1 || levels.back().blocks.size() > 1)) {
        Level lv;
        lv.entries = std::move(up);
        up.clear();
        const size_t n = lv.entries.size() / r;
        std::vector<long> nextSums;
        for (size_t i = 0; i < n; i += size_t(perBlock_)) {
            const size_t cnt = std::min(size_t(perBlock_), n - i);
            lv.blocks.push_back(upperBlock());
            lv.sizes.push_back(cnt);
            long sum = 0;
            for (size_t j = 0; j < cnt; ++j) sum += levelSums[i + j];
            entryFor(lv.entries.data() + i * r, lv.blocks.back(), sum);
            nextSums.push_back(sum);
        }
        levelSums = std::move(nextSums);
        upper_.insert(upper_.end(), lv.blocks.begin(), lv.blocks.end());
        levels.push_back(std::move(lv));
        ++depth;
        root = levels.back().blocks.front();
    }
    for (uint16_t n : oldUpper) free_.push_back(n);
    out.resize(size_t(headerSize_) + size_t(fileBlocks_) * size_t(blockSize_), 0);
    // Level 1: the new blocks, and the links of every block (only changed bytes reach the file).
    for (size_t i = 0; i < leaves_.size(); ++i) {
        const uint16_t next = i + 1 < leaves_.size() ? leaves_[i + 1].no : 0, prev = i > 0 ? leaves_[i - 1].no : 0;
        if (std::find(touched.begin(), touched.end(), leaves_[i].no) != touched.end()) {
            putBlock(out, leaves_[i].no, leaves_[i].entries.data(), entriesIn(leaves_[i]), next, prev);
        } else {
            uint8_t* b = out.data() + headerSize_ + size_t(leaves_[i].no - 1) * size_t(blockSize_);
            putLE16(b, next);
            putLE16(b + 2, prev);
        }
    }
    uint32_t total = uint32_t(nw);
    for (const auto& lv : levels) {
        size_t at = 0;
        for (size_t i = 0; i < lv.blocks.size(); ++i) {
            const uint16_t next = i + 1 < lv.blocks.size() ? lv.blocks[i + 1] : 0, prev = i > 0 ? lv.blocks[i - 1] : 0;
            putBlock(out, lv.blocks[i], lv.entries.data() + at * size_t(rs_), lv.sizes[i], next, prev);
            at += lv.sizes[i];
        }
        total += uint32_t(at);
    }
    for (uint16_t n : free_)
        if (n <= fileBlocks_) putBlock(out, n, nullptr, 0, 0, 0);
    uint8_t* h = out.data();
    putLE32(h + HoNumRecords, total);
    putLE16(h + HoUsedBlocks, fileBlocks_);
    putLE16(h + HoFileBlocks, fileBlocks_);
    putLE16(h + HoMaxBlocks, fileBlocks_);
    putLE16(h + HoFirstBlock, leaves_.front().no);
    putLE16(h + HoLastBlock, fileBlocks_);
    putLE16(h + HoIndexRoot, root);
    h[HoIndexLevels] = uint8_t(depth);
    return out;
}

} // namespace vemo::engine::paradox
