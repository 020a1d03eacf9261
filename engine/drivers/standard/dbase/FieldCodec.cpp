#include "engine/drivers/standard/dbase/FieldCodec.h"
#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/MemoFile.h"
#include "engine/drivers/standard/dbase/TextDecoder.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vemo::engine::dbase {
namespace {

constexpr int64_t MsPerDay = 86400000;
// Julian day number of 0001-01-01.
constexpr int64_t JulianOfDay0 = 1721426;

std::string_view trimmed(const uint8_t* p, int len) {
    int b = 0, e = len;
    while (b < e && (p[b] == ' ' || p[b] == 0))
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0))
        --e;
    return std::string_view(reinterpret_cast<const char*>(p + b), static_cast<size_t>(e - b));
}

bool allZero(const uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i])
            return false;
    return true;
}

uint64_t be64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

uint64_t le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

double bitsToDouble(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

Value decodeNumber(const DbfField& f, const uint8_t* p, bool integral) {
    std::string_view s = trimmed(p, f.length);
    if (s.empty())
        return {};
    if (integral) {
        int64_t v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (ec == std::errc() && end == s.data() + s.size())
            return v;
    }
    double d = 0;
    const char* b = s.data();
    if (*b == '+')
        ++b;
    auto [end, ec] = std::from_chars(b, s.data() + s.size(), d);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(d)) {
        // A decimal comma from a localised writer; anything else ("****") is no number.
        std::string text(s);
        for (char& c : text)
            if (c == ',')
                c = '.';
        char* stop = nullptr;
        d = std::strtod(text.c_str(), &stop);
        if (stop == text.c_str() || *stop != '\0' || !std::isfinite(d))
            return {};
    }
    if (integral)
        return static_cast<int64_t>(std::llround(d));
    return d;
}

// N fields without decimals of up to 18 digits are integers; see fieldDefOf.
bool integralNumber(const DbfField& f) { return f.type == 'N' && f.decimals == 0 && f.length <= 18; }

int32_t digits(const uint8_t* p, int n, bool& ok) {
    int32_t v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') {
            ok = false;
            return 0;
        }
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

Value dateTimeFromMs(int64_t days, int64_t ms) {
    if (ms < 0 || ms >= MsPerDay || days < 0 || days > 3652058)
        return {};
    return DateTime{dateFromDayNumber(days), Time{static_cast<int32_t>(ms)}};
}

uint32_t memoBlock(const DbfField& f, const uint8_t* p, bool& blank) {
    blank = false;
    if (f.length == 4) {
        uint32_t b = le32(p);
        blank = b == 0;
        return b;
    }
    std::string_view s = trimmed(p, f.length);
    uint64_t b = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), b);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || b == 0 || b > 0xFFFFFFFFu) {
        blank = true;
        return 0;
    }
    return static_cast<uint32_t>(b);
}

[[noreturn]] void tooLong(const DbfField& f) {
    throw EngineError(ErrConvert, "フィールド " + f.name + " の値が長すぎます (最大 " + std::to_string(f.length) +
                                      " バイト)。");
}

[[noreturn]] void wrongType(const DbfField& f) {
    throw EngineError(ErrConvert, "フィールド " + f.name + " に設定できない値です。");
}

std::string numberText(const DbfField& f, const Value& v) {
    char buf[64];
    if (auto* i = std::get_if<int64_t>(&v)) {
        if (f.decimals > 0)
            std::snprintf(buf, sizeof buf, "%lld.%0*d", static_cast<long long>(*i), f.decimals, 0);
        else
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*i));
        return buf;
    }
    double d = 0;
    if (auto* x = std::get_if<double>(&v))
        d = *x;
    else if (auto* b = std::get_if<bool>(&v))
        d = *b ? 1 : 0;
    else if (auto* s = std::get_if<Decimal>(&v))
        d = std::strtod(s->text.c_str(), nullptr);
    else if (auto* t = std::get_if<std::string>(&v)) {
        char* end = nullptr;
        d = std::strtod(t->c_str(), &end);
        if (end == t->c_str())
            wrongType(f);
    } else
        wrongType(f);
    if (!std::isfinite(d))
        wrongType(f);
    std::snprintf(buf, sizeof buf, "%.*f", f.decimals, d);
    std::string s = buf;
    if (s == "-0" || (s.rfind("-0.", 0) == 0 && s.find_first_not_of("-0.") == std::string::npos))
        s.erase(0, 1);
    return s;
}

std::string plainText(const DbfField& f, const Value& v) {
    if (auto* s = std::get_if<std::string>(&v))
        return *s;
    if (auto* i = std::get_if<int64_t>(&v))
        return std::to_string(*i);
    if (auto* b = std::get_if<bool>(&v))
        return *b ? "True" : "False";
    if (auto* d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    if (auto* x = std::get_if<Decimal>(&v))
        return x->text;
    if (auto* dt = std::get_if<Date>(&v)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", dt->year, dt->month, dt->day);
        return buf;
    }
    wrongType(f);
}

} // namespace

