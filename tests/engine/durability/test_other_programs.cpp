// Another desktop database program holding a table (its lock files in the folder, or a
// byte-range lock on the table file): the table opens read-only with the reason, nothing
// is written beside it, and once the program is gone it opens for writing again.
#include "Workload.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace durability;

namespace {

std::string contents(const std::filesystem::path& dir) {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        all += e.path().filename().string() + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return all;
}

// "" when an insert is refused as a read-only table's and the reason names what.
std::string refusedBecause(Database& db, const std::string& format, const std::string& what) {
    auto c = db.openTable(tableName(format), {});
    if (c->readOnlyReason().find(what) == std::string::npos)
        return "reason: " + c->readOnlyReason();
    const int code = enginetest::errorCodeOf([&] { c->insert(rowOf(777, {"X", 1, 0})); });
    return code == ErrReadOnly ? "" : "insert gave " + std::to_string(code);
}

class OtherPrograms : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        format_ = GetParam();
        db_ = connect(dir_.path(), format_);
        createTable(*db_, format_);
        db_->openTable(tableName(format_), {})->insert(rowOf(1, {"A", 1, 0}));
    }
    bool writable() { return db_->openTable(tableName(format_), {})->readOnlyReason().empty(); }
    std::string format_;
    enginetest::TempDir dir_;
    std::unique_ptr<Database> db_;
};

} // namespace

TEST_P(OtherPrograms, AClassicByteRangeLockMakesTheTableReadOnlyAndOurOwnDoesNot) {
    const auto file = dir_ / tableName(format_);
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A program locking one record the way desktop database programs do.
        const int fd = ::open(file.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0x40000001;
        fl.l_len = 1;
        char c = ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    const std::string before = contents(dir_.path());
    EXPECT_EQ(refusedBecause(*db_, format_, "ロック"), "");
    EXPECT_EQ(contents(dir_.path()), before);
    (void)!::write(done[1], &c, 1);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(writable());

    // This program's own writers' lock (an open-file lock) is not another program's.
    const int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_EQ(vemo::engine::standard::lockByte(fd, 0x7FFFFFF0), 0);
    EXPECT_TRUE(writable());
    ::close(fd);
}

TEST_P(OtherPrograms, LockFilesOfAParadoxProgramMakeItsTablesReadOnly) {
    const std::string before = contents(dir_.path());
    for (const char* name : {"PDOXUSRS.LCK", "paradox.lck", "T.LCK"}) {
        SCOPED_TRACE(name);
        std::ofstream(dir_ / name) << "held";
        if (format_ == "PARADOX") {
            EXPECT_EQ(refusedBecause(*db_, format_, name), "");
            std::filesystem::remove(dir_ / name);
        } else {
            EXPECT_TRUE(writable()) << "a dBASE table has no lock files";
            std::filesystem::remove(dir_ / name);
        }
        EXPECT_EQ(contents(dir_.path()), before);
    }
    EXPECT_TRUE(writable());
}

INSTANTIATE_TEST_SUITE_P(Formats, OtherPrograms, ::testing::Values("DBASE", "PARADOX"));
