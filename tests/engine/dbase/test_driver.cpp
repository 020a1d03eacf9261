// The STANDARD driver over a directory: names, case-insensitive lookup, locks, rename and
// delete with companion files.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"
#include "engine/drivers/SampleData.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeDbaseSample(dir_.path());
        db_ = connect("DBASE");
    }
    std::unique_ptr<Database> connect(const std::string& def) {
        return makeStandardDriver()->connect("S", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", def}}, {});
    }
    std::set<std::string> files() {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            out.insert(e.path().filename().string());
        return out;
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};


} // namespace

TEST_F(DriverTest, ConnectChecksItsParameters) {
    auto d = makeStandardDriver();
    EXPECT_EQ(d->name(), "STANDARD");
    EXPECT_EQ(paramValue(d->defaultParams(), "DEFAULT DRIVER"), "PARADOX");
    EXPECT_EQ(errorCodeOf([&] { d->connect("X", {{"PATH", ""}}, {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { d->connect("X", {{"PATH", (dir_ / "nope").string()}}, {}); }), ErrNotFound);
    EXPECT_EQ(errorCodeOf([&] { d->connect("X", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "FOX"}}, {}); }),
              ErrInvalidParam);
}

TEST_F(DriverTest, TableNamesMatchPatternsWithOrWithoutExtension) {
    dbtest::writeBytes(dir_ / "notes.txt", "x");
    dbtest::writeBytes(dir_ / "lower.dbf", dbtest::bytesOf(dir_ / "ITEMS.DBF"));
    EXPECT_EQ(db_->tableNames("*.*", true, false),
              (std::vector<std::string>{"CUSTOMER.DBF", "ITEMS.DBF", "ORDERS.DBF", "lower.dbf"}));
    EXPECT_EQ(db_->tableNames("*", false, false), (std::vector<std::string>{"CUSTOMER", "ITEMS", "ORDERS", "lower"}));
    EXPECT_EQ(db_->tableNames("c*", false, false), (std::vector<std::string>{"CUSTOMER"}));
    EXPECT_EQ(db_->tableNames("*.DB", true, false), (std::vector<std::string>{}));
    auto c = db_->openTable("LOWER", {});
    EXPECT_EQ(c->count(), 6) << "found case-insensitively";
}

TEST_F(DriverTest, NameWithoutExtensionFollowsDefaultDriverThenFallsBack) {
    auto c = connect("PARADOX")->openTable("customer", {});
    EXPECT_EQ(c->fields().front().name, "CUST_NO");
    EXPECT_EQ(errorCodeOf([&] { db_->openTable("NOSUCH", {}); }), ErrNotFound);
    EXPECT_EQ(errorCodeOf([&] { db_->openTable("CUSTOMER.DB", {}); }), ErrNotFound);
}

TEST_F(DriverTest, ExclusiveOpenConflictsInOneProcess) {
    {
        auto shared = db_->openTable("CUSTOMER", {});
        EXPECT_EQ(errorCodeOf([&] { db_->openTable("CUSTOMER", OpenOptions{true, false}); }), ErrExclusiveRequired);
        auto second = db_->openTable("CUSTOMER", {});
        EXPECT_EQ(errorCodeOf([&] { db_->deleteTable("CUSTOMER"); }), ErrExclusiveRequired);
        EXPECT_EQ(errorCodeOf([&] { db_->renameTable("CUSTOMER", "CLIENTS"); }), ErrExclusiveRequired);
    }
    auto exclusive = db_->openTable("CUSTOMER", OpenOptions{true, false});
    EXPECT_EQ(errorCodeOf([&] { db_->openTable("CUSTOMER", {}); }), ErrLocked);
    EXPECT_NE(files().count("CUSTOMER.DBF"), 0u);
}

TEST_F(DriverTest, ExclusiveOpenConflictsWithAnotherProcess) {
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int rc = 0;
        try {
            auto c = connect("DBASE")->openTable("ORDERS", OpenOptions{true, false});
            char b = 'x';
            if (write(ready[1], &b, 1) != 1 || read(release[0], &b, 1) != 1)
                rc = 2;
        } catch (...) {
            rc = 1;
        }
        _exit(rc);
    }
    char b;
    ASSERT_EQ(read(ready[0], &b, 1), 1);
    EXPECT_EQ(errorCodeOf([&] { db_->openTable("ORDERS", {}); }), ErrLocked);
    EXPECT_EQ(errorCodeOf([&] { db_->deleteTable("ORDERS"); }), ErrExclusiveRequired);
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(db_->openTable("ORDERS", {})->count(), 40) << "free again once the other process let go";
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
}

