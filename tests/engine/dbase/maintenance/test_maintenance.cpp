// Index trees changed in place by random writes, searches through them, and index files
// this program must refuse to write.
#include "Maintenance.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"

#include <cstring>
#include <set>

using namespace maint;

namespace {

class Maintenance : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = connect(dir_.path());
        createTable(*db_, dir_.path());
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

} // namespace

// Inserts, key changes (of every tag at once, or of one), edits that leave the keys alone,
// deletes, and refused duplicates, at random over many equal keys; every tree is walked
// every thousand writes, and at the end by Perl's reader and against a sort by dbfread.
TEST_F(Maintenance, TenThousandRandomWritesKeepEveryTreeInOrder) {
    std::mt19937 rng(13);
    std::vector<int64_t> ids; // live IDs
    std::set<int64_t> used;
    auto c = db_->openTable("T", {});
    ASSERT_EQ(c->readOnlyReason(), "");
    auto freshId = [&] {
        int64_t id;
        do
            id = int64_t(rng() % 200000) - 1000;
        while (used.count(id));
        return id;
    };
    auto name = [&] { return "N" + std::to_string(rng() % 60); };
    int refused = 0;
    for (int step = 1; step <= 10000; ++step) {
        const unsigned r = rng() % 100;
        if (ids.size() < 50 || r < 45) {
            const int64_t id = freshId();
            c->insert(row(id, name(), int64_t(rng() % 1000) - 500, int(rng() % 400)));
            ids.push_back(id);
            used.insert(id);
        } else if (r < 50) {
            // A duplicate of a live unique key: refused, nothing written.
            try {
                c->insert(row(ids[rng() % ids.size()], name(), 1, 1));
                ADD_FAILURE() << "duplicate accepted at step " << step;
            } catch (const EngineError& e) {
                EXPECT_EQ(e.code(), ErrKeyViolation);
                ++refused;
            }
        } else {
            c->setOrder("");
            const int64_t pos = int64_t(rng() % uint64_t(c->count()));
            Row before;
            RowId rid;
            ASSERT_TRUE(c->read(pos, before, rid));
            const int64_t id = asInt(before[0]);
            auto at = std::find(ids.begin(), ids.end(), id);
            ASSERT_NE(at, ids.end());
            if (r < 80) {
                Row after = before;
                const unsigned what = rng() % 4;
                if (what == 0) {
                    after = row(freshId(), name(), int64_t(rng() % 1000), int(rng() % 400));
                    used.insert(asInt(after[0]));
                    *at = asInt(after[0]);
                } else if (what == 1) {
                    after[1] = name();
                } else if (what == 2) {
                    after[2] = int64_t(rng() % 1000) - 500;
                } else {
                    after[3] = Date{1990 + int(rng() % 40), 1 + int(rng() % 12), 1 + int(rng() % 28)};
                }
                c->update(rid, before, after);
            } else {
                c->remove(rid, before);
                ids.erase(at);
            }
        }
        if (step % 1000 == 0) {
            c.reset();
            ASSERT_EQ(indexProblems(dir_.path()), "") << "after step " << step;
            c = db_->openTable("T", {});
        }
    }
    c.reset();
    EXPECT_GT(refused, 100);
    // Perl's reader walks every tree in the order the cursor sorts to.
    auto cur = db_->openTable("T", {OpenOptions{false, true}});
    for (const auto& t : tagsOf(dir_.path())) {
        cur->setOrder(t.name);
        std::vector<int64_t> ours, perl;
        Row rr;
        RowId id;
        for (int64_t p = 0; cur->read(p, rr, id); ++p)
            ours.push_back(id.recno);
        const std::set<int64_t> live(ours.begin(), ours.end());
        for (int64_t r : perlWalk(t.file, t.ndx ? "" : t.name))
            if (live.count(r))
                perl.push_back(r);
        EXPECT_EQ(perl, ours) << t.name;
        if (t.name == "NAME") {
            EXPECT_EQ(ours, lines(dbtest::runPython("sort_with_dbfread.py", (dir_ / "T.DBF").string() + " NAME")));
        }
    }
}

