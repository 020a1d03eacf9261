#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"
#include "engine/values/DoubleByteCodec.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>

namespace vemo::engine {
namespace {

std::string iconvName(int codepage) {
    switch (codepage) {
    case 0: return "CP1252";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 28605: return "ISO-8859-15";
    default: break;
    }
    if (codepage >= 28591 && codepage <= 28599)
        return "ISO-8859-" + std::to_string(codepage - 28590);
    return "CP" + std::to_string(codepage);
}

// iconv descriptors are not thread-safe; keep one per direction and code page per thread.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; on an unconvertible sequence calls onBad(out) and skips `skip(in)` bytes.
    template <class OnBad, class Skip>
    void convert(std::string_view in, std::string& out, OnBad onBad, Skip skip) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t left = in.size();
        char buf[4096];
        while (left > 0) {
            char* dst = buf;
            size_t room = sizeof buf;
            size_t r = iconv(cd_, &src, &left, &dst, &room);
            out.append(buf, static_cast<size_t>(dst - buf));
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                onBad(out);
                size_t n = std::min(left, skip(std::string_view(src, left)));
                src += n;
                left -= n;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        // Stateful code pages (1255, 1258 combine characters) hold the last one back.
        char* dst = buf;
        size_t room = sizeof buf;
        if (iconv(cd_, nullptr, nullptr, &dst, &room) != static_cast<size_t>(-1))
            out.append(buf, static_cast<size_t>(dst - buf));
    }

private:
    iconv_t cd_;
};

Converter& converter(const std::string& to, const std::string& from) {
    thread_local std::map<std::string, std::unique_ptr<Converter>> cache;
    auto& slot = cache[to + "<" + from];
    if (!slot) {
        slot = std::make_unique<Converter>(to, from);
        if (!slot->valid()) {
            slot.reset();
            throw EngineError(ErrConvert, "文字コード " + from + " から " + to + " へ変換できません。");
        }
    }
    return *slot;
}

size_t utf8SequenceLength(std::string_view s) {
    if (s.empty())
        return 0;
    unsigned char c = static_cast<unsigned char>(s[0]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    return std::min(n, s.size());
}

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string decodeText(std::string_view bytes, int codepage) {
    if (isAscii(bytes) || codepage == 65001)
        return std::string(bytes);
    if (const DoubleByteCodec* codec = DoubleByteCodec::forCodepage(codepage)) {
        std::string out;
        out.reserve(bytes.size() * 3 / 2);
        if (codec->decode(bytes, out))
            return out;
    }
    return decodeTextWithIconv(bytes, codepage);
}

std::string decodeTextWithIconv(std::string_view bytes, int codepage) {
    if (codepage == 65001)
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    converter("UTF-8", iconvName(codepage))
        .convert(bytes, out, [](std::string& o) { o += "\xEF\xBF\xBD"; }, [](std::string_view) { return size_t(1); });
    return out;
}

std::string encodeText(std::string_view utf8, int codepage) {
    if (isAscii(utf8) || codepage == 65001)
        return std::string(utf8);
    if (const DoubleByteCodec* codec = DoubleByteCodec::forCodepage(codepage)) {
        std::string out;
        out.reserve(utf8.size());
        if (codec->encode(utf8, out))
            return out;
    }
    return encodeTextWithIconv(utf8, codepage); // says which character has no form
}

std::string encodeTextWithIconv(std::string_view utf8, int codepage) {
    if (codepage == 65001)
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    converter(iconvName(codepage), "UTF-8")
        .convert(
            utf8, out,
            [&](std::string&) {
                throw EngineError(ErrConvert, "文字がコードページ " + std::to_string(codepage) + " で表せません。");
            },
            utf8SequenceLength);
    return out;
}

bool codepageConvertible(int codepage) {
    static std::mutex mutex;
    static std::map<int, bool> known;
    std::lock_guard lock(mutex);
    auto it = known.find(codepage);
    if (it != known.end())
        return it->second;
    bool ok = codepage > 0 && codepage < 100000;
    if (ok) {
        iconv_t a = iconv_open("UTF-8", iconvName(codepage).c_str());
        iconv_t b = iconv_open(iconvName(codepage).c_str(), "UTF-8");
        ok = a != reinterpret_cast<iconv_t>(-1) && b != reinterpret_cast<iconv_t>(-1);
        if (a != reinterpret_cast<iconv_t>(-1))
            iconv_close(a);
        if (b != reinterpret_cast<iconv_t>(-1))
            iconv_close(b);
    }
    known.emplace(codepage, ok);
    return ok;
}

int languageDriverCodepage(std::string_view name) {
    std::string up;
    for (char c : name)
        if (c != ' ')
            up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up.empty())
        return 0;
    auto number = [](std::string_view digits) {
        if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
            return 0;
        return std::stoi(std::string(digits));
    };
    if (int n = number(up))
        return n;
    for (const char* prefix : {"CP", "WINDOWS-", "IBM", "MS"})
        if (up.rfind(prefix, 0) == 0)
            if (int n = number(std::string_view(up).substr(std::strlen(prefix))))
                return n;
    static const std::pair<const char*, int> named[] = {
        {"ASCII", 437}, {"INTL", 437}, {"SWEDFIN", 437}, {"NORDAN", 865}, {"NORDAN40", 865}, {"INTL850", 850},
        {"JAPAN", 932}, {"CHINA", 936}, {"KOREA", 949}, {"TAIWAN", 950}, {"ANSIINTL", 1252}, {"ANSII850", 1252},
        {"ANSISPAN", 1252}, {"ANSISWFN", 1252}, {"ANCYRR", 1251}, {"DBHEBREW", 1255}, {"UTF-8", 65001},
        {"UTF8", 65001}, {"SHIFT_JIS", 932}, {"SJIS", 932}, {"WINDOWS-31J", 932}, {"KOI8-R", 20866},
        {"KOI8-U", 21866}, {"MACINTOSH", 10000}, {"MAC-CYRILLIC", 10007}, {"MAC-CENTRALEUROPE", 10029},
        {"ISO-8859-15", 28605},
    };
    for (const auto& [n, cp] : named)
        if (up == n)
            return cp;
    if (up.rfind("ISO-8859-", 0) == 0)
        if (int n = number(std::string_view(up).substr(9)); n >= 1 && n <= 9)
            return 28590 + n;
    if (up.rfind("DBWIN", 0) == 0)
        return 1252;
    // dBASE driver names carry the code page after "DB" (DB437US0, DB1251..); FoxPro ones
    // after the three letters of "FOX" and two more.
    const size_t start = up.rfind("DB", 0) == 0 ? 2 : (up.rfind("FOX", 0) == 0 ? 5 : std::string::npos);
    if (start != std::string::npos && start < up.size()) {
        size_t digits = 0;
        while (start + digits < up.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(up[start + digits])))
            ++digits;
        if (digits >= 3)
            return std::stoi(up.substr(start, digits));
        if (up.rfind("FOX", 0) == 0 && up.find("WIN") != std::string::npos)
            return 1252;
    }
    return 0;
}

