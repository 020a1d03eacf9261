#pragma once
// The order of the keys of a keyed file: plain byte order for a table and its .PX; for a
// secondary index's .X, field by field, the indexed fields descending in a descending index
// and compared with ASCII letters folded in a case-insensitive one, the table's key after
// them ascending. Every field's stored bytes already sort as its values do (PxCodec), so a
// field's order is its bytes' order, reversed or folded.
#include <cstdint>
#include <vector>

namespace vemo::engine::paradox {

class PxKeyOrder {
public:
    struct Segment {
        int offset = 0, length = 0;
        bool descending = false;
        bool fold = false; // alpha text compared with ASCII letters upper-cased
    };
    PxKeyOrder() = default;
    // codepage: where the second byte of a double-byte character is never folded.
    PxKeyOrder(std::vector<Segment> segments, int codepage);

    // Byte order throughout (no segment differs from it).
    bool plain() const { return segments_.empty(); }
    // <0, 0, >0 as a sorts before, with or after b, over their first `len` key bytes; bytes
    // past the last segment compare ascending.
    int compare(const uint8_t* a, const uint8_t* b, int len) const;

    // Upper-cases the ASCII letters of alpha text in place, leaving both bytes of a
    // double-byte character alone.
    static void foldText(uint8_t* text, int len, int codepage);
    // Whether byte c starts a double-byte character in the code page.
    static bool leadByte(uint8_t c, int codepage);

private:
    std::vector<Segment> segments_;
    int codepage_ = 0;
};

} // namespace vemo::engine::paradox
