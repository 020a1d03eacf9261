#include "PxCodec.h"

#include "engine/values/Codepage.h"
#include "engine/contract/EngineError.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vemo::engine::paradox {
namespace {

[[noreturn]] void convertError(const PxField& f, const std::string& why) {
    throw EngineError(ErrConvert, "フィールド \"" + f.name + "\": " + why);
}

uint32_t getBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
void putBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
bool allZero(const uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// Stored long: value with the top bit inverted, big endian; all zero is null.
void putLongBE(uint8_t* p, int64_t v) { putBE32(p, uint32_t(int32_t(v)) ^ 0x80000000u); }
int64_t getLongBE(const uint8_t* p) { return int32_t(getBE32(p) ^ 0x80000000u); }

void putDoubleBE(uint8_t* p, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    if (d == 0) bits = 0; // -0.0 stores as 0.0
    if (std::signbit(d) && d != 0) bits = ~bits;
    else bits |= 0x8000000000000000ull;
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(bits >> (56 - 8 * i));
}
double getDoubleBE(const uint8_t* p) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
    if (bits & 0x8000000000000000ull) bits &= ~0x8000000000000000ull;
    else bits = ~bits;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

int64_t toInteger(const PxField& f, const Value& v) {
    if (auto i = std::get_if<int64_t>(&v)) return *i;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || *d != std::trunc(*d) || std::fabs(*d) > 9.2e18) convertError(f, "整数ではありません");
        return int64_t(*d);
    }
    const std::string* s = std::get_if<std::string>(&v);
    if (auto dec = std::get_if<Decimal>(&v)) s = &dec->text;
    if (s) {
        char* end = nullptr;
        errno = 0;
        long long r = std::strtoll(s->c_str(), &end, 10);
        if (s->empty() || errno || *end) convertError(f, "整数ではありません: " + *s);
        return r;
    }
    convertError(f, "整数に変換できません");
}

double toDouble(const PxField& f, const Value& v) {
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto i = std::get_if<int64_t>(&v)) return double(*i);
    const std::string* s = std::get_if<std::string>(&v);
    if (auto dec = std::get_if<Decimal>(&v)) s = &dec->text;
    if (s) {
        char* end = nullptr;
        double r = std::strtod(s->c_str(), &end);
        if (s->empty() || *end || !std::isfinite(r)) convertError(f, "数値ではありません: " + *s);
        return r;
    }
    convertError(f, "数値に変換できません");
}

std::string decimalText(const PxField& f, const Value& v) {
    if (auto d = std::get_if<Decimal>(&v)) return d->text;
    if (auto s = std::get_if<std::string>(&v)) return *s;
    if (auto i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d)) convertError(f, "数値ではありません");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", int(f.sizeByte), *d);
        return buf;
    }
    convertError(f, "BCD に変換できません");
}

void encodeBcd(const PxField& f, const Value& v, uint8_t* p) {
    const std::string text = decimalText(f, v);
    const int decimals = f.sizeByte;
    size_t i = 0;
    bool negative = false;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string intPart, fracPart;
    bool dot = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !dot) { dot = true; continue; }
        if (c < '0' || c > '9') convertError(f, "数値ではありません: " + text);
        (dot ? fracPart : intPart) += c;
    }
    if (intPart.empty() && fracPart.empty()) convertError(f, "数値ではありません: " + text);
    while (intPart.size() > 1 && intPart[0] == '0') intPart.erase(0, 1);
    if (int(intPart.size()) > 32 - decimals && intPart != "0") convertError(f, "桁数が多すぎます: " + text);
    if (int(fracPart.size()) > decimals) {
        for (size_t k = decimals; k < fracPart.size(); ++k)
            if (fracPart[k] != '0') convertError(f, "小数点以下の桁数が多すぎます: " + text);
        fracPart.resize(decimals);
    }
    fracPart.append(decimals - fracPart.size(), '0');
    std::string digits = std::string(32 - decimals - (intPart == "0" ? 0 : intPart.size()), '0');
    if (intPart != "0") digits += intPart;
    digits += fracPart;
    if (digits.find_first_not_of('0') == std::string::npos) negative = false;
    std::memset(p, 0, 17);
    p[0] = uint8_t((negative ? 0x40 : 0xC0) | decimals);
    for (int k = 0; k < 32; ++k) {
        int nib = digits[k] - '0';
        if (negative) nib ^= 0xF;
        p[1 + k / 2] |= uint8_t(k % 2 == 0 ? nib << 4 : nib);
    }
}

