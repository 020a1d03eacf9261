#include "engine/values/DoubleByteCodec.h"

#include <cerrno>
#include <iconv.h>

namespace vemo::engine {
namespace {

constexpr uint32_t NoChar = 0xFFFFFFFFu;  // the bytes start no character
constexpr uint32_t LeadByte = 0xFFFFFFFEu; // a single byte that starts a pair
constexpr uint32_t Complex = 0xFFFFFFFDu;  // converts to more than one character: left to iconv
constexpr uint16_t NoBytes = 0xFFFF;
constexpr uint16_t ComplexBytes = 0xFFFE;

iconv_t cd(void* p) { return static_cast<iconv_t>(p); }
bool ok(iconv_t d) { return d != reinterpret_cast<iconv_t>(-1); }

void appendUtf8(uint32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point at the start of s and its length; false for bytes that are not UTF-8.
bool nextUtf8(std::string_view s, size_t i, uint32_t& c, size_t& n) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        c = lead;
        n = 1;
        return true;
    }
    if (lead < 0xC2 || lead > 0xF4)
        return false;
    n = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + n > s.size())
        return false;
    c = lead & (0xFF >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80)
            return false;
        c = c << 6 | (b(k) & 0x3F);
    }
    static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    return c >= least[n] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

} // namespace

const DoubleByteCodec* DoubleByteCodec::forCodepage(int codepage) {
    // Not 949: its iconv conversion skips a broken pair whole, which these tables do not copy.
    static std::once_flag once[3];
    static std::unique_ptr<DoubleByteCodec> codecs[3];
    static constexpr int pages[] = {932, 936, 950};
    for (int i = 0; i < 3; ++i)
        if (pages[i] == codepage) {
            std::call_once(once[i], [&] {
                std::unique_ptr<DoubleByteCodec> c(new DoubleByteCodec(codepage));
                if (c->valid())
                    codecs[i] = std::move(c);
            });
            return codecs[i].get();
        }
    return nullptr;
}

DoubleByteCodec::DoubleByteCodec(int codepage) : name_("CP" + std::to_string(codepage)) {
    toUtf8_ = iconv_open("UTF-8", name_.c_str());
    fromUtf8_ = iconv_open(name_.c_str(), "UTF-8");
    if (!valid())
        return;
    for (unsigned b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        size_t used = 0;
        singles_.cp[b] = iconvDecode(&in, 1, &used);
    }
}

DoubleByteCodec::~DoubleByteCodec() {
    if (ok(cd(toUtf8_)))
        iconv_close(cd(toUtf8_));
    if (ok(cd(fromUtf8_)))
        iconv_close(cd(fromUtf8_));
    for (auto& r : rows_)
        delete r.load();
    for (auto& b : blocks_)
        delete b.load();
}

bool DoubleByteCodec::valid() const { return ok(cd(toUtf8_)) && ok(cd(fromUtf8_)); }

// One character from in through iconv: its code point (used = bytes taken), NoChar, LeadByte
// when in is only the start of one, Complex when it gives more than one character.
uint32_t DoubleByteCodec::iconvDecode(const char* in, size_t n, size_t* used) const {
    iconv(cd(toUtf8_), nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in);
    size_t left = n;
    char buf[16];
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd(toUtf8_), &src, &left, &dst, &room);
    if (r == static_cast<size_t>(-1) && errno == EINVAL)
        return LeadByte;
    if (r == static_cast<size_t>(-1) || left != 0)
        return NoChar;
    *used = n;
    const std::string_view got(buf, static_cast<size_t>(dst - buf));
    uint32_t c = 0;
    size_t len = 0;
    if (got.empty() || !nextUtf8(got, 0, c, len) || len != got.size())
        return Complex;
    return c;
}

const DoubleByteCodec::Row& DoubleByteCodec::row(unsigned lead) const {
    if (const Row* r = rows_[lead].load(std::memory_order_acquire))
        return *r;
    std::lock_guard lock(mutex_);
    if (const Row* r = rows_[lead].load(std::memory_order_relaxed))
        return *r;
    auto* r = new Row;
    for (unsigned t = 0; t < 256; ++t) {
        const char in[2] = {static_cast<char>(lead), static_cast<char>(t)};
        size_t used = 0;
        const uint32_t c = iconvDecode(in, 2, &used);
        r->cp[t] = c == LeadByte ? NoChar : c;
    }
    rows_[lead].store(r, std::memory_order_release);
    return *r;
}

const DoubleByteCodec::Block& DoubleByteCodec::block(uint32_t high) const {
    if (const Block* b = blocks_[high].load(std::memory_order_acquire))
        return *b;
    std::lock_guard lock(mutex_);
    if (const Block* b = blocks_[high].load(std::memory_order_relaxed))
        return *b;
    auto* b = new Block;
    for (uint32_t low = 0; low < 256; ++low) {
        const uint32_t c = high << 8 | low;
        b->bytes[low] = NoBytes;
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::string in;
        appendUtf8(c, in);
        iconv(cd(fromUtf8_), nullptr, nullptr, nullptr, nullptr);
        char* src = in.data();
        size_t left = in.size();
        char out[8];
        char* dst = out;
        size_t room = sizeof out;
        if (iconv(cd(fromUtf8_), &src, &left, &dst, &room) == static_cast<size_t>(-1) || left != 0)
            continue;
        const size_t n = static_cast<size_t>(dst - out);
        const auto u = [&](size_t k) { return static_cast<uint16_t>(static_cast<unsigned char>(out[k])); };
        if (n == 1)
            b->bytes[low] = u(0);
        else if (n == 2 && u(0) != 0 && (u(0) << 8 | u(1)) < ComplexBytes)
            b->bytes[low] = static_cast<uint16_t>(u(0) << 8 | u(1));
        else
            b->bytes[low] = ComplexBytes;
    }
    blocks_[high].store(b, std::memory_order_release);
    return *b;
}

bool DoubleByteCodec::decode(std::string_view bytes, std::string& out) const {
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 && singles_.cp[b] == b) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        uint32_t c = singles_.cp[b];
        size_t used = 1;
        if (c == LeadByte) {
            c = i + 1 < n ? row(b).cp[static_cast<unsigned char>(bytes[i + 1])] : NoChar;
            if (c != NoChar)
                used = 2;
        }
        if (c == Complex)
            return false;
        if (c == NoChar)
            out += "\xEF\xBF\xBD";
        else
            appendUtf8(c, out);
        i += used;
    }
    return true;
}

bool DoubleByteCodec::encode(std::string_view utf8, std::string& out) const {
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = 0;
        size_t len = 0;
        if (!nextUtf8(utf8, i, c, len) || c > 0xFFFF)
            return false;
        const uint16_t v = block(c >> 8).bytes[c & 0xFF];
        if (v == NoBytes || v == ComplexBytes)
            return false;
        if (v >= 0x100)
            out += static_cast<char>(v >> 8);
        out += static_cast<char>(v & 0xFF);
        i += len;
    }
    return true;
}

} // namespace vemo::engine