// Page splits and emptied pages at the edges: keys that all sort first, all last, all equal,
// and of the greatest length, then every record's key changed away and back.
TEST_F(Maintenance, SplitsAndEmptiedPagesAtTheEdges) {
    auto c = db_->openTable("T", {});
    for (int i = 0; i < 300; ++i)
        c->insert(row(100000 - i, "ZZZ", 7, 3)); // each new key sorts first in ID, all equal in NAME
    for (int i = 0; i < 300; ++i)
        c->insert(row(200000 + i, std::string(12, '~'), 7, 3)); // last
    c.reset();
    ASSERT_EQ(indexProblems(dir_.path()), "");
    c = db_->openTable("T", {});
    c->setOrder("");
    std::vector<std::pair<RowId, Row>> all;
    {
        Row r;
        RowId id;
        for (int64_t p = 0; c->read(p, r, id); ++p)
            all.push_back({id, r});
    }
    // Away (every record moves to the other end of every tree), then back.
    for (int round = 0; round < 2; ++round)
        for (auto& [id, before] : all) {
            Row after = before;
            after[0] = -asInt(before[0]);
            after[1] = round == 0 ? std::string("AAA") : std::string("ZZZ");
            after[4] = std::string(100, round == 0 ? 'a' : 'z');
            c->update(id, before, after);
            before = after;
        }
    c.reset();
    EXPECT_EQ(indexProblems(dir_.path()), "");
    for (const std::string t : {"ID", "LONGK"})
        EXPECT_EQ(perlWalk(dir_ / "T.MDX", t).size(), 600u) << t;
}

// A search answers through the index without the order being built first, and agrees with
// a pass over the sorted order, for every kind of key, before and after writes.
TEST_F(Maintenance, SeekFindsTheFirstRecordNotLessThanTheKey) {
    auto c = db_->openTable("T", {});
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i)
        c->insert(row(i * 3, "N" + std::to_string(rng() % 50), int64_t(rng() % 100), int(rng() % 300)));
    c.reset();
    auto check = [&](Cursor& cur, const std::string& order, const Row& key, auto notLess) {
        cur.setOrder(order);
        const int64_t at = cur.seek(key);
        // The answer from a plain pass over the order.
        Row r;
        RowId id;
        int64_t want = 0;
        while (cur.read(want, r, id) && !notLess(r))
            ++want;
        EXPECT_EQ(at, want) << order;
    };
    for (int pass = 0; pass < 2; ++pass) {
        auto cur = db_->openTable("T", {});
        check(*cur, "ID", {int64_t(3001)}, [](const Row& r) { return asInt(r[0]) >= 3001; });
        check(*cur, "ID", {int64_t(-5)}, [](const Row& r) { return asInt(r[0]) >= -5; });
        check(*cur, "ID", {int64_t(999999)}, [](const Row&) { return false; });
        check(*cur, "NAME", {std::string("N3")}, [](const Row& r) { return std::get<std::string>(r[1]) >= "N3"; });
        check(*cur, "AMTD", {int64_t(40)}, [](const Row& r) { return asInt(r[2]) <= 40; });
        check(*cur, "BORN", {Date{2010, 6, 1}}, [](const Row& r) { return std::get<Date>(r[3]) >= Date{2010, 6, 1}; });
        // An expression tag and a value the field cannot hold: left to the caller.
        cur->setOrder("UPNAME");
        EXPECT_EQ(cur->seek({std::string("N1")}), -1);
        cur->setOrder("NAME");
        EXPECT_EQ(cur->seek({std::string(40, 'x')}), -1);
        cur->setOrder("");
        EXPECT_EQ(cur->seek({int64_t(1)}), -1);
        // Writes between searches: the order follows them.
        cur->setOrder("ID");
        cur->insert(row(3001, "N0", 1, 1));
        EXPECT_EQ(cur->seek({int64_t(3001)}), 1001);
        Row r;
        RowId id;
        ASSERT_TRUE(cur->read(1001, r, id));
        EXPECT_EQ(asInt(r[0]), 3001);
        cur->remove(id, r);
        EXPECT_EQ(cur->seek({int64_t(3001)}), 1001);
        ASSERT_TRUE(cur->read(1001, r, id));
        EXPECT_EQ(asInt(r[0]), 3003);
    }
}

