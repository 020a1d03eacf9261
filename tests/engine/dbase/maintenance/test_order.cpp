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

// The kept key bytes travel with their records through inserts, erases, splits and merges:
// a key handed in (or learnt later with setKey) is the one read back at the record's
// position, unknown keys read back as unknown, and the blank-rest mark follows the key.
TEST(RecordOrderTest, KeptKeysStayWithTheirRecordsThroughSplitsAndMerges) {
    constexpr size_t Kept = 6, Width = 10;
    std::mt19937 rng(23);
    struct Slot {
        uint32_t recno;
        std::string key; // empty: not known
    };
    auto keyFor = [&](uint32_t r) {
        // Half of them blank past the kept bytes, half not.
        std::string k = "k" + std::to_string(r % 100000);
        k.resize(Kept, '.');
        k += r % 2 ? std::string(Width - Kept, ' ') : "x" + std::string(Width - Kept - 1, ' ');
        return k;
    };
    std::vector<Slot> model;
    std::vector<uint32_t> recnos;
    std::string keys;
    for (uint32_t i = 0; i < 5000; ++i) {
        recnos.push_back(i);
        keys += keyFor(i);
        model.push_back({i, keyFor(i)});
    }
    RecordOrder order(recnos, keys, Width, Kept);
    ASSERT_EQ(order.keyBytes(), Kept);
    auto check = [&](size_t pos, int step) {
        const RecordOrder::Entry e = order.entry(pos);
        ASSERT_EQ(e.recno, model[pos].recno) << "step " << step << " pos " << pos;
        if (model[pos].key.empty()) {
            ASSERT_EQ(e.key, nullptr) << "step " << step << " pos " << pos;
            return;
        }
        ASSERT_NE(e.key, nullptr) << "step " << step << " pos " << pos;
        ASSERT_EQ(std::string(e.key, Kept), model[pos].key.substr(0, Kept)) << "step " << step << " pos " << pos;
        ASSERT_EQ(e.restBlank, RecordOrder::blankBetween(model[pos].key, Kept, Width)) << "step " << step;
    };
    uint32_t next = 100000;
    for (int step = 1; step <= 40000; ++step) {
        const unsigned what = rng() % 10;
        const bool grow = (step / 8000) % 2 == 0 ? what < 6 : what < 2;
        size_t pos = model.empty() ? 0 : rng() % (model.size() + 1);
        if (rng() % 4 == 0)
            pos = std::min(model.size(), size_t(RecordOrder::BlockSize)); // a seam
        if (grow || model.empty()) {
            const bool known = rng() % 3 != 0;
            const std::string k = keyFor(next);
            order.insert(pos, next, known ? &k : nullptr);
            model.insert(model.begin() + std::ptrdiff_t(pos), Slot{next, known ? k : std::string()});
            ++next;
        } else if (what == 9) {
            // A key learnt later, or one too short to keep (left unknown).
            pos = std::min(pos, model.size() - 1);
            const std::string k = rng() % 5 ? keyFor(model[pos].recno) : std::string("ab");
            order.setKey(pos, k);
            if (k.size() >= Kept)
                model[pos].key = k;
        } else {
            pos = std::min(pos, model.size() - 1);
            order.erase(pos);
            model.erase(model.begin() + std::ptrdiff_t(pos));
        }
        if (!model.empty()) {
            check(pos < model.size() ? pos : model.size() - 1, step);
            check(0, step);
        }
        if (step % 4999 == 0)
            for (size_t p = 0; p < model.size(); ++p)
                check(p, step);
    }
    ASSERT_EQ(order.size(), model.size());
    EXPECT_TRUE(RecordOrder::blankBetween("ab   ", 2, 9));
    EXPECT_FALSE(RecordOrder::blankBetween("ab  c", 2, 9));
    // An order without kept keys never reports one.
    RecordOrder plain(std::vector<uint32_t>{1, 2, 3});
    plain.insert(1, 9, &model.front().key);
    EXPECT_EQ(plain.entry(1).recno, 9u);
    EXPECT_EQ(plain.entry(1).key, nullptr);
}
