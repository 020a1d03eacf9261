// Several writers on one table (cursors of one process and separate processes): every
// write sees what the others wrote before it, so no record, count or memo is lost.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/contract/EngineError.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

using vemo::engine::dbase::dbaseField;

class WritersTest : public ::testing::Test {
protected:
    void SetUp() override { db_ = connect(); }
    std::unique_ptr<Database> connect() {
        return makeStandardDriver()->connect("W", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
    }
    void create(const std::vector<IndexDef>& indexes = {}) {
        db_->createTable("T", {dbaseField("NAME", "C", 12), dbaseField("N", "N", 6), dbaseField("NOTE", "M", 10)},
                         indexes);
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

} // namespace

TEST_F(WritersTest, AnEditAfterAnotherCursorAppendedKeepsTheAppendedRecord) {
    create();
    auto a = db_->openTable("T", {});
    a->insert({std::string("first"), int64_t(1)});
    auto b = db_->openTable("T", {});
    b->insert({std::string("second"), int64_t(2)});
    Row before, after;
    RowId id;
    ASSERT_TRUE(a->read(0, before, id));
    after = before;
    after[1] = int64_t(10);
    a->update(id, before, after); // a still believes the table holds one record
    a->insert({std::string("third"), int64_t(3)});
    b.reset();
    a.reset();
    auto c = db_->openTable("T", {});
    auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], Value(int64_t(10)));
    EXPECT_EQ(rows[1][0], Value(std::string("second")));
    EXPECT_EQ(rows[2][0], Value(std::string("third")));
    const std::string bytes = dbtest::bytesOf(dir_ / "T.DBF");
    EXPECT_EQ(bytes[4], 3);
    EXPECT_NE(dbtest::runPython("dump_with_dbfread.py", (dir_ / "T.DBF").string()).find("second"), std::string::npos);
    // A delete by a cursor that did not see an append keeps the count as well.
    auto d = db_->openTable("T", {});
    auto e = db_->openTable("T", {});
    e->insert({std::string("fourth"), int64_t(4)});
    ASSERT_TRUE(d->read(0, before, id));
    d->remove(id, before);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "T.DBF")[4], 4);
}

TEST_F(WritersTest, TwoWritersNeverShareAMemoBlockOrAUniqueKey) {
    create({IndexDef{"NAME", "NAME", false, true, false, false, "", ""}});
    auto a = db_->openTable("T", {});
    auto b = db_->openTable("T", {});
    a->insert({std::string("a"), int64_t(1), std::string("memo of a")});
    b->insert({std::string("b"), int64_t(2), std::string("memo of b")});
    a->insert({std::string("c"), int64_t(3), std::string("memo of c")});
    // b has not seen c: its check must still find it.
    EXPECT_EQ(errorCodeOf([&] { b->insert({std::string("c"), int64_t(4)}); }), ErrKeyViolation);
    b->refresh();
    auto rows = dbtest::readAll(*b);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][2], Value(std::string("memo of a")));
    EXPECT_EQ(rows[1][2], Value(std::string("memo of b")));
    EXPECT_EQ(rows[2][2], Value(std::string("memo of c")));
}

TEST_F(WritersTest, TwoProcessesWritingAtRandomLoseNothing) {
    create({IndexDef{"NAME", "NAME", false, true, false, false, "", ""}});
    constexpr int perChild = 60;
    std::vector<pid_t> kids;
    for (int child = 0; child < 2; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                auto db = connect();
                auto c = db->openTable("T", {});
                unsigned seed = 7u + unsigned(child);
                for (int i = 0; i < perChild; ++i) {
                    const std::string name = std::string(child ? "q" : "p") + std::to_string(i);
                    c->insert({name, int64_t(i), std::string(size_t(1 + rand_r(&seed) % 700), char('a' + child))});
                    if (i % 3 == 2) { // edit one of this child's records, found by name
                        c->refresh();
                        Row row;
                        RowId id;
                        for (int64_t p = 0; c->read(p, row, id); ++p)
                            if (row[0] == Value(std::string(child ? "q" : "p") + std::to_string(i - 1))) {
                                Row after = row;
                                after[1] = int64_t(1000 + i);
                                c->update(id, row, after);
                                break;
                            }
                    }
                }
            } catch (const std::exception& e) {
                fprintf(stderr, "child: %s\n", e.what());
                status = 1;
            }
            ::_exit(status);
        }
        kids.push_back(pid);
    }
    for (pid_t k : kids) {
        int st = 0;
        ::waitpid(k, &st, 0);
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    auto c = db_->openTable("T", {});
    EXPECT_EQ(c->readOnlyReason(), "");
    auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), size_t(2 * perChild));
    std::set<std::string> names;
    for (const Row& r : rows) {
        const std::string name = std::get<std::string>(r[0]);
        names.insert(name);
        const int i = std::stoi(name.substr(1));
        const bool edited = i % 3 == 1 && i + 1 < perChild;
        EXPECT_EQ(r[1], Value(int64_t(edited ? 1000 + i + 1 : i))) << name;
        const std::string memo = std::get<std::string>(r[2]);
        EXPECT_EQ(memo, std::string(memo.size(), name[0] == 'p' ? 'a' : 'b')) << name;
    }
    EXPECT_EQ(names.size(), size_t(2 * perChild));
    // The unique index holds every record once, in order.
    c->setOrder("NAME");
    EXPECT_EQ(c->count(), 2 * perChild);
}