bool canEncode(std::string_view utf8, int codepage) {
    try {
        encodeText(utf8, codepage);
        return true;
    } catch (const EngineError&) {
        return false;
    }
}

size_t cp932Width(std::string_view utf8) {
    if (isAscii(utf8))
        return utf8.size();
    std::string out;
    converter("CP932", "UTF-8")
        .convert(utf8, out, [](std::string& o) { o += "??"; }, utf8SequenceLength);
    return out.size();
}

std::string truncateEncoded(std::string_view bytes, size_t maxBytes, int codepage) {
    if (bytes.size() <= maxBytes)
        return std::string(bytes);
    if (codepage != 932 && codepage != 936 && codepage != 949 && codepage != 950) {
        // Other code pages: a cut that leaves the last character incomplete drops it (a
        // single-byte code page never has one).
        std::string_view cut = bytes.substr(0, maxBytes);
        for (int i = 0; i < 3 && !cut.empty() && codepageConvertible(codepage); ++i) {
            const std::string text = decodeText(cut, codepage);
            if (text.size() < 3 || text.compare(text.size() - 3, 3, "\xEF\xBF\xBD") != 0)
                break;
            cut.remove_suffix(1);
        }
        return std::string(cut);
    }
    size_t i = 0;
    while (i < maxBytes) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        bool lead = codepage == 932 ? ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) : c >= 0x81;
        size_t n = lead ? 2 : 1;
        if (i + n > maxBytes)
            break;
        i += n;
    }
    return std::string(bytes.substr(0, i));
}

std::string localeTextEncoding() {
    static std::once_flag once;
    static std::string name;
    std::call_once(once, [] {
        const char* previous = setlocale(LC_CTYPE, nullptr);
        std::string saved = previous ? previous : "C";
        setlocale(LC_CTYPE, "");
        const char* cs = nl_langinfo(CODESET);
        std::string codeset = cs ? cs : "";
        setlocale(LC_CTYPE, saved.c_str());
        std::string upper;
        for (char c : codeset)
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        // Only encodings that can hold Japanese text are used as they are.
        if (upper == "EUC-JP" || upper == "SHIFT_JIS" || upper == "CP932" || upper == "WINDOWS-31J" ||
            upper == "SJIS" || upper == "GB18030" || upper == "UTF-16")
            name = upper == "SHIFT_JIS" || upper == "SJIS" ? "CP932" : codeset;
        else
            name = "UTF-8";
    });
    return name;
}

std::string encodeForLocale(std::string_view utf8) {
    const std::string enc = localeTextEncoding();
    if (enc == "UTF-8" || isAscii(utf8))
        return std::string(utf8);
    std::string out;
    converter(enc, "UTF-8").convert(utf8, out, [](std::string& o) { o += '?'; }, utf8SequenceLength);
    return out;
}

} // namespace vemo::engine
