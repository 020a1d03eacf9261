// Field encodings checked against byte patterns documented for the format.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/paradox/PxCodec.h"

#include <gtest/gtest.h>

using namespace vemo::engine;
using namespace vemo::engine::paradox;

namespace {

std::vector<uint8_t> enc(uint8_t type, uint8_t size, const Value& v) {
    PxField f{"F", type, size, fieldLength(type, size), 0};
    std::vector<uint8_t> out(size_t(f.length));
    encodeField(f, v, out.data(), 932);
    return out;
}

Value dec(uint8_t type, uint8_t size, const std::vector<uint8_t>& bytes) {
    PxField f{"F", type, size, fieldLength(type, size), 0};
    return decodeField(f, bytes.data(), 932);
}

} // namespace

TEST(ParadoxValues, DocumentedBytePatterns) {
    EXPECT_EQ(pxDayNumber(Date{100, 1, 1}), 36160);
    EXPECT_EQ(pxDayNumber(Date{1996, 5, 4}), 728783);
    EXPECT_EQ(pxDayNumber(Date{1, 1, 1}), 1);
    EXPECT_EQ(pxDateFromDayNumber(730120), (Date{2000, 1, 1}));
    EXPECT_EQ(enc(PxDate, 4, Date{2000, 1, 1}), (std::vector<uint8_t>{0x80, 0x0B, 0x24, 0x08}));
    EXPECT_EQ(enc(PxTime, 4, Time{45296789}), (std::vector<uint8_t>{0x82, 0xB3, 0x2C, 0x95}));
    EXPECT_EQ(enc(PxNumber, 8, 1.0), (std::vector<uint8_t>{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(enc(PxNumber, 8, -1.0), (std::vector<uint8_t>{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(enc(PxMoney, 8, 0.0), (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(enc(PxTimestamp, 8, DateTime{{2000, 1, 1}, {12 * 3600000}}),
              (std::vector<uint8_t>{0xC2, 0xCC, 0xAF, 0xC2, 0x5B, 0x07, 0x00, 0x00}));
    EXPECT_EQ(enc(PxShort, 2, int64_t(256)), (std::vector<uint8_t>{0x81, 0x00}));
    EXPECT_EQ(enc(PxShort, 2, int64_t(-1)), (std::vector<uint8_t>{0x7F, 0xFF}));
    EXPECT_EQ(enc(PxLong, 4, int64_t(-2)), (std::vector<uint8_t>{0x7F, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(enc(PxLogical, 1, true), (std::vector<uint8_t>{0x81}));
    EXPECT_EQ(enc(PxLogical, 1, false), (std::vector<uint8_t>{0x80}));
}

TEST(ParadoxValues, RoundTripsAndNullsAreDistinctFromZero) {
    const std::vector<std::pair<std::pair<uint8_t, uint8_t>, Value>> cases = {
        {{PxShort, 2}, int64_t(0)}, {{PxShort, 2}, int64_t(-32767)}, {{PxLong, 4}, int64_t(2147483647)},
        {{PxAutoInc, 4}, int64_t(1)}, {{PxNumber, 8}, -1234.5625}, {{PxMoney, 8}, 0.0},
        {{PxDate, 4}, Date{9999, 12, 31}}, {{PxDate, 4}, Date{1, 1, 1}}, {{PxTime, 4}, Time{0}},
        {{PxTimestamp, 8}, DateTime{{1970, 1, 1}, {1}}}, {{PxLogical, 1}, false},
        {{PxAlpha, 20}, std::string("ﾃｰﾌﾞﾙとテーブル")}, {{PxBytes, 4}, Bytes{0, 1, 2, 0xFF}},
        {{PxBcd, 2}, Decimal{"-123.45"}}, {{PxBcd, 0}, Decimal{"99999999999999999999999999999999"}},
        {{PxBcd, 4}, Decimal{"0.0001"}}, {{PxBcd, 2}, Decimal{"0.00"}},
    };
    for (const auto& [t, v] : cases) {
        SCOPED_TRACE(int(t.first));
        EXPECT_EQ(dec(t.first, t.second, enc(t.first, t.second, v)), v);
    }
    for (auto [type, size] : std::vector<std::pair<uint8_t, uint8_t>>{{PxShort, 2}, {PxLong, 4}, {PxNumber, 8},
                                                                      {PxDate, 4}, {PxTime, 4}, {PxLogical, 1},
                                                                      {PxBcd, 2}, {PxAlpha, 5}}) {
        EXPECT_TRUE(isNull(dec(type, size, enc(type, size, Value{}))));
    }
    EXPECT_EQ(dec(PxBcd, 2, enc(PxBcd, 2, Decimal{"7.5"})), (Value{Decimal{"7.50"}}));
    EXPECT_EQ(dec(PxBcd, 2, enc(PxBcd, 2, Decimal{"-0.00"})), (Value{Decimal{"0.00"}}));
}

TEST(ParadoxValues, ValuesThatDoNotFitAreRefused) {
    auto refuses = [](uint8_t type, uint8_t size, const Value& v) {
        try {
            enc(type, size, v);
        } catch (const EngineError& e) {
            return e.code() == ErrConvert;
        }
        return false;
    };
    EXPECT_TRUE(refuses(PxShort, 2, int64_t(-32768)));  // would read back as blank
    EXPECT_TRUE(refuses(PxShort, 2, int64_t(40000)));
    EXPECT_TRUE(refuses(PxLong, 4, int64_t(1) << 31));
    EXPECT_TRUE(refuses(PxAlpha, 4, std::string("テスト")));  // 6 bytes in code page 932
    EXPECT_TRUE(refuses(PxBcd, 2, Decimal{"1.234"}));
    EXPECT_TRUE(refuses(PxBcd, 30, Decimal{"1234"}));
    EXPECT_TRUE(refuses(PxBcd, 2, Decimal{"12a"}));
    EXPECT_TRUE(refuses(PxDate, 4, Date{2023, 2, 29}));
    EXPECT_TRUE(refuses(PxTime, 4, Time{86400000}));
    EXPECT_TRUE(refuses(PxNumber, 8, std::string("abc")));
    EXPECT_NO_THROW(enc(PxAlpha, 6, std::string("テスト")));
}
