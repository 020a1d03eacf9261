// Filters the dBASE driver evaluates during its own scan (decoding a field only when the
// expression reaches it) select exactly the records the engine's evaluation of the fully
// decoded rows selects, including nulls, blanks, trailing blanks, double-byte text whose
// second byte is an ASCII character, case-insensitive and partial comparisons, and an order.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/filter/Filter.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

using vemo::engine::dbase::dbaseField;

class FilterScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = makeStandardDriver()->connect("F", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        IndexDef byName;
        byName.name = "NAME";
        byName.fields = "NAME";
        db_->createTable("PEOPLE", {dbaseField("NAME", "C", 12), dbaseField("AGE", "N", 3), dbaseField("RATE", "N", 8, 3),
                                    dbaseField("BORN", "D", 8),
                                    dbaseField("OK", "L", 1)},
                         {byName});
        auto c = db_->openTable("PEOPLE", {});
        const Value none;
        const std::vector<Row> rows = {
            {std::string("Tanaka"), int64_t(42), 1.5, Date{1980, 1, 2}, true},
            {std::string("tanaka"), int64_t(42), none, Date{1990, 5, 6}, false},
            {std::string("TANAKA  x"), none, 2.25, none, none},
            {std::string("ソニー"), int64_t(30), 7.0, Date{2001, 2, 3}, true},   // ソ: second byte is '\'
            {std::string("表示"), int64_t(42), -1.0, Date{1999, 12, 31}, false}, // 表: second byte is '\'
            {std::string("山田太郎"), int64_t(55), 100.0, none, true},
            {std::string("山田"), none, none, none, none},
            {none, int64_t(42), 3.0, Date{2020, 2, 29}, true},
            {std::string("Ta"), int64_t(7), 0.0, Date{1970, 1, 1}, false},
            {std::string("Yamada"), int64_t(42), 5000.5, Date{2010, 10, 10}, true},
        };
        for (const Row& r : rows)
            c->insert(r);
        RowId id;
        Row row;
        ASSERT_TRUE(c->read(5, row, id));
        c->remove(id, row); // a deleted record never passes
    }

    // The driver's answer against the engine's evaluation of every live row, in the same order.
    void expectSame(const std::string& text, FilterOptions options = {}, const std::string& order = "") {
        SCOPED_TRACE(text);
        auto c = db_->openTable("PEOPLE", {});
        c->setOrder(order);
        const auto all = dbtest::readAll(*c);
        Filter f(text, c->fields(), options);
        std::vector<Row> expected;
        for (const Row& r : all)
            if (f.matches(r))
                expected.push_back(r);
        ASSERT_TRUE(c->setFilter(&f));
        EXPECT_EQ(c->count(), static_cast<int64_t>(expected.size()));
        EXPECT_EQ(dbtest::readAll(*c), expected);
        matched_ += expected.size();
    }

    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
    size_t matched_ = 0;
};

} // namespace

TEST_F(FilterScanTest, DriverScanSelectsWhatTheEngineSelects) {
    for (const char* text : {
             "AGE = 42", "AGE <> 42", "NAME = 'Tanaka'", "NAME = 'tanaka'", "NAME = 'TANAKA'", "NAME = 'Ta*'",
             "NAME <> 'Ta*'", "NAME = 'TANAKA  x'", "NAME = 'TANAKA  x   '", "NAME = 'ソ*'", "NAME = '表示'",
             "NAME = 'ソニー'", "NAME = '山田*'", "NAME > 'Ta'", "NAME <= 'tanaka'", "NAME IS NULL", "NAME IS NOT NULL",
             "NAME = 'Ta*' and AGE = 42", "AGE = 42 and NAME = 'Ta*'", "AGE = 42 or RATE > 2",
             "RATE > 2 or AGE = 42", "not (AGE = 42 and RATE > 1)", "not (AGE = 42 or RATE > 1)",
             "AGE is null or NAME = 'Y*'", "BORN > '1990-01-01' and OK = true", "RATE * 2 > AGE",
             "AGE = 42 and RATE is null", "OK = false or BORN is null"}) {
        expectSame(text);
        expectSame(text, {}, "NAME");
        expectSame(text, FilterOptions{true, false});
        expectSame(text, FilterOptions{false, true});
    }
    EXPECT_GT(matched_, 100u) << "the filters above select records, not only none";
}

TEST_F(FilterScanTest, CaseInsensitiveAndPartialOptionsReachTheScan) {
    auto c = db_->openTable("PEOPLE", {});
    Filter exact("NAME = 'tanaka'", c->fields());
    c->setFilter(&exact);
    EXPECT_EQ(c->count(), 1);
    Filter folded("NAME = 'tanaka'", c->fields(), FilterOptions{true, false});
    c->setFilter(&folded);
    EXPECT_EQ(c->count(), 2);
    Filter prefix("NAME = 'ソ*' or NAME = '表*'", c->fields());
    c->setFilter(&prefix);
    EXPECT_EQ(c->count(), 2);
    Filter both("AGE = 42 and NAME = 'TA*'", c->fields(), FilterOptions{true, false});
    c->setFilter(&both);
    EXPECT_EQ(c->count(), 2) << "Tanaka and tanaka; the record without a name is unknown, not a match";
}
