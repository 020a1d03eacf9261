// Tables written by python3-dbf, an independent writer, read back through the driver.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

class PeerTables : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<dbtest::TempDir>();
        dbtest::runPython("make_peer_tables.py", dir_->path().string());
    }
    static void TearDownTestSuite() { dir_.reset(); }

    std::unique_ptr<Cursor> open(const std::string& name) {
        auto driver = makeStandardDriver();
        db_ = driver->connect("T", {{"PATH", dir_->path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        return db_->openTable(name, {});
    }

    static std::unique_ptr<dbtest::TempDir> dir_;
    std::unique_ptr<Database> db_;
};
std::unique_ptr<dbtest::TempDir> PeerTables::dir_;

void expectCommonRows(const std::vector<Row>& rows) {
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], Value(std::string("山田太郎")));
    EXPECT_EQ(rows[0][1], Value(int64_t(42)));
    EXPECT_EQ(rows[0][2], Value(1234.5));
    EXPECT_EQ(rows[0][3], Value(Date{2024, 2, 29}));
    EXPECT_EQ(rows[0][4], Value(true));
    EXPECT_EQ(rows[0][5], Value(std::string("メモ：一行目\r\n二行目")));
    EXPECT_EQ(rows[1][0], Value(std::string("ｻﾄｳ ﾊﾅｺ")));
    EXPECT_EQ(rows[1][1], Value(int64_t(-7)));
    EXPECT_EQ(rows[1][2], Value(-0.25));
    EXPECT_EQ(rows[1][4], Value(false));
    EXPECT_TRUE(isNull(rows[1][5])) << "an empty memo reads as null";
    EXPECT_TRUE(isNull(rows[2][3])) << "a blank date reads as null";
    EXPECT_TRUE(isNull(rows[2][4])) << "an unknown logical reads as null";
    EXPECT_EQ(rows[2][5], Value("plain memo " + std::string(700, 'x'))) << "a memo over more than one block";
}

} // namespace

TEST_F(PeerTables, DbaseThreeWithDbtMemoAndJapaneseText) {
    auto c = open("db3memo");
    const auto& f = c->fields();
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0].type, FieldType::String);
    EXPECT_EQ(f[0].size, 20);
    EXPECT_EQ(f[1].type, FieldType::Integer) << "N(5,0) holds more than a small integer";
    EXPECT_EQ(f[2].type, FieldType::Float);
    EXPECT_EQ(f[2].scale, 2);
    EXPECT_EQ(f[3].type, FieldType::Date);
    EXPECT_EQ(f[4].type, FieldType::Boolean);
    EXPECT_EQ(f[5].type, FieldType::Memo);
    expectCommonRows(dbtest::readAll(*c));
    EXPECT_EQ(c->readOnlyReason(), "");
}

TEST_F(PeerTables, FoxProWithFptMemoIsReadOnly) {
    auto c = open("FOXMEMO.DBF");
    expectCommonRows(dbtest::readAll(*c));
    EXPECT_NE(c->readOnlyReason(), "");
    RowId id{1, {}};
    Row row;
    ASSERT_TRUE(c->read(0, row, id));
    try {
        c->update(id, row, row);
        FAIL() << "a FoxPro table must not be written";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrReadOnly);
    }
}

TEST_F(PeerTables, VisualFoxProNullFlagsAndBinaryTypes) {
    auto c = open("VfpNull.dbf");
    const auto& f = c->fields();
    ASSERT_EQ(f.size(), 6u) << "the _NullFlags field stays hidden";
    EXPECT_EQ(f[1].type, FieldType::Integer);
    EXPECT_EQ(f[2].type, FieldType::Currency);
    EXPECT_EQ(f[3].type, FieldType::Float);
    EXPECT_EQ(f[4].type, FieldType::DateTime);
    auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value(std::string("漢字")));
    EXPECT_EQ(rows[0][1], Value(int64_t(5)));
    EXPECT_EQ(rows[0][2], Value(12.3455)) << "the writer truncates 12.3456 to 123455 ten-thousandths";
    EXPECT_EQ(rows[0][3], Value(2.5));
    EXPECT_EQ(rows[0][4], Value(DateTime{{2023, 5, 6}, {(7 * 3600 + 8 * 60 + 9) * 1000}}));
    EXPECT_EQ(rows[0][5], Value(std::string("vfp メモ")));
    EXPECT_TRUE(isNull(rows[1][0]));
    EXPECT_EQ(rows[1][1], Value(int64_t(0))) << "the writer stores None as 0 without a null flag";
    EXPECT_TRUE(isNull(rows[1][4]));
    EXPECT_TRUE(isNull(rows[1][5]));
    EXPECT_EQ(rows[1][3], Value(-1.0));
}

TEST_F(PeerTables, VisualFoxProNullFlagBitsMakeNullableFieldsNull) {
    // The writer leaves _NullFlags at zero; set the bits of the four nullable fields of the
    // second record (its last byte) by hand in a copy.
    dbtest::TempDir tmp;
    std::string dbf = dbtest::bytesOf(dir_->path() / "VFPNULL.DBF");
    std::filesystem::copy_file(dir_->path() / "VFPNULL.FPT", tmp / "VFPNULL.FPT");
    const size_t headerLength = static_cast<unsigned char>(dbf[8]) | (static_cast<unsigned char>(dbf[9]) << 8);
    const size_t recordLength = static_cast<unsigned char>(dbf[10]) | (static_cast<unsigned char>(dbf[11]) << 8);
    dbf[headerLength + 2 * recordLength - 1] = 0x0F;
    dbtest::writeBytes(tmp / "VFPNULL.DBF", dbf);
    auto driver = makeStandardDriver();
    auto db = driver->connect("T", {{"PATH", tmp.path().string()}}, {});
    auto c = db->openTable("VFPNULL.DBF", {});
    auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(isNull(rows[1][1])) << "a null integer is null, not 0";
    EXPECT_EQ(rows[1][3], Value(-1.0)) << "a field that is not nullable keeps its value";
    EXPECT_EQ(rows[0][1], Value(int64_t(5)));
}

TEST_F(PeerTables, DeletedRecordsAreSkippedAndPositionsStayConsistent) {
    auto c = open("DELETED");
    EXPECT_EQ(c->count(), 7);
    std::vector<int64_t> seen;
    Row row;
    RowId id;
    for (int64_t i = 0; c->read(i, row, id); ++i) {
        seen.push_back(std::get<int64_t>(row[0]));
        EXPECT_EQ(c->positionOf(id), i);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 4, 5, 7, 8, 10}));
    EXPECT_EQ(c->positionOf(RowId{3, {}}), -1) << "a deleted record has no position";
    EXPECT_FALSE(c->read(7, row, id));
}
