// The parts of the batch move that need no table: progress arithmetic, mapping lines, and
// how values are placed into a destination field.
#include "engine/batchmove/FieldMapping.h"
#include "engine/batchmove/Progress.h"
#include "engine/batchmove/TypeMapping.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace vemo::engine;
using enginetest::errorCodeOf;
using enginetest::field;

TEST(BatchMoveProgress, MessagesCountRecordsAndPercentagesAreUsedAsPositions) {
    ProgressRecord r;
    setProgressMessage(r, "転送済みレコード: 250");
    EXPECT_EQ(r.percentDone, -1);
    EXPECT_EQ(progressPosition(r), 250);
    EXPECT_EQ(progressPercent(progressPosition(r), 1000), 25);

    setProgressMessage(r, "転送済みレコード:");
    EXPECT_EQ(progressPosition(r), 0);
    EXPECT_EQ(progressPercent(0, 1000), 0);
    setProgressMessage(r, "レコード: abc");
    EXPECT_EQ(progressPosition(r), 0);
    setProgressMessage(r, "コロンなし 12");
    EXPECT_EQ(progressPosition(r), 0);
    // Only ten characters after the colon count.
    setProgressMessage(r, "n:12345678901");
    EXPECT_EQ(progressPosition(r), 1234567890);

    r.percentDone = 50; // a percentage is a position, not rescaled to the record count
    EXPECT_EQ(progressPosition(r), 50);
    EXPECT_EQ(progressPercent(50, 200), 25);

    EXPECT_EQ(progressPercent(1, 8), 12);   // 12.5 rounds to even
    EXPECT_EQ(progressPercent(3, 8), 38);   // 37.5 rounds to even
    EXPECT_EQ(progressPercent(5, 0), 0);    // no range
    // A message longer than the buffer is cut, never overrun.
    setProgressMessage(r, std::string(300, 'x'));
    EXPECT_EQ(std::string(r.message).size(), sizeof r.message - 1);
}

TEST(BatchMoveMappings, LinesPairNamesAndUnknownNamesFailBeforeAnything) {
    const auto pairs = parseMappings({"ID = CODE", "  NAME  ", "", "PRICE=COST"});
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].destination, "ID");
    EXPECT_EQ(pairs[0].source, "CODE");
    EXPECT_EQ(pairs[1].destination, "NAME");
    EXPECT_EQ(pairs[1].source, "NAME");
    EXPECT_EQ(pairs[2].source, "COST");
    EXPECT_EQ(errorCodeOf([] { parseMappings({"ID = "}); }), ErrInvalidParam);

    const std::vector<FieldDef> src{field("CODE", FieldType::Integer), field("NAME", FieldType::String, 10),
                                    field("COST", FieldType::Float)};
    const std::vector<FieldDef> dst{field("ID", FieldType::Integer), field("name", FieldType::String, 10),
                                    field("PRICE", FieldType::Float), field("NOTE", FieldType::String, 5)};
    EXPECT_EQ(resolveMappings(pairs, src, dst), (std::vector<int>{0, 1, 2, -1}));
    // Without lines, same names pair (ASCII case ignored).
    EXPECT_EQ(resolveMappings({}, src, dst), (std::vector<int>{-1, 1, -1, -1}));
    EXPECT_EQ(errorCodeOf([&] { resolveMappings(parseMappings({"ID = NOPE"}), src, dst); }), ErrNotFound);
    EXPECT_EQ(errorCodeOf([&] { resolveMappings(parseMappings({"NOPE = CODE"}), src, dst); }), ErrNotFound);
    EXPECT_EQ(errorCodeOf([&] { resolveMappings(parseMappings({"ID = CODE", "ID = NAME"}), src, dst); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { resolveMappings({}, {field("X", FieldType::Integer)}, dst); }), ErrInvalidParam);
}

