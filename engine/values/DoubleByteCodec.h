#pragma once
// The double-byte Asian code pages 932, 936 and 950 converted through tables. The tables
// are filled from iconv as text needs them, one lead byte or one block of 256 characters at a
// time, so the result is exactly what iconv gives, without a call into iconv for every field.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vemo::engine {

class DoubleByteCodec {
public:
    // The codec of a double-byte code page iconv knows; null for any other.
    static const DoubleByteCodec* forCodepage(int codepage);

    // Appends the UTF-8 of bytes: a byte that starts no character becomes U+FFFD and the next
    // byte is read afresh, as iconv's conversion does. False when some character cannot be
    // converted here (out is then unspecified; convert through iconv instead).
    bool decode(std::string_view bytes, std::string& out) const;
    // Appends the code page's bytes of utf8. False when a character has no form in the code
    // page or utf8 is not valid UTF-8 (out is then unspecified).
    bool encode(std::string_view utf8, std::string& out) const;

    ~DoubleByteCodec();

private:
    explicit DoubleByteCodec(int codepage);
    bool valid() const;
    // Code points of a lead byte's pairs, or of the single bytes.
    struct Row {
        std::array<uint32_t, 256> cp;
    };
    // The bytes of a block of 256 code points: a single byte, (lead << 8 | trail), or none.
    struct Block {
        std::array<uint16_t, 256> bytes;
    };
    const Row& row(unsigned lead) const;
    const Block& block(uint32_t high) const;
    uint32_t iconvDecode(const char* in, size_t n, size_t* used) const;

    std::string name_;
    Row singles_ {};
    mutable std::mutex mutex_;
    void* toUtf8_ = nullptr;   // iconv descriptors, used under mutex_ while filling tables
    void* fromUtf8_ = nullptr;
    mutable std::array<std::atomic<const Row*>, 256> rows_ {};
    mutable std::array<std::atomic<const Block*>, 256> blocks_ {};
};

} // namespace vemo::engine
