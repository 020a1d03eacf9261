// Index maintenance of keyed Paradox tables against models: long random write sequences with
// every index file walked independently, batches (commit, rollback, a writer killed inside
// one, a failed step inside one), seeks through the index, two processes writing at once.
#include "IndexWalk.h"
#include "PxlibPeer.h"
#include "TestDir.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/io/UndoJournal.h"
#include "engine/drivers/standard/paradox/PxCodec.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"
#include "engine/drivers/standard/paradox/PxHeader.h"
#include "engine/drivers/standard/paradox/PxIndexFiles.h"
#include "engine/drivers/standard/paradox/PxIndexTree.h"
#include "engine/drivers/standard/paradox/PxTable.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <csignal>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace vemo::engine;
using namespace enginetest;
using namespace vemo::engine::paradox;

namespace {

using Model = std::map<int64_t, Row>; // K → (K, NAME, CITY, N)

IndexDef index(const std::string& name, const std::string& fields, bool primary = false) {
    IndexDef i;
    i.name = name;
    i.fields = fields;
    i.primary = primary;
    return i;
}

// K integer key; NAME (a single-field index, .X03/.Y03... by field number) and CITY;NAME (a
// composite one). NAME is wide so that blocks of every file split often.
void createCustomers(const std::filesystem::path& db) {
    createParadoxTable(db, {field("K", FieldType::Integer), field("NAME", FieldType::String, 30),
                            field("CITY", FieldType::String, 10), field("N", FieldType::Float)},
                       {index("", "K", true), index("NAME", "NAME"), index("BYCITY", "CITY;NAME")});
}

const std::string& text(const Row& r, size_t i) { return std::get<std::string>(r[i]); }

// Every index file of the table walked independently of the engine.
std::string indexProblems(const TestDir& dir) {
    std::string out = indexwalk::primaryProblems(dir / "C.DB", dir / "C.PX", 4);
    out += indexwalk::secondaryProblems(dir / "C.DB", dir / "C.X02", dir / "C.Y02", 30, 4);
    out += indexwalk::secondaryProblems(dir / "C.DB", dir / "C.XG0", dir / "C.YG0", 10 + 30, 4);
    return out;
}

std::vector<Row> readOrder(Cursor& c, const std::string& order) {
    c.setOrder(order);
    std::vector<Row> out;
    Row r;
    RowId id;
    for (int64_t i = 0; c.read(i, r, id); ++i) out.push_back(r);
    c.setOrder("");
    return out;
}

// The model's records in each order the table offers.
std::vector<Row> sortedBy(const Model& m, const std::string& order) {
    std::vector<Row> rows;
    for (const auto& [k, r] : m) rows.push_back(r);
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        const auto ka = std::get<int64_t>(a[0]), kb = std::get<int64_t>(b[0]);
        if (order == "NAME") return std::tie(text(a, 1), ka) < std::tie(text(b, 1), kb);
        if (order == "BYCITY") return std::tie(text(a, 2), text(a, 1), ka) < std::tie(text(b, 2), text(b, 1), kb);
        return ka < kb;
    });
    return rows;
}

// What differs between the table, read in every order, and the model.
std::string orderProblems(Cursor& c, const Model& m) {
    std::string out;
    for (const std::string order : {"", "NAME", "BYCITY"})
        if (readOrder(c, order) != sortedBy(m, order)) out += "order \"" + order + "\" differs from the model; ";
    return out;
}

Model readModel(Cursor& c) {
    Model m;
    for (const Row& r : readOrder(c, "")) m[std::get<int64_t>(r[0])] = r;
    return m;
}

Row customer(int64_t k, std::mt19937& rng) {
    static const char* cities[] = {"Tokyo", "Osaka", "Kyoto", "Nara", "Kobe"};
    return {k, "n" + std::to_string(rng() % 400), std::string(cities[rng() % 5]), double(rng() % 1000) / 4};
}

RowId idOf(int64_t k) {
    RowId id;
    id.key = {k};
    return id;
}

// One random write applied to the cursor and, once it returned, to the model. Keys come
// from [lo, hi) and step by `stride` (two processes take one residue each).
void randomWrite(Cursor& c, Model& m, std::mt19937& rng, int64_t keys, int64_t stride = 1, int64_t residue = 0) {
    const int64_t k = int64_t(rng() % uint64_t(keys)) * stride + residue;
    const int kind = int(rng() % 100);
    auto it = m.find(k);
    if (it == m.end() || kind < 35) {
        if (it != m.end()) {
            EXPECT_EQ(errorCodeOf([&] { c.insert(customer(k, rng)); }), ErrKeyViolation);
            return;
        }
        Row r = customer(k, rng);
        c.insert(r);
        m[k] = r;
    } else if (kind < 55) { // another value of an indexed field
        Row after = it->second;
        after[rng() % 2 ? 1 : 2] = customer(k, rng)[rng() % 2 ? 1 : 2];
        c.update(idOf(k), it->second, after);
        it->second = after;
    } else if (kind < 65) { // a field no index holds
        Row after = it->second;
        after[3] = double(rng() % 1000);
        c.update(idOf(k), it->second, after);
        it->second = after;
    } else if (kind < 80) { // a key change, to a free key
        const int64_t nk = int64_t(rng() % uint64_t(keys)) * stride + residue;
        Row after = it->second;
        after[0] = nk;
        if (m.count(nk)) {
            EXPECT_EQ(errorCodeOf([&] { c.update(idOf(k), it->second, after); }), nk == k ? 0 : ErrKeyViolation);
            return;
        }
        c.update(idOf(k), it->second, after);
        m.erase(it);
        m[nk] = after;
    } else {
        c.remove(idOf(k), it->second);
        m.erase(it);
    }
}

} // namespace