Value decodeBcd(const PxField& f, const uint8_t* p) {
    if (p[0] == 0) return {};
    const bool negative = !(p[0] & 0x80);
    const int decimals = std::min<int>(f.sizeByte, 32);
    std::string digits;
    for (int k = 0; k < 32; ++k) {
        int nib = k % 2 == 0 ? p[1 + k / 2] >> 4 : p[1 + k / 2] & 0xF;
        if (negative) nib ^= 0xF;
        digits += char('0' + (nib > 9 ? 9 : nib));
    }
    std::string intPart = digits.substr(0, 32 - decimals);
    std::string fracPart = digits.substr(32 - decimals);
    size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
    std::string text = intPart;
    if (decimals > 0) text += "." + fracPart;
    if (negative && digits.find_first_not_of('0') != std::string::npos) text = "-" + text;
    return Decimal{text};
}

} // namespace

bool isBlobType(uint8_t t) { return t >= PxMemo && t <= PxGraphic; }

bool isKnownType(uint8_t t) {
    switch (t) {
    case PxAlpha: case PxDate: case PxShort: case PxLong: case PxMoney: case PxNumber:
    case PxLogical: case PxMemo: case PxBlob: case PxFmtMemo: case PxOle: case PxGraphic:
    case PxTime: case PxTimestamp: case PxAutoInc: case PxBcd: case PxBytes:
        return true;
    default:
        return false;
    }
}

int fieldLength(uint8_t type, uint8_t size) {
    switch (type) {
    case PxAlpha: case PxBytes: return size;
    case PxDate: case PxLong: case PxTime: case PxAutoInc: return size == 4 ? 4 : 0;
    case PxShort: return size == 2 ? 2 : 0;
    case PxMoney: case PxNumber: case PxTimestamp: return size == 8 ? 8 : 0;
    case PxLogical: return size == 1 ? 1 : 0;
    case PxBcd: return size <= 32 ? 17 : 0;
    default: return isBlobType(type) && size >= 10 ? size : 0;
    }
}

int typeLevel(uint8_t type) {
    switch (type) {
    case PxLong: case PxLogical: case PxTime: case PxTimestamp: case PxAutoInc: case PxBcd:
    case PxBytes:
        return 5;
    default:
        return isBlobType(type) ? 4 : 3;
    }
}

FieldType engineType(uint8_t type) {
    switch (type) {
    case PxAlpha: return FieldType::String;
    case PxDate: return FieldType::Date;
    case PxShort: return FieldType::Smallint;
    case PxLong: return FieldType::Integer;
    case PxMoney: return FieldType::Currency;
    case PxNumber: return FieldType::Float;
    case PxLogical: return FieldType::Boolean;
    case PxMemo: return FieldType::Memo;
    case PxBlob: return FieldType::Blob;
    case PxFmtMemo: return FieldType::FmtMemo;
    case PxOle: return FieldType::ParadoxOle;
    case PxGraphic: return FieldType::Graphic;
    case PxTime: return FieldType::Time;
    case PxTimestamp: return FieldType::DateTime;
    case PxAutoInc: return FieldType::AutoInc;
    case PxBcd: return FieldType::BCD;
    case PxBytes: return FieldType::Bytes;
    default: return FieldType::Unknown;
    }
}

std::string nativeTypeName(uint8_t type, uint8_t size) {
    switch (type) {
    case PxAlpha: return "A" + std::to_string(size);
    case PxDate: return "D";
    case PxShort: return "S";
    case PxLong: return "I";
    case PxMoney: return "$";
    case PxNumber: return "N";
    case PxLogical: return "L";
    case PxMemo: return "M" + std::to_string(size - 10);
    case PxBlob: return "B" + std::to_string(size - 10);
    case PxFmtMemo: return "F" + std::to_string(size - 10);
    case PxOle: return "O" + std::to_string(size - 10);
    case PxGraphic: return "G" + std::to_string(size - 10);
    case PxTime: return "T";
    case PxTimestamp: return "@";
    case PxAutoInc: return "+";
    case PxBcd: return "#" + std::to_string(size);
    case PxBytes: return "Y" + std::to_string(size);
    default: return "?";
    }
}

FieldDef toFieldDef(const PxField& f) {
    FieldDef d;
    d.name = f.name;
    d.type = engineType(f.type);
    d.nativeType = nativeTypeName(f.type, f.sizeByte);
    if (f.type == PxAlpha || f.type == PxBytes) d.size = f.sizeByte;
    else if (isBlobType(f.type)) d.size = f.sizeByte - 10;
    else if (f.type == PxBcd) { d.size = f.sizeByte; d.precision = 32; d.scale = f.sizeByte; }
    return d;
}

