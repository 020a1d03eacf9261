#include "engine/drivers/standard/dbase/IndexFiles.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/FileIO.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <unistd.h>

namespace vemo::engine::dbase {
namespace {

constexpr size_t MdxBlock = 1024;   // two 512-byte pages
constexpr size_t MdxHeaderBytes = 2048;
constexpr size_t MdxTagTable = 544;
constexpr int MdxMaxTags = 47;
constexpr size_t NdxPage = 512;

[[noreturn]] void corrupt(const std::filesystem::path& p, const std::string& why) {
    throw EngineError(ErrCorruptFile, "インデックス " + p.filename().string() + " が壊れています: " + why);
}

std::string cString(const uint8_t* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && (s.back() == ' '))
        s.pop_back();
    size_t b = 0;
    while (b < s.size() && s[b] == ' ')
        ++b;
    return s.substr(b);
}

size_t round4(size_t n) { return (n + 3) / 4 * 4; }

// One B-tree page under construction.
struct Page {
    uint32_t number = 0;
    std::vector<uint8_t> bytes;
};

struct TreeShape {
    size_t pageBytes;   // bytes of a node
    size_t pageUnits;   // 512-byte units per node
    size_t head;        // bytes before the first entry
    size_t entryLen;
    size_t keyOffset;   // inside an entry
    bool ndx;
};

// Builds the tree bottom-up; returns the root's page number. Pages get numbers from next.
uint32_t buildTree(const TreeShape& s, const std::vector<IndexEntry>& entries, size_t keyLength, uint32_t& next,
                   std::vector<Page>& out) {
    const size_t room = s.pageBytes - std::min(s.pageBytes, s.head + (s.ndx ? s.entryLen : 4));
    const size_t maxKeys = room / s.entryLen;
    if (maxKeys < 2) // no tree of pages that hold fewer keys ever ends
        throw EngineError(ErrInvalidParam, "キー長 " + std::to_string(keyLength) + " のキーはインデックスのページに収まりません");
    struct Child {
        uint32_t page;
        std::string highKey;
    };
    auto newPage = [&]() -> Page& {
        out.push_back(Page{next, std::vector<uint8_t>(s.pageBytes, 0)});
        next += static_cast<uint32_t>(s.pageUnits);
        return out.back();
    };
    auto putEntry = [&](Page& p, size_t i, uint32_t left, uint32_t recno, const std::string& key) {
        uint8_t* e = p.bytes.data() + s.head + i * s.entryLen;
        if (s.ndx) {
            putLe32(e, left);
            putLe32(e + 4, recno);
        } else {
            putLe32(e, left ? left : recno);
        }
        std::memcpy(e + s.keyOffset, key.data(), std::min(key.size(), keyLength));
    };
    std::vector<Child> level;
    uint32_t prevLeaf = 0;
    for (size_t i = 0; i < entries.size() || level.empty(); i += maxKeys) {
        Page& p = newPage();
        const size_t n = std::min(maxKeys, entries.size() - std::min(i, entries.size()));
        putLe32(p.bytes.data(), static_cast<uint32_t>(n));
        if (!s.ndx)
            putLe32(p.bytes.data() + 4, prevLeaf);
        for (size_t k = 0; k < n; ++k)
            putEntry(p, k, 0, entries[i + k].recno, entries[i + k].key);
        prevLeaf = p.number;
        level.push_back({p.number, n ? entries[i + n - 1].key : std::string()});
        if (entries.empty())
            break;
    }
    while (level.size() > 1) {
        std::vector<Child> upper;
        for (size_t i = 0; i < level.size(); i += maxKeys + 1) {
            const size_t children = std::min(maxKeys + 1, level.size() - i);
            Page& p = newPage();
            putLe32(p.bytes.data(), static_cast<uint32_t>(children - 1));
            for (size_t k = 0; k + 1 < children; ++k)
                putEntry(p, k, level[i + k].page, 0, level[i + k].highKey);
            // The last child has no key of its own: a pointer after the last entry.
            uint8_t* tail = p.bytes.data() + s.head + (children - 1) * s.entryLen;
            putLe32(tail, level[i + children - 1].page);
            upper.push_back({p.number, level[i + children - 1].highKey});
        }
        level = std::move(upper);
    }
    return level.front().page;
}

void writeAtomically(const std::filesystem::path& file, const std::vector<uint8_t>& head, const std::vector<Page>& pages,
                     size_t unit) {
    standard::replaceFile(
        file,
        [&](int fd) {
            auto put = [&](uint64_t at, const std::vector<uint8_t>& bytes) {
                if (int e = standard::writeFully(fd, at, bytes.data(), bytes.size()))
                    throw EngineError(ErrIO, "インデックスを書き込めません: " + file.string() + " (" + std::strerror(e) + ")");
            };
            put(0, head);
            for (const Page& p : pages)
                put(static_cast<uint64_t>(p.number) * unit, p.bytes);
        },
        "インデックスを書き込めません");
}

void walk(const File& f, const std::filesystem::path& path, uint32_t page, const TreeShape& s, size_t keyLength,
          uint64_t fileSize, std::set<uint32_t>& seen, int depth, std::vector<IndexEntry>& out) {
    if (depth > 64 || !seen.insert(page).second)
        corrupt(path, "ページの参照が循環しています");
    std::vector<uint8_t> b(s.pageBytes, 0);
    const uint64_t at = static_cast<uint64_t>(page) * 512;
    if (at + s.head > fileSize)
        corrupt(path, "ページ " + std::to_string(page) + " がファイルの外にあります");
    f.readAt(at, b.data(), b.size());
    const uint32_t n = le32(b.data());
    if (s.head + static_cast<size_t>(n) * s.entryLen > s.pageBytes)
        corrupt(path, "ページのキー数が不正です");
    const size_t tailAt = s.head + n * s.entryLen;
    const uint32_t tail = tailAt + 4 <= s.pageBytes ? le32(b.data() + tailAt) : 0;
    const bool branch = tail != 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = b.data() + s.head + i * s.entryLen;
        const uint32_t ptr = le32(e);
        std::string key(reinterpret_cast<const char*>(e + s.keyOffset), keyLength);
        if (branch)
            walk(f, path, ptr, s, keyLength, fileSize, seen, depth + 1, out);
        else
            out.push_back({key, s.ndx ? le32(e + 4) : ptr});
    }
    if (branch)
        walk(f, path, tail, s, keyLength, fileSize, seen, depth + 1, out);
}

