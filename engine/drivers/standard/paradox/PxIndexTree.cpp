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
    recount();
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

std::vector<uint8_t> PxIndexTree::update(const std::vector<uint8_t>& image, const IndexEntries& wanted) {
    if (wanted.keyLength != keyLen_)
        throw EngineError(ErrCorruptFile, "索引のキーの長さが表と合いません");
    Window w;
    w.count = wanted.size();
    w.scan = true;
    w.entryAt = [&](size_t i, uint8_t* key, uint16_t& block, int& count) {
        std::memcpy(key, wanted.keys.data() + i * size_t(keyLen_), size_t(keyLen_));
        block = wanted.blocks[i];
        count = wanted.counts[i];
    };
    std::vector<uint8_t> out = image;
    update(out, w);
    return out;
}

void PxIndexTree::recount() {
    const size_t r = size_t(rs_);
    starts_.assign(1, 0);
    sums_.clear();
    for (const auto& l : leaves_) {
        starts_.push_back(starts_.back() + entriesIn(l));
        long sum = 0;
        for (size_t i = 0; i < entriesIn(l); ++i) sum += getShortBE(l.entries.data() + i * r + size_t(keyLen_) + 2);
        sums_.push_back(sum);
    }
}

// Where the level-1 blocks from la to lb split the wanted entries `w` (e of them, from entry
// `from` on) when each boundary between them stays at its old first entry, found again at
// most two places away (a write adds or removes a few blocks of the table). Blocks whose
// entries did not change then come out byte for byte as they were, so a change in two
// far-apart places (a key edit) rewrites the blocks at those places, not every block between.
// Empty when that does not give blocks between a quarter full and full: split evenly then.
std::vector<size_t> PxIndexTree::keptCuts(size_t la, size_t lb, size_t from, const std::vector<uint8_t>& w,
                                          size_t e) const {
    const size_t r = size_t(rs_), per = size_t(perBlock_);
    std::vector<size_t> cuts;
    if (lb <= la || e == 0) return cuts;
    cuts.push_back(0);
    for (size_t i = la + 1; i <= lb; ++i) {
        if (!entriesIn(leaves_[i])) return {};
        const long os = long(starts_[i] - from);
        for (long s : {0L, -1L, 1L, -2L, 2L}) {
            const long c = os + s;
            if (c > long(cuts.back()) && c < long(e)
                && std::memcmp(w.data() + size_t(c) * r, leaves_[i].entries.data(), r) == 0) {
                cuts.push_back(size_t(c));
                break;
            }
        }
    }
    cuts.push_back(e);
    for (size_t j = 0; j + 1 < cuts.size(); ++j) {
        const size_t n = cuts[j + 1] - cuts[j];
        if (n > per || n < std::max<size_t>(1, per / 4)) return {};
    }
    return cuts;
}

