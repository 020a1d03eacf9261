// Index definitions and orders, and index files that still match the table after writes:
// checked against an order sorted by python3-dbfread and against Perl's XBase reading the
// index files themselves.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/drivers/standard/dbase/IndexFiles.h"
#include "engine/drivers/standard/dbase/IndexTree.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace vemo::engine;

namespace {

std::vector<int64_t> lines(const std::string& text) {
    std::vector<int64_t> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(std::stoll(line));
    return out;
}

std::string runPerl(const std::string& args) {
    const std::string cmd = "perl " + std::string(DBASE_TEST_DIR) + "/dump_index.pl " + args;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0)
        out.append(buf, n);
    if (pclose(pipe.release()) != 0)
        throw std::runtime_error("failed: " + cmd + "\n" + out);
    return out;
}

class IndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeDbaseSample(dir_.path());
        db_ = makeStandardDriver()->connect("I", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
    }
    std::vector<int64_t> order(Cursor& c, const std::string& tag) {
        c.setOrder(tag);
        std::vector<int64_t> out;
        Row row;
        RowId id;
        for (int64_t i = 0; c.read(i, row, id); ++i)
            out.push_back(id.recno);
        return out;
    }
    std::vector<int64_t> independentSort(const std::string& table, const std::string& fields) {
        return lines(dbtest::runPython("sort_with_dbfread.py", (dir_ / table).string() + " " + fields));
    }
    // Record numbers of a tag in file order, as Perl's reader walks it, without deleted ones.
    std::vector<int64_t> perlOrder(const std::string& mdx, const std::string& tag, const std::vector<int64_t>& live) {
        std::vector<int64_t> out;
        for (int64_t r : lines(runPerl((dir_ / mdx).string() + " " + tag)))
            if (std::find(live.begin(), live.end(), r) != live.end())
                out.push_back(r);
        return out;
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

} // namespace

TEST_F(IndexTest, DefinitionsComeFromTheProductionIndex) {
    auto c = db_->openTable("ORDERS", {});
    auto defs = c->indexes();
    ASSERT_EQ(defs.size(), 3u);
    EXPECT_EQ(defs[0].name, "ORDER_NO");
    EXPECT_EQ(defs[0].fields, "ORDER_NO");
    EXPECT_TRUE(defs[0].unique);
    EXPECT_EQ(defs[1].name, "CUST_DATE");
    EXPECT_EQ(defs[1].expression, "STR(CUST_NO,6)+DTOS(ORDER_DATE)");
    EXPECT_EQ(db_->openTable("CUSTOMER", {})->indexes()[2].fields, "PREF;NAME");
    try {
        c->setOrder("NOSUCH");
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrNotFound);
    }
}

TEST_F(IndexTest, OrdersMatchAnIndependentSortAndTheIndexFile) {
    auto c = db_->openTable("CUSTOMER", {});
    auto kana = order(*c, "kana");
    EXPECT_EQ(kana, independentSort("CUSTOMER.DBF", "KANA"));
    EXPECT_EQ(kana, perlOrder("CUSTOMER.MDX", "KANA", kana));
    auto pref = order(*c, "PREF_NAME");
    EXPECT_EQ(pref, independentSort("CUSTOMER.DBF", "PREF+NAME"));
    EXPECT_EQ(pref, perlOrder("CUSTOMER.MDX", "PREF_NAME", pref));
    auto o = db_->openTable("ORDERS", {});
    auto dates = order(*o, "ORDER_DATE");
    EXPECT_EQ(dates, independentSort("ORDERS.DBF", "ORDER_DATE"));
    EXPECT_EQ(dates, perlOrder("ORDERS.MDX", "ORDER_DATE", dates));
    auto numbers = order(*o, "ORDER_NO");
    EXPECT_EQ(numbers, independentSort("ORDERS.DBF", "ORDER_NO"));
    EXPECT_EQ(order(*o, "").front(), 1) << "natural order again";
}

TEST_F(IndexTest, IndexFilesStillMatchAfterInsertUpdateAndDelete) {
    {
        auto c = db_->openTable("CUSTOMER", {});
        c->setOrder("KANA");
        const std::string mdxBefore = dbtest::bytesOf(dir_ / "CUSTOMER.MDX");
        Row b, a;
        RowId i;
        ASSERT_TRUE(c->read(2, b, i));
        a = b;
        a[6] = std::string("03-0000-0000"); // TEL is in no key
        c->update(i, b, a);
        EXPECT_EQ(dbtest::bytesOf(dir_ / "CUSTOMER.MDX"), mdxBefore) << "no key changed, nothing to rewrite";
        EXPECT_EQ(c->positionOf(i), 2);
        c->insert({int64_t(2001), std::string("あ新規"), std::string("ｱｱｱ"), Value(), std::string("東京都")});
        Row before, after;
        RowId id;
        ASSERT_TRUE(c->read(3, before, id));
        after = before;
        after[2] = std::string("ﾝﾝﾝ"); // moves to the end of the KANA order
        c->update(id, before, after);
        EXPECT_EQ(c->positionOf(id), c->count() - 1) << "the edited record moved in the open order";
        ASSERT_TRUE(c->read(0, before, id));
        c->remove(id, before);
        EXPECT_EQ(c->readOnlyReason(), "");
    }
    auto c = db_->openTable("CUSTOMER", {});
    auto kana = order(*c, "KANA");
    EXPECT_EQ(kana.size(), 8u);
    EXPECT_EQ(kana, independentSort("CUSTOMER.DBF", "KANA"));
    EXPECT_EQ(kana, perlOrder("CUSTOMER.MDX", "KANA", kana));
    auto custNo = order(*c, "CUST_NO");
    EXPECT_EQ(custNo, perlOrder("CUSTOMER.MDX", "CUST_NO", custNo));
    // Every record (deleted ones too, as dBASE keeps them until a pack) is in every tag.
    for (const char* tag : {"CUST_NO", "KANA", "PREF_NAME"}) {
        dbase::IndexTag t;
        t.file = dir_ / "CUSTOMER.MDX";
        t.name = tag;
        EXPECT_EQ(dbase::readIndexEntries(t).size(), 9u) << tag;
    }
}

