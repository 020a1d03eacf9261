// Writes against in-memory models: random inserts and deletes on keyed and unkeyed tables,
// key violations, update conflicts, auto-increment, secondary index order and files.
#include "IndexWalk.h"
#include "PxlibPeer.h"
#include "TestDir.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using namespace vemo::engine;
using namespace enginetest;
using namespace vemo::engine::paradox;

namespace {

IndexDef primaryKey(const std::string& fields) {
    IndexDef i;
    i.primary = true;
    i.fields = fields;
    return i;
}

IndexDef secondaryIndex(const std::string& name, const std::string& fields) {
    IndexDef i;
    i.name = name;
    i.fields = fields;
    return i;
}


std::vector<Row> readAll(Cursor& c) {
    std::vector<Row> out;
    Row r;
    RowId id;
    for (int64_t i = 0; c.read(i, r, id); ++i) out.push_back(r);
    return out;
}

} // namespace

TEST(ParadoxWrites, RandomInsertsAndDeletesKeepAKeyedTableSortedAndComplete) {
    TestDir dir;
    const auto db = dir / "MODEL.DB";
    // Wide records: few per block, so blocks split, empty and are reused often.
    createParadoxTable(db, {field("K", FieldType::Integer), field("TEXT", FieldType::String, 200), field("N", FieldType::Float)},
                       {primaryKey("K")});
    std::map<int64_t, Row> model;
    std::mt19937 rng(12345);
    auto cursor = std::make_unique<PxCursor>(db, OpenOptions{});
    for (int step = 0; step < 1500; ++step) {
        const int64_t k = int64_t(rng() % 400);
        const bool insert = model.size() < 50 || rng() % 100 < 55;
        RowId id;
        id.key = {k};
        if (insert) {
            Row r = {k, std::string("行 ") + std::to_string(step), double(step) / 8};
            const int code = errorCodeOf([&] { cursor->insert(r); });
            if (model.count(k)) {
                EXPECT_EQ(code, ErrKeyViolation);
            } else {
                EXPECT_EQ(code, 0);
                model[k] = r;
            }
        } else if (model.count(k)) {
            cursor->remove(id, model[k]);
            model.erase(k);
        } else {
            EXPECT_EQ(errorCodeOf([&] { cursor->remove(id, Row{k, std::string("x"), 0.0}); }), ErrUpdateConflict);
        }
        if (step % 50 == 49) cursor = std::make_unique<PxCursor>(db, OpenOptions{}); // from disk
        ASSERT_EQ(cursor->count(), int64_t(model.size())) << "step " << step;
        ASSERT_TRUE(cursor->readOnlyReason().empty()) << cursor->readOnlyReason();
        if (step % 10 == 0 || step > 1400) {
            std::vector<Row> expected;
            for (auto& [key, row] : model) expected.push_back(row);
            ASSERT_EQ(readAll(*cursor), expected) << "step " << step;
        }
    }
    // Every key is found where it is.
    int64_t pos = 0;
    for (auto& [key, row] : model) {
        RowId id;
        id.key = {key};
        EXPECT_EQ(cursor->positionOf(id), pos++);
    }
}

TEST(ParadoxWrites, RandomEditsOfAnUnkeyedTableMatchTheModel) {
    TestDir dir;
    const auto db = dir / "HEAP.DB";
    createParadoxTable(db, {field("S", FieldType::String, 120), field("M", FieldType::Memo, 10)}, {});
    std::vector<Row> model;
    std::mt19937 rng(99);
    PxCursor c(db, OpenOptions{});
    for (int step = 0; step < 800; ++step) {
        const int op = int(rng() % 10);
        if (model.empty() || op < 5) {
            Row r = {std::string("値") + std::to_string(step), step % 3 ? Value(std::string(size_t(rng() % 5000), 'q')) : Value{}};
            const RowId id = c.insert(r);
            EXPECT_EQ(id.recno, int64_t(model.size()));
            model.push_back(r);
        } else if (op < 8) {
            const size_t at = rng() % model.size();
            RowId id;
            id.recno = int64_t(at);
            c.remove(id, model[at]);
            model.erase(model.begin() + long(at));
        } else {
            const size_t at = rng() % model.size();
            RowId id;
            id.recno = int64_t(at);
            Row after = {std::string("更新") + std::to_string(step), Value(std::string(size_t(rng() % 3000), 'u'))};
            c.update(id, model[at], after);
            model[at] = after;
        }
        if (step % 20 == 0) {
            ASSERT_EQ(readAll(c), model) << "step " << step;
        }
    }
    PxCursor reopened(db, OpenOptions{});
    EXPECT_EQ(readAll(reopened), model);
    // The .MB does not grow without bound: freed blob space is reused.
    EXPECT_LT(std::filesystem::file_size(dir / "HEAP.MB"), 4096u * 2 * 800);
}

