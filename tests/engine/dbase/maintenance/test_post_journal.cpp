// One post changes the table, its memo-less records and seven index trees through one
// journal: a writer killed at random moments, and a failure injected at every step of a
// post that splits pages. Afterwards every tree must hold one entry a record in key order,
// and the index files must have been put back page by page, not rebuilt.
#include "Maintenance.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace maint;
using vemo::engine::standard::FaultPlan;

namespace {

ino_t inodeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

void logLine(int fd, const std::string& line) {
    const std::string l = line + "\n";
    if (::write(fd, l.data(), l.size()) != ssize_t(l.size()) || ::fdatasync(fd) != 0)
        ::_exit(3);
}

// IDs of the live records.
std::set<int64_t> liveIds(const std::filesystem::path& dir) {
    std::set<int64_t> out;
    auto c = connect(dir)->openTable("T", {OpenOptions{false, true}});
    Row r;
    RowId id;
    for (int64_t p = 0; c->read(p, r, id); ++p)
        out.insert(asInt(r[0]));
    return out;
}

// The child: inserts (long keys that split pages), key changes and deletes until killed,
// logging "B id" before a write and "P id" once it returned.
[[noreturn]] void writer(const std::filesystem::path& dir, const std::filesystem::path& log, unsigned seed) {
    try {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        auto c = connect(dir)->openTable("T", {});
        std::mt19937 rng(seed);
        for (int64_t next = int64_t(seed) * 100000;; ++next) {
            const unsigned what = rng() % 4;
            Row before;
            RowId id;
            if (what == 0 || c->count() < 50) {
                logLine(fd, "B +" + std::to_string(next));
                c->insert(row(next, "K" + std::to_string(rng() % 30), int64_t(rng() % 100), int(rng() % 300)));
                logLine(fd, "P +" + std::to_string(next));
                continue;
            }
            c->setOrder("");
            if (!c->read(int64_t(rng() % uint64_t(c->count())), before, id))
                ::_exit(4);
            const int64_t was = asInt(before[0]);
            if (what == 1) {
                logLine(fd, "B -" + std::to_string(was));
                c->remove(id, before);
                logLine(fd, "P -" + std::to_string(was));
            } else {
                Row after = row(next, "M" + std::to_string(rng() % 30), int64_t(rng() % 100), int(rng() % 300));
                logLine(fd, "B ~" + std::to_string(was) + " " + std::to_string(next));
                c->update(id, before, after);
                logLine(fd, "P ~" + std::to_string(was) + " " + std::to_string(next));
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "writer: %s\n", e.what());
    }
    ::_exit(2);
}

void applyOp(std::set<int64_t>& ids, const std::string& op) {
    if (op[0] == '+') {
        ids.insert(std::stoll(op.substr(1)));
    } else if (op[0] == '-') {
        ids.erase(std::stoll(op.substr(1)));
    } else {
        const auto sp = op.find(' ');
        ids.erase(std::stoll(op.substr(1, sp - 1)));
        ids.insert(std::stoll(op.substr(sp + 1)));
    }
}

class PostJournal : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = connect(dir_.path());
        createTable(*db_, dir_.path());
        auto c = db_->openTable("T", {});
        c->beginBatch();
        for (int i = 0; i < 400; ++i)
            c->insert(row(i, "S" + std::to_string(i % 9), i, i));
        c->commitBatch();
        c->insert(row(-1, "FIRST", 0, 0)); // the one-time check of the files is behind us
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

// Runs write() with a failure injected at its first step (ENOSPC and EIO in turn), then at
// its second, and so on until it goes through; each failure must be an I/O error, after
// which check(k) looks at what it left. Counts the failures in `injected`.
template <class Write, class Check>
void failAtEveryStep(long most, long& injected, Write&& write, Check&& check) {
    for (long k = 1;; ++k) {
        ASSERT_LT(k, most);
        FaultPlan::failAt(k, k % 2 ? ENOSPC : EIO);
        bool failed = false;
        try {
            write();
        } catch (const EngineError& e) {
            failed = true;
            EXPECT_EQ(e.code(), ErrIO) << e.what();
        }
        FaultPlan::clear();
        if (!failed)
            return;
        ++injected;
        check(k);
    }
}

} // namespace

TEST_F(PostJournal, KilledPostsLeaveTreesPutBackPageByPage) {
    const ino_t mdx = inodeOf(dir_ / "T.MDX"), ndx = inodeOf(dir_ / "T.NDX");
    std::set<int64_t> model = liveIds(dir_.path());
    const auto log = dir_ / "writes.log";
    std::mt19937 rng(21);
    int kills = 0, underWayDone = 0, journals = 0;
    long returned = 0;
    for (int round = 0; round < 40; ++round) {
        std::filesystem::remove(log);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            writer(dir_.path(), log, unsigned(round + 1));
        ::usleep(useconds_t(30000 + rng() % 150000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended on its own: " << status;
        ++kills;
        std::ifstream in(log);
        std::string line, pending;
        while (std::getline(in, line)) {
            if (in.eof())
                break;
            if (line.rfind("B ", 0) == 0) {
                pending = line.substr(2);
            } else if (line.rfind("P ", 0) == 0) {
                applyOp(model, line.substr(2));
                pending.clear();
                ++returned;
            }
        }
        journals += standard::FileSetJournal::inspect(dir_ / "T.DBF-journal") == standard::FileSetJournal::Found::Journal;
        {
            // Opening for writing puts back the post that was cut off.
            auto c = connect(dir_.path())->openTable("T", {});
            ASSERT_EQ(c->readOnlyReason(), "") << "after kill " << round;
        }
        ASSERT_FALSE(std::filesystem::exists(dir_ / "T.DBF-journal")) << "after kill " << round;
        const std::set<int64_t> now = liveIds(dir_.path());
        if (now != model) {
            ASSERT_FALSE(pending.empty()) << "after kill " << round << ": records differ from the returned writes";
            std::set<int64_t> with = model;
            applyOp(with, pending);
            ASSERT_EQ(now, with) << "after kill " << round << ": neither before nor after " << pending;
            model = with;
            ++underWayDone;
        }
        ASSERT_EQ(indexProblems(dir_.path()), "") << "after kill " << round;
        ASSERT_EQ(inodeOf(dir_ / "T.MDX"), mdx) << "after kill " << round << ": the .MDX was rebuilt";
        ASSERT_EQ(inodeOf(dir_ / "T.NDX"), ndx) << "after kill " << round << ": the .NDX was rebuilt";
    }
    EXPECT_GT(returned, 40);
    EXPECT_EQ(perlWalk(dir_ / "T.MDX", "LONGK").size(), recordsInFile(dir_ / "T.DBF"));
    std::printf("post journal: %d kills, %d journals played back, %ld returned posts, %d posts under way found done\n",
                kills, journals, returned, underWayDone);
}

// A key change that splits pages in several trees, failing at every step in turn: the
// files are byte for byte as before, and the retry writes the change once.
TEST_F(PostJournal, AFailureAtEveryStepOfASplittingPostLeavesEveryFileAsBefore) {
    auto files = [&] {
        return dbtest::bytesOf(dir_ / "T.DBF") + "|" + dbtest::bytesOf(dir_ / "T.MDX") + "|" +
               dbtest::bytesOf(dir_ / "T.NDX");
    };
    auto c = db_->openTable("T", {});
    long injected = 0;
    for (int n = 0; n < 6; ++n) {
        const std::string before = files();
        // The same long key again and again: its leaf fills and splits.
        const Row r = row(90000 + n, "SPLIT", 1, 1);
        failAtEveryStep(400, injected, [&] { c->insert(r); }, [&](long k) {
            ASSERT_TRUE(files() == before) << "insert " << n << " failing at step " << k;
            // Kept while the table is open, with nothing to play back.
            ASSERT_EQ(standard::FileSetJournal::inspect(dir_ / "T.DBF-journal"), standard::FileSetJournal::Found::None);
        });
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(indexProblems(dir_.path()), "") << "insert " << n;
    }
    EXPECT_GT(injected, 20);
    EXPECT_EQ(liveIds(dir_.path()).count(90005), 1u);
}

// An index file that another program put back to an older state while this cursor kept it
// open: the key change does not find its old entry, so the write is undone, every file is
// built anew from the records, and the change is made once.
TEST_F(PostJournal, AStaleIndexFoundMidWriteIsRebuiltAndTheWriteMadeOnce) {
    auto c = db_->openTable("T", {});
    c->setOrder("ID");
    ASSERT_EQ(c->seek({int64_t(5)}), 6); // after the record -1
    Row before;
    RowId id;
    ASSERT_TRUE(c->read(6, before, id));
    const std::string oldMdx = dbtest::bytesOf(dir_ / "T.MDX");
    Row after = before;
    after[1] = std::string("CHANGED1");
    c->update(id, before, after);
    dbtest::writeBytes(dir_ / "T.MDX", oldMdx); // its NAME entry is the old key again
    Row again = after;
    again[1] = std::string("CHANGED2");
    again[0] = int64_t(777777);
    c->update(id, after, again);
    EXPECT_EQ(indexProblems(dir_.path()), "");
    const auto ids = liveIds(dir_.path());
    EXPECT_EQ(ids.count(777777), 1u);
    EXPECT_EQ(ids.count(5), 0u);
    EXPECT_EQ(ids.size(), 401u);
    EXPECT_EQ(standard::FileSetJournal::inspect(dir_ / "T.DBF-journal"), standard::FileSetJournal::Found::None);
    c.reset();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "T.DBF-journal")) << "removed with the table";
}

// Key changes that take records off the front of every tree, so that leaves and branches
// share out and merge (pages go on the free list), failing at every step in turn: the files
// are byte for byte as before each time, and the retry makes the change once.
TEST_F(PostJournal, AFailureAtEveryStepOfAMergingPostLeavesEveryFileAsBefore) {
    auto files = [&] {
        return dbtest::bytesOf(dir_ / "T.DBF") + "|" + dbtest::bytesOf(dir_ / "T.MDX") + "|" +
               dbtest::bytesOf(dir_ / "T.NDX");
    };
    auto freeHead = [&] {
        const std::string b = dbtest::bytesOf(dir_ / "T.MDX");
        return uint32_t(uint8_t(b[36])) | uint32_t(uint8_t(b[37])) << 8 | uint32_t(uint8_t(b[38])) << 16;
    };
    ASSERT_EQ(freeHead(), 0u);
    auto c = db_->openTable("T", {});
    c->setOrder("ID");
    long injected = 0;
    bool freed = false;
    for (int n = 0; n < 40; ++n) {
        Row before;
        RowId id;
        ASSERT_TRUE(c->read(1, before, id)); // the lowest ID after the record -1
        const int64_t was = asInt(before[0]);
        const Row after = row(700000 + n, "~MOVED", 1, 1);
        const std::string old = files();
        failAtEveryStep(600, injected, [&] { c->update(id, before, after); },
                        [&](long k) { ASSERT_TRUE(files() == old) << "change " << n << " failing at step " << k; });
        ASSERT_FALSE(HasFatalFailure());
        freed = freed || freeHead() != 0;
        ASSERT_EQ(liveIds(dir_.path()).count(was), 0u);
    }
    EXPECT_TRUE(freed) << "no page was given up: nothing merged";
    EXPECT_GT(injected, 100);
    EXPECT_EQ(indexProblems(dir_.path()), "");
}