TEST_F(IndexTest, UniqueTagRefusesADuplicateKeyAndWritesNothing) {
    auto c = db_->openTable("ITEMS", {});
    const std::string before = dbtest::bytesOf(dir_ / "ITEMS.DBF");
    try {
        c->insert({std::string("A-0001"), std::string("重複")});
        FAIL() << "duplicate key accepted";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrKeyViolation);
    }
    EXPECT_EQ(dbtest::bytesOf(dir_ / "ITEMS.DBF"), before);
}

TEST_F(IndexTest, ManyRecordsGiveAMultiLevelTreeThatPerlWalksInOrder) {
    FieldDef code;
    code.name = "CODE";
    code.nativeType = "C";
    code.size = 30;
    db_->createTable("BIG", {code}, {});
    {
        auto c = db_->openTable("BIG", {});
        for (int i = 0; i < 3000; ++i)
            c->insert({std::string("K") + std::to_string((i * 7919) % 3001)});
    }
    IndexDef tag;
    tag.name = "CODE";
    tag.fields = "CODE";
    dbase::addProductionIndex(dir_ / "BIG.DBF", {tag});
    auto c = db_->openTable("BIG", {});
    auto ours = order(*c, "CODE");
    EXPECT_EQ(ours, independentSort("BIG.DBF", "CODE"));
    EXPECT_EQ(ours, perlOrder("BIG.MDX", "CODE", ours));
}

TEST_F(IndexTest, ExpressionThisProgramCannotEvaluateMakesTheTableReadOnly) {
    dbase::IndexTag t;
    t.name = "ODD";
    t.expression = "SOUNDEX(NAME)";
    t.keyType = 'C';
    t.keyLength = 4;
    dbase::writeMdx(dir_ / "ITEMS.MDX", "ITEMS", {t}, {{}});
    auto c = db_->openTable("ITEMS", {});
    EXPECT_NE(c->readOnlyReason(), "");
    EXPECT_EQ(c->count(), 6);
    EXPECT_THROW(c->setOrder("ODD"), EngineError);
}

TEST_F(IndexTest, SameNameNdxIsListedUsedAndMaintained) {
    dbase::IndexTag t;
    t.name = "ITEMS";
    t.expression = "NAME";
    t.keyType = 'C';
    t.keyLength = 30;
    t.ndx = true;
    dbase::writeNdx(dir_ / "ITEMS.NDX", t, {});
    {
        auto c = db_->openTable("ITEMS", {});
        EXPECT_EQ(c->indexes().size(), 3u);
        EXPECT_EQ(c->readOnlyReason(), "");
        c->insert({std::string("Z-9999"), std::string("あいうえお")});
        c->insert({std::string("Z-9998"), std::string("ABC")});
    }
    auto c = db_->openTable("ITEMS", {});
    auto ours = order(*c, "ITEMS");
    EXPECT_EQ(ours.size(), 8u);
    EXPECT_EQ(ours, independentSort("ITEMS.DBF", "NAME"));
    EXPECT_EQ(ours, lines(runPerl((dir_ / "ITEMS.NDX").string())));
}

namespace {

// An MDX numeric key spelled out: exponent and decimal digits as given, not normalised.
std::string mdxKey(int exponent, const std::string& digits, bool negative) {
    std::string k(12, '\0');
    k[0] = static_cast<char>(52 + exponent);
    k[1] = static_cast<char>((digits.size() << 2) | 0x01 | (negative ? 0x80 : 0));
    for (size_t i = 0; i < digits.size(); ++i) {
        const int d = digits[i] - '0';
        k[2 + i / 2] = static_cast<char>(static_cast<unsigned char>(k[2 + i / 2]) | (i % 2 == 0 ? d << 4 : d));
    }
    return k;
}

} // namespace

// Numeric MDX keys are ordered by the numbers they hold, whatever the sign, magnitude or
// fraction, and keys written with leading or trailing zero digits equal the plain ones.
TEST(DbaseIndexKeys, NumericKeysOrderByTheirNumbers) {
    const double values[] = {-1e6, -12.5, -3, -0.25, -0.001, 0, 0.001, 0.25, 1, 9, 10, 12.5, 12.75, 99.99, 100, 123456789, 1e15};
    for (size_t i = 0; i < std::size(values); ++i)
        for (size_t j = 0; j < std::size(values); ++j) {
            const int want = i < j ? -1 : i > j ? 1 : 0;
            EXPECT_EQ(dbase::compareMdxNumbers(dbase::mdxNumberKey(values[i]), dbase::mdxNumberKey(values[j])), want)
                << values[i] << " against " << values[j];
        }
    const std::string plain = dbase::mdxNumberKey(12.5);
    EXPECT_EQ(plain, mdxKey(2, "125", false));
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(2, "12500", false), plain), 0);
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(3, "0125", false), plain), 0);
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(3, "0126", false), plain), 1);
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(2, "000", true), dbase::mdxNumberKey(0)), 0); // minus zero
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(2, "125", true), mdxKey(2, "1251", true)), 1);
    // Twenty digits, more than a double holds, still tell two keys apart.
    EXPECT_EQ(dbase::compareMdxNumbers(mdxKey(20, "12345678901234567890", false), mdxKey(20, "12345678901234567891", false)), -1);
}