TEST(ParadoxWrites, ViolationsAndConflictsChangeNothing) {
    TestDir dir;
    const auto db = dir / "T.DB";
    createParadoxTable(db, {field("ID", FieldType::AutoInc), field("NAME", FieldType::String, 10), field("V", FieldType::Smallint)},
                       {primaryKey("ID")});
    PxCursor c(db, OpenOptions{});
    const RowId a = c.insert({Value{}, std::string("一"), int64_t(1)});
    const RowId b = c.insert({Value{}, std::string("二"), int64_t(2)});
    EXPECT_EQ(a.key, Row{int64_t(1)});
    EXPECT_EQ(b.key, Row{int64_t(2)});
    const auto before = readAll(c);
    EXPECT_EQ(errorCodeOf([&] { c.insert({int64_t(2), std::string("dup"), int64_t(0)}); }), ErrKeyViolation);
    EXPECT_EQ(errorCodeOf([&] { c.update(a, before[0], {int64_t(2), std::string("一"), int64_t(1)}); }), ErrKeyViolation);
    EXPECT_EQ(errorCodeOf([&] { c.update(a, before[1], {int64_t(1), std::string("x"), int64_t(1)}); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { c.remove(b, before[0]); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { c.insert({Value{}, std::string("長すぎる名前です"), int64_t(1)}); }), ErrConvert);
    EXPECT_EQ(errorCodeOf([&] { c.insert({Value{}, std::string("x"), int64_t(99999)}); }), ErrConvert);
    EXPECT_EQ(readAll(c), before);
    // The counter survives reopening and moves past explicit values.
    c.insert({int64_t(10), std::string("十"), int64_t(10)});
    PxCursor again(db, OpenOptions{});
    const RowId next = again.insert({Value{}, std::string("次"), int64_t(0)});
    EXPECT_EQ(next.key, Row{int64_t(11)});
    PxCursor readOnly(db, OpenOptions{false, true});
    EXPECT_FALSE(readOnly.readOnlyReason().empty());
    EXPECT_EQ(errorCodeOf([&] { readOnly.insert({Value{}, std::string("x"), int64_t(0)}); }), ErrReadOnly);
}

TEST(ParadoxWrites, SecondaryIndexesGiveTheirOrderAndStayCurrent) {
    TestDir dir;
    const auto db = dir / "CUST.DB";
    createParadoxTable(db, {field("ID", FieldType::Integer), field("NAME", FieldType::String, 20), field("PREF", FieldType::String, 8)},
                       {primaryKey("ID"), secondaryIndex("NAME", "NAME"), secondaryIndex("BYPREF", "PREF;NAME")});
    auto format = standard::makeParadoxFormat();
    auto files = format->companionFiles(db);
    std::vector<std::string> names;
    for (auto& f : files) names.push_back(f.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"CUST.DB", "CUST.PX", "CUST.X02", "CUST.XG0", "CUST.Y02", "CUST.YG0"}));
    std::mt19937 rng(7);
    {
        PxCursor c(db, OpenOptions{});
        for (int i = 0; i < 300; ++i)
            c.insert({int64_t(i), std::string("N") + std::to_string(rng() % 1000), std::string("P") + std::to_string(rng() % 5)});
        RowId id;
        id.key = {int64_t(5)};
        Row r, before;
        c.read(5, before, id);
        r = before;
        r[1] = std::string("AAAA");
        c.update(id, before, r);
    }
    PxCursor c(db, OpenOptions{});
    ASSERT_TRUE(c.readOnlyReason().empty()) << c.readOnlyReason();
    const auto idx = c.indexes();
    ASSERT_EQ(idx.size(), 3u);
    EXPECT_TRUE(idx[0].primary);
    EXPECT_EQ(idx[0].name, "");
    EXPECT_EQ(idx[1].name, "NAME");
    EXPECT_EQ(idx[2].name, "BYPREF");
    EXPECT_EQ(idx[2].fields, "PREF;NAME");
    c.setOrder("byPref");
    auto rows = readAll(c);
    ASSERT_EQ(rows.size(), 300u);
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::tie(std::get<std::string>(a[2]), std::get<std::string>(a[1])) <
               std::tie(std::get<std::string>(b[2]), std::get<std::string>(b[1]));
    }));
    c.setOrder("NAME");
    rows = readAll(c);
    EXPECT_EQ(rows.front()[1], Value(std::string("AAAA")));
    RowId id5;
    id5.key = {int64_t(5)};
    EXPECT_EQ(c.positionOf(id5), 0);
    EXPECT_EQ(errorCodeOf([&] { c.setOrder("NOPE"); }), ErrNotFound);
    // The index files are tables in their own right: the peer reads one record per row.
    const auto x = pxpeer::read(dir / "CUST.XG0");
    EXPECT_EQ(x.rows.size(), 300u);
    EXPECT_EQ(x.fields.size(), 4u); // PREF, NAME, ID, Hint
    // Walk the .X chain: sorted entries, each found through the .Y tree, each hint naming
    // the data block that holds its record.
    EXPECT_EQ(indexwalk::secondaryProblems(db, dir / "CUST.XG0", dir / "CUST.YG0", 8 + 20, 4), "");
    EXPECT_EQ(indexwalk::primaryProblems(db, dir / "CUST.PX", 4), "");
}