void fromFieldDef(const FieldDef& def, uint8_t& type, uint8_t& size) {
    auto blob = [&](uint8_t t, int minLeader) {
        int leader = def.size > 0 ? def.size : 10;
        if (leader < minLeader || leader > 240)
            throw EngineError(ErrInvalidParam, "フィールド \"" + def.name + "\" のサイズが不正です: " + std::to_string(def.size));
        type = t;
        size = uint8_t(leader + 10);
    };
    switch (def.type) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
        if (def.size < 1 || def.size > 255)
            throw EngineError(ErrInvalidParam, "フィールド \"" + def.name + "\" のサイズが不正です: " + std::to_string(def.size));
        type = PxAlpha; size = uint8_t(def.size); return;
    case FieldType::Bytes: case FieldType::VarBytes:
        if (def.size >= 1 && def.size <= 255) { type = PxBytes; size = uint8_t(def.size); return; }
        blob(PxBlob, 0); return;
    case FieldType::Smallint: type = PxShort; size = 2; return;
    case FieldType::Integer: case FieldType::Word: type = PxLong; size = 4; return;
    case FieldType::AutoInc: type = PxAutoInc; size = 4; return;
    case FieldType::Boolean: type = PxLogical; size = 1; return;
    case FieldType::Float: type = PxNumber; size = 8; return;
    case FieldType::Currency: type = PxMoney; size = 8; return;
    case FieldType::BCD: {
        int d = def.scale > 0 ? def.scale : def.size;
        if (d < 0 || d > 32) throw EngineError(ErrInvalidParam, "フィールド \"" + def.name + "\" の小数点以下桁数が不正です");
        type = PxBcd; size = uint8_t(d); return;
    }
    case FieldType::LargeInt: type = PxBcd; size = 0; return; // exact, unlike a double
    case FieldType::Date: type = PxDate; size = 4; return;
    case FieldType::Time: type = PxTime; size = 4; return;
    case FieldType::DateTime: type = PxTimestamp; size = 8; return;
    case FieldType::Memo: blob(PxMemo, 1); return;
    case FieldType::FmtMemo: blob(PxFmtMemo, 0); return;
    case FieldType::Graphic: blob(PxGraphic, 0); return;
    case FieldType::ParadoxOle: case FieldType::DBaseOle: blob(PxOle, 0); return;
    case FieldType::Blob: case FieldType::TypedBinary: blob(PxBlob, 0); return;
    default:
        throw EngineError(ErrNotSupported, "フィールド \"" + def.name + "\" の型は Paradox テーブルに作成できません");
    }
}

int64_t pxDayNumber(const Date& d) {
    // Days from 0001-01-01 in the proleptic Gregorian calendar, plus one.
    int64_t y = d.year, m = d.month;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t unixDays = era * 146097 + doe - 719468;
    return unixDays + 719163; // 1970-01-01 is day 719163
}

Date pxDateFromDayNumber(int64_t n) {
    int64_t z = n - 719163 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    return Date{int32_t(yoe + era * 400 + (m <= 2)), int32_t(m), int32_t(d)};
}

void putShortBE(uint8_t* p, int v) {
    uint16_t u = uint16_t(int16_t(v)) ^ 0x8000;
    p[0] = uint8_t(u >> 8); p[1] = uint8_t(u);
}
int getShortBE(const uint8_t* p) { return int16_t(uint16_t((p[0] << 8) | p[1]) ^ 0x8000); }

Value decodeField(const PxField& f, const uint8_t* p, int codepage) {
    switch (f.type) {
    case PxAlpha: {
        size_t n = 0;
        while (n < size_t(f.length) && p[n]) ++n;
        if (n == 0) return {};
        return decodeText(std::string_view(reinterpret_cast<const char*>(p), n), codepage);
    }
    case PxBytes:
        if (allZero(p, f.length)) return {};
        return Bytes(p, p + f.length);
    case PxShort:
        if (!p[0] && !p[1]) return {};
        return int64_t(getShortBE(p));
    case PxLong: case PxAutoInc:
        if (allZero(p, 4)) return {};
        return getLongBE(p);
    case PxDate: {
        if (allZero(p, 4)) return {};
        int64_t n = getLongBE(p);
        if (n < 1 || n > 3652059) return {}; // outside 0001..9999: unreadable, shown blank
        return pxDateFromDayNumber(n);
    }
    case PxTime: {
        if (allZero(p, 4)) return {};
        int64_t ms = getLongBE(p);
        if (ms < 0 || ms >= 86400000) return {};
        return Time{int32_t(ms)};
    }
    case PxTimestamp: {
        if (allZero(p, 8)) return {};
        double ms = getDoubleBE(p);
        if (!std::isfinite(ms) || ms < 86400000.0 || ms > 3652060.0 * 86400000.0) return {};
        int64_t total = int64_t(std::llround(ms));
        return DateTime{pxDateFromDayNumber(total / 86400000), Time{int32_t(total % 86400000)}};
    }
    case PxMoney: case PxNumber:
        if (allZero(p, 8)) return {};
        return getDoubleBE(p);
    case PxLogical:
        if (!p[0]) return {};
        return bool(p[0] & 0x7F);
    case PxBcd:
        return decodeBcd(f, p);
    default:
        return {};
    }
}

