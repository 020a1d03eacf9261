// The journal shared by several files of one table: a write of three files is all or
// nothing under a failure or a kill at every step, a journal cut off anywhere or damaged is
// played back safely, and playback never reaches outside the journal's folder.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/io/FileSetJournal.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using vemo::engine::EngineError;
using vemo::engine::standard::FaultPlan;
using vemo::engine::standard::FileSetJournal;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void spit(const fs::path& p, const std::string& s) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << s;
}

std::string patterned(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(rng());
    return s;
}

// Compares file contents, naming the first file and byte that differ (not the bytes).
::testing::AssertionResult same(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    for (size_t i = 0; i < want.size(); ++i) {
        if (got.at(i) == want[i])
            continue;
        size_t at = 0;
        while (at < got[i].size() && at < want[i].size() && got[i][at] == want[i][at])
            ++at;
        return ::testing::AssertionFailure() << "file " << i << " differs at byte " << at << " (sizes " << got[i].size()
                                             << " and " << want[i].size() << ")";
    }
    return ::testing::AssertionSuccess();
}
::testing::AssertionResult same(const std::string& got, const std::string& want) {
    return same(std::vector<std::string>{got}, std::vector<std::string>{want});
}

// Three files and one write over them: pages overwritten in the middle and across a page
// edge, the same bytes twice, an append to one, a cut of another.
struct FileSet {
    fs::path dir;
    std::vector<fs::path> files;
    std::vector<std::string> before, after;
    fs::path journal() const { return dir / "T.DB-journal"; }
    uint64_t phase = 0; // where the journal's pages of each file start

    explicit FileSet(const fs::path& d) : dir(d) {
        files = {dir / "T.DB", dir / "T.PX", dir / "T.X02"};
        before = {patterned(40000, 1), patterned(9000, 2), patterned(5000, 3)};
        for (size_t i = 0; i < files.size(); ++i)
            spit(files[i], before[i]);
        after = before;
        const std::string a = patterned(6000, 4), b = patterned(300, 5), c = patterned(2500, 6);
        after[0].replace(4000, a.size(), a);
        after[0].replace(100, b.size(), b);
        after[0] += c;
        after[1].replace(8000, b.size(), b);
        after[1].resize(8200);
        after[2].replace(0, c.size(), c);
    }
    struct Fds {
        std::vector<int> fd;
        ~Fds() {
            for (int f : fd)
                ::close(f);
        }
    };
    Fds open() const {
        Fds f;
        for (const auto& p : files)
            f.fd.push_back(::open(p.c_str(), O_RDWR | O_CLOEXEC));
        return f;
    }
    // The write, through j; commit when asked.
    void write(FileSetJournal& j, const Fds& f, bool commit) const {
        const int t0 = j.addTarget(files[0], f.fd[0], phase), t1 = j.addTarget(files[1], f.fd[1], phase),
                  t2 = j.addTarget(files[2], f.fd[2], phase);
        const std::string a = patterned(6000, 4), b = patterned(300, 5), c = patterned(2500, 6);
        j.write(t0, 4000, a.data(), a.size());
        j.write(t0, 100, b.data(), b.size());
        j.write(t0, 4000, a.data(), 10);
        j.write(t0, 40000, c.data(), c.size());
        j.write(t1, 8000, b.data(), b.size());
        j.truncate(t1, 8200);
        j.write(t2, 0, c.data(), c.size());
        if (commit)
            j.commit();
    }
    std::vector<std::string> now() const {
        std::vector<std::string> s;
        for (const auto& p : files)
            s.push_back(slurp(p));
        return s;
    }
};