std::vector<uint16_t> PxIndexTree::update(std::vector<uint8_t>& image, const Window& wanted) {
    const size_t r = size_t(rs_);
    if (starts_.size() != leaves_.size() + 1 || sums_.size() != leaves_.size()) recount();
    const size_t no = starts_.back(), nw = wanted.count;
    auto entryAt = [&](size_t i, uint8_t* e) {
        uint16_t block = 0;
        int count = 0;
        wanted.entryAt(i, e, block, count);
        putShortBE(e + keyLen_, block);
        putShortBE(e + keyLen_ + 2, std::min(count, 32767));
        putShortBE(e + keyLen_ + 4, 0);
    };
    auto leafOf = [&](size_t pos) {
        return size_t(std::upper_bound(starts_.begin(), starts_.end(), pos) - starts_.begin()) - 1;
    };
    auto oldEntry = [&](size_t pos) {
        const size_t l = leafOf(pos);
        return leaves_[l].entries.data() + (pos - starts_[l]) * r;
    };
    // Where the old entries and the wanted ones differ: between the first p and last q.
    size_t p = std::min({wanted.same, no, nw});
    size_t q = std::min(wanted.sameTail, std::min(no, nw) - p);
    if (wanted.scan) {
        std::vector<uint8_t> e(r);
        p = 0;
        while (p < no && p < nw && (entryAt(p, e.data()), std::memcmp(oldEntry(p), e.data(), r) == 0)) ++p;
        q = 0;
        while (q < no - p && q < nw - p && (entryAt(nw - 1 - q, e.data()), std::memcmp(oldEntry(no - 1 - q), e.data(), r) == 0))
            ++q;
    }
    if (p == no && p == nw) return {};
    // The level-1 blocks around the change, a neighbour included so that blocks left nearly
    // empty are merged.
    size_t la = 0, lb = 0;
    if (no > 0) {
        la = leafOf(p > 0 ? p - 1 : 0);
        lb = leafOf(std::min(no - q, no - 1));
        if (lb < la) lb = la;
    }
    const size_t from = no > 0 ? starts_[la] : 0;
    const size_t oldTo = no > 0 ? starts_[lb + 1] : 0;
    const size_t newTo = oldTo + nw - no;
    const size_t e = newTo - from;
    // The entries of those blocks as wanted: the unchanged ends from the old blocks.
    std::vector<uint8_t> w(e * r);
    // Old entries [a, b) to dst, leaf by leaf.
    auto copyOld = [&](size_t a, size_t b, uint8_t* dst) {
        for (size_t l = a < b ? leafOf(a) : 0; a < b; ++l) {
            const size_t n = std::min(b, starts_[l + 1]) - a;
            std::memcpy(dst, leaves_[l].entries.data() + (a - starts_[l]) * r, n * r);
            dst += n * r;
            a += n;
        }
    };
    const size_t headTo = std::min(p, newTo), tailFrom = std::max(nw - q, headTo);
    copyOld(from, headTo, w.data());
    for (size_t i = headTo; i < tailFrom; ++i) entryAt(i, w.data() + (i - from) * r);
    copyOld(tailFrom - nw + no, newTo - nw + no, w.data() + (tailFrom - from) * r);
    const size_t k = leaves_.empty() ? 0 : lb - la + 1;
    size_t m = (e + size_t(perBlock_) - 1) / size_t(perBlock_);
    if (m < k && e >= k) m = std::min(k, (e + size_t(perBlock_) / 2 - 1) / (size_t(perBlock_) / 2)); // keep halves
    if (m == 0 && leaves_.size() == k) m = 1;                                                       // one empty block stays
    std::vector<size_t> cuts = keptCuts(la, lb, from, w, e);
    if (!cuts.empty()) m = cuts.size() - 1;
    std::vector<Leaf> fresh(m);
    for (size_t i = 0; i < m; ++i) {
        const size_t a = cuts.empty() ? e * i / m : cuts[i], b = cuts.empty() ? e * (i + 1) / m : cuts[i + 1];
        fresh[i].entries.assign(w.data() + a * r, w.data() + b * r);
        fresh[i].no = i < k ? leaves_[la + i].no : allocate();
    }
    for (size_t i = m; i < k; ++i) free_.push_back(leaves_[la + i].no);
    if (k) leaves_.erase(leaves_.begin() + long(la), leaves_.begin() + long(la + k));
    leaves_.insert(leaves_.begin() + long(la), fresh.begin(), fresh.end());
    // The counts under each leaf: summed again for the new leaves only.
    std::vector<long> freshSums;
    for (const auto& f : fresh) {
        long sum = 0;
        for (size_t i = 0; i < entriesIn(f); ++i) sum += getShortBE(f.entries.data() + i * r + size_t(keyLen_) + 2);
        freshSums.push_back(sum);
    }
    if (k) sums_.erase(sums_.begin() + long(la), sums_.begin() + long(la + k));
    sums_.insert(sums_.begin() + long(la), freshSums.begin(), freshSums.end());
    starts_.resize(la + 1); // the leaves before la start where they did
    for (size_t i = la; i < leaves_.size(); ++i) starts_.push_back(starts_.back() + entriesIn(leaves_[i]));

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
    std::vector<uint8_t> up;
    auto entryFor = [&](const uint8_t* firstEntry, uint16_t block, long sum) {
        const size_t at = up.size();
        up.resize(at + r);
        std::memcpy(up.data() + at, firstEntry, size_t(keyLen_));
        putShortBE(up.data() + at + keyLen_, block);
        putShortBE(up.data() + at + keyLen_ + 2, int(std::min<long>(sum, 32767)));
        putShortBE(up.data() + at + keyLen_ + 4, 0);
    };
    std::vector<long> levelSums; // exact counts under each entry of `up`
    for (size_t i = 0; i < leaves_.size(); ++i) {
        if (!entriesIn(leaves_[i])) continue;
        entryFor(leaves_[i].entries.data(), leaves_[i].no, sums_[i]);
        levelSums.push_back(sums_[i]);
    }
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
    image.resize(size_t(headerSize_) + size_t(fileBlocks_) * size_t(blockSize_), 0);

    // Each block written into the image, its number kept when its bytes change.
    std::vector<uint16_t> changed;
    std::vector<uint8_t> scratch(static_cast<size_t>(blockSize_));
    auto place = [&](uint16_t no, const uint8_t* entries, size_t n, uint16_t next, uint16_t prev) {
        std::fill(scratch.begin(), scratch.end(), 0);
        putLE16(scratch.data(), next);
        putLE16(scratch.data() + 2, prev);
        putLE16(scratch.data() + 4, uint16_t(int16_t((int(n) - 1) * rs_)));
        if (n) std::memcpy(scratch.data() + 6, entries, n * r);
        uint8_t* b = image.data() + headerSize_ + size_t(no - 1) * size_t(blockSize_);
        if (std::memcmp(b, scratch.data(), scratch.size()) != 0) {
            std::memcpy(b, scratch.data(), scratch.size());
            changed.push_back(no);
        }
    };
    // Level 1: the new blocks whole, the links of their neighbours (no other block's
    // neighbours changed).
    for (size_t i = la > 0 ? la - 1 : 0; i < std::min(leaves_.size(), la + m + 1); ++i) {
        const uint16_t next = i + 1 < leaves_.size() ? leaves_[i + 1].no : 0, prev = i > 0 ? leaves_[i - 1].no : 0;
        if (i >= la && i < la + m) {
            place(leaves_[i].no, leaves_[i].entries.data(), entriesIn(leaves_[i]), next, prev);
        } else {
            uint8_t* b = image.data() + headerSize_ + size_t(leaves_[i].no - 1) * size_t(blockSize_);
            if (getLE16(b) != next || getLE16(b + 2) != prev) {
                putLE16(b, next);
                putLE16(b + 2, prev);
                changed.push_back(leaves_[i].no);
            }
        }
    }
    uint32_t total = uint32_t(nw);
    for (const auto& lv : levels) {
        size_t at = 0;
        for (size_t i = 0; i < lv.blocks.size(); ++i) {
            const uint16_t next = i + 1 < lv.blocks.size() ? lv.blocks[i + 1] : 0, prev = i > 0 ? lv.blocks[i - 1] : 0;
            place(lv.blocks[i], lv.entries.data() + at * r, lv.sizes[i], next, prev);
            at += lv.sizes[i];
        }
        total += uint32_t(at);
    }
    for (uint16_t n : free_)
        if (n <= fileBlocks_) place(n, nullptr, 0, 0, 0);
    uint8_t* h = image.data();
    putLE32(h + HoNumRecords, total);
    putLE16(h + HoUsedBlocks, fileBlocks_);
    putLE16(h + HoFileBlocks, fileBlocks_);
    putLE16(h + HoMaxBlocks, fileBlocks_);
    putLE16(h + HoFirstBlock, leaves_.front().no);
    putLE16(h + HoLastBlock, fileBlocks_);
    putLE16(h + HoIndexRoot, root);
    h[HoIndexLevels] = uint8_t(depth);
    return changed;
}

} // namespace vemo::engine::paradox