void encodeField(const PxField& f, const Value& v, uint8_t* p, int codepage) {
    std::memset(p, 0, f.length);
    if (isNull(v)) return;
    switch (f.type) {
    case PxAlpha: {
        const std::string* s = std::get_if<std::string>(&v);
        std::string tmp;
        if (!s) {
            if (auto i = std::get_if<int64_t>(&v)) tmp = std::to_string(*i);
            else if (auto d = std::get_if<Decimal>(&v)) tmp = d->text;
            else convertError(f, "文字列に変換できません");
            s = &tmp;
        }
        if (s->empty()) return;
        std::string bytes = encodeText(*s, codepage);
        if (bytes.size() > size_t(f.length))
            convertError(f, "文字列が長すぎます (" + std::to_string(bytes.size()) + " > " + std::to_string(f.length) + " バイト)");
        if (bytes.find('\0') != std::string::npos) convertError(f, "文字列に NUL 文字があります");
        std::memcpy(p, bytes.data(), bytes.size());
        return;
    }
    case PxBytes: {
        auto b = std::get_if<Bytes>(&v);
        if (!b) convertError(f, "バイト列ではありません");
        if (b->size() > size_t(f.length)) convertError(f, "バイト列が長すぎます");
        std::memcpy(p, b->data(), b->size());
        return;
    }
    case PxShort: {
        int64_t i = toInteger(f, v);
        if (i < -32767 || i > 32767) convertError(f, "範囲外の値です: " + std::to_string(i));
        putShortBE(p, int(i));
        return;
    }
    case PxLong: case PxAutoInc: {
        int64_t i = toInteger(f, v);
        if (i < -2147483647LL || i > 2147483647LL) convertError(f, "範囲外の値です: " + std::to_string(i));
        putLongBE(p, i);
        return;
    }
    case PxDate: {
        auto d = std::get_if<Date>(&v);
        Date tmp;
        if (!d) {
            if (auto dt = std::get_if<DateTime>(&v)) tmp = dt->date;
            else convertError(f, "日付ではありません");
            d = &tmp;
        }
        if (d->year < 1 || d->year > 9999 || d->month < 1 || d->month > 12 || d->day < 1 || d->day > 31
            || pxDateFromDayNumber(pxDayNumber(*d)) != *d)
            convertError(f, "日付が不正です");
        putLongBE(p, pxDayNumber(*d));
        return;
    }
    case PxTime: {
        auto t = std::get_if<Time>(&v);
        Time tmp;
        if (!t) {
            if (auto dt = std::get_if<DateTime>(&v)) tmp = dt->time;
            else convertError(f, "時刻ではありません");
            t = &tmp;
        }
        if (t->msecs < 0 || t->msecs >= 86400000) convertError(f, "時刻が不正です");
        putLongBE(p, t->msecs);
        return;
    }
    case PxTimestamp: {
        auto dt = std::get_if<DateTime>(&v);
        DateTime tmp;
        if (!dt) {
            if (auto d = std::get_if<Date>(&v)) tmp.date = *d;
            else convertError(f, "日時ではありません");
            dt = &tmp;
        }
        const Date& d = dt->date;
        if (d.year < 1 || d.year > 9999 || pxDateFromDayNumber(pxDayNumber(d)) != d
            || dt->time.msecs < 0 || dt->time.msecs >= 86400000)
            convertError(f, "日時が不正です");
        putDoubleBE(p, double(pxDayNumber(d)) * 86400000.0 + dt->time.msecs);
        return;
    }
    case PxMoney: case PxNumber: {
        double d = toDouble(f, v);
        if (!std::isfinite(d)) convertError(f, "数値ではありません");
        putDoubleBE(p, d);
        return;
    }
    case PxLogical: {
        bool b;
        if (auto pb = std::get_if<bool>(&v)) b = *pb;
        else if (auto pi = std::get_if<int64_t>(&v)) b = *pi != 0;
        else convertError(f, "論理値ではありません");
        p[0] = b ? 0x81 : 0x80;
        return;
    }
    case PxBcd:
        encodeBcd(f, v, p);
        return;
    default:
        convertError(f, "この型の値は書き込めません");
    }
}

} // namespace vemo::engine::paradox
