// The order a cursor keeps in memory while it writes: the block list against a plain vector,
// and a cursor with an index order open following thousands of writes, compared with the
// order a fresh cursor sorts from the table.
#include "Maintenance.h"
#include "engine/drivers/standard/dbase/RecordOrder.h"

using namespace maint;
using vemo::engine::dbase::RecordOrder;

namespace {

void expectSame(const RecordOrder& order, const std::vector<uint32_t>& model, int step) {
    ASSERT_EQ(order.size(), model.size()) << "step " << step;
    ASSERT_EQ(order.toVector(), model) << "step " << step;
    // Positional reads near the seams of the blocks as well as at random.
    for (size_t pos : {size_t(0), model.size() / 2, model.size() - 1, size_t(RecordOrder::BlockSize) - 1,
                       size_t(RecordOrder::BlockSize), size_t(2 * RecordOrder::BlockSize)}) {
        if (pos < model.size()) {
            ASSERT_EQ(order[pos], model[pos]) << "step " << step << " pos " << pos;
        }
    }
}

} // namespace

// Inserts (many at one spot, so blocks split), erases (runs of them, so blocks empty and
// merge), at the front, the back and the seams; compared with a vector after each batch.
TEST(RecordOrderTest, FollowsAVectorThroughSplitsAndMerges) {
    std::mt19937 rng(7);
    std::vector<uint32_t> model;
    for (uint32_t i = 0; i < 10000; ++i)
        model.push_back(i * 3);
    RecordOrder order(model);
    expectSame(order, model, 0);
    uint32_t next = 1000000;
    for (int step = 1; step <= 30000; ++step) {
        const unsigned what = rng() % 10;
        size_t pos;
        if (what < 2)
            pos = 0;
        else if (what < 4)
            pos = model.size();
        else if (what < 6)
            pos = std::min(model.size(), size_t(RecordOrder::BlockSize));
        else
            pos = model.empty() ? 0 : rng() % (model.size() + 1);
        // Long stretches of growth and of shrinking, so the list is emptied and refilled.
        const bool grow = (step / 5000) % 2 == 0 ? rng() % 10 < 7 : rng() % 10 < 2;
        if (grow || model.empty()) {
            order.insert(pos, next);
            model.insert(model.begin() + std::ptrdiff_t(pos), next++);
        } else {
            pos = std::min(pos, model.size() - 1);
            order.erase(pos);
            model.erase(model.begin() + std::ptrdiff_t(pos));
        }
        if (step % 997 == 0)
            expectSame(order, model, step);
    }
    expectSame(order, model, -1);
    for (size_t i = 0; i < model.size(); i += 611)
        EXPECT_EQ(order.find(model[i]), i);
    EXPECT_EQ(order.find(0xFFFFFFFFu), order.size());
    EXPECT_THROW(order.erase(order.size()), std::out_of_range);
    EXPECT_THROW(order.insert(order.size() + 1, 1), std::out_of_range);
    while (!order.empty())
        order.erase(order.size() / 2);
    order.insert(0, 5);
    EXPECT_EQ(order.toVector(), std::vector<uint32_t>{5});
}

// A cursor showing the NAME order (many equal keys, more records than a few blocks hold)
// while it inserts, changes names and deletes: its positions stay those of a fresh sort.
TEST(RecordOrderTest, CursorOrderFollowsItsOwnWrites) {
    dbtest::TempDir dir;
    auto db = connect(dir.path());
    createTable(*db, dir.path());
    std::mt19937 rng(11);
    auto name = [&] { return "N" + std::to_string(rng() % 40); };
    auto c = db->openTable("T", {});
    c->beginBatch();
    for (int64_t i = 1; i <= 9000; ++i)
        c->insert(row(i, name(), i % 7, int(i % 300)));
    c->commitBatch();
    c->setOrder("NAME");
    ASSERT_EQ(c->count(), 9000);
    int64_t nextId = 100000;
    auto checkAgainstFresh = [&](int step) {
        auto fresh = connect(dir.path())->openTable("T", {OpenOptions{false, true}});
        fresh->setOrder("NAME");
        ASSERT_EQ(c->count(), fresh->count()) << "step " << step;
        Row a, b;
        RowId ia, ib;
        for (int64_t p = 0; fresh->read(p, b, ib); ++p) {
            ASSERT_TRUE(c->read(p, a, ia));
            ASSERT_EQ(ia.recno, ib.recno) << "step " << step << " position " << p;
        }
    };
    for (int step = 1; step <= 3000; ++step) {
        const unsigned what = rng() % 3;
        if (what == 0) {
            const RowId id = c->insert(row(nextId++, name(), 1, 1));
            // The new record is found where the order put it.
            const int64_t at = c->positionOf(id);
            Row r;
            RowId got;
            ASSERT_TRUE(c->read(at, r, got)) << "step " << step;
            ASSERT_EQ(got.recno, id.recno);
        } else {
            const int64_t pos = int64_t(rng() % uint64_t(c->count()));
            Row before;
            RowId id;
            ASSERT_TRUE(c->read(pos, before, id));
            if (what == 1) {
                Row after = before;
                after[1] = name();
                c->update(id, before, after);
            } else {
                c->remove(id, before);
                EXPECT_EQ(c->positionOf(id), -1);
            }
        }
        if (step % 1000 == 0)
            checkAgainstFresh(step);
    }
    EXPECT_EQ(indexProblems(dir.path()), "");
}
