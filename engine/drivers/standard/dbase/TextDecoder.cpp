#include "engine/drivers/standard/dbase/TextDecoder.h"
#include "engine/values/Codepage.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vemo::engine::dbase {
namespace {

bool isLeadByte(int codepage, unsigned c) {
    if (codepage == 932)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (codepage == 936 || codepage == 949 || codepage == 950)
        return c >= 0x81 && c <= 0xFE;
    return false;
}

} // namespace

const TextDecoder& TextDecoder::forCodepage(int codepage) {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<TextDecoder>> decoders;
    std::lock_guard lock(mutex);
    auto& slot = decoders[codepage];
    if (!slot)
        slot = std::make_unique<TextDecoder>(codepage);
    return *slot;
}

namespace {

// Lead bytes of a double-byte code page this file does not list (Johab, say): a byte that is
// no character alone but starts one with a following byte.
bool probeLeadByte(int codepage, unsigned c) {
    const char one = static_cast<char>(c);
    if (decodeText(std::string_view(&one, 1), codepage) != "\xEF\xBF\xBD")
        return false;
    for (unsigned t : {0x41u, 0x61u, 0x81u, 0xA1u}) {
        const char pair[2] = {one, static_cast<char>(t)};
        const std::string s = decodeText(std::string_view(pair, 2), codepage);
        if (s.find("\xEF\xBF\xBD") == std::string::npos && !s.empty())
            return true;
    }
    return false;
}

bool knownCodepage(int codepage) { return codepage == 932 || codepage == 936 || codepage == 949 || codepage == 950; }

} // namespace

TextDecoder::TextDecoder(int codepage) : codepage_(codepage) {
    bool probed[256] = {};
    if (!knownCodepage(codepage))
        for (unsigned b = 0x80; b < 256; ++b)
            probed[b] = probeLeadByte(codepage, b);
    auto lead = [&](unsigned b) { return knownCodepage(codepage) ? isLeadByte(codepage, b) : probed[b]; };
    doubleByte_ = false;
    for (unsigned b = 0x80; b < 256; ++b)
        doubleByte_ = doubleByte_ || lead(b);
    auto store = [](Entry& e, const std::string& s) {
        if (s.size() >= 1 && s.size() <= 3) {
            std::memcpy(e.utf8, s.data(), s.size());
            e.len = static_cast<uint8_t>(s.size());
        }
    };
    for (unsigned b = 0; b < 256; ++b) {
        lead_[b] = lead(b);
        if (b < 0x80) {
            single_[b].utf8[0] = static_cast<char>(b);
            single_[b].len = 1;
        } else if (!lead_[b]) {
            char c = static_cast<char>(b);
            store(single_[b], decodeText(std::string_view(&c, 1), codepage));
        }
    }
    if (!doubleByte_)
        return;
    pairStorage_.assign(sizeof(Entry) * 65536, '\0');
    pairs_ = reinterpret_cast<Entry*>(pairStorage_.data());
    for (unsigned l = 0; l < 256; ++l) {
        if (!lead_[l])
            continue;
        for (unsigned t = knownCodepage(codepage) ? 0x40 : 0x21; t < 256; ++t) {
            char pair[2] = {static_cast<char>(l), static_cast<char>(t)};
            std::string s = decodeText(std::string_view(pair, 2), codepage);
            if (s != "\xEF\xBF\xBD" && s.find("\xEF\xBF\xBD") == std::string::npos)
                store(pairs_[l * 256 + t], s);
        }
    }
}

void TextDecoder::append(const uint8_t* p, size_t n, std::string& out) const {
    size_t i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            size_t j = i + 1;
            while (j < n && p[j] < 0x80)
                ++j;
            out.append(reinterpret_cast<const char*>(p + i), j - i);
            i = j;
            continue;
        }
        if (lead_[c] && i + 1 < n) {
            const Entry& e = pairs_[c * 256 + p[i + 1]];
            if (e.len) {
                out.append(e.utf8, e.len);
                i += 2;
                continue;
            }
        }
        const Entry& e = single_[c];
        if (e.len)
            out.append(e.utf8, e.len);
        else
            out += "\xEF\xBF\xBD";
        ++i;
    }
}

} // namespace vemo::engine::dbase
