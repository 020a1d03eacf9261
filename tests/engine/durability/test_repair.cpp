// Tables left inconsistent by an older crash or another program: what is safe is mended on
// open, the rest opens read-only with the reason and a repair mends it, never dropping a
// record; afterwards the independent readers (pxlib, python3-dbfread, Perl's XBase) read
// the table and its rebuilt indexes.
#include "Workload.h"
#include "DbaseTestUtil.h"
#include "IndexWalk.h"
#include "PxlibPeer.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace durability;

namespace {

std::string runPerl(const std::string& args) {
    const std::string cmd = "perl " + std::string(DBASE_TEST_DIR) + "/dump_index.pl " + args + " 2>&1";
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

void patch(const std::filesystem::path& file, size_t at, const std::string& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(long(at));
    f.write(bytes.data(), long(bytes.size()));
}

std::string le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

uint32_t readLe(const std::string& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | uint8_t(b[at + size_t(i)]);
    return v;
}

class Repair : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        format_ = GetParam();
        db_ = connect(dir_.path(), format_);
        createTable(*db_, format_);
        auto c = db_->openTable(tableName(format_), {});
        std::mt19937 rng(21);
        for (int i = 0; i < 120; ++i) {
            Op op = randomOp(rng, model_);
            op.applyTo(*c);
            op.applyTo(model_);
        }
    }
    std::filesystem::path file(const std::string& ext) const { return dir_ / ("T" + ext); }
    bool dbase() const { return format_ == "DBASE"; }

    // "" when the table opens for writing with every record of the model and both orders whole.
    std::string writableAndWhole(size_t indexes = 2) {
        auto c = connect(dir_.path(), format_)->openTable(tableName(format_), {});
        if (!c->readOnlyReason().empty())
            return "read-only: " + c->readOnlyReason();
        std::string problem;
        if (read(*c, &problem) != normalised(model_))
            return "records differ " + problem;
        if (c->indexes().size() != indexes)
            return "indexes: " + std::to_string(c->indexes().size());
        if (indexes == 2)
            return orderProblems(*c, format_, model_.size());
        return "";
    }

    // What the independent readers find wrong with the table; "" when nothing.
    std::string peersProblems(bool indexFiles = true) {
        if (format_ == "DBASE") {
            const std::string dump = dbtest::runPython("dump_with_dbfread.py", file(".DBF").string());
            for (const auto& [id, r] : model_)
                if (dump.find("\n" + std::to_string(id) + "|" + r.name + "|") == std::string::npos)
                    return "dbfread misses " + std::to_string(id);
            if (!indexFiles)
                return "";
            // Each tag walked by XBase::Index covers every record once, in key order.
            const std::string dbf = dbtest::bytesOf(file(".DBF"));
            const uint32_t count = readLe(dbf, 4, 4), headerLen = readLe(dbf, 8, 2), recLen = readLe(dbf, 10, 2);
            for (const char* tag : {"ID", "NAME"}) {
                std::istringstream in(runPerl(file(".MDX").string() + " " + tag));
                std::vector<bool> seen(count + 1, false);
                std::string prev;
                long line, n = 0;
                while (in >> line) {
                    if (line < 1 || uint32_t(line) > count || seen[size_t(line)])
                        return std::string("tag ") + tag + " repeats or misses record " + std::to_string(line);
                    seen[size_t(line)] = true;
                    const size_t at = headerLen + size_t(line - 1) * recLen + 1;
                    const std::string key = tag[0] == 'N' ? dbf.substr(at + 11, 12) : std::string();
                    if (key < prev)
                        return std::string("tag ") + tag + " out of order";
                    prev = key;
                    ++n;
                }
                if (uint32_t(n) != count)
                    return std::string("tag ") + tag + " holds " + std::to_string(n) + " of " + std::to_string(count);
            }
            return "";
        }
        const auto t = pxpeer::read(file(".DB"), file(".MB"));
        if (size_t(t.numRecords) != model_.size() || t.rows.size() != model_.size())
            return "pxlib reads " + std::to_string(t.rows.size()) + " of " + std::to_string(model_.size());
        if (!indexFiles)
            return "";
        const auto px = slurp(file(".PX"));
        for (const auto& [id, r] : model_) {
            uint8_t key[4] = {uint8_t((uint32_t(id) >> 24) ^ 0x80), uint8_t(uint32_t(id) >> 16), uint8_t(uint32_t(id) >> 8),
                              uint8_t(id)};
            if (pxLookup(px, key, 4) <= 0)
                return "the .PX tree has no block for " + std::to_string(id);
        }
        return "";
    }

    std::string format_;
    enginetest::TempDir dir_;
    std::unique_ptr<Database> db_;
    Model model_;
};

} // namespace

