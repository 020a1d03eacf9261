#pragma once
// Table-driven decoding of code page text to UTF-8. Decoding every character field of a
// large table through iconv one call at a time costs more than the whole file read; the
// tables are built once per code page from iconv's own conversion, so the result is the same.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vemo::engine::dbase {

class TextDecoder {
public:
    // The shared decoder of a code page (built on first use, thread-safe).
    static const TextDecoder& forCodepage(int codepage);

    void append(const uint8_t* bytes, size_t n, std::string& out) const;
    std::string decode(const uint8_t* bytes, size_t n) const {
        std::string s;
        append(bytes, n, s);
        return s;
    }

    explicit TextDecoder(int codepage);

private:
    struct Entry {
        char utf8[3];
        uint8_t len; // 0: not a character on its own
    };
    int codepage_;
    bool doubleByte_;
    bool lead_[256] = {};
    Entry single_[256] = {};
    Entry* pairs_ = nullptr; // 256 x 256, only for double-byte code pages
    std::string pairStorage_;
};

} // namespace vemo::engine::dbase