TEST_F(DriverTest, RenameAndDeleteTakeTheCompanionFiles) {
    db_->renameTable("customer", "CLIENTS");
    auto now = files();
    EXPECT_EQ(now.count("CUSTOMER.DBF") + now.count("CUSTOMER.DBT") + now.count("CUSTOMER.MDX"), 0u);
    EXPECT_EQ(now.count("CLIENTS.DBF") + now.count("CLIENTS.DBT") + now.count("CLIENTS.MDX"), 3u);
    auto c = db_->openTable("CLIENTS", {});
    EXPECT_EQ(c->count(), 8);
    EXPECT_EQ(c->indexes().size(), 3u);
    EXPECT_EQ(c->readOnlyReason(), "");
    c.reset();
    EXPECT_EQ(errorCodeOf([&] { db_->renameTable("CLIENTS", "ORDERS"); }), ErrInvalidParam) << "never over another table";
    db_->deleteTable("CLIENTS.DBF");
    now = files();
    EXPECT_EQ(now, (std::set<std::string>{"ITEMS.DBF", "ITEMS.MDX", "ORDERS.DBF", "ORDERS.MDX"}));
}

TEST_F(DriverTest, FilterTakenByTheDriverFollowsOrderAndWrites) {
    auto c = db_->openTable("ORDERS", {});
    auto all = dbtest::readAll(*c);
    int64_t expected = 0;
    for (const Row& r : all)
        expected += std::get<int64_t>(r[4]) > 10 ? 1 : 0;
    Filter f("QTY > 10", c->fields());
    ASSERT_TRUE(c->setFilter(&f));
    EXPECT_EQ(c->count(), expected);
    auto rows = dbtest::readAll(*c);
    for (const Row& r : rows)
        EXPECT_GT(std::get<int64_t>(r[4]), 10);
    c->setOrder("ORDER_DATE");
    rows = dbtest::readAll(*c);
    ASSERT_EQ(static_cast<int64_t>(rows.size()), expected);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_LE(std::get<Date>(rows[i - 1][2]), std::get<Date>(rows[i][2]));
    Row before = rows[0], after = rows[0];
    RowId id;
    ASSERT_TRUE(c->read(0, before, id));
    after = before;
    after[4] = int64_t(1);
    c->update(id, before, after);
    EXPECT_EQ(c->count(), expected - 1) << "a record that no longer matches leaves the filtered view";
    c->setFilter(nullptr);
    EXPECT_EQ(c->count(), 40);
}

TEST_F(DriverTest, SampleWriterLeavesExistingTablesAlone) {
    {
        auto c = db_->openTable("ITEMS", {});
        Row before, after;
        RowId id;
        ASSERT_TRUE(c->read(0, before, id));
        after = before;
        after[1] = std::string("利用者の変更");
        c->update(id, before, after);
    }
    std::filesystem::remove(dir_ / "ORDERS.DBF");
    std::filesystem::remove(dir_ / "ORDERS.MDX");
    writeDbaseSample(dir_.path());
    auto c = db_->openTable("ITEMS", {});
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_EQ(row[1], Value(std::string("利用者の変更")));
    EXPECT_EQ(db_->openTable("ORDERS", {})->count(), 40) << "a missing table is written again";
}
