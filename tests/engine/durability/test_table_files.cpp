// Creating, renaming and deleting tables with the process killed at every step of the
// operation, and with every step failing once: at any instant the folder holds the table
// whole or not at all (read as another program would, without our mending), and after the
// next call on the folder nothing of the operation is left half done.
#include "Workload.h"
#include "engine/drivers/standard/TableFiles.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace durability;
using vemo::engine::standard::FaultPlan;

namespace {

enum class Action { Create, Rename, Delete };

const char* actionName(Action a) {
    return a == Action::Create ? "create" : a == Action::Rename ? "rename" : "delete";
}

std::string renamedName(const std::string& format) { return format == "DBASE" ? "U.DBF" : "U.DB"; }

void run(Action a, const std::filesystem::path& dir, const std::string& format) {
    auto db = connect(dir, format);
    if (a == Action::Create)
        createTable(*db, format);
    else if (a == Action::Rename)
        db->renameTable(tableName(format), renamedName(format));
    else
        db->deleteTable(tableName(format));
}

// The regular files of dir, copied to a fresh folder: the folder as another program sees it.
void copyPlainFiles(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::remove_all(to);
    std::filesystem::create_directories(to);
    for (const auto& e : std::filesystem::directory_iterator(from))
        if (e.is_regular_file())
            std::filesystem::copy_file(e.path(), to / e.path().filename());
}

std::string dbtestBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class TableFiles : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        format_ = GetParam();
        auto db = connect(seed_.path(), format_);
        createTable(*db, format_);
        auto c = db->openTable(tableName(format_), {});
        std::mt19937 rng(5);
        for (int i = 0; i < 25; ++i) {
            Op op = randomOp(rng, model_);
            op.applyTo(*c);
            op.applyTo(model_);
        }
        c.reset();
        tableFiles_ = entries(seed_.path()).size();
    }

    void prepare(Action a, const std::filesystem::path& dir) const {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        if (a != Action::Create)
            for (const auto& e : std::filesystem::directory_iterator(seed_.path()))
                std::filesystem::copy_file(e.path(), dir / e.path().filename());
    }

    // "" when the folder holds exactly one whole table of that name with the contents
    // expected (model_, or none for a new table) and nothing else of it.
    std::string wholeTable(const std::filesystem::path& dir, const std::string& name, bool fresh) const {
        auto db = connect(dir, format_);
        auto c = db->openTable(name, {});
        if (!c->readOnlyReason().empty())
            return "opens read-only: " + c->readOnlyReason();
        if (c->indexes().size() != 2)
            return "has " + std::to_string(c->indexes().size()) + " indexes";
        std::string problem;
        const Model now = read(*c, &problem);
        if (!problem.empty())
            return problem;
        if (now != (fresh ? Model() : normalised(model_)))
            return "records differ";
        const std::string order = orderProblems(*c, format_, now.size());
        if (!order.empty())
            return order;
        if (entries(dir).size() != tableFiles_)
            return "the folder holds " + std::to_string(entries(dir).size()) + " files, not " + std::to_string(tableFiles_);
        return "";
    }

    // After an interrupted action: the raw folder holds a whole table or none (create and
    // delete), and once mended exactly the state before or after.
    void checkInterrupted(Action a, const std::filesystem::path& dir, const std::string& when) {
        const std::filesystem::path raw = dir.parent_path() / "raw";
        if (a != Action::Rename) {
            copyPlainFiles(dir, raw);
            auto names = connect(raw, format_)->tableNames("", true, false);
            if (!names.empty()) {
                ASSERT_EQ(names, std::vector<std::string>{tableName(format_)}) << when;
                ASSERT_EQ(wholeTable(raw, tableName(format_), a == Action::Create), "") << when << " (as found)";
            }
        }
        auto names = connect(dir, format_)->tableNames("", true, false); // mends the folder
        const bool before = names == std::vector<std::string>{tableName(format_)};
        if (a == Action::Create) {
            if (names.empty()) {
                ASSERT_EQ(entries(dir), std::vector<std::string>{}) << when << ": something left without a table";
                createTable(*connect(dir, format_), format_); // a new try succeeds
            } else {
                ASSERT_TRUE(before) << when;
            }
            ASSERT_EQ(wholeTable(dir, tableName(format_), true), "") << when;
        } else if (a == Action::Rename) {
            ASSERT_TRUE(before || names == std::vector<std::string>{renamedName(format_)}) << when;
            ASSERT_EQ(wholeTable(dir, names.at(0), false), "") << when;
        } else if (names.empty()) {
            ASSERT_EQ(entries(dir), std::vector<std::string>{}) << when << ": files left by the deletion";
        } else {
            ASSERT_TRUE(before) << when;
            ASSERT_EQ(wholeTable(dir, tableName(format_), false), "") << when;
        }
    }

    std::string format_;
    enginetest::TempDir seed_, base_;
    Model model_;
    size_t tableFiles_ = 0;
};

} // namespace