TEST(FileSetJournal, WritesAreHeldReadBackAndLandOnCommit) {
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    FileSetJournal j(set.journal());
    const int t0 = j.addTarget(set.files[0], fds.fd[0]);
    EXPECT_EQ(j.addTarget(tmp.path() / "." / "T.DB", fds.fd[0]), t0);
    const std::string a = patterned(5000, 9);
    j.write(t0, 39000, a.data(), a.size());
    EXPECT_EQ(j.size(t0), 44000u);
    EXPECT_TRUE(same(set.now(), set.before)) << "nothing reaches a file before the journal is down";
    std::string back(a.size() + 200, '\0');
    ASSERT_EQ(j.read(t0, 38800, back.data(), back.size()), back.size());
    EXPECT_EQ(back.substr(0, 200), set.before[0].substr(38800, 200));
    EXPECT_EQ(back.substr(200), a);
    EXPECT_EQ(j.read(t0, 44000, back.data(), 10), 0u);
    j.commit();
    EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::None) << "kept, idle";
    EXPECT_TRUE(same(slurp(set.files[0]), set.before[0].substr(0, 39000) + a));

    // The same object serves a second write (its files added again), which rolls back to
    // the first one's result.
    const std::string first = slurp(set.files[0]);
    const uint64_t generation = j.generation();
    const int again = j.addTarget(set.files[0], fds.fd[0]);
    j.write(again, 10, a.data(), 100);
    j.flush();
    EXPECT_FALSE(same(slurp(set.files[0]), first));
    j.rollBack();
    EXPECT_TRUE(same(slurp(set.files[0]), first));
    EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::None);
    EXPECT_GT(j.generation(), generation);

    // A file given up in the middle of a write (its fd to be closed) is written and synced
    // first, and still put back by a rollback.
    {
        const int fd = ::open(set.files[1].c_str(), O_RDWR | O_CLOEXEC);
        const int t1 = j.addTarget(set.files[1], fd);
        j.write(t1, 0, a.data(), 50);
        j.release(t1);
        ::close(fd);
        EXPECT_EQ(slurp(set.files[1]).substr(0, 50), a.substr(0, 50));
        const int fd2 = ::open(set.files[1].c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_EQ(j.addTarget(set.files[1], fd2), t1);
        j.write(t1, 40, a.data(), 50);
        j.rollBack();
        ::close(fd2);
        EXPECT_TRUE(same(slurp(set.files[1]), set.before[1]));
    }

    j.write(j.addTarget(set.files[0], fds.fd[0]), 0, a.data(), 1);
    j.commit(true);
    EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::Mark);
    const auto mark = FileSetJournal::playBack(set.journal());
    EXPECT_TRUE(mark.found && mark.mark) << "a mark, nothing to play";
    EXPECT_EQ(slurp(set.files[0])[0], a[0]);
    // The next write keeps a mark found when it began only when told so.
    j.begin();
    j.write(j.addTarget(set.files[0], fds.fd[0]), 0, a.data(), 2);
    j.commit();
    EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::None);
    j.retire();
    EXPECT_FALSE(FileSetJournal::exists(set.journal())) << "an idle journal goes with its owner";
}

TEST(FileSetJournal, WholeWriteOrNothingUnderAFailureAtEveryStep) {
    enginetest::TempDir tmp;
    for (const uint64_t phase : {0u, 2048u, 100u})
    for (long k = 1;; ++k) {
        fs::remove_all(tmp.path() / "w");
        fs::create_directories(tmp.path() / "w");
        FileSet set(tmp.path() / "w");
        set.phase = phase;
        bool failed = false;
        {
            auto fds = set.open();
            FileSetJournal j(set.journal());
            FaultPlan::failAt(k, EIO);
            try {
                set.write(j, fds, true);
            } catch (const EngineError&) {
                failed = true;
                FaultPlan::clear();
                j.rollBack();
            }
            FaultPlan::clear();
        }
        if (!failed) {
            EXPECT_TRUE(same(set.now(), set.after));
            ASSERT_GT(k, 4) << "a write over three files takes more steps than that";
            break;
        }
        EXPECT_TRUE(same(set.now(), set.before)) << "failure at step " << k << ", pages from " << phase;
        EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::None) << "failure at step " << k;
    }
}

