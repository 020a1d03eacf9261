// Tables created and edited here, read back by python3-dbfread with the same values.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/contract/EngineError.h"

#include <gtest/gtest.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

using vemo::engine::dbase::dbaseField;

class WriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = makeStandardDriver()->connect("W", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
    }
    void createPeople(const std::vector<IndexDef>& indexes = {}) {
        db_->createTable("PEOPLE", {dbaseField("NAME", "C", 12), dbaseField("AGE", "N", 3), dbaseField("RATE", "N", 8, 3),
                                    dbaseField("BORN", "D", 8),
                                    dbaseField("OK", "L", 1), dbaseField("NOTE", "M", 10)},
                         indexes);
    }
    std::string dump(const std::string& file) { return dbtest::runPython("dump_with_dbfread.py", (dir_ / file).string()); }

    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

} // namespace

TEST_F(WriteTest, InsertUpdateDeleteReadBackByDbfread) {
    createPeople();
    {
        auto c = db_->openTable("people", {});
        EXPECT_EQ(c->readOnlyReason(), "");
        c->insert({std::string("山田花子"), int64_t(30), 1.25, Date{1994, 7, 1}, true, std::string("長いメモ\r\n二行目")});
        c->insert({std::string("ﾀﾅｶ"), int64_t(-5), Value(), Value(), false, Value()});
        c->insert({std::string("DELETE ME"), int64_t(1), 0.5, Date{2000, 1, 1}, Value(), std::string("gone")});
        ASSERT_EQ(c->count(), 3);
        Row row, before;
        RowId id;
        ASSERT_TRUE(c->read(1, before, id));
        row = before;
        row[2] = -12.3456; // rounds to the field's three decimals
        row[5] = std::string("追加のメモ");
        c->update(id, before, row);
        ASSERT_TRUE(c->read(2, before, id));
        c->remove(id, before);
        EXPECT_EQ(c->count(), 2);
    }
    EXPECT_EQ(dump("PEOPLE.DBF"),
              "FIELDS NAME:C:12:0|AGE:N:3:0|RATE:N:8:3|BORN:D:8:0|OK:L:1:0|NOTE:M:10:0\n"
              "山田花子|30|1.25|1994-07-01|True|長いメモ\\n二行目\n"
              "ﾀﾅｶ|-5|-12.346|<null>|False|追加のメモ\n"
              "DELETED 1\n");
    // The header keeps its end marker and record count.
    const std::string bytes = dbtest::bytesOf(dir_ / "PEOPLE.DBF");
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0x1A);
    EXPECT_EQ(bytes[4], 3);
}

TEST_F(WriteTest, ValuesThatDoNotFitAreRefusedAndNothingIsWritten) {
    createPeople();
    auto c = db_->openTable("PEOPLE.DBF", {});
    c->insert({std::string("ok"), int64_t(1)});
    const std::string before = dbtest::bytesOf(dir_ / "PEOPLE.DBF");
    EXPECT_EQ(errorCodeOf([&] { c->insert({std::string("十三文字を超える名前です")}); }), ErrConvert);
    EXPECT_EQ(errorCodeOf([&] { c->insert({std::string("x"), int64_t(1000)}); }), ErrConvert);
    EXPECT_EQ(errorCodeOf([&] { c->insert({std::string("x"), int64_t(1), Value(), Date{2023, 2, 30}}); }), ErrConvert);
    EXPECT_EQ(errorCodeOf([&] { c->insert({std::string("x"), std::string("abc")}); }), ErrConvert);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "PEOPLE.DBF"), before);
    EXPECT_EQ(c->count(), 1);
}

TEST_F(WriteTest, UpdateConflictsChangeNothing) {
    createPeople();
    auto a = db_->openTable("PEOPLE", {});
    auto b = db_->openTable("PEOPLE", {});
    a->insert({std::string("one"), int64_t(1)});
    b->refresh();
    Row rowA, rowB;
    RowId idA, idB;
    ASSERT_TRUE(a->read(0, rowA, idA));
    ASSERT_TRUE(b->read(0, rowB, idB));
    Row changed = rowA;
    changed[1] = int64_t(2);
    a->update(idA, rowA, changed);
    Row other = rowB;
    other[1] = int64_t(3);
    const std::string before = dbtest::bytesOf(dir_ / "PEOPLE.DBF");
    EXPECT_EQ(errorCodeOf([&] { b->update(idB, rowB, other); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { b->remove(idB, rowB); }), ErrUpdateConflict);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "PEOPLE.DBF"), before);
    a->remove(idA, changed);
    EXPECT_EQ(errorCodeOf([&] { b->update(idB, changed, other); }), ErrUpdateConflict) << "a deleted record";
}

TEST_F(WriteTest, TwoCursorsAppendingKeepEachOthersRecords) {
    createPeople();
    auto a = db_->openTable("PEOPLE", {});
    auto b = db_->openTable("PEOPLE", {});
    for (int i = 0; i < 5; ++i) {
        a->insert({std::string("a"), int64_t(i)});
        b->insert({std::string("b"), int64_t(i)});
    }
    a->refresh();
    EXPECT_EQ(a->count(), 10);
    auto rows = dbtest::readAll(*a);
    EXPECT_EQ(rows[9][0], Value(std::string("b")));
}

TEST_F(WriteTest, CreateRefusesBadDefinitionsAndLeavesNoFiles) {
    EXPECT_EQ(errorCodeOf([&] { db_->createTable("BAD", {dbaseField("1ABC", "C", 5)}, {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { db_->createTable("BAD", {dbaseField("A", "C", 300)}, {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { db_->createTable("BAD", {dbaseField("A", "C", 5), dbaseField("a", "N", 3)}, {}); }), ErrInvalidParam);
    IndexDef bad;
    bad.name = "X";
    bad.expression = "NOSUCH+A";
    EXPECT_NE(errorCodeOf([&] { db_->createTable("BAD", {dbaseField("A", "C", 5), dbaseField("NOTE", "M", 10)}, {bad}); }), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
    createPeople();
    EXPECT_EQ(errorCodeOf([&] { createPeople(); }), ErrInvalidParam) << "an existing table is never overwritten";
}

TEST_F(WriteTest, CreateFromEngineTypesAndReadOnlyOpen) {
    auto typed = [](const char* name, FieldType t, int size = 0) {
        FieldDef f;
        f.name = name;
        f.type = t;
        f.size = size;
        return f;
    };
    FieldDef s = typed("S", FieldType::String, 10), i = typed("I", FieldType::Integer),
             f = typed("F", FieldType::Float), b = typed("B", FieldType::Boolean), m = typed("M", FieldType::Memo);
    db_->createTable("TYPES.DBF", {s, i, f, b, m}, {});
    EXPECT_EQ(dump("TYPES.DBF"), "FIELDS S:C:10:0|I:N:11:0|F:N:20:4|B:L:1:0|M:M:10:0\nDELETED 0\n");
    auto c = db_->openTable("TYPES", OpenOptions{false, true});
    EXPECT_NE(c->readOnlyReason(), "");
    EXPECT_EQ(errorCodeOf([&] { c->insert({std::string("x")}); }), ErrReadOnly);
}