TEST(ParadoxWrites, CreationRefusesBadDefinitionsAndLeavesNothingBehind) {
    TestDir dir;
    const auto db = dir / "BAD.DB";
    EXPECT_EQ(errorCodeOf([&] { createParadoxTable(db, {field("A", FieldType::String, 5), field("B", FieldType::Integer)}, {primaryKey("B")}); }),
              ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { createParadoxTable(db, {field("A", FieldType::String, 0)}, {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { createParadoxTable(db, {field("A", FieldType::String, 5), field("a", FieldType::Integer)}, {}); }),
              ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { createParadoxTable(db, {field("A", FieldType::String, 5)}, {secondaryIndex("A", "A")}); }),
              ErrInvalidParam);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    createParadoxTable(db, {field("A", FieldType::String, 5)}, {});
    EXPECT_EQ(errorCodeOf([&] { createParadoxTable(db, {field("A", FieldType::String, 5)}, {}); }), ErrInvalidParam);
}

TEST(ParadoxWrites, TwoWritersOnOneTableSeeEachOthersChanges) {
    TestDir dir;
    const auto db = dir / "SHARED.DB";
    createParadoxTable(db, {field("K", FieldType::Integer), field("S", FieldType::String, 200)}, {primaryKey("K")});
    PxCursor a(db, OpenOptions{});
    PxCursor b(db, OpenOptions{});
    for (int i = 0; i < 200; ++i) {
        (i % 2 ? a : b).insert({int64_t(i), std::string("v") + std::to_string(i)});
    }
    RowId id;
    id.key = {int64_t(3)};
    EXPECT_EQ(errorCodeOf([&] { b.insert({int64_t(3), std::string("again")}); }), ErrKeyViolation);
    a.remove(id, {int64_t(3), std::string("v3")});
    EXPECT_EQ(errorCodeOf([&] { b.remove(id, {int64_t(3), std::string("v3")}); }), ErrUpdateConflict);
    PxCursor check(db, OpenOptions{});
    ASSERT_TRUE(check.readOnlyReason().empty()) << check.readOnlyReason();
    const auto rows = readAll(check);
    ASSERT_EQ(rows.size(), 199u);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], Value(int64_t(i < 3 ? i : i + 1)));
}