TEST_P(TableFiles, KilledAtEveryStepLeavesTheTableWholeOrAbsent) {
    for (Action a : {Action::Create, Action::Rename, Action::Delete}) {
        const auto dir = base_ / "t";
        bool finished = false;
        int kills = 0;
        for (long k = 1; !finished && k < 2000; ++k) {
            prepare(a, dir);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                FaultPlan::killAt(k);
                try {
                    run(a, dir, format_);
                } catch (...) {
                    ::_exit(2);
                }
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (WIFEXITED(status)) {
                ASSERT_EQ(WEXITSTATUS(status), 0) << actionName(a) << " failed without a fault";
                finished = true;
            } else {
                ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
                ++kills;
            }
            checkInterrupted(a, dir, std::string(actionName(a)) + ", killed at step " + std::to_string(k));
            if (HasFatalFailure())
                return;
        }
        EXPECT_TRUE(finished) << actionName(a);
        EXPECT_GT(kills, 3) << actionName(a) << ": too few steps to prove anything";
        std::printf("%s %s: killed at each of %d steps, whole or absent every time\n", format_.c_str(), actionName(a), kills);
    }
}

TEST_P(TableFiles, EveryFailedStepLeavesBeforeOrAfterAndNothingBehind) {
    for (Action a : {Action::Create, Action::Rename, Action::Delete}) {
        const auto dir = base_ / "t";
        bool finished = false;
        for (long k = 1; !finished && k < 2000; ++k) {
            prepare(a, dir);
            FaultPlan::failAt(k, k % 2 ? EIO : ENOSPC);
            int code = 0;
            try {
                run(a, dir, format_);
            } catch (const EngineError& e) {
                code = e.code();
            }
            finished = FaultPlan::operations() < k;
            FaultPlan::clear();
            if (!finished) {
                ASSERT_NE(code, 0) << actionName(a) << ": a failed step at " << k << " was reported as success";
            }
            checkInterrupted(a, dir, std::string(actionName(a)) + ", failed at step " + std::to_string(k));
            if (HasFatalFailure())
                return;
        }
        EXPECT_TRUE(finished) << actionName(a);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, TableFiles, ::testing::Values("DBASE", "PARADOX"));

// A staging folder in use by a live process is left alone; one whose plan names files
// outside its own folder is not followed (its files are cleared, nothing else is touched).
TEST(TableStaging, MendingLeavesLiveWorkAloneAndFollowsNoForeignPlan) {
    using namespace vemo::engine::standard;
    enginetest::TempDir dir;
    {
        TableStaging live(dir.path());
        std::ofstream(live.folder() / "T.DBF") << "half built";
        mendFolder(dir.path());
        EXPECT_TRUE(std::filesystem::exists(live.folder() / "T.DBF"));
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});

    // A name taken before the first move (another process made the same table meanwhile):
    // nothing is moved, nothing is left, the other file stays.
    std::ofstream(dir / "KEEP.DBF") << "someone's table";
    {
        TableStaging late(dir.path());
        std::ofstream(late.folder() / "KEEP.DBF") << "mine";
        EXPECT_EQ(enginetest::errorCodeOf([&] { late.commit({{late.folder() / "KEEP.DBF", dir / "KEEP.DBF"}}); }),
                  ErrInvalidParam);
    }
    mendFolder(dir.path());
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"KEEP.DBF"});
    EXPECT_EQ(dbtestBytes(dir / "KEEP.DBF"), "someone's table");

    const auto other = dir / ".vemo32-abc123";
    std::filesystem::create_directories(other);
    std::ofstream(other / "lock");
    std::ofstream plan(other / "plan", std::ios::binary);
    const std::string text = std::string("VEMO32-MOVES 1\n") + "KEEP.DBF" + '\0' + "../KEEP.DBF" + '\0' + "END\n";
    plan << text;
    plan.close();
    mendFolder(dir.path());
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"KEEP.DBF"});
}
