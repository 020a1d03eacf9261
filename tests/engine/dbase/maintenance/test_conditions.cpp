// Tags with a FOR condition: records enter and leave them as they are inserted, edited and
// deleted, and the order through such a tag shows the records meeting the condition only.
#include "Maintenance.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"

#include <map>
#include <set>

using namespace maint;

namespace {

struct Rec {
    int64_t id;
    std::string name;
    int64_t amt;
    bool deleted = false;
};

IndexDef conditional(const std::string& name, const std::string& fields, const std::string& condition, bool unique = false) {
    IndexDef d = tag(name, fields, unique);
    d.condition = condition;
    return d;
}

class Conditions : public ::testing::Test {
protected:
    void SetUp() override {
        using enginetest::field;
        db_ = connect(dir_.path());
        db_->createTable("C", {field("ID", FieldType::Integer), field("NAME", FieldType::String, 12),
                               field("AMT", FieldType::Integer)},
                         {tag("ID", "ID", true), conditional("BIG", "NAME", "AMT>100.AND..NOT.DELETED()"),
                          conditional("NEG", "NAME", "AMT < 0", true), conditional("LIVE", "ID", "!DELETED()")});
    }
    // Record numbers (1-based) meeting a condition, in the tag's order (key, then record).
    template <typename Keep, typename Key>
    std::vector<int64_t> expected(Keep keep, Key key) const {
        std::vector<std::pair<std::string, int64_t>> v;
        for (const auto& [r, rec] : model_)
            if (keep(rec))
                v.push_back({key(rec), r});
        std::sort(v.begin(), v.end());
        std::vector<int64_t> out;
        for (const auto& e : v)
            out.push_back(e.second);
        return out;
    }
    static std::string nameKey(const Rec& r) { return r.name + std::string(12 - r.name.size(), ' '); }
    // The tags' trees (the engine's reader and Perl's) and the cursor's orders against the model.
    void check(const std::string& when) {
        const auto mdx = dir_.path() / "C.MDX";
        const auto big = expected([](const Rec& r) { return r.amt > 100 && !r.deleted; }, nameKey);
        const auto neg = expected([](const Rec& r) { return r.amt < 0; }, nameKey);
        char buf[16];
        const auto live = expected([](const Rec& r) { return !r.deleted; }, [&](const Rec& r) {
            std::snprintf(buf, sizeof buf, "%+012lld", static_cast<long long>(r.id));
            return std::string(buf);
        });
        for (const auto& [name, want] : {std::pair{"BIG", big}, std::pair{"NEG", neg}}) {
            std::vector<int64_t> tree;
            for (const auto& t : dbase::readMdxTags(mdx))
                if (t.name == name)
                    for (const auto& e : dbase::readIndexEntries(t))
                        tree.push_back(e.recno);
            EXPECT_EQ(tree, want) << name << " " << when;
            EXPECT_EQ(perlWalk(mdx, name), want) << name << " " << when;
        }
        EXPECT_EQ(perlWalk(mdx, "LIVE").size(), live.size()) << when;
        auto c = db_->openTable("C", {OpenOptions{false, true}});
        for (const auto& [name, want] : {std::pair{"BIG", big}, std::pair{"LIVE", live}}) {
            c->setOrder(name);
            std::vector<int64_t> shown;
            Row r;
            RowId id;
            for (int64_t p = 0; c->read(p, r, id); ++p)
                shown.push_back(id.recno);
            EXPECT_EQ(int64_t(shown.size()), c->count()) << name;
            if (name == std::string("BIG"))
                EXPECT_EQ(shown, want) << "the order through BIG " << when;
            else
                EXPECT_EQ(std::set<int64_t>(shown.begin(), shown.end()), std::set<int64_t>(want.begin(), want.end())) << when;
        }
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
    std::map<int64_t, Rec> model_; // by 1-based record number
};

} // namespace

// Random inserts, edits that move records into and out of the conditions, and deletes (which
// leave BIG and LIVE, whose conditions read the mark); a unique tag with a condition refuses
// repeats among its own records only.
TEST_F(Conditions, RecordsEnterAndLeaveTagsWithAConditionOnEveryWrite) {
    std::mt19937 rng(29);
    auto c = db_->openTable("C", {});
    ASSERT_EQ(c->readOnlyReason(), "");
    int64_t nextId = 1;
    int refused = 0, moved = 0;
    std::set<std::string> negNames;
    auto fresh = [&] { return "N" + std::to_string(rng() % 300); };
    for (int step = 1; step <= 12000; ++step) {
        const unsigned what = rng() % 100;
        std::vector<int64_t> liveRecs;
        if (what >= 40)
            for (const auto& [r, rec] : model_)
                if (!rec.deleted)
                    liveRecs.push_back(r);
        if (what < 40 || liveRecs.size() < 30) {
            Rec rec{nextId++, fresh(), int64_t(rng() % 400) - 100};
            const bool clash = rec.amt < 0 && negNames.count(rec.name);
            try {
                const RowId id = c->insert({rec.id, rec.name, rec.amt});
                ASSERT_FALSE(clash) << "a repeated NEG key accepted at step " << step;
                model_[id.recno] = rec;
                if (rec.amt < 0)
                    negNames.insert(rec.name);
            } catch (const EngineError& e) {
                ASSERT_TRUE(clash) << e.what();
                EXPECT_EQ(e.code(), ErrKeyViolation);
                ++refused;
            }
        } else {
            const int64_t r = liveRecs[rng() % liveRecs.size()];
            Rec& rec = model_[r];
            const Row before{rec.id, rec.name, rec.amt};
            const RowId id{r, {}};
            if (what < 85) {
                Rec after = rec;
                if (rng() % 2)
                    after.amt = int64_t(rng() % 400) - 100;
                else
                    after.name = fresh();
                const bool clash = after.amt < 0 && (after.name != rec.name || rec.amt >= 0) && negNames.count(after.name);
                try {
                    c->update(id, before, {after.id, after.name, after.amt});
                    ASSERT_FALSE(clash) << "a repeated NEG key accepted at step " << step;
                    moved += (rec.amt > 100) != (after.amt > 100);
                    if (rec.amt < 0)
                        negNames.erase(rec.name);
                    if (after.amt < 0)
                        negNames.insert(after.name);
                    rec = after;
                } catch (const EngineError& e) {
                    ASSERT_TRUE(clash) << e.what();
                    ++refused;
                }
            } else {
                c->remove(id, before);
                rec.deleted = true; // NEG still holds it (its condition does not read the mark)
                if (rec.amt < 0)
                    negNames.erase(rec.name); // but a deleted record repeats no key
            }
        }
        if (step % 3000 == 0) {
            c.reset();
            check("after step " + std::to_string(step));
            c = db_->openTable("C", {});
        }
    }
    EXPECT_GT(refused, 10);
    EXPECT_GT(moved, 1000);
    // The conditions are read back as they were written, and a repair builds the tags with them.
    auto defs = c->indexes();
    c.reset();
    ASSERT_EQ(defs.size(), 4u);
    EXPECT_EQ(defs[1].condition, "AMT>100.AND..NOT.DELETED()");
    EXPECT_EQ(defs[2].condition, "AMT < 0");
    const RepairReport rep = db_->repairTable("C", true);
    EXPECT_TRUE(rep.remaining.empty());
    check("after a repair");
}

// An edit that leaves the condition, through the cursor showing that order: the record is
// gone from the order and from its positions; an edit that enters puts it at its key.
TEST_F(Conditions, TheOrderThroughATagWithAConditionFollowsTheWrites) {
    auto c = db_->openTable("C", {});
    for (int i = 0; i < 50; ++i)
        c->insert({int64_t(i), "K" + std::to_string(100 + i), int64_t(i % 2 ? 200 : 50)});
    c->setOrder("BIG");
    ASSERT_EQ(c->count(), 25);
    Row r;
    RowId id;
    ASSERT_TRUE(c->read(0, r, id));
    EXPECT_EQ(asInt(r[0]), 1);
    Row out = r;
    out[2] = int64_t(5);
    c->update(id, r, out);
    EXPECT_EQ(c->count(), 24);
    EXPECT_EQ(c->positionOf(id), -1) << "no longer in the tag";
    ASSERT_TRUE(c->read(0, r, id));
    EXPECT_EQ(asInt(r[0]), 3);
    // Record 0 (ID 0, K100) enters and sorts first.
    const RowId first{1, {}};
    c->update(first, {int64_t(0), std::string("K100"), int64_t(50)}, {int64_t(0), std::string("K100"), int64_t(101)});
    EXPECT_EQ(c->count(), 25);
    EXPECT_EQ(c->positionOf(first), 0);
    const RowId added = c->insert({int64_t(99), std::string("A"), int64_t(500)});
    EXPECT_EQ(c->positionOf(added), 0);
    EXPECT_EQ(c->positionOf(c->insert({int64_t(98), std::string("A"), int64_t(1)})), -1);
    EXPECT_EQ(c->count(), 26);
    c->remove(added, {int64_t(99), std::string("A"), int64_t(500)});
    EXPECT_EQ(c->count(), 25);
    // The search runs among the tag's records only.
    EXPECT_EQ(c->seek({std::string("K100")}), 0);
    EXPECT_EQ(c->seek({std::string("K102")}), 1) << "K101 left the tag, K102 is not in it";
}

// A batch rebuilds the tags at its end with their conditions; bad conditions are refused when
// the tag is made, and a condition read back from the file is the one written.
TEST_F(Conditions, BatchesRebuildWithTheConditionAndBadConditionsAreRefused) {
    auto c = db_->openTable("C", {});
    c->beginBatch();
    for (int i = 0; i < 3000; ++i)
        c->insert({int64_t(i), "B" + std::to_string(i % 70), int64_t(i % 300)}); // none in NEG
    c->insert({int64_t(5000), std::string("B1"), int64_t(-1)});
    EXPECT_EQ(dbtest::errorCodeOf([&] { c->insert({int64_t(5001), std::string("B1"), int64_t(-2)}); }), ErrKeyViolation)
        << "NEG repeats B1";
    c->rollbackBatch();
    model_.clear();
    c->beginBatch();
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "B" + std::to_string(i);
        const RowId id = c->insert({int64_t(i), name, int64_t(i % 300 - 100)});
        model_[id.recno] = Rec{i, name, int64_t(i % 300 - 100)};
    }
    c->commitBatch();
    c.reset();
    check("after the batch");