TEST(ParadoxIndexes, TenThousandRandomWritesKeepEveryIndexInStepWithTheRecords) {
    TestDir dir;
    createCustomers(dir / "C.DB");
    Model m;
    std::mt19937 rng(2024);
    auto c = std::make_unique<PxCursor>(dir / "C.DB", OpenOptions{});
    for (int step = 1; step <= 10000; ++step) {
        randomWrite(*c, m, rng, 1500);
        if (step % 1000 == 0) {
            ASSERT_EQ(indexProblems(dir), "") << "step " << step;
            ASSERT_EQ(orderProblems(*c, m), "") << "step " << step;
        }
        if (step % 2500 == 0) c = std::make_unique<PxCursor>(dir / "C.DB", OpenOptions{}); // from the files
    }
    EXPECT_GT(m.size(), 300u);
    ASSERT_TRUE(c->readOnlyReason().empty()) << c->readOnlyReason();
    // The independent reader takes the table and both .X files as the tables they are.
    EXPECT_EQ(pxpeer::read(dir / "C.DB").rows.size(), m.size());
    EXPECT_EQ(pxpeer::read(dir / "C.X02").rows.size(), m.size());
    EXPECT_EQ(pxpeer::read(dir / "C.XG0").rows.size(), m.size());
    // A rebuild from the records (the repair entry point) agrees.
    c->rebuildIndexFiles();
    EXPECT_EQ(indexProblems(dir), "");
    EXPECT_EQ(orderProblems(*c, m), "");
}

TEST(ParadoxIndexes, TwoCursorsTakingTurnsSeeEachOthersIndexChanges) {
    // Each cursor holds the .X files it maintains open between writes; every write of the
    // other one (an edit of an indexed field included, which leaves the table's chain as it
    // was) must make it read them again.
    TestDir dir;
    createCustomers(dir / "C.DB");
    Model m;
    std::mt19937 rng(31);
    PxCursor a(dir / "C.DB", OpenOptions{}), b(dir / "C.DB", OpenOptions{});
    for (int step = 1; step <= 3000; ++step) {
        randomWrite(step % 3 ? a : b, m, rng, 500);
        if (step % 500 == 0) {
            ASSERT_EQ(indexProblems(dir), "") << "step " << step;
        }
    }
    a.refresh();
    EXPECT_EQ(orderProblems(a, m), "");
}

TEST(ParadoxIndexes, ABatchCommitsAtOnceAndARollbackLeavesTheTableAsItWas) {
    TestDir dir;
    createCustomers(dir / "C.DB");
    Model base;
    std::mt19937 rng(5);
    PxCursor c(dir / "C.DB", OpenOptions{});
    for (int i = 0; i < 200; ++i) randomWrite(c, base, rng, 400);
    const auto journal = standard::UndoJournal::pathFor(dir / "C.DB");
    for (const bool commit : {false, true}) {
        Model m = base;
        std::mt19937 batchRng(99);
        c.beginBatch();
        EXPECT_EQ(errorCodeOf([&] { c.beginBatch(); }), ErrInvalidParam);
        for (int i = 0; i < 600; ++i) randomWrite(c, m, batchRng, 400); // violations included
        // Refused writes leave the batch going: a conflict, a key taken.
        const auto& [k, r] = *m.begin();
        Row stale = r;
        stale[3] = -1.0;
        EXPECT_EQ(errorCodeOf([&] { c.remove(idOf(k), stale); }), ErrUpdateConflict);
        EXPECT_EQ(errorCodeOf([&] { c.insert(r); }), ErrKeyViolation);
        // Inside the batch the cursor shows it, in every order, and seeks in it.
        EXPECT_EQ(c.count(), int64_t(m.size()));
        EXPECT_EQ(orderProblems(c, m), "");
        c.setOrder("NAME");
        const auto rows = sortedBy(m, "NAME");
        EXPECT_EQ(c.seek({text(rows[rows.size() / 2], 1)}), int64_t(std::lower_bound(rows.begin(), rows.end(), rows[rows.size() / 2], [](const Row& a, const Row& b) { return text(a, 1) < text(b, 1); }) - rows.begin()));
        c.setOrder("");
        if (commit) c.commitBatch();
        else c.rollbackBatch();
        const Model& want = commit ? m : base;
        // The journal stays while the table is open, idle: nothing to play back, no mark.
        EXPECT_EQ(standard::FileSetJournal::inspect(journal), standard::FileSetJournal::Found::None);
        EXPECT_EQ(readModel(c), want);
        EXPECT_EQ(indexProblems(dir), "");
        PxCursor again(dir / "C.DB", OpenOptions{});
        EXPECT_TRUE(again.readOnlyReason().empty()) << again.readOnlyReason();
        EXPECT_EQ(orderProblems(again, want), "");
    }
    // A batch never committed is undone when its cursor closes.
    Model m = readModel(c);
    {
        PxCursor other(dir / "C.DB", OpenOptions{});
        other.beginBatch();
        Model scratch = m;
        for (int i = 0; i < 50; ++i) randomWrite(other, scratch, rng, 400);
    }
    c.refresh();
    EXPECT_EQ(readModel(c), m);
    EXPECT_EQ(indexProblems(dir), "");
}