TEST(FileSetJournal, KilledAtEveryStepPlaysBackToBeforeOrAfter) {
    enginetest::TempDir tmp;
    int sawBefore = 0, sawAfter = 0;
    for (const uint64_t phase : {0u, 2048u})
    for (long k = 1; k < 200; ++k) {
        fs::remove_all(tmp.path() / "k");
        fs::create_directories(tmp.path() / "k");
        FileSet set(tmp.path() / "k");
        set.phase = phase;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto fds = set.open();
            FileSetJournal j(set.journal());
            FaultPlan::killAt(k);
            set.write(j, fds, true);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_NE(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::Empty) << "killed at step " << k;
        FileSetJournal::playBack(set.journal());
        FileSetJournal::remove(set.journal());
        const auto now = set.now();
        if (now == set.before)
            ++sawBefore;
        else if (now == set.after)
            ++sawAfter;
        else
            ADD_FAILURE() << "killed at step " << k << ", pages from " << phase << ": neither before nor after";
        if (finished) {
            EXPECT_TRUE(same(now, set.after));
            break;
        }
    }
    EXPECT_GT(sawBefore, 6);
    EXPECT_GE(sawAfter, 2);
}

TEST(FileSetJournal, PagesStartingAnywhereHoldReadAndLandWhatWasWritten) {
    // Random writes inside, across and past the end of a file, read back through the journal
    // between them, with the pages starting at offsets other than 0 (the first page then
    // shorter): what is read is what was written, a commit leaves it in the file, a rollback
    // the file as it was.
    enginetest::TempDir tmp;
    std::mt19937 rng(41);
    for (const uint64_t phase : {0u, 1u, 2048u, 4095u, 6000u})
        for (const bool commit : {true, false}) {
            const fs::path file = tmp.path() / "P.DB";
            const std::string before = patterned(20000 + rng() % 5000, unsigned(phase) + 1);
            spit(file, before);
            const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            std::string model = before;
            {
                FileSetJournal j(tmp.path() / "P.DB-journal");
                const int t = j.addTarget(file, fd, phase);
                for (int step = 0; step < 300; ++step) {
                    const size_t at = rng() % (model.size() + 3000), n = 1 + rng() % (rng() % 4 ? 300 : 9000);
                    const std::string bytes = patterned(n, unsigned(step) + 7);
                    j.write(t, at, bytes.data(), n);
                    if (model.size() < at + n) model.resize(at + n, '\0');
                    model.replace(at, n, bytes);
                    const size_t from = rng() % model.size(), len = 1 + rng() % 9000;
                    std::string back(len, '\x55');
                    const size_t got = j.read(t, from, back.data(), len);
                    ASSERT_EQ(got, std::min(len, model.size() - from)) << "pages from " << phase << ", step " << step;
                    ASSERT_EQ(back.substr(0, got), model.substr(from, got)) << "pages from " << phase << ", step " << step;
                    if (step % 97 == 0) j.flush(); // some pages land before the end
                }
                EXPECT_EQ(j.size(t), model.size());
                if (commit) j.commit();
                else j.rollBack();
            }
            ::close(fd);
            EXPECT_TRUE(same(slurp(file), commit ? model : before)) << "pages from " << phase << (commit ? ", committed" : ", rolled back");
        }
}

// A child stopped right after the journal is synced and while the files are half written.
void leaveHotJournal(const FileSet& set) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto fds = set.open();
        FileSetJournal j(set.journal());
        // Steps of the flush inside truncate(): the journal file made (its idle header
        // written), its records written and synced; then the first target write of the
        // first page; the kill comes at the second target write.
        FaultPlan::killAt(5);
        set.write(j, fds, true);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
}