void bcdDigits(const std::string& digits, uint8_t* data) {
    for (size_t i = 0; i < digits.size() && i < 20; ++i) {
        const auto d = static_cast<uint8_t>(digits[i] - '0');
        data[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? d << 4 : d);
    }
}

} // namespace

std::string mdxNumberKey(double value) {
    uint8_t k[12] = {};
    char buf[400]; // room for any double with ten decimals
    const bool negative = value < 0;
    const double a = std::fabs(value);
    // As "%.0f" or "%.10f" would print it, without the cost of printf.
    const int decimals = a == std::trunc(a) && a < 1e20 ? 0 : 10;
    const auto printed = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, decimals);
    std::string s(buf, printed.ec == std::errc() ? printed.ptr : buf);
    std::string intPart = s.substr(0, s.find('.'));
    std::string frac = s.find('.') == std::string::npos ? "" : s.substr(s.find('.') + 1);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size()));
    int sig = static_cast<int>(intPart.size());
    std::string digits = intPart + frac;
    if (intPart.empty()) {
        size_t zeros = std::min(frac.find_first_not_of('0'), frac.size());
        sig = -static_cast<int>(zeros);
        digits = frac.substr(zeros);
    }
    if (digits.empty())
        sig = 0;
    const size_t count = std::min<size_t>(digits.size(), 20);
    k[0] = static_cast<uint8_t>(52 + sig);
    k[1] = static_cast<uint8_t>((count << 2) | 0x01 | (negative && count ? 0x80 : 0));
    bcdDigits(digits.substr(0, count), k + 2);
    return std::string(reinterpret_cast<const char*>(k), 12);
}

std::string ndxNumberKey(double value) {
    std::string k(8, '\0');
    std::memcpy(k.data(), &value, 8); // little-endian machines only, as the file wants
    return k;
}

namespace {

// A tag's condition (its FOR clause) is kept as text after the key expression's field: the
// first run of printable text ending in a zero byte, at least three characters long and with
// a letter in it. Flag bytes and padding do not look like that.
std::string conditionText(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i] == 0)
        ++i;
    const size_t start = i;
    bool letter = false;
    while (i < n && p[i] >= 0x20 && p[i] != 0x7f) {
        letter = letter || std::isalpha(p[i]);
        ++i;
    }
    if (i == n || p[i] != 0 || i - start < 3 || !letter)
        return {};
    return std::string(reinterpret_cast<const char*>(p + start), i - start);
}

} // namespace