// Index files this program cannot keep: refused at open (read-only with the reason), never
// a hang or a half-done write.
TEST_F(Maintenance, IndexFilesThatCannotBeKeptLeaveTheTableReadOnly) {
    {
        auto c = db_->openTable("T", {});
        c->insert(row(1, "A", 1, 1));
    }
    const std::string good = dbtest::bytesOf(dir_ / "T.MDX");
    auto patchTagHeader = [&](size_t tagNo, size_t offset, uint16_t value) {
        std::string b = good;
        const size_t entry = 544 + tagNo * 32;
        const uint32_t page = uint32_t(uint8_t(b[entry])) | uint32_t(uint8_t(b[entry + 1])) << 8;
        b[page * 512 + offset] = char(value & 0xff);
        b[page * 512 + offset + 1] = char(value >> 8);
        dbtest::writeBytes(dir_ / "T.MDX", b);
    };
    const std::string dbf = dbtest::bytesOf(dir_ / "T.DBF");
    // A key longer than a page can hold two of.
    patchTagHeader(1, 12, 1000);
    {
        auto c = db_->openTable("T", {});
        EXPECT_NE(c->readOnlyReason(), "");
        EXPECT_EQ(dbtest::errorCodeOf([&] { c->insert(row(2, "B", 1, 1)); }), ErrReadOnly);
    }
    EXPECT_TRUE(dbtest::bytesOf(dir_ / "T.DBF") == dbf);
    // 48 tags in use: the file opens, but is not written.
    {
        // 48 entries of 32 bytes run into the first tag header page: that page moves to the
        // end of the file and every entry names it.
        std::string b = good;
        const uint32_t moved = uint32_t(b.size() / 512);
        b += good.substr(2048, 1024);
        b[544] = char(moved & 0xff);
        b[545] = char(moved >> 8);
        b[28] = 48;
        for (size_t i = 1; i < 48; ++i)
            std::memcpy(b.data() + 544 + i * 32, b.data() + 544, 32);
        dbtest::writeBytes(dir_ / "T.MDX", b);
        auto c = db_->openTable("T", {});
        EXPECT_NE(c->readOnlyReason().find("48"), std::string::npos) << c->readOnlyReason();
        EXPECT_EQ(c->count(), 1);
        EXPECT_EQ(dbtest::errorCodeOf([&] { c->insert(row(2, "B", 1, 1)); }), ErrReadOnly);
    }
    EXPECT_TRUE(dbtest::bytesOf(dir_ / "T.DBF") == dbf);
}

// Number arguments of key functions far outside any sensible range (and not numbers at all)
// give keys, not undefined behaviour.
TEST_F(Maintenance, KeyExpressionNumberArgumentsOutOfRangeAreHeldAtBounds) {
    using enginetest::field;
    db_->createTable("E", {field("NAME", FieldType::String, 10), field("N", FieldType::Float, 20),
                           field("D", FieldType::Date)},
                     {tag("S1", "", false, false, "SUBSTR(NAME,2,1E30)+SUBSTR(NAME,1E30,1)"),
                      tag("S2", "", false, false, "LEFT(NAME,-1E30)+RIGHT(NAME,1E300)"),
                      tag("S3", "", false, false, "STR(N,1E20,-1E20)"), tag("S4", "", false, false, "NAME+SUBSTR(NAME,N,N)"),
                      tag("S5", "", false, false, "DTOS(D+N)+STR(YEAR(D-N),4)")});
    auto c = db_->openTable("E", {});
    ASSERT_EQ(c->readOnlyReason(), "");
    c->insert({std::string("abcdef"), 1e12, Date{2001, 2, 3}});
    c->insert({std::string("ghijkl"), -1e12, Date{2001, 2, 3}});
    c->insert({std::string("mnop"), Value(), Value()});
    for (const std::string t : {"S1", "S2", "S3", "S4", "S5"}) {
        c->setOrder(t);
        EXPECT_EQ(c->count(), 3) << t;
    }
}

// A date key is read from the record's own eight bytes: the field may end the record, which
// is not a terminated string (a run of gathered records or a read-ahead buffer follows it).
TEST(DateKeys, ReadFromTheFieldsEightBytesAlone) {
    dbase::DbfHeader h;
    dbase::DbfField name;
    name.name = "NAME";
    name.type = 'C';
    name.offset = 1;
    name.length = 4;
    dbase::DbfField day;
    day.name = "D";
    day.type = 'D';
    day.offset = 5;
    day.length = 8;
    h.fields = {name, day};
    h.recordLength = 13;
    const dbase::KeyExpression e("D", h);
    const auto keyOf = [&](const std::string& bytes) {
        // Exactly one record on the heap: a read past it is caught by the address sanitizer.
        std::vector<uint8_t> rec(bytes.begin(), bytes.end());
        return e.evaluate(rec.data(), 0).number;
    };
    const double feb3 = keyOf(" ABCD20010203");
    EXPECT_GT(feb3, 0);
    EXPECT_EQ(keyOf(" ABCD20010204"), feb3 + 1);
    EXPECT_EQ(keyOf(" ABCD        "), -1) << "blank";
    EXPECT_EQ(keyOf(" ABCD2001 2 3"), -1) << "not eight digits";
    EXPECT_EQ(keyOf(" ABCD20011332"), -1) << "no such day";
}
