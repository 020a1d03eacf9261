// A level-7 table (48-byte descriptors, language driver name, binary field types) built
// byte by byte, since no program on this system writes that level.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

void be(std::string& s, size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * (bytes - 1 - i)));
}

uint64_t bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

} // namespace

TEST(Level7, BinaryTypesNullsAndDriverNameCodePage) {
    struct F {
        const char* name;
        char type;
        int len;
    } fields[] = {{"NAME", 'C', 10}, {"QTY", 'I', 4}, {"RATE", 'O', 8}, {"STAMP", '@', 8}, {"SEQ", '+', 4}};
    const size_t n = std::size(fields);
    const size_t headerLength = 68 + 48 * n + 1;
    const size_t recordLength = 1 + 10 + 4 + 8 + 8 + 4;
    std::string b(headerLength + 2 * recordLength + 1, '\0');
    b[0] = 0x04;
    b[4] = 2;
    b[8] = static_cast<char>(headerLength & 0xFF);
    b[9] = static_cast<char>(headerLength >> 8);
    b[10] = static_cast<char>(recordLength);
    std::memcpy(&b[32], "DB932JP0", 8);
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(&b[68 + 48 * i], fields[i].name, std::strlen(fields[i].name));
        b[68 + 48 * i + 32] = fields[i].type;
        b[68 + 48 * i + 33] = static_cast<char>(fields[i].len);
    }
    b[headerLength - 1] = 0x0D;
    size_t r = headerLength;
    b[r] = ' ';
    std::memcpy(&b[r + 1], "\x93\xfa\x96\x7b      ", 10); // 日本 in code page 932
    be(b, r + 11, 5u ^ 0x80000000u, 4);
    be(b, r + 15, bits(2.5) | 0x8000000000000000ull, 8);
    const double ms = 738646.0 * 86400000.0 + (7 * 3600 + 8 * 60 + 9) * 1000.0; // 2023-05-06 07:08:09
    be(b, r + 23, bits(ms), 8);
    be(b, r + 31, 1u ^ 0x80000000u, 4);
    r += recordLength;
    b[r] = ' ';
    std::memcpy(&b[r + 1], "minus     ", 10);
    be(b, r + 11, static_cast<uint32_t>(-3) ^ 0x80000000u, 4);
    be(b, r + 15, ~bits(-1.5), 8);
    // STAMP and SEQ stay all zero: null
    b[r + recordLength] = 0x1A;

    dbtest::TempDir dir;
    dbtest::writeBytes(dir / "LEVEL7.DBF", b);
    auto c = makeStandardDriver()->connect("L", {{"PATH", dir.path().string()}}, {})->openTable("LEVEL7.DBF", {});
    ASSERT_EQ(c->fields().size(), n);
    EXPECT_EQ(c->fields()[1].type, FieldType::Integer);
    EXPECT_EQ(c->fields()[3].type, FieldType::DateTime);
    EXPECT_EQ(c->fields()[4].type, FieldType::AutoInc);
    auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value(std::string("日本")));
    EXPECT_EQ(rows[0][1], Value(int64_t(5)));
    EXPECT_EQ(rows[0][2], Value(2.5));
    EXPECT_EQ(rows[0][3], Value(DateTime{{2023, 5, 6}, {(7 * 3600 + 8 * 60 + 9) * 1000}}));
    EXPECT_EQ(rows[0][4], Value(int64_t(1)));
    EXPECT_EQ(rows[1][1], Value(int64_t(-3)));
    EXPECT_EQ(rows[1][2], Value(-1.5));
    EXPECT_TRUE(isNull(rows[1][3]));
    EXPECT_TRUE(isNull(rows[1][4]));
    EXPECT_NE(c->readOnlyReason(), "") << "level 7 is read here, not written";
}
