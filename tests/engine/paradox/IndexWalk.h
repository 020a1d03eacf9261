#pragma once
// Reading index trees the way a reader of the format would, independently of the engine.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

inline std::vector<uint8_t> slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// How a reader orders two keys of `len` bytes (<0, 0, >0): byte order unless the test says
// otherwise (the .Y of a descending index is searched in that index's order).
using KeyCompare = std::function<int(const uint8_t* a, const uint8_t* b, int len)>;
inline int byteCompare(const uint8_t* a, const uint8_t* b, int len) { return std::memcmp(a, b, size_t(len)); }

// Walks a .PX tree from its root down to level 1 for one key, the way a reader of the
// format would, and returns the data block it names (0 when the tree is unusable).
inline int pxLookup(const std::vector<uint8_t>& px, const uint8_t* key, int keyLen, const KeyCompare& cmp = byteCompare) {
    auto le16 = [&](size_t o) { return int(px[o] | (px[o + 1] << 8)); };
    const int rs = le16(0), headerSize = le16(2), bs = px[5] * 1024;
    int block = le16(0x1E), levels = px[0x20];
    if (rs != keyLen + 6) return 0;
    for (int level = levels; level >= 1; --level) {
        const size_t at = size_t(headerSize) + size_t(block - 1) * bs;
        if (at + 6 > px.size()) return 0;
        const int add = int16_t(le16(at + 4));
        const int n = add < 0 ? 0 : add / rs + 1;
        int chosen = -1;
        for (int i = 0; i < n; ++i) {
            const uint8_t* e = px.data() + at + 6 + size_t(i) * rs;
            if (i == 0 || cmp(e, key, keyLen) <= 0) chosen = i;
            else break;
        }
        if (chosen < 0) return 0;
        const uint8_t* e = px.data() + at + 6 + size_t(chosen) * rs + keyLen;
        block = int(int16_t(uint16_t((e[0] << 8) | e[1]) ^ 0x8000));
    }
    return block;
}


namespace indexwalk {

inline int le16(const std::vector<uint8_t>& b, size_t o) { return o + 1 < b.size() ? int(b[o] | (b[o + 1] << 8)) : 0; }

// Calls onRecord(block, record) for every record of a .DB or .X file in chain order; returns
// a problem found in the chain, or "".
template <class F> std::string walkChain(const std::vector<uint8_t>& f, F&& onRecord) {
    if (f.size() < 0x58) return "file too short; ";
    const int rs = le16(f, 0), hs = le16(f, 2), bs = f[5] * 1024;
    int seen = 0;
    for (int block = le16(f, 0x0E); block != 0; block = le16(f, size_t(hs) + size_t(block - 1) * bs)) {
        const size_t at = size_t(hs) + size_t(block - 1) * bs;
        if (at + size_t(bs) > f.size() || ++seen > 70000) return "chain leaves the file; ";
        const int add = int16_t(le16(f, at + 4));
        const int n = add < 0 ? 0 : add / rs + 1;
        for (int i = 0; i < n; ++i) onRecord(block, f.data() + at + 6 + size_t(i) * rs);
    }
    return "";
}

// What is wrong with a keyed table's .PX: each record, found through the tree from its
// root, must lie in the block the tree names, and the keys must ascend along the chain.
inline std::string primaryProblems(const std::filesystem::path& db, const std::filesystem::path& px, int keyLen) {
    const auto d = slurp(db), p = slurp(px);
    std::string out;
    std::vector<uint8_t> prev;
    int records = 0;
    out += walkChain(d, [&](int block, const uint8_t* r) {
        ++records;
        if (!prev.empty() && std::memcmp(prev.data(), r, size_t(keyLen)) >= 0) out += "keys out of order; ";
        prev.assign(r, r + keyLen);
        if (pxLookup(p, r, keyLen) != block) out += "record not found through the .PX; ";
    });
    if (records != int(le16(d, 6) | (le16(d, 8) << 16))) out += "header count differs; ";
    return out.size() > 300 ? out.substr(0, 300) : out;
}

// What is wrong with a secondary index pair: .X entries ascending (by cmp), one for each
// table record, each found through the .Y tree in the block that holds it, each hint naming
// the table block that holds the record of its key (the table key follows `fieldsLen` bytes).
inline std::string secondaryProblems(const std::filesystem::path& db, const std::filesystem::path& x,
                                     const std::filesystem::path& y, int fieldsLen, int tableKeyLen,
                                     const KeyCompare& cmp = byteCompare) {
    const auto d = slurp(db), xb = slurp(x), yb = slurp(y);
    if (xb.size() < 0x58 || d.size() < 0x58) return "file too short";
    const int xrs = le16(xb, 0), keyLen = xrs - 2;
    const int drs = le16(d, 0), dhs = le16(d, 2), dbs = d[5] * 1024;
    std::string out;
    std::vector<uint8_t> prev;
    int entries = 0;
    out += walkChain(xb, [&](int block, const uint8_t* e) {
        ++entries;
        if (!prev.empty() && cmp(prev.data(), e, keyLen) >= 0) out += "entries out of order; ";
        prev.assign(e, e + keyLen);
        if (pxLookup(yb, e, keyLen, cmp) != block) out += "entry not found through the .Y; ";
        const int hint = int(int16_t(uint16_t((e[keyLen] << 8) | e[keyLen + 1]) ^ 0x8000));
        const size_t dat = size_t(dhs) + size_t(hint - 1) * dbs;
        bool found = false;
        if (hint >= 1 && dat + 6 <= d.size()) {
            const int dn = int16_t(le16(d, dat + 4)) / drs + 1;
            for (int k = 0; k < dn && !found; ++k)
                found = std::memcmp(d.data() + dat + 6 + size_t(k) * drs, e + fieldsLen, size_t(tableKeyLen)) == 0;
        }
        if (!found) out += "hint " + std::to_string(hint) + " misses its record; ";
    });
    const int records = int(le16(d, 6) | (le16(d, 8) << 16));
    if (entries != records) out += std::to_string(entries) + " entries for " + std::to_string(records) + " records; ";
    return out.size() > 300 ? out.substr(0, 300) : out;
}

} // namespace indexwalk
