#include "engine/values/Codepage.h"
#include "engine/values/DateText.h"
#include "engine/contract/EngineError.h"
#include "engine/values/FieldTypeNames.h"
#include "engine/values/Value.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

TEST(ValueText, EachKindAsTheWindowsShowIt) {
    EXPECT_EQ(valueToText(Value{int64_t{-42}}, FieldType::Integer), "-42");
    EXPECT_EQ(valueToText(Value{0.1}, FieldType::Float), "0.1");
    EXPECT_EQ(valueToText(Value{1.0 / 3}, FieldType::Float), "0.3333333333333333");
    EXPECT_EQ(valueToText(Value{1234.5}, FieldType::Currency), "1234.5");
    EXPECT_EQ(valueToText(Value{800000.0}, FieldType::Currency), "800000");
    EXPECT_EQ(valueToText(Value{-5e6}, FieldType::Float), "-5000000");
    EXPECT_EQ(valueToText(Value{0.0001}, FieldType::Float), "0.0001");
    EXPECT_EQ(valueToText(Value{1.5e20}, FieldType::Float), "1.5e+20");
    EXPECT_EQ(valueToText(Value{2.5e-7}, FieldType::Float), "2.5e-07");
    EXPECT_EQ(valueToText(Value{Date{2001, 4, 1}}, FieldType::Date), "2001/04/01");
    EXPECT_EQ(valueToText(Value{Time{(13 * 3600 + 5 * 60 + 9) * 1000 + 500}}, FieldType::Time), "13:05:09");
    EXPECT_EQ(valueToText(Value{DateTime{{1999, 12, 31}, {23 * 3600 * 1000}}}, FieldType::DateTime),
              "1999/12/31 23:00:00");
    EXPECT_EQ(valueToText(Value{true}, FieldType::Boolean), "True");
    EXPECT_EQ(valueToText(Value{false}, FieldType::Boolean), "False");
    EXPECT_EQ(valueToText(Value{}, FieldType::String), "");
    EXPECT_EQ(valueToText(Value{std::string("行1\r\n行2")}, FieldType::Memo), "行1\r\n行2");
    EXPECT_EQ(valueToText(Value{Bytes{1, 2}}, FieldType::Blob), "(BLOB)");
}

// BCD and server numeric values read "12.50" from one driver and "1234.5" from another;
// every driver shows and exports the shortest form, as for floats.
TEST(ValueText, DecimalsInShortestForm) {
    EXPECT_EQ(valueToText(Value{Decimal{"-12.340"}}, FieldType::BCD), "-12.34");
    EXPECT_EQ(valueToText(Value{Decimal{"12.50"}}, FieldType::BCD), "12.5");
    EXPECT_EQ(valueToText(Value{Decimal{"1234.50"}}, FieldType::BCD), "1234.5");
    EXPECT_EQ(valueToText(Value{Decimal{"108.00"}}, FieldType::BCD), "108");
    EXPECT_EQ(valueToText(Value{Decimal{"-0.00"}}, FieldType::BCD), "0");
    EXPECT_EQ(valueToText(Value{Decimal{"0.0001"}}, FieldType::BCD), "0.0001");
    EXPECT_EQ(valueToText(Value{Decimal{"007"}}, FieldType::BCD), "7");
    EXPECT_EQ(valueToText(Value{Decimal{".50"}}, FieldType::BCD), "0.5");
    EXPECT_EQ(valueToText(Value{Decimal{"100"}}, FieldType::BCD), "100");
    EXPECT_EQ(valueToText(Value{Decimal{"99999999999999999999999999999999"}}, FieldType::BCD),
              "99999999999999999999999999999999");
    EXPECT_EQ(valueToText(Value{Decimal{"NaN"}}, FieldType::BCD), "NaN");
    EXPECT_EQ(valueToText(Value{Decimal{"-"}}, FieldType::BCD), "-");
    // The shortest text reads back as the same number.
    EXPECT_EQ(std::get<Decimal>(valueFromText(valueToText(Value{Decimal{"-7.50"}}, FieldType::BCD), FieldType::BCD)).text,
              "-7.5");
}

TEST(ValueText, FloatingTextReadsBackExactly) {
    for (double d : {0.1, 1e-300, 123456789.123456789, -2.5e17, 5e-324, 999999999999999.9, 1e15, 1.7976931348623157e308}) {
        const std::string t = valueToText(Value{d}, FieldType::Float);
        EXPECT_EQ(std::get<double>(valueFromText(t, FieldType::Float)), d) << t;
    }
}

TEST(ValueFromText, ConvertsOrRaisesConvertError) {
    EXPECT_EQ(std::get<int64_t>(valueFromText(" 32767 ", FieldType::Smallint)), 32767);
    EXPECT_EQ(std::get<Date>(valueFromText("2000/2/29", FieldType::Date)), (Date{2000, 2, 29}));
    EXPECT_EQ(std::get<Time>(valueFromText("07:30", FieldType::Time)).msecs, (7 * 60 + 30) * 60000);
    EXPECT_EQ(std::get<bool>(valueFromText("false", FieldType::Boolean)), false);
    EXPECT_TRUE(isNull(valueFromText("", FieldType::Integer)));
    EXPECT_TRUE(isNull(valueFromText("  ", FieldType::Date)));
    EXPECT_EQ(std::get<std::string>(valueFromText("  a ", FieldType::String)), "  a ");
    for (auto [text, type] : std::vector<std::pair<std::string, FieldType>>{
             {"32768", FieldType::Smallint}, {"-1", FieldType::Word}, {"12a", FieldType::Integer},
             {"2147483648", FieldType::Integer}, {"1,000", FieldType::Float}, {"2001/02/30", FieldType::Date},
             {"24:00", FieldType::Time}, {"maybe", FieldType::Boolean}, {"1.2.3", FieldType::BCD},
             {"x", FieldType::Blob}, {"nan", FieldType::Float}}) {
        try {
            valueFromText(text, type);
            ADD_FAILURE() << text << " converted";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.code(), ErrConvert) << text;
        }
    }
}

