#include "PxKeyOrder.h"

#include <algorithm>
#include <cstring>

namespace vemo::engine::paradox {

PxKeyOrder::PxKeyOrder(std::vector<Segment> segments, int codepage) : codepage_(codepage) {
    // Segments that change nothing are dropped, so that an index in byte order compares as
    // fast as a table.
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.offset < b.offset; });
    if (std::any_of(segments.begin(), segments.end(), [](const Segment& s) { return s.descending || s.fold; }))
        segments_ = std::move(segments);
}

bool PxKeyOrder::leadByte(uint8_t c, int codepage) {
    switch (codepage) {
    case 932: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936: case 949: case 950: return c >= 0x81 && c <= 0xFE;
    default: return false;
    }
}

void PxKeyOrder::foldText(uint8_t* p, int len, int codepage) {
    for (int i = 0; i < len; ++i) {
        if (leadByte(p[i], codepage)) { ++i; continue; }
        if (p[i] >= 'a' && p[i] <= 'z') p[i] = uint8_t(p[i] - 'a' + 'A');
    }
}

namespace {

// Text compared with its ASCII letters folded: each side is walked on its own, since a byte
// that is a letter in one may be the second half of a character in the other.
int compareFolded(const uint8_t* a, const uint8_t* b, int len, int codepage) {
    bool trailA = false, trailB = false;
    for (int i = 0; i < len; ++i) {
        uint8_t x = a[i], y = b[i];
        if (trailA) trailA = false;
        else if (PxKeyOrder::leadByte(x, codepage)) trailA = true;
        else if (x >= 'a' && x <= 'z') x = uint8_t(x - 'a' + 'A');
        if (trailB) trailB = false;
        else if (PxKeyOrder::leadByte(y, codepage)) trailB = true;
        else if (y >= 'a' && y <= 'z') y = uint8_t(y - 'a' + 'A');
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

int PxKeyOrder::compare(const uint8_t* a, const uint8_t* b, int len) const {
    if (segments_.empty()) return len > 0 ? std::memcmp(a, b, size_t(len)) : 0;
    int at = 0;
    for (const Segment& s : segments_) {
        if (at >= len) return 0;
        if (s.offset > at) { // bytes between segments: ascending
            const int n = std::min(s.offset, len) - at;
            if (int c = std::memcmp(a + at, b + at, size_t(n))) return c;
            at += n;
            if (at >= len) return 0;
        }
        const int n = std::min(s.offset + s.length, len) - s.offset;
        if (n <= 0) continue;
        int c = s.fold ? compareFolded(a + s.offset, b + s.offset, n, codepage_)
                       : std::memcmp(a + s.offset, b + s.offset, size_t(n));
        if (c) return s.descending ? -c : c;
        at = s.offset + n;
    }
    return at < len ? std::memcmp(a + at, b + at, size_t(len - at)) : 0;
}

} // namespace vemo::engine::paradox