    using enginetest::field;
    const auto fields = std::vector{field("A", FieldType::Integer), field("S", FieldType::String, 5)};
    EXPECT_EQ(dbtest::errorCodeOf([&] { db_->createTable("E1", fields, {conditional("T", "A", "A+1")}); }), ErrInvalidParam)
        << "not true or false";
    EXPECT_NE(dbtest::errorCodeOf([&] { db_->createTable("E2", fields, {conditional("T", "A", "NOSUCH>1")}); }), 0);
    EXPECT_EQ(dbtest::errorCodeOf([&] { db_->createTable("E3", fields, {conditional("T", "A", "1=2")}); }), ErrInvalidParam)
        << "nothing a reader could tell from flag bytes";
    db_->createTable("E4", fields, {conditional("T", "S", "A>1.AND.S='AB'.OR.A<-5")});
    auto e = db_->openTable("E4", {});
    ASSERT_EQ(e->readOnlyReason(), "");
    e->insert({int64_t(2), std::string("ABC")});
    e->insert({int64_t(2), std::string("A")});
    e->insert({int64_t(-9), std::string("Z")});
    e->setOrder("T");
    EXPECT_EQ(e->count(), 2) << "'ABC' = 'AB' holds, 'A' = 'AB' does not";
}

// Conditions as the evaluator reads them: numbers right before an operator, comparisons of
// strings as far as the right side goes.
TEST(ConditionExpressions, OperatorsAfterNumbersAndStringEquality) {
    dbase::DbfHeader h;
    dbase::DbfField s;
    s.name = "S";
    s.type = 'C';
    s.offset = 1;
    s.length = 4;
    dbase::DbfField n;
    n.name = "N";
    n.type = 'N';
    n.offset = 5;
    n.length = 4;
    h.fields = {s, n};
    h.recordLength = 9;
    auto holds = [&](const std::string& text, const std::string& rec) {
        const dbase::KeyExpression e(text, h);
        EXPECT_EQ(e.resultKind(), dbase::KeyValue::Kind::Bool) << text;
        return e.evaluate(reinterpret_cast<const uint8_t*>(rec.data()), 0).flag;
    };
    EXPECT_TRUE(holds("N>100.AND.N<200", " ABCD 150"));
    EXPECT_FALSE(holds("N>100.AND.N<120", " ABCD 150"));
    EXPECT_TRUE(holds("N=150.OR..F.", " ABCD 150"));
    EXPECT_TRUE(holds("N>1.5E2.OR.N=1.5E2", " ABCD 150"));
    EXPECT_TRUE(holds("S='AB'", " ABCD 150"));
    EXPECT_FALSE(holds("S='ABCDE'", " ABCD 150"));
    EXPECT_FALSE(holds("S<>'AB'", " ABCD 150"));
    EXPECT_TRUE(holds(".NOT.S='X'.AND.!DELETED()", " ABCD 150"));
    EXPECT_FALSE(holds("!DELETED()", "*ABCD 150"));
    EXPECT_FALSE(holds("S=150", " ABCD 150")) << "a string and a number are never equal";
}
