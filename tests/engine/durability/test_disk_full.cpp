// A real filesystem that fills up (a small tmpfs, mounted as root; CI runs as root): a post
// that meets ENOSPC fails with an engine error, the table stays as it was (read while the
// disk is still full), the dataset keeps its edit, and once space is freed the retry writes
// the record exactly once.
#include "Workload.h"
#include "engine/dataset/Table.h"
#include "engine/session/Session.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace durability;

namespace {

// Fills the filesystem of dir with one file until a write meets ENOSPC.
bool fill(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const std::string chunk(4096, 'x');
    int err = 0;
    for (size_t n = 4096; n > 0 && !err;) {
        if (::write(fd, chunk.data(), n) < 0) {
            if (errno != ENOSPC)
                err = errno;
            else
                n /= 2; // the last pages, then the last bytes
        }
    }
    ::close(fd);
    return err == 0;
}

struct Tmpfs {
    std::filesystem::path at;
    bool mounted = false;
    explicit Tmpfs(std::filesystem::path where) : at(std::move(where)) {
        std::filesystem::create_directories(at);
        mounted = ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=768k") == 0;
    }
    ~Tmpfs() {
        if (mounted)
            ::umount2(at.c_str(), MNT_DETACH);
    }
};

} // namespace

TEST(DiskFull, AFullFilesystemKeepsTheTableAndTheEditAndTheRetryWritesOnce) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root (CI runs as root); the disk-full test did not run";
    enginetest::TempDir base;
    Tmpfs fs(base / "fs");
    if (!fs.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "); the disk-full test did not run";
    for (const std::string format : {"DBASE", "PARADOX"}) {
        SCOPED_TRACE(format);
        const auto dir = fs.at / format;
        std::filesystem::create_directories(dir);
        Model model;
        {
            auto db = connect(dir, format);
            createTable(*db, format);
            auto c = db->openTable(tableName(format), {});
            std::mt19937 rng(8);
            for (int i = 0; i < 30; ++i) {
                Op op = randomOp(rng, model);
                op.applyTo(*c);
                op.applyTo(model);
            }
        }
        Session session(base / "engine.cfg");
        registerBuiltinDrivers(session);
        Table t(session);
        t.setTableName((dir / tableName(format)).string());
        t.open();
        const std::string bigNote(60000, 'q');
        auto asBefore = [&](const Model& expected) {
            OpenOptions readOnly;
            readOnly.readOnly = true;
            auto c = connect(dir, format)->openTable(tableName(format), readOnly);
            std::string problem;
            return read(*c, &problem) == normalised(expected) && problem.empty();
        };

        // An insert with a note larger than the space left.
        t.append();
        t.setFieldText(0, "9001");
        t.setFieldText(1, "FULL");
        t.setFieldText(2, "5");
        t.setFieldText(3, bigNote);
        ASSERT_TRUE(fill(dir / "filler"));
        EXPECT_THROW(t.post(), EngineError);
        EXPECT_EQ(t.state(), DataSetState::Insert);
        EXPECT_EQ(t.fieldText(1), "FULL");
        EXPECT_TRUE(asBefore(model)) << "the table changed while the disk was full";
        std::filesystem::remove(dir / "filler");
        t.post();
        EXPECT_EQ(t.state(), DataSetState::Browse);
        {
            auto c = connect(dir, format)->openTable(tableName(format), {});
            ASSERT_EQ(c->readOnlyReason(), "");
            int found = 0;
            Row row;
            RowId id;
            for (int64_t p = 0; c->read(p, row, id); ++p)
                found += asInt(row[0]) == 9001;
            EXPECT_EQ(found, 1);
            EXPECT_EQ(c->count(), int64_t(model.size() + 1));
            EXPECT_EQ(orderProblems(*c, format, model.size() + 1), "");
        }
        t.close();
        std::filesystem::remove_all(dir);
    }
}