// Paradox: counts against a sound chain and missing .PX/.Y files are mended by the open itself.
TEST_P(Repair, DerivedDataIsMendedOnOpen) {
    if (format_ != "PARADOX")
        GTEST_SKIP() << "nothing of a dBASE table is mended on open";
    const std::string db = dbtest::bytesOf(file(".DB"));
    patch(file(".DB"), 0x06, le32(readLe(db, 0x06, 4) - 7)); // a kill between block and header
    std::filesystem::remove(file(".PX"));
    ASSERT_TRUE(std::filesystem::remove(file(".Y02")));
    ASSERT_EQ(writableAndWhole(), "");
    ASSERT_EQ(peersProblems(), "");
    // A table in someone else's hands is left as it is.
    {
        auto other = connect(dir_.path(), format_)->openTable(tableName(format_), {});
        patch(file(".DB"), 0x06, le32(readLe(db, 0x06, 4) + 3));
        EXPECT_NE(connect(dir_.path(), format_)->openTable(tableName(format_), {})->readOnlyReason(), "");
    }
    ASSERT_EQ(writableAndWhole(), "");
}

// What cannot be mended on open opens read-only; the check says what a repair will do and
// writes nothing; the repair mends it, keeping every record and what it set aside.
TEST_P(Repair, RepairMendsWhatOpenLeavesReadOnly) {
    const bool dbase = format_ == "DBASE";
    struct Case {
        const char* what;
        std::function<void()> damage;
        size_t indexesAfter;
    };
    auto secondaryX = [&] {
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            if (e.path().extension().string().rfind(".X", 0) == 0)
                return e.path();
        return std::filesystem::path();
    };
    std::vector<Case> cases;
    if (dbase) {
        cases.push_back({"header count past the end", [&] {
                             const std::string b = dbtest::bytesOf(file(".DBF"));
                             patch(file(".DBF"), 4, le32(readLe(b, 4, 4) + 5));
                         }, 2});
        cases.push_back({"stale index", [&] {
                             const std::string old = dbtest::bytesOf(file(".MDX"));
                             auto c = db_->openTable(tableName(format_), {});
                             std::mt19937 rng(3);
                             for (int i = 0; i < 15; ++i) {
                                 Op op = randomOp(rng, model_);
                                 op.applyTo(*c);
                                 op.applyTo(model_);
                             }
                             c.reset();
                             dbtest::writeBytes(file(".MDX"), old);
                         }, 2});
        cases.push_back({"missing index", [&] { std::filesystem::remove(file(".MDX")); }, 0});
        cases.push_back({"torn index", [&] {
                             IndexDef id, name;
                             id.name = id.fields = "ID";
                             id.unique = true;
                             name.name = name.fields = "NAME";
                             vemo::engine::dbase::addProductionIndex(file(".DBF"), {id, name});
                             std::filesystem::resize_file(file(".MDX"), 100);
                         }, 0});
    } else {
        cases.push_back({"unreadable secondary index", [&] {
                             patch(secondaryX(), 0, std::string(64, '\x7f'));
                         }, 1});
    }
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.what);
        cs.damage();
        const bool readOnly = !connect(dir_.path(), format_)->openTable(tableName(format_), {})->readOnlyReason().empty();
        const bool damaged = std::string(cs.what) != "stale index"; // a stale index is only rewritten
        EXPECT_EQ(readOnly, damaged);
        std::vector<std::string> before;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            before.push_back(e.path().filename().string() + dbtest::bytesOf(e.path()));
        std::sort(before.begin(), before.end());
        const RepairReport check = db_->repairTable(tableName(format_), false);
        if (damaged) {
            EXPECT_FALSE(check.mended.empty());
            EXPECT_TRUE(check.remaining.empty()) << check.remaining.front();
        }
        std::vector<std::string> after;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            after.push_back(e.path().filename().string() + dbtest::bytesOf(e.path()));
        std::sort(after.begin(), after.end());
        ASSERT_EQ(before == after, true) << "the check wrote";

        const RepairReport done = db_->repairTable(tableName(format_), true);
        EXPECT_TRUE(done.remaining.empty()) << done.remaining.front();
        ASSERT_EQ(writableAndWhole(cs.indexesAfter), "");
        ASSERT_EQ(peersProblems(cs.indexesAfter == 2), "");
    }
    // Whatever was set aside is still there for the user.
    size_t broken = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        broken += e.path().filename().string().find(".broken") != std::string::npos;
    EXPECT_EQ(broken, dbase ? 1u : 2u);
}

// A broken block chain is not guessed at: it stays read-only, the repair says why and
// writes nothing.
TEST_P(Repair, ABrokenTableIsNotGuessedAt) {
    const auto table = file(dbase() ? ".DBF" : ".DB");
    if (dbase())
        patch(table, 10, std::string("\x01\x00", 2)); // a record length that cannot be
    else
        patch(table, 0x0E, std::string("\xff\x7f", 2)); // the chain starts outside the file
    const std::string before = dbtest::bytesOf(table);
    int code = 0;
    RepairReport r;
    try {
        r = db_->repairTable(tableName(format_), true);
    } catch (const EngineError& e) {
        code = e.code();
    }
    EXPECT_TRUE(code != 0 || !r.remaining.empty());
    EXPECT_EQ(dbtest::bytesOf(table), before);
}

INSTANTIATE_TEST_SUITE_P(Formats, Repair, ::testing::Values("DBASE", "PARADOX"));