std::vector<IndexTag> readMdxTags(const std::filesystem::path& file) {
    File f(file, false);
    const uint64_t size = f.size();
    std::vector<uint8_t> h(MdxTagTable, 0);
    if (f.readAt(0, h.data(), h.size()) < MdxTagTable)
        corrupt(file, "ヘッダーが短すぎます");
    const int used = le16(h.data() + 28);
    const size_t entryLen = h[26] ? h[26] : 32;
    if (used < 0 || used > 48 || entryLen < 32)
        corrupt(file, "タグ数が不正です");
    std::vector<IndexTag> tags;
    for (int i = 0; i < used; ++i) {
        uint8_t e[64] = {};
        if (f.readAt(MdxTagTable + i * entryLen, e, std::min<size_t>(entryLen, sizeof e)) < 21)
            corrupt(file, "タグ表が途中で切れています");
        IndexTag t;
        t.file = file;
        t.name = cString(e + 4, 11);
        const uint32_t headerPage = le32(e);
        uint8_t th[512] = {};
        if (static_cast<uint64_t>(headerPage) * 512 + 24 > size || headerPage == 0)
            corrupt(file, "タグ " + t.name + " のヘッダーがファイルの外にあります");
        f.readAt(static_cast<uint64_t>(headerPage) * 512, th, sizeof th);
        t.keyType = static_cast<char>(th[9] ? th[9] : e[20]);
        t.descending = (th[8] & 0x08) != 0;
        t.unique = (th[8] & 0x40) != 0 || th[23] != 0;
        t.keyLength = le16(th + 12);
        t.expression = cString(th + 24, 220);
        t.forExpression = conditionText(th + 24 + 220, sizeof th - 24 - 220);
        // A key that leaves room for fewer than two entries a page cannot be kept in a tree.
        const size_t block = le16(h.data() + 22) ? le16(h.data() + 22) : MdxBlock;
        if (t.keyLength <= 0 || block < 512 || static_cast<size_t>(t.keyLength) + 4 > (block - 12) / 2)
            corrupt(file, "タグ " + t.name + " のキー長 (" + std::to_string(t.keyLength) + ") がページに収まりません");
        if ((t.keyType == 'N' || t.keyType == 'D') && t.keyLength < 12)
            corrupt(file, "タグ " + t.name + " の数値キーの長さ (" + std::to_string(t.keyLength) + ") が不正です");
        if (t.name.empty() || t.expression.empty())
            corrupt(file, "タグ " + std::to_string(i + 1) + " の定義が読めません");
        tags.push_back(std::move(t));
    }
    return tags;
}

IndexTag readNdxTag(const std::filesystem::path& file) {
    File f(file, false);
    uint8_t h[512] = {};
    if (f.readAt(0, h, sizeof h) < 24 + 1)
        corrupt(file, "ヘッダーが短すぎます");
    IndexTag t;
    t.file = file;
    t.ndx = true;
    t.name = file.stem().string();
    t.keyLength = le16(h + 12);
    t.keyType = le16(h + 16) ? 'N' : 'C';
    t.unique = h[23] != 0;
    t.expression = cString(h + 24, 488);
    if (t.expression.empty() || t.keyLength <= 0 || t.keyLength > 100)
        corrupt(file, "キー式が読めません");
    return t;
}

void writeMdx(const std::filesystem::path& file, const std::string& stem, const std::vector<IndexTag>& tags,
              const std::vector<std::vector<IndexEntry>>& entries) {
    if (tags.size() > static_cast<size_t>(MdxMaxTags))
        throw EngineError(ErrInvalidParam, "MDX のタグは " + std::to_string(MdxMaxTags) + " 個までです。");
    std::vector<uint8_t> head(MdxHeaderBytes, 0);
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    head[0] = 2;
    head[1] = static_cast<uint8_t>(tm.tm_year);
    head[2] = static_cast<uint8_t>(tm.tm_mon + 1);
    head[3] = static_cast<uint8_t>(tm.tm_mday);
    std::memcpy(head.data() + 4, stem.data(), std::min<size_t>(stem.size(), 16));
    putLe16(head.data() + 20, MdxBlock / 512);
    putLe16(head.data() + 22, MdxBlock);
    head[24] = 1;
    head[25] = MdxMaxTags;
    head[26] = 32;
    putLe16(head.data() + 28, static_cast<uint32_t>(tags.size()));
    head[44] = head[1];
    head[45] = head[2];
    head[46] = head[3];

    std::vector<Page> pages;
    uint32_t next = MdxHeaderBytes / 512;
    for (size_t t = 0; t < tags.size(); ++t) {
        const IndexTag& tag = tags[t];
        const size_t keyLength = static_cast<size_t>(tag.keyLength);
        const TreeShape shape{MdxBlock, MdxBlock / 512, 8, 4 + round4(keyLength), 4, false};
        const uint32_t headerPage = next;
        pages.push_back(Page{headerPage, std::vector<uint8_t>(MdxBlock, 0)});
        next += MdxBlock / 512;
        const size_t headerIndex = pages.size() - 1;
        const uint32_t first = next;
        const uint32_t root = buildTree(shape, entries[t], keyLength, next, pages);
        uint8_t* th = pages[headerIndex].bytes.data();
        putLe32(th, root);
        putLe32(th + 4, next - first);
        th[8] = static_cast<uint8_t>((tag.descending ? 0x08 : 0) | (tag.unique ? 0x40 : 0) | (tag.keyType == 'C' ? 0x10 : 0));
        th[9] = static_cast<uint8_t>(tag.keyType);
        putLe16(th + 12, static_cast<uint32_t>(keyLength));
        putLe16(th + 14, static_cast<uint32_t>((MdxBlock - 12) / shape.entryLen));
        putLe16(th + 18, static_cast<uint32_t>(shape.entryLen));
        th[23] = tag.unique ? 1 : 0;
        std::memcpy(th + 24, tag.expression.data(), std::min<size_t>(tag.expression.size(), 219));
        std::memcpy(th + 24 + 220, tag.forExpression.data(), std::min<size_t>(tag.forExpression.size(), 219));

        uint8_t* e = head.data() + MdxTagTable + t * 32;
        putLe32(e, headerPage);
        std::memcpy(e + 4, tag.name.data(), std::min<size_t>(tag.name.size(), 10));
        e[15] = tag.expression == tag.name ? 0x10 : 0x00;
        // Tags threaded as a binary tree ordered by name: children's entry numbers (1-based).
        for (size_t parent = 0; t > 0;) {
            uint8_t* pe = head.data() + MdxTagTable + parent * 32;
            const bool left = tag.name < tags[parent].name;
            uint8_t& slot = pe[left ? 16 : 17];
            if (slot == 0) {
                slot = static_cast<uint8_t>(t + 1);
                e[18] = static_cast<uint8_t>(parent + 1);
                break;
            }
            parent = slot - 1u;
        }
        e[19] = 0x02;
        e[20] = static_cast<uint8_t>(tag.keyType);
    }
    putLe32(head.data() + 32, next);
    writeAtomically(file, head, pages, 512);
}