TEST(Calendar, DaysRoundTripAndKnownAnchors) {
    EXPECT_EQ(daysFromCivil({1, 1, 1}), 0);
    EXPECT_EQ(daysFromCivil({1970, 1, 1}), 719162);
    EXPECT_EQ(daysFromCivil({2000, 3, 1}) - daysFromCivil({2000, 2, 28}), 2);
    for (int64_t d = 0; d < 3652059; d += 997)
        EXPECT_EQ(daysFromCivil(civilFromDays(d)), d);
    EXPECT_FALSE(isValidDate({1900, 2, 29}));
    EXPECT_TRUE(isValidDate({2400, 2, 29}));
    EXPECT_EQ(parseDateText("01/04/01"), (Date{2001, 4, 1}));
    EXPECT_EQ(parseDateText("99-12-31"), (Date{1999, 12, 31}));
    EXPECT_FALSE(parseDateText("2001/04"));
    EXPECT_FALSE(parseDateText("2001/04-01"));
}

TEST(FieldTypeListing, RowsFromTheOneTypeTable) {
    EXPECT_EQ(listingRow(12, "NAME", 1, 1000),
              (ListingRow{"012", "NAME", "文字型", "ftString", "1000", "VARCHAR(1000)"}));
    EXPECT_EQ(listingRow(100, "PRICE", 7, 0),
              (ListingRow{"100", "PRICE", "金額型", "ftCurrency", "  0", "DOUBLE  PRECISION"}));
    EXPECT_EQ(listingRow(1, "X", 14, 4)[2], "自動ｲﾝｸﾘﾒﾝﾄ型");
    EXPECT_EQ(listingRow(2, "Y", 30, 12), (ListingRow{"002", "Y", "", "", " 12", ""}));
    EXPECT_EQ(listingRow(3, "Z", 1, 65537)[4], "  1"); // sizes are 16-bit in the listing
    EXPECT_EQ(listingHeadings()[4], "幅");
}

TEST(Codepages, LanguageDriverNamesAndNumbersNameTheirCodePage) {
    using vemo::engine::languageDriverCodepage;
    EXPECT_EQ(languageDriverCodepage("1251"), 1251);
    EXPECT_EQ(languageDriverCodepage(" cp866 "), 866);
    EXPECT_EQ(languageDriverCodepage("Windows-1250"), 1250);
    EXPECT_EQ(languageDriverCodepage("IBM437"), 437);
    EXPECT_EQ(languageDriverCodepage("DB437US0"), 437);
    EXPECT_EQ(languageDriverCodepage("DB932JP1"), 932);
    EXPECT_EQ(languageDriverCodepage("DBWINWE0"), 1252);
    EXPECT_EQ(languageDriverCodepage("ancyrr"), 1251);
    EXPECT_EQ(languageDriverCodepage("intl850"), 850);
    EXPECT_EQ(languageDriverCodepage("japan"), 932);
    EXPECT_EQ(languageDriverCodepage("KOI8-R"), 20866);
    EXPECT_EQ(languageDriverCodepage("iso-8859-5"), 28595);
    EXPECT_EQ(languageDriverCodepage(""), 0);
    EXPECT_EQ(languageDriverCodepage("DBFRENCH"), 0);
    EXPECT_EQ(languageDriverCodepage("123456"), 0);
}

TEST(Codepages, EveryCodePageIconvConvertsRoundTrips) {
    using namespace vemo::engine;
    const struct { int codepage; const char* text; } cases[] = {
        {437, "Grüße ½"}, {850, "Ærø"}, {852, "Łódź"}, {866, "Привет"}, {1250, "Šťastný"}, {1251, "Ёж"},
        {1252, "€ café"}, {1253, "Αθήνα"}, {1255, "שלום"}, {20866, "Мир"}, {28595, "Мир"}, {10007, "Мир"},
        {10000, "café"}, {874, "ไทย"}, {936, "中文"}, {949, "한국"}, {950, "中文"}, {932, "ﾃｰﾌﾞﾙ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codepage);
        ASSERT_TRUE(codepageConvertible(c.codepage));
        const std::string bytes = encodeText(c.text, c.codepage);
        EXPECT_NE(bytes, c.text);
        EXPECT_EQ(decodeText(bytes, c.codepage), c.text);
    }
    // A cut through a double-byte character drops it, in any such code page.
    const std::string johab = encodeText("한국", 1361);
    ASSERT_EQ(johab.size(), 4u);
    EXPECT_EQ(truncateEncoded(johab, 3, 1361), johab.substr(0, 2));
    EXPECT_EQ(truncateEncoded(encodeText("Ёжик", 1251), 3, 1251), encodeText("Ёжи", 1251));
    EXPECT_FALSE(codepageConvertible(895));
    EXPECT_FALSE(codepageConvertible(0));
    EXPECT_FALSE(codepageConvertible(-5));
    // The stand-in for those: every byte stays one character.
    std::string all;
    for (int b = 1; b < 256; ++b) all += char(b);
    EXPECT_EQ(encodeText(decodeText(all, RawBytesCodepage), RawBytesCodepage), all);
}