TEST(ParadoxIndexes, AWriterKilledInsideABatchLeavesTheTableAsAtItsStart) {
    TestDir dir;
    createCustomers(dir / "C.DB");
    Model m;
    {
        PxCursor c(dir / "C.DB", OpenOptions{});
        std::mt19937 rng(1);
        for (int i = 0; i < 300; ++i) randomWrite(c, m, rng, 800);
    }
    std::mt19937 pick(77);
    int killedInside = 0, committed = 0;
    for (int round = 0; round < 15; ++round) {
        const unsigned seed = 1000 + unsigned(round);
        const int writes = 50 + int(pick() % 400);
        // What the batch makes of the table: the child applies the same writes in order.
        Model after = m;
        {
            TestDir scratch;
            std::filesystem::copy(dir.path(), scratch.path(), std::filesystem::copy_options::recursive);
            PxCursor s(scratch / "C.DB", OpenOptions{});
            std::mt19937 rng(seed);
            for (int i = 0; i < writes; ++i) randomWrite(s, after, rng, 800);
        }
        // The child reports each write, then waits for a word from the parent before it
        // commits: the parent kills it among the writes, during the commit or after it.
        int up[2], down[2];
        ASSERT_EQ(::pipe(up), 0);
        ASSERT_EQ(::pipe(down), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(up[0]);
            ::close(down[1]);
            try {
                PxCursor c(dir / "C.DB", OpenOptions{});
                Model own = m;
                std::mt19937 rng(seed);
                c.beginBatch();
                for (int i = 0; i < writes; ++i) {
                    randomWrite(c, own, rng, 800);
                    if (::write(up[1], "w", 1) != 1) ::_exit(3);
                }
                char go;
                if (::write(up[1], "E", 1) != 1 || ::read(down[0], &go, 1) != 1) ::_exit(3);
                c.commitBatch();
                if (::write(up[1], "C", 1) != 1) ::_exit(3);
                ::pause();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer: %s\n", e.what());
                ::_exit(2);
            }
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        const int mode = int(pick() % 3); // 0 among the writes, 1 committing, 2 committed
        const int killAfter = mode == 0 ? int(pick() % uint32_t(writes)) : writes + 1;
        int seen = 0;
        char ch = 0;
        while (seen < killAfter && ::read(up[0], &ch, 1) == 1) ++seen;
        if (mode > 0) {
            EXPECT_EQ(ch, 'E');
            EXPECT_EQ(::write(down[1], "g", 1), 1);
            if (mode == 1) ::usleep(useconds_t(pick() % 4000));
            else EXPECT_EQ(::read(up[0], &ch, 1), 1);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(up[0]);
        ::close(down[1]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own, round " << round;
        PxCursor c(dir / "C.DB", OpenOptions{});
        ASSERT_TRUE(c.readOnlyReason().empty()) << c.readOnlyReason();
        const Model now = readModel(c);
        // (Compared by truth value: a failure prints the round, not two whole tables.)
        const bool expected = mode == 0 ? now == m : mode == 1 ? (now == m || now == after) : now == after;
        EXPECT_TRUE(expected) << "killed " << (mode == 0 ? "among the writes" : mode == 1 ? "committing" : "after the commit")
                              << ", round " << round;
        EXPECT_EQ(indexProblems(dir), "") << "round " << round;
        EXPECT_EQ(orderProblems(c, now), "") << "round " << round;
        killedInside += mode == 0 && killAfter > 0;
        committed += mode == 2;
        m = now;
    }
    EXPECT_GT(killedInside, 1);
    EXPECT_GT(committed, 1);
}

TEST(ParadoxIndexes, AFailedStepInsideABatchUndoesTheWholeBatch) {
    TestDir base;
    createCustomers(base / "C.DB");
    Model before;
    {
        PxCursor c(base / "C.DB", OpenOptions{});
        std::mt19937 rng(3);
        for (int i = 0; i < 150; ++i) randomWrite(c, before, rng, 300);
    }
    long failures = 0;
    for (long k = 1;; ++k) {
        ASSERT_LT(k, 3000);
        TestDir work;
        std::filesystem::copy(base.path(), work.path(), std::filesystem::copy_options::recursive);
        Model after = before;
        bool failed = false;
        {
            PxCursor c(work / "C.DB", OpenOptions{});
            std::mt19937 rng(8);
            standard::FaultPlan::failAt(k, k % 2 ? EIO : ENOSPC);
            try {
                c.beginBatch();
                for (int i = 0; i < 25; ++i) randomWrite(c, after, rng, 300);
                c.commitBatch();
            } catch (const EngineError& e) {
                failed = true;
                // Whatever comes after a step failed inside the batch is refused, not
                // written on its own.
                if (e.code() == ErrIO || e.code() == ErrLocked) {
                    Row r = customer(100000, rng);
                    EXPECT_NE(errorCodeOf([&] { c.insert(r); }), 0);
                }
                c.rollbackBatch();
            }
            standard::FaultPlan::clear();
        }
        PxCursor fresh(work / "C.DB", OpenOptions{});
        ASSERT_TRUE(fresh.readOnlyReason().empty()) << fresh.readOnlyReason() << " step " << k;
        const Model now = readModel(fresh);
        if (failed) {
            ++failures;
            EXPECT_EQ(now, before) << "step " << k;
        } else {
            EXPECT_EQ(now, after);
        }
        EXPECT_EQ(indexProblems(work), "") << "step " << k;
        if (!failed) break;
    }
    EXPECT_GT(failures, 5);
}

TEST(ParadoxIndexes, SeekFindsTheFirstRecordNotBelowTheKeyInEveryOrder) {
    TestDir dir;
    createParadoxTable(dir / "S.DB", {field("A", FieldType::Integer), field("B", FieldType::String, 6), field("NAME", FieldType::String, 12)},
                       {index("", "A;B", true), index("NAME", "NAME")});
    PxCursor c(dir / "S.DB", OpenOptions{});
    std::mt19937 rng(11);
    std::vector<Row> rows;
    for (int i = 0; i < 1500; ++i) {
        Row r = {int64_t(rng() % 300) * 2, "b" + std::to_string(rng() % 20), "n" + std::to_string(rng() % 500)};
        if (errorCodeOf([&] { c.insert(r); }) == 0) rows.push_back(r);
    }
    auto byKey = [](const Row& a, const Row& b) { return std::tie(std::get<int64_t>(a[0]), text(a, 1)) < std::tie(std::get<int64_t>(b[0]), text(b, 1)); };
    std::sort(rows.begin(), rows.end(), byKey);
    for (int64_t a : {int64_t(-5), int64_t(0), int64_t(3), int64_t(300), int64_t(598), int64_t(599), int64_t(10000)}) {
        // One leading field: the first record with A >= a.
        const auto want = std::partition_point(rows.begin(), rows.end(), [&](const Row& r) { return std::get<int64_t>(r[0]) < a; });
        EXPECT_EQ(c.seek({a}), int64_t(want - rows.begin())) << a;
        // Both fields.
        const Row probe = {a, std::string("b5"), std::string()};
        const auto want2 = std::lower_bound(rows.begin(), rows.end(), probe, byKey);
        EXPECT_EQ(c.seek({a, std::string("b5")}), int64_t(want2 - rows.begin())) << a;
    }
    Row found;
    RowId id;
    ASSERT_TRUE(c.read(c.seek({rows[700][0], rows[700][1]}), found, id));
    EXPECT_EQ(found, rows[700]);
    // In the order of a secondary index, through its .X, and after writes have moved things.
    for (int i = 0; i < 300; ++i) c.insert({int64_t(1000 + i), std::string("z"), "n" + std::to_string(rng() % 500)});
    c.setOrder("NAME");
    std::vector<Row> byName;
    Row r;
    for (int64_t i = 0; c.read(i, r, id); ++i) byName.push_back(r);
    for (const std::string name : {"", "n1", "n250", "n499", "n5", "zzz"}) {
        const auto want = std::partition_point(byName.begin(), byName.end(), [&](const Row& x) { return text(x, 2) < name; });
        EXPECT_EQ(c.seek({name}), int64_t(want - byName.begin())) << name;
    }
    // No value at all: the first record, whether the order comes from the .X or, inside a
    // batch, from a sort in memory.
    EXPECT_EQ(c.seek({}), 0);
    c.beginBatch();
    c.insert({int64_t(5000), std::string("b"), std::string("a")});
    EXPECT_EQ(c.seek({}), 0);
    EXPECT_EQ(c.seek({std::string("a")}), 0);
    c.rollbackBatch();
    // Bad input is refused; an unkeyed table has nothing to search through.
    EXPECT_EQ(errorCodeOf([&] { c.seek({std::string("a"), std::string("b")}); }), ErrInvalidParam);
    c.setOrder("");
    EXPECT_EQ(errorCodeOf([&] { c.seek({int64_t(1), std::string("b"), std::string("c")}); }), ErrInvalidParam);
    createParadoxTable(dir / "U.DB", {field("A", FieldType::Integer)}, {});
    PxCursor u(dir / "U.DB", OpenOptions{});
    EXPECT_EQ(u.seek({int64_t(1)}), -1);
}

TEST(ParadoxIndexes, TwoProcessesWritingAtRandomLeaveTheModelMergedFromBothLogs) {
    TestDir dir;
    createCustomers(dir / "C.DB");
    // Each writer takes keys of one parity, logs every write once it returned (the record as
    // it now is, or its removal), and stops after a bounded number of writes.
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            ::alarm(120);
            try {
                PxCursor c(dir / "C.DB", OpenOptions{});
                std::ofstream log(dir / ("w" + std::to_string(w) + ".log"));
                Model own;
                std::mt19937 rng(500 + unsigned(w));
                for (int i = 0; i < 600; ++i) {
                    Model before = own;
                    randomWrite(c, own, rng, 300, 2, w);
                    for (const auto& [k, r] : before)
                        if (!own.count(k)) log << "D " << k << "\n";
                    for (const auto& [k, r] : own)
                        if (!before.count(k) || before[k] != r)
                            log << "S " << k << " " << text(r, 1) << " " << text(r, 2) << " " << std::get<double>(r[3]) << "\n";
                    log.flush();
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer: %s\n", e.what());
                ::_exit(2);
            }
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
    Model merged;
    for (int w = 0; w < 2; ++w) {
        std::ifstream log(dir / ("w" + std::to_string(w) + ".log"));
        std::string line;
        while (std::getline(log, line)) {
            std::istringstream in(line);
            std::string op, name, city;
            int64_t k = 0;
            double n = 0;
            in >> op >> k;
            if (op == "D") {
                merged.erase(k);
            } else {
                in >> name >> city >> n;
                merged[k] = Row{k, name, city, n};
            }
        }
    }
    PxCursor c(dir / "C.DB", OpenOptions{});
    ASSERT_TRUE(c.readOnlyReason().empty()) << c.readOnlyReason();
    EXPECT_EQ(readModel(c), merged);
    EXPECT_EQ(orderProblems(c, merged), ""); // the key order ascends strictly: no key twice
    EXPECT_EQ(indexProblems(dir), "");
    EXPECT_EQ(pxpeer::read(dir / "C.DB").rows.size(), merged.size());
}

TEST(ParadoxIndexes, AHeaderTooShortForItsLevelIsRefusedWithoutReadingPastIt) {
    // A level-7 header claiming 0x58 bytes: the part from 0x58 on (the checksum at 0x5C)
    // is not there, in the buffer or the file.
    std::vector<uint8_t> h(0x58, 0);
    putLE16(h.data() + 0x00, 4);    // record size
    putLE16(h.data() + 0x02, 0x58); // header size
    h[0x04] = FtKeyedDb;
    h[0x05] = 2;
    putLE16(h.data() + 0x21, 1); // one field
    putLE16(h.data() + 0x23, 1);
    h[0x39] = 0x0C;
    EXPECT_EQ(errorCodeOf([&] { parseHeader(h.data(), h.size(), "T.DB"); }), ErrCorruptFile);
    h[0x39] = 0x03; // level 3 has no such part: the header then ends in its field list
    EXPECT_EQ(errorCodeOf([&] { parseHeader(h.data(), h.size(), "T.DB"); }), ErrCorruptFile);
}

namespace {

// The files of a table folder, for comparing a folder with an earlier copy of it.
std::map<std::string, std::string> folderBytes(const std::filesystem::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        out[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
}

// The inode of each index file: a file rebuilt is written anew and renamed over the old one.
const char* const IndexFiles[] = {"C.PX", "C.X02", "C.Y02", "C.XG0", "C.YG0"};
std::map<std::string, uint64_t> indexInodes(const std::filesystem::path& dir) {
    std::map<std::string, uint64_t> out;
    for (const char* name : IndexFiles) {
        struct stat st {};
        out[name] = ::stat((dir / name).c_str(), &st) == 0 ? uint64_t(st.st_ino) : 0;
    }
    return out;
}

} // namespace

namespace {

// One post of `added` into a table of 300 appended records (full blocks of 78) from which
// `removed` were deleted: killed at its k-th file operation for every k, the next open
// finds every file as it was before the post, byte for byte, or the post whole with every
// index in step.
void killPostAtEveryStep(const std::vector<int64_t>& removed, const Row& added) {
    SCOPED_TRACE("post of " + std::to_string(std::get<int64_t>(added[0])) + ", " + std::to_string(removed.size()) + " deleted before");
    TestDir base;
    createCustomers(base / "C.DB");
    Model m;
    {
        PxCursor c(base / "C.DB", OpenOptions{});
        std::mt19937 rng(8);
        c.beginBatch();
        for (int64_t k = 0; k < 600; k += 2) {
            Row r = customer(k, rng);
            c.insert(r);
            m[k] = r;
        }
        c.commitBatch();
        for (int64_t k : removed) {
            c.remove(idOf(k), m.at(k));
            m.erase(k);
        }
    }
    const auto before = folderBytes(base.path());
    int sawBefore = 0, sawAfter = 0;
    for (long k = 1; k < 400; ++k) {
        TestDir dir;
        std::filesystem::copy(base.path(), dir.path(), std::filesystem::copy_options::recursive);
        const auto inodes = indexInodes(dir.path());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                PxCursor c(dir / "C.DB", OpenOptions{});
                Row r;
                RowId id;
                c.read(0, r, id); // the open's own reads are not counted
                standard::FaultPlan::killAt(k);
                c.insert(added);
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        {
            PxCursor c(dir / "C.DB", OpenOptions{});
            EXPECT_EQ(c.readOnlyReason(), "") << "kill at step " << k;
            const Model now = readModel(c);
            // Played back without a rebuild: the index files are the same files, put back
            // in place (or written in place by the post when it got through).
            EXPECT_EQ(indexInodes(dir.path()), inodes) << "kill at step " << k;
            if (now == m) {
                ++sawBefore;
                // Played back, or never begun: the table and every index file exactly as before.
                const auto bytes = folderBytes(dir.path());
                for (const char* name : {"C.DB", "C.PX", "C.X02", "C.Y02", "C.XG0", "C.YG0"})
                    EXPECT_TRUE(bytes.at(name) == before.at(name)) << name << ", kill at step " << k;
            } else {
                Model with = m;
                with[std::get<int64_t>(added[0])] = added;
                EXPECT_TRUE(now == with) << "kill at step " << k;
                ++sawAfter;
            }
            EXPECT_EQ(orderProblems(c, now), "") << "kill at step " << k;
        }
        EXPECT_EQ(indexProblems(dir), "") << "kill at step " << k;
        EXPECT_FALSE(std::filesystem::exists(dir / "C.DB-journal")) << "kill at step " << k;
        if (finished) break;
    }
    EXPECT_GT(sawBefore, 3);
    EXPECT_GE(sawAfter, 1);
}

} // namespace

TEST(ParadoxIndexes, APostKilledAtEveryStepLeavesTableAndIndexesBeforeOrAfter) {
    // Posts that change blocks of the table and of both .X files (wide keys into full
    // blocks) and patch hints, by each way a full block makes room. The second block (keys
    // 156-310) is full; so are its neighbours unless a record was deleted from one.
    const std::string wide(30, 'm');
    auto row = [&](int64_t k) { return Row{k, wide, std::string("Kobe"), 1.5}; };
    // Its last record goes to a new block, or to the next block, or its first to the previous.
    killPostAtEveryStep({}, row(201));
    killPostAtEveryStep({400}, row(201));
    killPostAtEveryStep({20}, row(201));
    // Past its last record: a block of its own, or the front of the next block.
    killPostAtEveryStep({}, row(311));
    killPostAtEveryStep({400}, row(311));
}

TEST(ParadoxIndexes, AWriteKilledWhileTheIndexesLagIsFollowedByARebuild) {
    // Posts with index writes deferred, by a writer that ends without writing them: the
    // index files lag behind the table and the journal says so as a mark. The next writer
    // rebuilds them (replacing each file whole) before its own post; killed at its k-th file
    // operation for every k, the open after finds the table as before or after that post and
    // every index file in step with it: the lag noted, or the files noted as replaced, lead
    // to a rebuild whatever step the kill came at.
    TestDir lag;
    createCustomers(lag / "C.DB");
    Model m;
    std::vector<Row> later;
    {
        std::mt19937 rng(12);
        PxCursor c(lag / "C.DB", OpenOptions{});
        for (int64_t k = 0; k < 300; k += 2) {
            Row r = customer(k, rng);
            c.insert(r);
            m[k] = r;
        }
        for (int64_t k = 1; k < 200; k += 2) later.push_back(customer(k, rng));
    }
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        try {
            PxCursor c(lag / "C.DB", OpenOptions{});
            c.setDeferIndexWrites(true);
            for (const Row& r : later) c.insert(r);
            ::_exit(0); // no destructor: the index writes never happen
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const Row& r : later) m[std::get<int64_t>(r[0])] = r;
    ASSERT_EQ(standard::FileSetJournal::inspect(standard::UndoJournal::pathFor(lag / "C.DB")),
              standard::FileSetJournal::Found::Mark);
    ASSERT_NE(indexProblems(lag), "") << "the index files lag behind the table";

    const Row added = {int64_t(501), std::string(30, 'q'), std::string("Nara"), 2.5};
    int killed = 0;
    for (long k = 1; k < 400; ++k) {
        TestDir dir;
        std::filesystem::copy(lag.path(), dir.path(), std::filesystem::copy_options::recursive);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                standard::FaultPlan::killAt(k);
                PxCursor c(dir / "C.DB", OpenOptions{});
                c.insert(added);
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        ::waitpid(child, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        killed += WIFSIGNALED(status);
        {
            PxCursor c(dir / "C.DB", OpenOptions{});
            EXPECT_EQ(c.readOnlyReason(), "") << "kill at step " << k;
            const Model now = readModel(c);
            Model with = m;
            with[501] = added;
            EXPECT_TRUE(now == m || now == with) << "kill at step " << k;
            EXPECT_EQ(orderProblems(c, now), "") << "kill at step " << k;
        }
        EXPECT_EQ(indexProblems(dir), "") << "kill at step " << k;
        EXPECT_FALSE(std::filesystem::exists(dir / "C.DB-journal")) << "kill at step " << k;
        if (finished) break;
    }
    EXPECT_GT(killed, 10) << "the rebuild's renames and the post's steps each had a kill";
}

TEST(ParadoxIndexes, TheEmptyMarkOfAnEarlierVersionStillRebuildsTheIndexes) {
    // An earlier version left an empty journal when the index files lagged behind the
    // table: it is still read as that mark (and never made by this version, whose journal
    // file comes into place with a header).
    TestDir dir;
    createCustomers(dir / "C.DB");
    std::mt19937 rng(4);
    Model m;
    {
        PxCursor c(dir / "C.DB", OpenOptions{});
        for (int i = 0; i < 100; ++i) randomWrite(c, m, rng, 300);
    }
    ASSERT_FALSE(std::filesystem::exists(dir / "C.DB-journal"));
    const auto inodes = indexInodes(dir.path());
    std::ofstream(dir / "C.DB-journal").close();
    {
        PxCursor c(dir / "C.DB", OpenOptions{});
        EXPECT_EQ(c.readOnlyReason(), "");
        EXPECT_EQ(readModel(c), m);
    }
    const auto now = indexInodes(dir.path());
    for (const char* name : IndexFiles) EXPECT_NE(now.at(name), inodes.at(name)) << name << " was not rebuilt";
    EXPECT_EQ(indexProblems(dir), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "C.DB-journal"));
}

TEST(ParadoxIndexes, OnlyTheBlocksAWriteChangesNeedBeInOrder) {
    // A table of many blocks with two records swapped inside one block in the middle: the
    // first write does not read every record, so a write elsewhere goes through; a write
    // into that block is refused before anything changes, and the table stays read-only.
    TestDir dir;
    createCustomers(dir / "C.DB");
    std::mt19937 rng(3);
    {
        PxCursor c(dir / "C.DB", OpenOptions{});
        c.beginBatch();
        for (int64_t k = 0; k < 2000; k += 2) c.insert(customer(k, rng));
        c.commitBatch();
    }
    std::string db;
    {
        std::ifstream in((dir / "C.DB").c_str(), std::ios::binary);
        db.assign(std::istreambuf_iterator<char>(in), {});
    }
    const size_t headerSize = size_t(uint8_t(db[2]) | uint8_t(db[3]) << 8), rs = size_t(uint8_t(db[0]) | uint8_t(db[1]) << 8);
    const size_t blockSize = size_t(uint8_t(db[5])) * 0x400;
    ASSERT_GT(db.size(), headerSize + 6 * blockSize);
    // Block 4 (in file order) holds a run of keys; its 3rd and 4th records swap places.
    const size_t at = headerSize + 3 * blockSize + 6 + 2 * rs;
    std::swap_ranges(db.begin() + long(at), db.begin() + long(at + rs), db.begin() + long(at + rs));
    {
        std::ofstream out((dir / "C.DB").c_str(), std::ios::binary | std::ios::trunc);
        out << db;
    }
    PxCursor c(dir / "C.DB", OpenOptions{});
    EXPECT_NO_THROW(c.insert(customer(1, rng))) << "the first block is in order";
    const auto bytes = folderBytes(dir.path());
    // The swapped keys: the record in block 4's 3rd place, read back through the table.
    Row r;
    RowId id;
    int64_t inside = -1;
    for (int64_t p = 0; p < c.count() && inside < 0; ++p) {
        ASSERT_TRUE(c.read(p, r, id));
        Row next;
        RowId nid;
        if (c.read(p + 1, next, nid) && std::get<int64_t>(next[0]) < std::get<int64_t>(r[0])) inside = std::get<int64_t>(r[0]);
    }
    ASSERT_GT(inside, 0);
    EXPECT_EQ(errorCodeOf([&] { c.insert(customer(inside + 1, rng)); }), ErrReadOnly);
    EXPECT_TRUE(folderBytes(dir.path()) == bytes) << "refused before anything was written";
    EXPECT_NE(c.readOnlyReason(), "");
    EXPECT_EQ(errorCodeOf([&] { c.insert(customer(3, rng)); }), ErrReadOnly) << "read-only from then on";
}

TEST(ParadoxIndexes, ATreeUpdatedFromTheBlocksThatChangedEqualsOneComparedEntryByEntry) {
    // The .PX of a table, held as a tree: after each round of random changes of its entries
    // (new blocks, removed blocks, other first keys or counts, at the edges too), the tree is
    // brought up to date from the unchanged ends alone. A fresh tree read from the image
    // then finds nothing to change when given every entry.
    TestDir dir;
    createCustomers(dir / "C.DB");
    PxTable table(dir / "C.DB", false);
    const PxHeader& h = table.header();
    const std::vector<PxField> keyFields(h.fields.begin(), h.fields.begin() + 1);
    std::mt19937 rng(21);
    struct E {
        uint32_t key;
        uint16_t block;
        int count;
    };
    std::vector<E> entries;
    for (uint32_t i = 0; i < 4000; ++i) entries.push_back({i * 16, uint16_t(1 + rng() % 60000), int(1 + rng() % 40)});
    auto wanted = [&] {
        IndexEntries e;
        e.keyLength = 4;
        for (const auto& x : entries) {
            uint8_t k[4] = {uint8_t(x.key >> 24), uint8_t(x.key >> 16), uint8_t(x.key >> 8), uint8_t(x.key)};
            e.add(k, x.block, x.count);
        }
        return e;
    };
    std::vector<uint8_t> image = buildIndexTree(h, keyFields, FtPrimaryIndex, wanted());
    PxIndexTree tree;
    ASSERT_TRUE(tree.load(image));
    for (int round = 0; round < 400; ++round) {
        size_t same = SIZE_MAX, tail = SIZE_MAX;
        auto touched = [&](size_t i) {
            same = std::min(same, i);
            tail = std::min(tail, entries.size() - 1 - i);
        };
        const int edits = 1 + int(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            const int kind = int(rng() % 3);
            size_t i = rng() % 8 == 0 ? (rng() % 2 ? 0 : entries.size() - 1) : rng() % entries.size();
            if (kind == 0) { // a block split: a new entry after i, between its key and the next
                const uint32_t lo = entries[i].key, hi = i + 1 < entries.size() ? entries[i + 1].key : lo + 32;
                if (hi - lo < 2) continue;
                entries.insert(entries.begin() + long(i + 1), {lo + 1 + uint32_t(rng() % (hi - lo - 1)), uint16_t(1 + rng() % 60000), 1});
                touched(i);
                touched(i + 1);
            } else if (kind == 1 && entries.size() > 2) { // a block emptied
                touched(i);
                entries.erase(entries.begin() + long(i));
            } else { // a count or a first key of its own
                entries[i].count = int(1 + rng() % 40);
                touched(i);
            }
        }
        const IndexEntries all = wanted();
        PxIndexTree::Window w;
        w.count = entries.size();
        w.same = std::min(same, entries.size());
        w.sameTail = std::min(tail, entries.size());
        w.entryAt = [&](size_t i, uint8_t* key, uint16_t& block, int& count) {
            std::memcpy(key, all.keys.data() + i * 4, 4);
            block = all.blocks[i];
            count = all.counts[i];
        };
        tree.update(image, w);
        PxIndexTree fresh;
        ASSERT_TRUE(fresh.load(image)) << "round " << round;
        ASSERT_TRUE(fresh.update(image, all) == image) << "round " << round;
    }
}

namespace {

// A keyed table of K (integer) and padding, written through PxTable alone (no index files
// kept), with every record it holds read back in chain order.
struct PlainKeyedTable {
    TestDir dir;
    std::unique_ptr<PxTable> t;
    int moves = 0;
    PlainKeyedTable() {
        createParadoxTable(dir / "K.DB", {field("K", FieldType::Integer), field("PAD", FieldType::String, 60)},
                           {index("", "K", true)});
        t = std::make_unique<PxTable>(dir / "K.DB", true);
        t->setMoveObserver([this](const uint8_t*) { ++moves; });
    }
    std::vector<uint8_t> rec(int64_t k) const {
        std::vector<uint8_t> r(t->header().recordSize, 0);
        encodeField(t->header().fields[0], Value(k), r.data(), t->header().codepage);
        encodeField(t->header().fields[1], Value("p" + std::to_string(k)), r.data() + 4, t->header().codepage);
        return r;
    }
    int64_t keyAt(int64_t pos) {
        const PxField& f = t->header().fields[0];
        return std::get<int64_t>(decodeField(f, t->record(pos), t->header().codepage));
    }
    // What differs between the file, walked independently, and the keys expected.
    std::string problems(const std::set<int64_t>& want) {
        std::string out;
        std::vector<int64_t> inFile;
        const auto bytes = slurp(dir / "K.DB");
        std::set<int> blocksSeen;
        int prevBlock = 0;
        out += indexwalk::walkChain(bytes, [&](int block, const uint8_t* r) {
            if (block != prevBlock) {
                const size_t at = size_t(indexwalk::le16(bytes, 2)) + size_t(block - 1) * bytes[5] * 1024;
                if (indexwalk::le16(bytes, at + 2) != (blocksSeen.empty() ? 0 : prevBlock)) out += "back link wrong; ";
                if (!blocksSeen.insert(block).second) out += "block twice in the chain; ";
                prevBlock = block;
            }
            inFile.push_back(std::get<int64_t>(decodeField(t->header().fields[0], r, t->header().codepage)));
        });
        if (indexwalk::le16(bytes, 0x10) != prevBlock) out += "header's last block wrong; ";
        if (inFile != std::vector<int64_t>(want.begin(), want.end())) out += "records differ from the model; ";
        if (t->count() != int64_t(want.size())) out += "count differs; ";
        return out;
    }
    // Keys 0, 10, 20 ... appended in key order (every block fills); the keys written.
    std::set<int64_t> appendInOrder(int64_t n) {
        std::set<int64_t> m;
        for (int64_t k = 0; k < n; ++k) {
            t->insert(rec(10 * k).data());
            m.insert(10 * k);
        }
        return m;
    }
    double fill() const {
        return double(t->count()) / double(t->blocks().size() * size_t(t->header().recordsPerBlock()));
    }
};

} // namespace

TEST(ParadoxIndexes, AnInsertIntoFullBlocksMovesOneRecordAtMostAndBlocksStayFull) {
    // Appended in key order, every block fills; then inserts fall into full blocks
    // everywhere, before the first record and after the last: each moves at most one
    // record to another block (the secondary indexes patch one hint each), and new blocks
    // come only where both neighbours are full, so the table stays well filled.
    PlainKeyedTable p;
    std::set<int64_t> m = p.appendInOrder(20000);
    EXPECT_EQ(p.moves, 0);
    EXPECT_GT(p.fill(), 0.99) << "appends fill every block";
    std::mt19937 rng(17);
    int worst = 0;
    for (int i = 0; i < 10000; ++i) {
        const int where = int(rng() % 20);
        const int64_t k = where == 0 ? -1 - int64_t(rng() % 100000) : where == 1 ? 200000 + int64_t(rng() % 100000)
                                                                             : int64_t(rng() % 200000);
        if (m.count(k)) continue;
        const int before = p.moves;
        const int64_t pos = p.t->insert(p.rec(k).data());
        m.insert(k);
        worst = std::max(worst, p.moves - before);
        ASSERT_EQ(pos, int64_t(std::distance(m.begin(), m.find(k)))) << "insert " << i;
        ASSERT_EQ(p.keyAt(pos), k) << "insert " << i;
    }
    EXPECT_LE(worst, 1);
    EXPECT_GT(p.moves, 1000) << "most inserts fell into full blocks";
    EXPECT_EQ(p.problems(m), "");
    // Halving a full block when it takes one more record leaves about 0.72 here.
    EXPECT_GT(p.fill(), 0.75);
    ::testing::Test::RecordProperty("fill_after_random_inserts", std::to_string(p.fill()));
    // Deletes empty blocks (the first one too) and move one record at most.
    worst = 0;
    for (int i = 0; i < 20000 && !m.empty(); ++i) {
        const int64_t pos = rng() % 4 == 0 ? int64_t(rng() % std::min<uint64_t>(m.size(), 200)) : int64_t(rng() % m.size());
        const int64_t k = p.keyAt(pos);
        const int before = p.moves;
        p.t->remove(pos);
        m.erase(k);
        worst = std::max(worst, p.moves - before);
        if (i % 2000 == 0) {
            ASSERT_EQ(p.problems(m), "") << "delete " << i;
        }
    }
    EXPECT_LE(worst, 1);
    EXPECT_EQ(p.problems(m), "");
    // Reopened, the table reads as written, and pxlib reads every record.
    p.t = std::make_unique<PxTable>(p.dir / "K.DB", true);
    EXPECT_EQ(p.t->damage(), "");
    EXPECT_EQ(p.problems(m), "");
    EXPECT_EQ(pxpeer::read(p.dir / "K.DB").rows.size(), m.size());
}

TEST(ParadoxIndexes, TheChangedRunsOfTheChainCoverEveryBlockThatDiffers) {
    // After a few inserts and deletes anywhere (blocks split, fill, empty, at both ends), the
    // runs the table reports are all that differ: outside them the chain's blocks, their
    // counts and first keys are the old ones in order, and each run stands for as many old
    // blocks as it says. The tree files are brought up to date from these runs alone.
    PlainKeyedTable p;
    std::set<int64_t> m = p.appendInOrder(6000);
    struct Entry {
        uint16_t block;
        uint16_t count;
        std::vector<uint8_t> key;
        bool operator==(const Entry&) const = default;
    };
    auto snapshot = [&] {
        std::vector<Entry> out;
        const auto& keys = p.t->firstKeys();
        const size_t kl = size_t(p.t->keyLength());
        for (size_t i = 0; i < p.t->blocks().size(); ++i)
            out.push_back({p.t->blocks()[i], p.t->counts()[i], {keys.begin() + long(i * kl), keys.begin() + long((i + 1) * kl)}});
        return out;
    };
    (void)p.t->takeChainChange();
    std::vector<Entry> before = snapshot();
    std::mt19937 rng(33);
    size_t severalRuns = 0;
    for (int round = 0; round < 3000; ++round) {
        const int steps = 1 + int(rng() % 4);
        for (int s = 0; s < steps; ++s) {
            const int where = int(rng() % 10);
            if (rng() % 2 && !m.empty()) {
                const int64_t pos = where == 0 ? 0 : where == 1 ? int64_t(m.size()) - 1 : int64_t(rng() % m.size());
                m.erase(p.keyAt(pos));
                p.t->remove(pos);
            } else {
                const int64_t k = where == 0 ? -1 - int64_t(rng() % 100000) : where == 1 ? 60000 + int64_t(rng() % 100000)
                                                                                     : int64_t(rng() % 60000);
                if (m.insert(k).second) p.t->insert(p.rec(k).data());
            }
        }
        const auto change = p.t->takeChainChange();
        const std::vector<Entry> after = snapshot();
        if (change.all) {
            before = after;
            continue;
        }
        if (change.runs.size() > 1) ++severalRuns;
        size_t oldAt = 0, newAt = 0;
        for (size_t j = 0; j < change.runs.size(); ++j) {
            const auto& r = change.runs[j];
            ASSERT_LE(newAt, r.lo) << "round " << round << ": runs out of order";
            ASSERT_LE(r.lo, r.hi);
            if (j > 0) {
                ASSERT_LT(newAt, r.lo) << "round " << round << ": runs touch";
            }
            for (; newAt < r.lo; ++newAt, ++oldAt) {
                ASSERT_LT(oldAt, before.size()) << "round " << round;
                ASSERT_TRUE(after[newAt] == before[oldAt]) << "round " << round << ": block " << newAt << " outside the runs changed";
            }
            newAt = r.hi;
            ASSERT_GE(long(r.hi - r.lo) - r.added, 0) << "round " << round;
            oldAt += size_t(long(r.hi - r.lo) - r.added);
        }
        ASSERT_EQ(after.size() - newAt, before.size() - oldAt) << "round " << round;
        for (; newAt < after.size(); ++newAt, ++oldAt)
            ASSERT_TRUE(after[newAt] == before[oldAt]) << "round " << round << ": block " << newAt << " after the runs changed";
        before = after;
    }
    EXPECT_GT(severalRuns, 500u) << "writes in several places gave runs apart";
    EXPECT_EQ(p.problems(m), "");
}

TEST(ParadoxIndexes, PostsIntoFullBlocksAtTheEdgesKeepEveryIndexAndHintRight) {
    // A table appended in key order (every block of the table and of both .X files full),
    // then writes where blocks fill and empty: all over, before the first record and after
    // the last, many records of one NAME and CITY (equal secondary keys side by side), and
    // deletes that empty the first blocks again and again. After each stretch every index
    // file is walked (each hint must name the block that holds its record) and pxlib reads
    // the table and both .X files.
    TestDir dir;
    createCustomers(dir / "C.DB");
    Model m;
    std::mt19937 rng(404);
    {
        PxCursor c(dir / "C.DB", OpenOptions{});
        c.beginBatch();
        for (int64_t k = 0; k < 3000; ++k) {
            Row r = customer(10 * k, rng);
            c.insert(r);
            m[10 * k] = r;
        }
        c.commitBatch();
    }
    PxCursor c(dir / "C.DB", OpenOptions{});
    auto check = [&](const std::string& stretch) {
        EXPECT_EQ(indexProblems(dir), "") << stretch;
        EXPECT_EQ(orderProblems(c, m), "") << stretch;
        EXPECT_EQ(pxpeer::read(dir / "C.DB").rows.size(), m.size()) << stretch;
        EXPECT_EQ(pxpeer::read(dir / "C.X02").rows.size(), m.size()) << stretch;
        EXPECT_EQ(pxpeer::read(dir / "C.XG0").rows.size(), m.size()) << stretch;
    };
    auto insert = [&](int64_t k, Row r) {
        if (m.count(k)) return;
        r[0] = k;
        c.insert(r);
        m[k] = r;
    };
    for (int i = 0; i < 1500; ++i) randomWrite(c, m, rng, 30000);
    check("all over");
    for (int i = 0; i < 600; ++i) insert(i % 2 ? -1 - int64_t(rng() % 5000) : 30000 + int64_t(rng() % 5000), customer(0, rng));
    check("at both ends");
    const Row same = {int64_t(0), std::string("same"), std::string("Nara"), 1.0};
    for (int i = 0; i < 800; ++i) insert(int64_t(rng() % 30000), same);
    check("equal secondary keys");
    for (int i = 0; i < 900 && !m.empty(); ++i) {
        auto it = m.begin();
        std::advance(it, long(rng() % std::min<size_t>(m.size(), 3)));
        c.remove(idOf(it->first), it->second);
        m.erase(it);
        if (i % 3 == 0) insert(-int64_t(rng() % 8000), same);
    }
    check("first blocks emptied");
}