int64_t dayNumber(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 306; // 0001-01-01 is day 0
}

Date dateFromDayNumber(int64_t days) {
    int64_t z = days + 306;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
    return Date{static_cast<int32_t>(y), static_cast<int32_t>(m), static_cast<int32_t>(d)};
}

bool validDate(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= len[m - 1] + (m == 2 && leap ? 1 : 0);
}

FieldDef fieldDefOf(const DbfField& f, Variant variant) {
    FieldDef d;
    d.name = f.name;
    d.nativeType = std::string(1, f.type);
    const bool vfp = variant == Variant::VisualFoxPro;
    switch (f.type) {
    case 'C': case 'V': d.type = FieldType::String; d.size = f.length; break;
    case 'N':
        d.precision = f.length;
        d.scale = f.decimals;
        d.type = f.decimals > 0 ? FieldType::Float
                 : f.length <= 4 ? FieldType::Smallint
                 : f.length <= 9 ? FieldType::Integer
                 : f.length <= 18 ? FieldType::LargeInt : FieldType::Float;
        break;
    case 'F': d.type = FieldType::Float; d.precision = f.length; d.scale = f.decimals; break;
    case 'D': d.type = FieldType::Date; break;
    case 'L': d.type = FieldType::Boolean; break;
    case 'M': d.type = FieldType::Memo; break;
    case 'B': d.type = vfp ? FieldType::Float : FieldType::Blob; break;
    case 'G': d.type = FieldType::DBaseOle; break;
    case 'P': d.type = FieldType::Graphic; break;
    case 'W': d.type = FieldType::Blob; break;
    case 'Q': d.type = FieldType::VarBytes; d.size = f.length; break;
    case 'I': d.type = FieldType::Integer; break;
    case '+': d.type = FieldType::AutoInc; break;
    case 'O': d.type = FieldType::Float; break;
    case '@': case 'T': d.type = FieldType::DateTime; break;
    case 'Y': d.type = FieldType::Currency; break;
    default: d.type = FieldType::Unknown; break;
    }
    return d;
}

bool canWriteType(char type) { return std::strchr("CNFDLMBG", type) != nullptr; }

Value decodeField(const DbfField& f, const uint8_t* record, const RecordContext& ctx) {
    const DbfHeader& h = *ctx.header;
    if (f.nullBit >= 0 && h.nullFlagsField >= 0) {
        const DbfField& nf = h.fields[static_cast<size_t>(h.nullFlagsField)];
        if (record[nf.offset + f.nullBit / 8] & (1u << (f.nullBit % 8)))
            return {};
    }
    const uint8_t* p = record + f.offset;
    const bool vfp = h.variant == Variant::VisualFoxPro;
    switch (f.type) {
    case 'C': case 'V': {
        int len = f.length;
        if (f.varBit >= 0 && h.nullFlagsField >= 0) {
            const DbfField& nf = h.fields[static_cast<size_t>(h.nullFlagsField)];
            if (record[nf.offset + f.varBit / 8] & (1u << (f.varBit % 8)))
                len = std::min<int>(p[f.length - 1], f.length - 1);
        }
        while (len > 0 && (p[len - 1] == ' ' || p[len - 1] == 0))
            --len;
        if (len == 0)
            return {};
        if (f.flags & 0x04)
            return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
        return ctx.decoder->decode(p, static_cast<size_t>(len));
    }
    case 'N': case 'F':
        return decodeNumber(f, p, integralNumber(f));
    case 'D': {
        std::string_view s = trimmed(p, f.length);
        if (s.size() != 8 || s == "00000000")
            return {};
        bool ok = true;
        const auto* q = reinterpret_cast<const uint8_t*>(s.data());
        int y = digits(q, 4, ok), m = digits(q + 4, 2, ok), d = digits(q + 6, 2, ok);
        if (!ok || !validDate(y, m, d))
            return {};
        return Date{y, m, d};
    }
    case 'L':
        switch (p[0]) {
        case 'T': case 't': case 'Y': case 'y': return true;
        case 'F': case 'f': case 'N': case 'n': return false;
        default: return {};
        }
    case 'M': case 'G': case 'P': case 'W': case 'B': {
        if (f.type == 'B' && vfp)
            return bitsToDouble(le64(p));
        bool blank = false;
        uint32_t block = memoBlock(f, p, blank);
        if (blank || !ctx.memo)
            return {};
        std::string data = ctx.memo->read(block);
        if (f.type == 'M' && !(f.flags & 0x04)) {
            if (data.empty())
                return {};
            return ctx.decoder->decode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        }
        return Bytes(data.begin(), data.end());
    }
    case 'Q': {
        int len = f.length;
        if (f.varBit >= 0 && h.nullFlagsField >= 0) {
            const DbfField& nf = h.fields[static_cast<size_t>(h.nullFlagsField)];
            if (record[nf.offset + f.varBit / 8] & (1u << (f.varBit % 8)))
                len = std::min<int>(p[f.length - 1], f.length - 1);
        }
        return Bytes(p, p + len);
    }
    case 'I': case '+':
        if (f.length != 4)
            return {};
        if (vfp)
            return static_cast<int64_t>(static_cast<int32_t>(le32(p)));
        if (allZero(p, 4))
            return {};
        return static_cast<int64_t>(static_cast<int32_t>(be32(p) ^ 0x80000000u));
    case 'O': {
        if (f.length != 8 || allZero(p, 8))
            return {};
        uint64_t bits = be64(p);
        bits = (bits & 0x8000000000000000ull) ? (bits ^ 0x8000000000000000ull) : ~bits;
        return bitsToDouble(bits);
    }
    case '@': {
        if (f.length != 8 || allZero(p, 8))
            return {};
        double ms = bitsToDouble(be64(p));
        if (!std::isfinite(ms) || ms < 0 || ms > 4e14)
            return {};
        auto total = static_cast<int64_t>(std::llround(ms));
        return dateTimeFromMs(total / MsPerDay - 1, total % MsPerDay);
    }
    case 'T': {
        if (f.length != 8 || allZero(p, 8))
            return {};
        return dateTimeFromMs(static_cast<int64_t>(le32(p)) - JulianOfDay0, le32(p + 4));
    }
    case 'Y':
        if (f.length != 8)
            return {};
        return static_cast<double>(static_cast<int64_t>(le64(p))) / 10000.0;
    default:
        return {};
    }
}

