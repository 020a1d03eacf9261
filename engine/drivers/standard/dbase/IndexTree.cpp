#include "engine/drivers/standard/dbase/IndexTree.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vemo::engine::dbase {
namespace {

constexpr size_t MdxTagTable = 544;
constexpr int MaxDepth = 32;
// The most page bytes a read-only tree keeps (keepPages): a 1,000,000-key numeric tag whole.
constexpr size_t KeptPageBytes = 16u << 20;
// Pages past this number (a 2 GB file) are not kept: the table by page number stays small.
constexpr uint32_t MaxKeptPageNumber = 1u << 22;


double ndxNumberValue(const std::string& key) {
    double d = 0;
    std::memcpy(&d, key.data(), std::min<size_t>(8, key.size()));
    return d;
}

// A packed-decimal key as sign, exponent and digits, leading zeros dropped: the value is
// sign * 0.d1d2d3... * 10^exponent. No digits is zero.
struct MdxNumber {
    int sign = 0; // -1, 0, 1
    int exponent = 0;
    uint8_t digits[20] = {};
    size_t count = 0;
};

MdxNumber mdxNumber(const std::string& key) {
    MdxNumber n;
    if (key.size() < 12)
        return n;
    const auto* k = reinterpret_cast<const uint8_t*>(key.data());
    n.exponent = static_cast<int>(k[0]) - 52;
    const size_t count = std::min<size_t>((k[1] >> 2) & 0x1F, 20);
    for (size_t i = 0; i < count; ++i) {
        const int d = std::min(i % 2 == 0 ? k[2 + i / 2] >> 4 : k[2 + i / 2] & 0x0F, 9);
        if (n.count == 0 && d == 0) {
            --n.exponent;
            continue;
        }
        n.digits[n.count++] = static_cast<uint8_t>(d);
    }
    while (n.count > 0 && n.digits[n.count - 1] == 0)
        --n.count;
    if (n.count > 0)
        n.sign = (k[1] & 0x80) ? -1 : 1;
    return n;
}

} // namespace

int compareMdxNumbers(const std::string& a, const std::string& b) {
    if (a.size() >= 12 && b.size() >= 12) {
        // Keys whose first digit is not 0 (as this program writes them), of one sign:
        // exponent first, then digit by digit, without taking them apart first.
        const auto* p = reinterpret_cast<const uint8_t*>(a.data());
        const auto* q = reinterpret_cast<const uint8_t*>(b.data());
        const size_t cp = std::min<size_t>((p[1] >> 2) & 0x1F, 20), cq = std::min<size_t>((q[1] >> 2) & 0x1F, 20);
        auto digit = [](const uint8_t* k, size_t count, size_t i) {
            if (i >= count)
                return 0;
            const int d = i % 2 == 0 ? k[2 + i / 2] >> 4 : k[2 + i / 2] & 0x0F;
            return std::min(d, 9);
        };
        if (digit(p, cp, 0) && digit(q, cq, 0) && (p[1] & 0x80) == (q[1] & 0x80)) {
            int c = p[0] != q[0] ? (p[0] < q[0] ? -1 : 1) : 0;
            for (size_t i = 0; c == 0 && i < std::max(cp, cq); ++i) {
                const int dp = digit(p, cp, i), dq = digit(q, cq, i);
                c = dp < dq ? -1 : dp > dq ? 1 : 0;
            }
            return (p[1] & 0x80) ? -c : c;
        }
    }
    const MdxNumber x = mdxNumber(a), y = mdxNumber(b);
    if (x.sign != y.sign)
        return x.sign < y.sign ? -1 : 1;
    if (x.sign == 0)
        return 0;
    int c = 0;
    if (x.exponent != y.exponent) {
        c = x.exponent < y.exponent ? -1 : 1;
    } else {
        for (size_t i = 0; i < std::max(x.count, y.count) && c == 0; ++i) {
            const int dx = i < x.count ? x.digits[i] : 0, dy = i < y.count ? y.digits[i] : 0;
            c = dx < dy ? -1 : dx > dy ? 1 : 0;
        }
    }
    return x.sign < 0 ? -c : c;
}

