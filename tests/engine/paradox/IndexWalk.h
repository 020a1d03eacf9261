#pragma once
// Reading index trees the way a reader of the format would, independently of the engine.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

inline std::vector<uint8_t> slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Walks a .PX tree from its root down to level 1 for one key, the way a reader of the
// format would, and returns the data block it names (0 when the tree is unusable).
inline int pxLookup(const std::vector<uint8_t>& px, const uint8_t* key, int keyLen) {
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
            if (i == 0 || std::memcmp(e, key, keyLen) <= 0) chosen = i;
            else break;
        }
        if (chosen < 0) return 0;
        const uint8_t* e = px.data() + at + 6 + size_t(chosen) * rs + keyLen;
        block = int(int16_t(uint16_t((e[0] << 8) | e[1]) ^ 0x8000));
    }
    return block;
}

