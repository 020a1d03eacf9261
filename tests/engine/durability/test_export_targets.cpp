// Exports written over what is already at the target path: a symbolic link is written
// through, a FIFO or device is written directly and stays what it is, and a replaced file
// keeps its mode.
#include "Workload.h"
#include "engine/dataset/Table.h"
#include "engine/export/CsvExport.h"
#include "engine/session/Session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace durability;

namespace {

std::string contents(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ExportTargets : public ::testing::Test {
protected:
    void SetUp() override {
        createTable(*connect(dir_.path(), "DBASE"), "DBASE");
        auto c = connect(dir_.path(), "DBASE")->openTable("T.DBF", {});
        c->insert(rowOf(1, {"ONE", 10, 0}));
        c->insert(rowOf(2, {"TWO", 20, 0}));
        session_ = std::make_unique<Session>(dir_ / "engine.cfg");
        registerBuiltinDrivers(*session_);
        table_ = std::make_unique<Table>(*session_);
        table_->setTableName((dir_ / "T.DBF").string());
        table_->open();
    }
    enginetest::TempDir dir_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<Table> table_;
};

} // namespace

TEST_F(ExportTargets, ALinkIsWrittenThroughAndAReplacedFileKeepsItsMode) {
    const auto target = dir_ / "real.csv", link = dir_ / "link.csv";
    { std::ofstream(target) << "old"; }
    ::chmod(target.c_str(), 0600);
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(exportCsv(*table_, link.string(), {}));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    const std::string text = contents(target);
    EXPECT_NE(text.find("ONE"), std::string::npos);
    EXPECT_NE(text.find("TWO"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // No temporary file is left beside it.
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_EQ(e.path().filename().string().find(".real.csv"), std::string::npos) << e.path();
}

TEST_F(ExportTargets, AFifoAndADeviceAreWrittenDirectlyAndStayWhatTheyAre) {
    const auto fifo = dir_ / "pipe.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = contents(fifo); });
    ASSERT_TRUE(exportCsv(*table_, fifo.string(), {}));
    reader.join();
    EXPECT_NE(got.find("TWO"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A device reached through a link in the folder, as /dev/stdout is.
    const auto dev = dir_ / "null.csv";
    std::filesystem::create_symlink("/dev/null", dev);
    ASSERT_TRUE(exportCsv(*table_, dev.string(), {}));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(std::filesystem::is_symlink(dev));
}