IndexTree::IndexTree(File& file, const IndexTag& tag, BeforeWrite beforeWrite)
    : file_(file), beforeWrite_(std::move(beforeWrite)), ndx_(tag.ndx), numeric_(tag.keyType != 'C'),
      descending_(tag.descending) {
    if (ndx_) {
        uint8_t h[24] = {};
        if (file_.readAt(0, h, sizeof h) < sizeof h)
            corrupt("ヘッダーが短すぎます");
        pageBytes_ = 512;
        pageUnits_ = 1;
        head_ = 4;
        keyOffset_ = 8;
        keyLength_ = le16(h + 12);
        entryLen_ = le16(h + 18);
        tagHeader_ = 0;
    } else {
        uint8_t h[32] = {};
        if (file_.readAt(0, h, sizeof h) < sizeof h)
            corrupt("ヘッダーが短すぎます");
        pageBytes_ = le16(h + 22) ? le16(h + 22) : 1024;
        if (pageBytes_ % 512 != 0 || pageBytes_ < 512 || pageBytes_ > 32768)
            corrupt("ブロックの大きさが不正です");
        pageUnits_ = pageBytes_ / 512;
        head_ = 8;
        keyOffset_ = 4;
        const int tags = le16(h + 28);
        tagHeader_ = 0;
        for (int i = 0; i < tags && i < 48; ++i) {
            uint8_t e[32] = {};
            file_.readAt(MdxTagTable + static_cast<uint64_t>(i) * 32, e, sizeof e);
            if (headerText(e + 4, 11) == tag.name) {
                tagHeader_ = static_cast<uint64_t>(le32(e)) * 512;
                break;
            }
        }
        if (tagHeader_ == 0)
            corrupt("タグ " + tag.name + " がありません");
        uint8_t th[24] = {};
        if (file_.readAt(tagHeader_, th, sizeof th) < sizeof th)
            corrupt("タグ " + tag.name + " のヘッダーがファイルの外にあります");
        keyLength_ = le16(th + 12);
        entryLen_ = le16(th + 18);
    }
    if (keyLength_ == 0 || entryLen_ < keyOffset_ + keyLength_ || (numeric_ && keyLength_ < (ndx_ ? 8u : 12u)))
        corrupt("キーの長さが不正です");
    // A page must hold at least two entries and the trailing pointer, or no split can
    // ever make room.
    const size_t room = pageBytes_ - head_ - (ndx_ ? entryLen_ : 4);
    if (pageBytes_ < head_ + entryLen_ + (ndx_ ? entryLen_ : 4) || room / entryLen_ < 2)
        corrupt("キー長 " + std::to_string(keyLength_) + " のキーはページに収まりません");
    maxKeys_ = static_cast<uint32_t>(room / entryLen_);
    // Under a quarter full a page is rebalanced; two that fit in three quarters of a page
    // merge, so that a merged page takes a quarter of a page of inserts before it splits again
    // and the halves of a split take a quarter of a page of removals before they merge.
    minFill_ = std::max<uint32_t>(1, maxKeys_ / 4);
    mergeLimit_ = std::max<uint32_t>(2, maxKeys_ - maxKeys_ / 4);
}

void IndexTree::corrupt(const std::string& why) const {
    throw EngineError(ErrCorruptFile, "インデックス " + file_.path().filename().string() + " が壊れています: " + why);
}