TEST(FileSetJournal, CutOrDamagedJournalPlaysBackOnlyWholeRecords) {
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    leaveHotJournal(set);
    ASSERT_FALSE(same(set.now(), set.before)) << "the child wrote part of its pages";
    const std::string journal = slurp(set.journal());
    ASSERT_GT(journal.size(), 6000u);
    const auto touched = set.now();

    // Whole: every file as before.
    fs::create_directories(tmp.path() / "c");
    auto restoreInto = [&](const std::string& journalBytes, const std::vector<std::string>& files) {
        for (size_t i = 0; i < set.files.size(); ++i)
            spit(tmp.path() / "c" / set.files[i].filename(), files[i]);
        spit(tmp.path() / "c" / "T.DB-journal", journalBytes);
        FileSetJournal::playBack(tmp.path() / "c" / "T.DB-journal");
        std::vector<std::string> s;
        for (const auto& p : set.files)
            s.push_back(slurp(tmp.path() / "c" / p.filename()));
        return s;
    };
    EXPECT_TRUE(same(restoreInto(journal, touched), set.before));

    // Cut anywhere: the files the cut journal still covers are not touched by a wrong byte;
    // with the files as they were when the journal was written, the result is exactly them.
    std::mt19937 rng(3);
    for (size_t cut = 0; cut < journal.size(); cut += 1 + rng() % 397) {
        EXPECT_TRUE(same(restoreInto(journal.substr(0, cut), set.before), set.before)) << "cut at " << cut;
        // A damaged byte: records from there on are not played.
        std::string bad = journal;
        bad[cut] = char(bad[cut] ^ 0x5A);
        EXPECT_TRUE(same(restoreInto(bad, set.before), set.before)) << "damage at " << cut;
    }
    // Garbage that is not a journal at all is no error and changes nothing.
    EXPECT_TRUE(same(restoreInto(patterned(5000, 77), touched), touched));
}

TEST(FileSetJournal, PlaybackStaysInsideItsFolder) {
    enginetest::TempDir tmp;
    fs::create_directories(tmp.path() / "in");
    fs::create_directories(tmp.path() / "out");
    const std::string outside = patterned(9000, 8);
    spit(tmp.path() / "out" / "T.PX", outside);
    FileSet set(tmp.path() / "in");
    {
        auto fds = set.open();
        FileSetJournal j(set.journal());
        const int fd = ::open((tmp.path() / "out" / "T.PX").c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_THROW(j.addTarget(tmp.path() / "out" / "T.PX", fd), EngineError);
        EXPECT_THROW(j.addTarget(tmp.path() / "in" / ".." / "out" / "T.PX", fd), EngineError);
        ::close(fd);
    }
    leaveHotJournal(set);
    const auto touched = set.now();

    // A name the caller does not accept: nothing at all is played back.
    EXPECT_THROW(FileSetJournal::playBack(set.journal(), [](const std::string& n) { return n != "T.PX"; }), EngineError);
    EXPECT_TRUE(same(set.now(), touched));

    // One of the files replaced by a link to a file elsewhere: the link is not followed.
    fs::remove(set.files[1]);
    fs::create_symlink(tmp.path() / "out" / "T.PX", set.files[1]);
    EXPECT_THROW(FileSetJournal::playBack(set.journal()), EngineError);
    EXPECT_TRUE(same(slurp(tmp.path() / "out" / "T.PX"), outside));

    // A file that is gone is skipped, the others are put back.
    fs::remove(set.files[1]);
    EXPECT_TRUE(FileSetJournal::playBack(set.journal()));
    EXPECT_TRUE(same(slurp(set.files[0]), set.before[0]));
    EXPECT_TRUE(same(slurp(set.files[2]), set.before[2]));
    EXPECT_FALSE(fs::exists(set.files[1]));
}

TEST(FileSetJournal, AKeptJournalNeverPlaysBackACommittedWrite) {
    // One object, one journal file, write after write: a long write committed, then a short
    // one left in force (its writer stopped after the flush). The short one's records lie
    // over the start of the long one's; whatever is left of those behind them is never
    // played back, so the long write stays and only the short one goes.
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    const std::string big = patterned(30000, 21), small = patterned(40, 22);
    {
        FileSetJournal j(set.journal());
        j.begin();
        j.write(j.addTarget(set.files[0], fds.fd[0]), 0, big.data(), big.size());
        j.commit();
        const auto idle = FileSetJournal::playBack(set.journal());
        EXPECT_FALSE(idle.found) << "an idle journal is nothing to play";
        EXPECT_TRUE(same(slurp(set.files[0]).substr(0, big.size()), big));
        const size_t longJournal = fs::file_size(set.journal());
        EXPECT_GT(longJournal, big.size());

        EXPECT_EQ(j.begin(), FileSetJournal::Found::None);
        const int t2 = j.addTarget(set.files[2], fds.fd[2]);
        j.write(t2, 100, small.data(), small.size());
        j.flush();
        // Only the bytes changed are saved, not the pages around them.
        std::string journal = slurp(set.journal());
        EXPECT_EQ(journal.size(), longJournal) << "the file is written over, not cut";
    } // the writer stops: its journal stays in force
    EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::Journal);
    const auto out = FileSetJournal::playBack(set.journal());
    EXPECT_TRUE(out.found && out.known && !out.mark);
    EXPECT_TRUE(same(slurp(set.files[2]), set.before[2]));
    EXPECT_TRUE(same(slurp(set.files[0]).substr(0, big.size()), big)) << "the committed write stays";
}