void writeNdx(const std::filesystem::path& file, const IndexTag& tag, const std::vector<IndexEntry>& entries) {
    const size_t keyLength = static_cast<size_t>(tag.keyLength);
    const TreeShape shape{NdxPage, 1, 4, 8 + round4(keyLength), 8, true};
    std::vector<Page> pages;
    uint32_t next = 1;
    const uint32_t root = buildTree(shape, entries, keyLength, next, pages);
    std::vector<uint8_t> head(NdxPage, 0);
    putLe32(head.data(), root);
    putLe32(head.data() + 4, next);
    putLe16(head.data() + 12, static_cast<uint32_t>(keyLength));
    putLe16(head.data() + 14, static_cast<uint32_t>((NdxPage - 4 - shape.entryLen) / shape.entryLen));
    putLe16(head.data() + 16, tag.keyType == 'C' ? 0 : 1);
    putLe16(head.data() + 18, static_cast<uint32_t>(shape.entryLen));
    head[23] = tag.unique ? 1 : 0;
    std::memcpy(head.data() + 24, tag.expression.data(), std::min<size_t>(tag.expression.size(), 480));
    writeAtomically(file, head, pages, NdxPage);
}

std::vector<IndexEntry> readIndexEntries(const IndexTag& tag) {
    File f(tag.file, false);
    const uint64_t size = f.size();
    std::vector<IndexEntry> out;
    std::set<uint32_t> seen;
    if (tag.ndx) {
        uint8_t h[32] = {};
        f.readAt(0, h, sizeof h);
        const size_t keyLength = le16(h + 12);
        const TreeShape shape{NdxPage, 1, 4, le16(h + 18), 8, true};
        if (shape.entryLen < keyLength + 8)
            corrupt(tag.file, "キーの長さが不正です");
        walk(f, tag.file, le32(h), shape, keyLength, size, seen, 0, out);
        return out;
    }
    for (const IndexTag& t : readMdxTags(tag.file)) {
        if (t.name != tag.name)
            continue;
        uint8_t h[544] = {};
        f.readAt(0, h, sizeof h);
        const size_t block = le16(h + 22) ? le16(h + 22) : MdxBlock;
        for (int i = 0; i < le16(h + 28); ++i) {
            uint8_t e[32] = {};
            f.readAt(MdxTagTable + i * 32, e, 32);
            if (cString(e + 4, 11) != tag.name)
                continue;
            uint8_t th[24] = {};
            f.readAt(static_cast<uint64_t>(le32(e)) * 512, th, sizeof th);
            const TreeShape shape{block, block / 512, 8, le16(th + 18), 4, false};
            if (shape.entryLen < static_cast<size_t>(le16(th + 12)) + 4)
                corrupt(tag.file, "キーの長さが不正です");
            walk(f, tag.file, le32(th), shape, le16(th + 12), size, seen, 0, out);
            return out;
        }
    }
    throw EngineError(ErrNotFound, "タグ " + tag.name + " がありません: " + tag.file.filename().string());
}

} // namespace vemo::engine::dbase