int IndexTree::compare(const std::string& a, const std::string& b) const {
    int c;
    if (numeric_ && !ndx_) {
        c = compareMdxNumbers(a, b);
    } else if (numeric_) {
        const double x = ndxNumberValue(a);
        const double y = ndxNumberValue(b);
        c = x < y ? -1 : x > y ? 1 : 0;
    } else {
        c = std::memcmp(a.data(), b.data(), std::min({a.size(), b.size(), keyLength_}));
        c = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return descending_ ? -c : c;
}

int IndexTree::compareEntry(const std::string& ka, uint32_t ra, const std::string& kb, uint32_t rb) const {
    if (int c = compare(ka, kb))
        return c;
    return ra < rb ? -1 : ra > rb ? 1 : 0;
}

uint32_t IndexTree::root() const {
    const bool keep = keep_ || keepBranches_;
    if (keep && keptRoot_)
        return keptRoot_;
    uint8_t b[4] = {};
    file_.readAt(tagHeader_, b, 4);
    if (keep)
        keptRoot_ = le32(b);
    return le32(b);
}

void IndexTree::setRoot(uint32_t page) {
    uint8_t b[4];
    putLe32(b, page);
    beforeWrite_(tagHeader_, 4);
    file_.writeAt(tagHeader_, b, 4);
    if (keepBranches_)
        keptRoot_ = page;
}

const IndexTree::KeptPage* IndexTree::keptOf(uint32_t page) const {
    if (page >= keptSlot_.size() || keptSlot_[page] == 0)
        return nullptr;
    return &keptPages_[keptSlot_[page] - 1];
}

IndexTree::KeptPage* IndexTree::keptFor(uint32_t page) const {
    if (page >= MaxKeptPageNumber)
        return nullptr;
    if (page >= keptSlot_.size())
        keptSlot_.resize(std::max<size_t>(page + 1, keptSlot_.size() * 2), 0);
    if (keptSlot_[page] == 0) {
        keptPages_.emplace_back();
        keptSlot_[page] = static_cast<uint32_t>(keptPages_.size());
    }
    return &keptPages_[keptSlot_[page] - 1];
}

void IndexTree::forget(uint32_t page) {
    if (page >= keptSlot_.size() || keptSlot_[page] == 0)
        return;
    KeptPage& k = keptPages_[keptSlot_[page] - 1];
    keptBytes_ -= k.bytes.size();
    k = KeptPage{};
}

void IndexTree::keepBytes(KeptPage& k, const std::vector<uint8_t>& bytes) const {
    if (k.bytes.empty() && keptBytes_ + bytes.size() > KeptPageBytes)
        return;
    keptBytes_ += bytes.size() - k.bytes.size();
    k.bytes = bytes;
}

IndexTree::Node IndexTree::load(uint32_t page) const {
    Node node;
    node.page = page;
    const KeptPage* kept = keptOf(page);
    const bool read = !kept || kept->bytes.empty();
    if (!read) {
        node.b = kept->bytes;
    } else {
        node.b.assign(pageBytes_, 0);
        const uint64_t at = static_cast<uint64_t>(page) * 512;
        if (page == 0 || file_.readAt(at, node.b.data(), pageBytes_) < head_ + 4)
            corrupt("ページ " + std::to_string(page) + " がファイルの外にあります");
    }
    node.n = le32(node.b.data());
    if (node.n > maxKeys_)
        corrupt("ページ " + std::to_string(page) + " のキー数が不正です");
    const size_t tailAt = head_ + node.n * entryLen_;
    node.branch = tailAt + 4 <= pageBytes_ && le32(node.b.data() + tailAt) != 0;
    if (read && keep_) {
        if (KeptPage* k = keptFor(page))
            keepBytes(*k, node.b);
    } else if (read && keepBranches_ && (node.branch || !kept || !kept->lastKnown)) {
        keepCopy(node); // a leaf's kept last entry is already the file's (stores keep it)
    }
    return node;
}

void IndexTree::keepCopy(const Node& node) const {
    if (!keepBranches_)
        return;
    KeptPage* k = keptFor(node.page);
    if (!k)
        return;
    if (!node.branch) {
        // A kept branch page never turns into a leaf but by release() and allocate(), and
        // release() forgets it; a leaf keeps its last entry only.
        k->lastKnown = true;
        k->lastNone = node.n == 0;
        if (node.n > 0) {
            k->lastKey.assign(reinterpret_cast<const char*>(entry(node, node.n - 1) + keyOffset_), keyLength_);
            k->lastRecno = ptrAt(node, node.n - 1);
        }
        return;
    }
    k->lastKnown = false;
    keepBytes(*k, node.b);
}

void IndexTree::store(Node& node) {
    putLe32(node.b.data(), node.n);
    // Nothing after the entries (and a branch's trailing pointer) but zeros.
    const size_t keep = head_ + node.n * entryLen_ + (node.branch ? 4 : 0);
    if (keep < pageBytes_)
        std::memset(node.b.data() + keep, 0, pageBytes_ - keep);
    const uint64_t at = static_cast<uint64_t>(node.page) * 512;
    beforeWrite_(at, pageBytes_);
    file_.writeAt(at, node.b.data(), pageBytes_);
    keepCopy(node);
}

uint32_t IndexTree::allocate() {
    uint8_t h[44] = {};
    file_.readAt(0, h, sizeof h);
    uint32_t page;
    if (ndx_) {
        page = le32(h + 4);
        beforeWrite_(4, 4);
        putLe32(h + 4, page + 1);
        file_.writeAt(4, h + 4, 4);
    } else if (le32(h + 36) != 0) {
        // A page freed earlier: the free list is threaded through the pages' first words.
        page = le32(h + 36);
        uint8_t next[4] = {};
        file_.readAt(static_cast<uint64_t>(page) * 512, next, 4);
        putLe32(h + 36, le32(next));
        const uint32_t freeUnits = le32(h + 40);
        putLe32(h + 40, freeUnits >= pageUnits_ ? freeUnits - static_cast<uint32_t>(pageUnits_) : 0);
        beforeWrite_(36, 8);
        file_.writeAt(36, h + 36, 8);
    } else {
        page = le32(h + 32);
        putLe32(h + 32, page + static_cast<uint32_t>(pageUnits_));
        beforeWrite_(32, 4);
        file_.writeAt(32, h + 32, 4);
    }
    if (page == 0)
        corrupt("ページ数が不正です");
    if (!ndx_) {
        uint8_t th[8] = {};
        file_.readAt(tagHeader_, th, 8);
        putLe32(th + 4, le32(th + 4) + static_cast<uint32_t>(pageUnits_));
        beforeWrite_(tagHeader_ + 4, 4);
        file_.writeAt(tagHeader_ + 4, th + 4, 4);
    }
    return page;
}

void IndexTree::release(uint32_t page) {
    forget(page);
    if (ndx_)
        return; // the NDX format keeps no free list: the page stays unreferenced
    uint8_t h[44] = {};
    file_.readAt(0, h, sizeof h);
    std::vector<uint8_t> b(pageBytes_, 0);
    putLe32(b.data(), le32(h + 36));
    const uint64_t at = static_cast<uint64_t>(page) * 512;
    beforeWrite_(at, pageBytes_);
    file_.writeAt(at, b.data(), pageBytes_);
    putLe32(h + 36, page);
    putLe32(h + 40, le32(h + 40) + static_cast<uint32_t>(pageUnits_));
    beforeWrite_(36, 8);
    file_.writeAt(36, h + 36, 8);
    uint8_t th[8] = {};
    file_.readAt(tagHeader_, th, 8);
    const uint32_t units = le32(th + 4);
    putLe32(th + 4, units >= pageUnits_ ? units - static_cast<uint32_t>(pageUnits_) : 0);
    beforeWrite_(tagHeader_ + 4, 4);
    file_.writeAt(tagHeader_ + 4, th + 4, 4);
}

uint8_t* IndexTree::entry(Node& node, uint32_t i) const { return node.b.data() + head_ + i * entryLen_; }
const uint8_t* IndexTree::entry(const Node& node, uint32_t i) const { return node.b.data() + head_ + i * entryLen_; }

std::string IndexTree::keyAt(const Node& node, uint32_t i) const {
    return std::string(reinterpret_cast<const char*>(entry(node, i) + keyOffset_), keyLength_);
}

uint32_t IndexTree::ptrAt(const Node& node, uint32_t i) const {
    const uint8_t* e = entry(node, i);
    return ndx_ && !node.branch ? le32(e + 4) : le32(e);
}

uint32_t IndexTree::childAt(const Node& node, uint32_t i) const { return le32(entry(node, i)); }

void IndexTree::setChild(Node& node, uint32_t i, uint32_t child) { putLe32(entry(node, i), child); }

void IndexTree::setEntry(Node& node, uint32_t i, uint32_t ptr, const std::string& key) {
    writeEntry(entry(node, i), node.branch, ptr, key);
}

void IndexTree::writeEntry(uint8_t* e, bool branch, uint32_t ptr, const std::string& key) const {
    std::memset(e, 0, entryLen_);
    if (ndx_ && !branch)
        putLe32(e + 4, ptr);
    else
        putLe32(e, ptr);
    std::memcpy(e + keyOffset_, key.data(), std::min(key.size(), keyLength_));
    if (key.size() < keyLength_ && !numeric_)
        std::memset(e + keyOffset_ + key.size(), ' ', keyLength_ - key.size());
}

std::optional<std::pair<std::string, uint32_t>> IndexTree::lastEntry(uint32_t page, int depth) const {
    if (depth > MaxDepth)
        corrupt("木が深すぎます (ページの参照が循環しています)");
    if (const KeptPage* k = keptOf(page); k && k->lastKnown) {
        if (k->lastNone)
            return std::nullopt;
        return std::make_pair(k->lastKey, k->lastRecno);
    }
    const Node node = load(page);
    if (node.branch)
        return lastEntry(childAt(node, node.n), depth + 1);
    if (node.n == 0)
        return std::nullopt;
    return std::make_pair(keyAt(node, node.n - 1), ptrAt(node, node.n - 1));
}

uint32_t IndexTree::chooseChild(const Node& node, const std::string& key, uint32_t recno, int depth) const {
    // The first child whose last entry is not less than (key, recno); the stored keys are
    // upper bounds of their children, so only equal keys need a look inside.
    uint32_t lo = 0, hi = node.n;
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        const int c = compare(keyAt(node, mid), key);
        bool atOrAfter = c > 0;
        if (c == 0) {
            const auto last = lastEntry(childAt(node, mid), depth + 1);
            atOrAfter = last && compareEntry(last->first, last->second, key, recno) >= 0;
        }
        if (atOrAfter)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

uint32_t IndexTree::leafPosition(const Node& node, const std::string& key, uint32_t recno) const {
    uint32_t lo = 0, hi = node.n;
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        if (compareEntry(keyAt(node, mid), ptrAt(node, mid), key, recno) >= 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void IndexTree::insert(const std::string& key, uint32_t recno) {
    const uint32_t top = root();
    auto split = insertAt(top, key, recno, 0);
    if (!split)
        return;
    Node fresh;
    fresh.page = allocate();
    fresh.b.assign(pageBytes_, 0);
    fresh.branch = true;
    fresh.n = 1;
    setEntry(fresh, 0, split->left, split->key);
    setChild(fresh, 1, top);
    store(fresh);
    setRoot(fresh.page);
}

std::optional<IndexTree::Split> IndexTree::insertAt(uint32_t page, const std::string& key, uint32_t recno, int depth) {
    if (depth > MaxDepth)
        corrupt("木が深すぎます (ページの参照が循環しています)");
    Node node = load(page);
    // Entries of the page as (pointer, key), the trailing child of a branch aside.
    uint32_t at;
    uint32_t ptr;
    std::string k;
    if (node.branch) {
        at = chooseChild(node, key, recno, depth);
        auto below = insertAt(childAt(node, at), key, recno, depth + 1);
        if (!below)
            return std::nullopt;
        ptr = below->left;
        k = below->key;
    } else {
        at = leafPosition(node, key, recno);
        ptr = recno;
        k = key;
    }
    // The n + 1 entries (and a branch's trailing pointer) in one scratch buffer.
    const uint32_t n = node.n;
    const size_t tailBytes = node.branch ? 4 : 0; // the trailing pointer moves with the entries
    std::vector<uint8_t> wide((n + 2) * entryLen_ + 4, 0);
    uint8_t* base = wide.data();
    std::memcpy(base, node.b.data() + head_, n * entryLen_ + tailBytes);
    std::memmove(base + (at + 1) * entryLen_, base + at * entryLen_, (n - at) * entryLen_ + tailBytes);
    writeEntry(base + at * entryLen_, node.branch, ptr, k);
    const uint32_t total = n + 1;
    if (total <= maxKeys_) {
        std::memcpy(node.b.data() + head_, base, total * entryLen_ + tailBytes);
        node.n = total;
        store(node);
        return std::nullopt;
    }
    // Split: the lower half moves to a new page, so only the parent needs to learn of it
    // (a leaf's back link is taken over by the new page, which now comes before it).
    Node left;
    left.page = allocate();
    left.b.assign(pageBytes_, 0);
    left.branch = node.branch;
    Split out;
    out.left = left.page;
    if (node.branch) {
        const uint32_t mid = total / 2; // entries [0, mid) go left, mid goes up, (mid, total] stay
        std::memcpy(left.b.data() + head_, base, mid * entryLen_);
        left.n = mid;
        putLe32(left.b.data() + head_ + mid * entryLen_, le32(base + mid * entryLen_));
        out.key.assign(reinterpret_cast<const char*>(base + mid * entryLen_ + keyOffset_), keyLength_);
        const uint32_t rest = total - mid - 1;
        std::memcpy(node.b.data() + head_, base + (mid + 1) * entryLen_, rest * entryLen_ + tailBytes);
        node.n = rest;
    } else {
        const uint32_t mid = total / 2;
        std::memcpy(left.b.data() + head_, base, mid * entryLen_);
        left.n = mid;
        out.key.assign(reinterpret_cast<const char*>(base + (mid - 1) * entryLen_ + keyOffset_), keyLength_);
        const uint32_t rest = total - mid;
        std::memset(node.b.data() + head_, 0, pageBytes_ - head_);
        std::memcpy(node.b.data() + head_, base + mid * entryLen_, rest * entryLen_);
        node.n = rest;
        if (!ndx_) {
            putLe32(left.b.data() + 4, le32(node.b.data() + 4));
            putLe32(node.b.data() + 4, left.page);
        }
    }
    store(left);
    store(node);
    return out;
}

bool IndexTree::remove(const std::string& key, uint32_t recno) {
    const uint32_t top = root();
    Node node;
    if (!removeAt(top, key, recno, 0, node))
        return false;
    // A root branch left with its trailing child only hands the root down.
    while (node.branch && node.n == 0) {
        const uint32_t child = childAt(node, 0);
        setRoot(child);
        release(node.page);
        node = load(child);
    }
    return true;
}

bool IndexTree::removeAt(uint32_t page, const std::string& key, uint32_t recno, int depth, Node& node) {
    if (depth > MaxDepth)
        corrupt("木が深すぎます (ページの参照が循環しています)");
    node = load(page);
    if (!node.branch) {
        const uint32_t at = leafPosition(node, key, recno);
        if (at >= node.n || ptrAt(node, at) != recno || compare(keyAt(node, at), key) != 0)
            return false;
        uint8_t* base = node.b.data() + head_;
        std::memmove(base + at * entryLen_, base + (at + 1) * entryLen_, (node.n - at - 1) * entryLen_);
        --node.n;
        if (depth == 0 || !underfull(node))
            store(node);
        return true;
    }
    const uint32_t at = chooseChild(node, key, recno, depth);
    Node child;
    if (!removeAt(childAt(node, at), key, recno, depth + 1, child))
        return false;
    if (!underfull(child))
        return true;
    rebalance(node, at, child);
    if (depth == 0 || !underfull(node))
        store(node);
    return true;
}

void IndexTree::rebalance(Node& node, uint32_t at, Node& child) {
    if (node.n == 0) {
        // No sibling (only in a tree written elsewhere): the child stays as it is, and a root
        // left like this hands its place down.
        store(child);
        return;
    }
    // The pair (left, right) of neighbours: the child and the one after it, or, for the
    // trailing child, the one before it and the child. The right page is the one kept when
    // they merge: a leaf's back link names the leaf before it, so only the kept page's own
    // link changes, and the parent's entry for the left page is the one that goes.
    const uint32_t li = at < node.n ? at : at - 1;
    Node other = load(childAt(node, at < node.n ? at + 1 : at - 1));
    Node& left = at < node.n ? child : other;
    Node& right = at < node.n ? other : child;
    if (left.branch != right.branch)
        corrupt("ページ " + std::to_string(left.page) + " と " + std::to_string(right.page) + " の段が合いません");
    const std::string separator = keyAt(node, li); // an upper bound of every key under left
    // Every entry of both pages in order in one buffer; for branches the left page's trailing
    // child comes in between as an entry under the separator.
    const bool branch = left.branch;
    const uint32_t total = left.n + right.n + (branch ? 1 : 0);
    std::vector<uint8_t> all(static_cast<size_t>(total) * entryLen_);
    std::memcpy(all.data(), left.b.data() + head_, left.n * entryLen_);
    uint32_t rightFrom = left.n;
    if (branch) {
        writeEntry(all.data() + left.n * entryLen_, true, childAt(left, left.n), separator);
        ++rightFrom;
    }
    std::memcpy(all.data() + rightFrom * entryLen_, right.b.data() + head_, right.n * entryLen_);
    const uint32_t rightTail = branch ? childAt(right, right.n) : 0;
    auto fill = [&](Node& page, uint32_t from, uint32_t count, uint32_t tail) {
        std::memset(page.b.data() + head_, 0, pageBytes_ - head_);
        std::memcpy(page.b.data() + head_, all.data() + static_cast<size_t>(from) * entryLen_,
                    static_cast<size_t>(count) * entryLen_);
        page.n = count;
        if (branch)
            setChild(page, count, tail);
    };
    uint8_t* base = node.b.data() + head_;
    if (total <= mergeLimit_) {
        if (!ndx_ && !branch)
            putLe32(right.b.data() + 4, le32(left.b.data() + 4)); // the back link: the leaf before left
        fill(right, 0, total, rightTail);
        store(right);
        release(left.page);
        // The parent's entry for left goes; right keeps its own (or stays the trailing child).
        std::memmove(base + li * entryLen_, base + (li + 1) * entryLen_, (node.n - li - 1) * entryLen_ + 4);
        --node.n;
        return;
    }
    // Shared out evenly: left keeps the lower half, and the parent's separator becomes the
    // highest key under left (for branches, the key of the entry whose child becomes left's
    // trailing one).
    const uint32_t keep = total / 2;
    std::string upper;
    if (branch) {
        const uint8_t* e = all.data() + static_cast<size_t>(keep) * entryLen_;
        upper.assign(reinterpret_cast<const char*>(e + keyOffset_), keyLength_);
        fill(left, 0, keep, le32(e));
        fill(right, keep + 1, total - keep - 1, rightTail);
    } else {
        const uint8_t* e = all.data() + static_cast<size_t>(keep - 1) * entryLen_;
        upper.assign(reinterpret_cast<const char*>(e + keyOffset_), keyLength_);
        fill(left, 0, keep, 0); // the back links, before the entries, stay
        fill(right, keep, total - keep, 0);
    }
    store(left);
    store(right);
    setEntry(node, li, left.page, upper);
}

void IndexTree::recordNumbers(std::vector<uint32_t>& out) const { collect(root(), 0, out); }

void IndexTree::collect(uint32_t page, int depth, std::vector<uint32_t>& out) const {
    if (depth > MaxDepth)
        corrupt("木が深すぎます (ページの参照が循環しています)");
    const Node node = load(page);
    if (!node.branch) {
        for (uint32_t i = 0; i < node.n; ++i)
            out.push_back(ptrAt(node, i));
        return;
    }
    for (uint32_t c = 0; c <= node.n; ++c)
        collect(childAt(node, c), depth + 1, out);
}

void IndexTree::scanFrom(const std::string& key, uint32_t recno, const Visit& visit) const {
    scan(root(), key, recno, key.empty(), 0, visit);
}

bool IndexTree::scan(uint32_t page, const std::string& key, uint32_t recno, bool fromStart, int depth,
                     const Visit& visit) const {
    if (depth > MaxDepth)
        corrupt("木が深すぎます (ページの参照が循環しています)");
    const Node node = load(page);
    if (!node.branch) {
        for (uint32_t i = fromStart ? 0 : leafPosition(node, key, recno); i < node.n; ++i)
            if (!visit(keyAt(node, i), ptrAt(node, i)))
                return false;
        return true;
    }
    const uint32_t first = fromStart ? 0 : chooseChild(node, key, recno, depth);
    for (uint32_t c = first; c <= node.n; ++c)
        if (!scan(childAt(node, c), key, recno, fromStart || c > first, depth + 1, visit))
            return false;
    return true;
}

} // namespace vemo::engine::dbase