TEST(BatchMoveValues, ValuesThatWouldLoseSomethingAreRefused) {
    Value out;
    // Text: file tables count code page 932 bytes, servers characters.
    const std::string kana = "日本語テキスト"; // 7 characters, 14 bytes
    EXPECT_TRUE(convertValue(kana, FieldType::String, field("T", FieldType::String, 7), TableKind::Postgres, out));
    EXPECT_FALSE(convertValue(kana, FieldType::String, field("T", FieldType::String, 7), TableKind::Dbase, out));
    EXPECT_TRUE(convertValue(kana, FieldType::String, field("T", FieldType::String, 14), TableKind::Paradox, out));
    EXPECT_EQ(std::get<std::string>(out), kana);
    EXPECT_FALSE(convertValue(std::string("\xF0\x9F\x98\x80"), FieldType::String, field("T", FieldType::String, 10),
                              TableKind::Paradox, out)); // no form in code page 932
    // Numbers: ranges and decimals.
    EXPECT_FALSE(convertValue(int64_t(40000), FieldType::Integer, field("S", FieldType::Smallint), TableKind::Sqlite, out));
    EXPECT_TRUE(convertValue(int64_t(-32767), FieldType::Integer, field("S", FieldType::Smallint), TableKind::Sqlite, out));
    EXPECT_FALSE(convertValue(2.5, FieldType::Float, field("I", FieldType::Integer), TableKind::Sqlite, out));
    EXPECT_TRUE(convertValue(3.0, FieldType::Float, field("I", FieldType::Integer), TableKind::Sqlite, out));
    EXPECT_EQ(std::get<int64_t>(out), 3);
    EXPECT_TRUE(convertValue(Decimal{"12.000"}, FieldType::BCD, field("I", FieldType::Integer), TableKind::Sqlite, out));
    EXPECT_EQ(std::get<int64_t>(out), 12);
    FieldDef n = field("N", FieldType::Float);
    n.precision = 5;
    n.scale = 2;
    EXPECT_TRUE(convertValue(99.5, FieldType::Float, n, TableKind::Dbase, out));
    EXPECT_FALSE(convertValue(100.0, FieldType::Float, n, TableKind::Dbase, out));
    // The widest numbers: 20 digits before the point hold 1e20 less a little, not 1e20;
    // beyond 22 digits too.
    n.precision = 23;
    n.scale = 2;
    EXPECT_TRUE(convertValue(Decimal{"99999999999999990000.00"}, FieldType::BCD, n, TableKind::Sqlite, out));
    EXPECT_FALSE(convertValue(Decimal{"100000000000000000000.00"}, FieldType::BCD, n, TableKind::Sqlite, out));
    EXPECT_FALSE(convertValue(Decimal{"-10000000000000000000.00"}, FieldType::BCD, n, TableKind::Sqlite, out));
    n.precision = 40;
    n.scale = 0;
    EXPECT_TRUE(convertValue(1e39, FieldType::Float, n, TableKind::Postgres, out));
    EXPECT_FALSE(convertValue(1e40, FieldType::Float, n, TableKind::Postgres, out));
    // Text into typed fields converts when it reads back the same, else refuses.
    EXPECT_TRUE(convertValue(std::string("2024/02/29"), FieldType::String, field("D", FieldType::Date), TableKind::Paradox, out));
    EXPECT_EQ(std::get<Date>(out), (Date{2024, 2, 29}));
    EXPECT_FALSE(convertValue(std::string("yesterday"), FieldType::String, field("D", FieldType::Date), TableKind::Paradox, out));
    EXPECT_FALSE(convertValue(DateTime{{2024, 1, 2}, {1000}}, FieldType::DateTime, field("D", FieldType::Date), TableKind::Dbase, out));
    EXPECT_TRUE(convertValue(int64_t(7), FieldType::Integer, field("T", FieldType::String, 3), TableKind::Dbase, out));
    EXPECT_EQ(std::get<std::string>(out), "7");
    EXPECT_TRUE(convertValue(Value{}, FieldType::String, field("I", FieldType::Integer), TableKind::Dbase, out));
    EXPECT_TRUE(isNull(out));
}

TEST(BatchMoveTypes, FieldsMapToWhatEachFormatCanHold) {
    // A server text of 130 characters needs up to 260 bytes in a file table: a memo in dBASE.
    EXPECT_EQ(mapFieldType(field("T", FieldType::String, 130), TableKind::Postgres, TableKind::Dbase).type, FieldType::Memo);
    const FieldDef px = mapFieldType(field("T", FieldType::String, 100), TableKind::Postgres, TableKind::Paradox);
    EXPECT_EQ(px.type, FieldType::String);
    EXPECT_EQ(px.size, 200);
    EXPECT_EQ(mapFieldType(field("T", FieldType::String, 0), TableKind::Sqlite, TableKind::Paradox).type, FieldType::Memo);
    EXPECT_EQ(mapFieldType(field("T", FieldType::String, 40), TableKind::Dbase, TableKind::Postgres).size, 40);
    EXPECT_EQ(mapFieldType(field("A", FieldType::AutoInc), TableKind::Paradox, TableKind::Sqlite).type, FieldType::Integer);
    EXPECT_EQ(mapFieldType(field("W", FieldType::DateTime), TableKind::Postgres, TableKind::Dbase).type, FieldType::String);
    FieldDef dbfNumber = field("N", FieldType::Float);
    dbfNumber.precision = 10;
    dbfNumber.scale = 2;
    dbfNumber.nativeType = "N";
    const FieldDef numeric = mapFieldType(dbfNumber, TableKind::Dbase, TableKind::Postgres);
    EXPECT_EQ(numeric.type, FieldType::BCD);
    EXPECT_TRUE(numeric.nativeType.empty());
    EXPECT_EQ(mapFieldType(dbfNumber, TableKind::Dbase, TableKind::Dbase).nativeType, "N");
    EXPECT_EQ(tableKindOf("STANDARD", "A.DBF", "PARADOX"), TableKind::Dbase);
    EXPECT_EQ(tableKindOf("STANDARD", "A", "DBASE"), TableKind::Dbase);
    EXPECT_EQ(tableKindOf("STANDARD", "A.db", "DBASE"), TableKind::Paradox);
    EXPECT_EQ(tableKindOf("POSTGRESQL", "a", ""), TableKind::Postgres);
}

TEST(BatchMoveValues, DatesAreWrittenAsTheServersReadThem) {
    // Every date a move writes goes through this text: edges of the four-digit years, and
    // years beyond them written as before.
    for (const Date& d : {Date{1, 1, 1}, Date{9999, 12, 31}, Date{2024, 2, 29}, Date{1970, 10, 5}}) {
        const std::string text = sql::isoDate(d);
        EXPECT_EQ(text.size(), 10u) << text;
        EXPECT_EQ(sql::parseIsoDate(text), std::optional<Date>(d)) << text;
    }
    EXPECT_EQ(sql::isoDate(Date{987, 6, 5}), "0987-06-05");
    EXPECT_EQ(sql::isoDate(Date{12345, 1, 2}), "12345-01-02");
}