TEST(FileSetJournal, ASmallWriteSavesOnlyTheBytesItChanges) {
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    FileSetJournal j(set.journal());
    const int t0 = j.addTarget(set.files[0], fds.fd[0]);
    const std::string b = patterned(30, 23);
    j.write(t0, 5000, b.data(), b.size());
    j.write(t0, 5010, b.data(), b.size()); // overlapping: saved once
    j.write(t0, 12000, b.data(), 8);
    j.flush();
    EXPECT_LT(fs::file_size(set.journal()), 300u) << "48 bytes saved, with their records and a header";
    // Bytes saved in one flush are not saved again in the next; new ones are.
    j.write(t0, 5000, b.data(), 4);
    j.write(t0, 4990, b.data(), 20);
    j.flush();
    EXPECT_LT(fs::file_size(set.journal()), 400u);
    FileSetJournal::playBack(set.journal());
    EXPECT_TRUE(same(slurp(set.files[0]), set.before[0]));
}

TEST(FileSetJournal, BytesWrittenAsTheyWereAreNeitherSavedNorWrittenAgain) {
    // Whole blocks rewritten where two bytes change (a link, a count): only those two are
    // saved, and pages written back as the file holds them are not written at all, while
    // an append into the file's last page and past its end still lands.
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    struct stat before{};
    ASSERT_EQ(::fstat(fds.fd[0], &before), 0);
    {
        FileSetJournal j(set.journal());
        const int t0 = j.addTarget(set.files[0], fds.fd[0]);
        j.write(t0, 0, set.before[0].data(), set.before[0].size()); // the whole file as it is
        j.commit();
        struct stat after{};
        ASSERT_EQ(::fstat(fds.fd[0], &after), 0);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << "nothing was written";
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_LT(fs::file_size(set.journal()), 100u) << "nothing was saved";
    }
    std::string want = set.before[0];
    std::string block = want.substr(6144, 4096); // across a page edge
    block[1] ^= 0x5A;
    block[4000] ^= 0x33;
    want.replace(6144, block.size(), block);
    const std::string tail = patterned(700, 31); // the last page and the one after it
    want.replace(39800, 200, tail.substr(0, 200));
    want += tail.substr(200);
    FileSetJournal j(set.journal());
    const int t0 = j.addTarget(set.files[0], fds.fd[0]);
    j.write(t0, 6144, block.data(), block.size());
    j.write(t0, 39800, tail.data(), tail.size());
    j.flush();
    EXPECT_LT(fs::file_size(set.journal()), 1000u) << "the pieces around two bytes and the 200 overwritten saved, not the block";
    EXPECT_TRUE(same(slurp(set.files[0]), want));
    FileSetJournal::playBack(set.journal());
    EXPECT_TRUE(same(slurp(set.files[0]), set.before[0])) << "the bytes saved are all it takes to undo";
    j.discard();
}