void encodeField(const DbfField& f, const Value& v, uint8_t* record, int codepage, MemoFile* memo) {
    uint8_t* p = record + f.offset;
    const bool null = isNull(v);
    switch (f.type) {
    case 'C': {
        std::memset(p, ' ', static_cast<size_t>(f.length));
        if (null)
            return;
        std::string bytes = encodeText(plainText(f, v), codepage);
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.pop_back();
        if (bytes.size() > static_cast<size_t>(f.length))
            tooLong(f);
        std::memcpy(p, bytes.data(), bytes.size());
        return;
    }
    case 'N': case 'F': {
        std::memset(p, ' ', static_cast<size_t>(f.length));
        if (null)
            return;
        std::string s = numberText(f, v);
        if (s.size() > static_cast<size_t>(f.length))
            throw EngineError(ErrConvert, "フィールド " + f.name + " の桁数を超える数値です。");
        std::memcpy(p + (f.length - static_cast<int>(s.size())), s.data(), s.size());
        return;
    }
    case 'D': {
        std::memset(p, ' ', static_cast<size_t>(f.length));
        if (null)
            return;
        const Date* d = std::get_if<Date>(&v);
        if (auto* dt = std::get_if<DateTime>(&v))
            d = &dt->date;
        if (!d || !validDate(d->year, d->month, d->day))
            wrongType(f);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", d->year, d->month, d->day);
        std::memcpy(p, buf, std::min<size_t>(8, static_cast<size_t>(f.length)));
        return;
    }
    case 'L':
        if (null)
            p[0] = ' ';
        else if (auto* b = std::get_if<bool>(&v))
            p[0] = *b ? 'T' : 'F';
        else if (auto* i = std::get_if<int64_t>(&v))
            p[0] = *i ? 'T' : 'F';
        else
            wrongType(f);
        return;
    case 'M': case 'B': case 'G': {
        std::string data;
        if (auto* s = std::get_if<std::string>(&v))
            data = f.type == 'M' ? encodeText(*s, codepage) : *s;
        else if (auto* b = std::get_if<Bytes>(&v))
            data.assign(b->begin(), b->end());
        else if (!null)
            data = encodeText(plainText(f, v), codepage);
        uint32_t block = 0;
        if (!data.empty()) {
            if (!memo)
                throw EngineError(ErrNotFound, "メモファイルがありません: " + f.name);
            block = memo->append(data);
        }
        std::memset(p, ' ', static_cast<size_t>(f.length));
        if (block) {
            std::string s = std::to_string(block);
            if (s.size() > static_cast<size_t>(f.length))
                tooLong(f);
            std::memcpy(p + (f.length - static_cast<int>(s.size())), s.data(), s.size());
        }
        return;
    }
    default:
        throw EngineError(ErrReadOnly, "フィールド " + f.name + " の型 '" + std::string(1, f.type) +
                                           "' には書き込めません。");
    }
}

} // namespace vemo::engine::dbase