TEST(FileSetJournal, AWriterTellsWhetherTheLastCommitWasItsOwn) {
    // Two writers of one journal (two handles of one table, or two processes): each finds at
    // its begin whether the journal is as its own last commit left it. A write of the other
    // one, or the journal removed (a batch's undo journal takes its place and goes) and made
    // again, tell it that it was not; a write that changed nothing leaves it as it was.
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    FileSetJournal a(set.journal()), b(set.journal());
    const std::string x = patterned(100, 3);
    auto post = [&](FileSetJournal& j, size_t at) {
        j.begin();
        j.write(j.addTarget(set.files[0], fds.fd[0]), at, x.data(), x.size());
        j.commit();
    };
    a.begin();
    EXPECT_FALSE(a.unchangedSinceOwnCommit()) << "nothing committed yet";
    a.discard();
    post(a, 0);
    a.begin();
    EXPECT_TRUE(a.unchangedSinceOwnCommit());
    a.commit(); // nothing written
    a.begin();
    EXPECT_TRUE(a.unchangedSinceOwnCommit()) << "a write of nothing is no commit";
    a.discard();
    post(b, 500);
    a.begin();
    EXPECT_FALSE(a.unchangedSinceOwnCommit()) << "the other one committed";
    a.discard();
    post(a, 1500);
    FileSetJournal::remove(set.journal());
    post(b, 2000);
    a.begin();
    EXPECT_FALSE(a.unchangedSinceOwnCommit()) << "the journal made again";
    a.discard();
    b.begin();
    EXPECT_TRUE(b.unchangedSinceOwnCommit());
    b.discard();
}

TEST(FileSetJournal, NotesAndMarksAreToldByPlayback) {
    enginetest::TempDir tmp;
    FileSet set(tmp.path());
    auto fds = set.open();
    const std::string b = patterned(100, 24);
    {
        FileSetJournal j(set.journal());
        j.begin();
        // Down before the call returns, ahead of any record (a file about to be replaced).
        j.note(FileSetJournal::NoteReplaced, true);
        EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::Journal);
        EXPECT_EQ(FileSetJournal::playBack(set.journal()).notes, FileSetJournal::NoteReplaced);
        j.write(j.addTarget(set.files[1], fds.fd[1]), 0, b.data(), b.size());
        j.flush();
        j.note(FileSetJournal::NoteMark, true); // a later note, as a record of its own
    }
    const auto out = FileSetJournal::playBack(set.journal());
    EXPECT_TRUE(out.found && out.known && out.mark);
    EXPECT_EQ(out.notes, FileSetJournal::NoteReplaced | FileSetJournal::NoteMark);
    EXPECT_TRUE(same(slurp(set.files[1]), set.before[1]));

    // A rollback of a write that noted a mark leaves the mark.
    {
        FileSetJournal j(set.journal());
        j.begin();
        j.note(FileSetJournal::NoteMark, false);
        j.write(j.addTarget(set.files[1], fds.fd[1]), 0, b.data(), b.size());
        j.flush();
        j.rollBack();
        EXPECT_EQ(FileSetJournal::inspect(set.journal()), FileSetJournal::Found::Mark);
        EXPECT_TRUE(same(slurp(set.files[1]), set.before[1]));
        // An empty file, as an earlier version left for a mark, and one of another kind.
        spit(set.journal(), "");
        EXPECT_EQ(j.begin(), FileSetJournal::Found::Empty);
        EXPECT_TRUE(FileSetJournal::playBack(set.journal()).mark);
        spit(set.journal(), "some other journal");
        EXPECT_EQ(j.begin(), FileSetJournal::Found::Other);
        EXPECT_FALSE(FileSetJournal::playBack(set.journal()).known);
        j.retire();
        EXPECT_TRUE(FileSetJournal::exists(set.journal())) << "only an idle journal is removed";
    }
}

} // namespace
