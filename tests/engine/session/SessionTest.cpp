#include "tests/engine/EngineTestSupport.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/EngineConfig.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

using Lines = std::vector<std::string>;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}


class SessionTest : public ::testing::Test {
protected:
    std::unique_ptr<Session> make() {
        auto s = std::make_unique<Session>(cfg);
        registerBuiltinDrivers(*s);
        return s;
    }
    void seed() {
        writeFile(cfg, "[BASE]\nDRIVER=STANDARD\nPATH=" + dir.path().string() + "\n");
    }
    TempDir dir;
    std::filesystem::path cfg = dir.path() / "cfg" / "engine.cfg";
};

} // namespace

TEST_F(SessionTest, MissingFileGivesTheSampleAliasesEvenWhenASampleWriterFails) {
    auto s = std::make_unique<Session>(cfg);
    registerBuiltinDrivers(*s);
    bool called = false;
    s->setSampleWriter([&](const std::filesystem::path&) {
        called = true;
        throw EngineError(ErrNotSupported, "not yet");
    });
    EXPECT_EQ(s->aliasNames(), (Lines{"VEMO32DEMO", "VEMO32SQLITE"}));
    EXPECT_TRUE(called);
    EXPECT_EQ(s->aliasDriver("vemo32demo"), "STANDARD");
    EXPECT_EQ(s->aliasParams("VEMO32SQLITE")[0], "DATABASE=" + (Session::defaultDataDir() / "demo.sqlite").string());
    EXPECT_TRUE(std::filesystem::exists(cfg));
    EXPECT_EQ(make()->aliasNames(), (Lines{"VEMO32DEMO", "VEMO32SQLITE"}));
}

TEST_F(SessionTest, UnsavedChangesLiveAcrossReopenSavedOnesAcrossSessions) {
    std::filesystem::create_directories(cfg.parent_path());
    seed();
    auto s = make();
    EXPECT_EQ(s->driverNames()[0], "STANDARD");
    s->addAlias("KEPT", "STANDARD", {"PATH=/data/kept"});
    s->addAlias("TEMP", "SQLITE", {"DATABASE=/tmp/t.sqlite"});
    s->saveConfig();
    s->addAlias("UNSAVED", "STANDARD", {"PATH=/x"});
    s->modifyAlias("KEPT", {"PATH=/data/moved"});
    s->deleteAlias("TEMP");
    s->close();
    s->open();
    EXPECT_EQ(s->aliasNames(), (Lines{"BASE", "KEPT", "UNSAVED"}));
    EXPECT_EQ(s->aliasParams("KEPT"), (Lines{"PATH=/data/moved", "DEFAULT DRIVER=PARADOX", "LANGDRIVER=932"}));

    auto fresh = make();
    EXPECT_EQ(fresh->aliasNames(), (Lines{"BASE", "KEPT", "TEMP"}));
    EXPECT_EQ(fresh->aliasParams("KEPT")[0], "PATH=/data/kept");
    EXPECT_EQ(fresh->aliasParams("TEMP"), (Lines{"DATABASE=/tmp/t.sqlite", "OPEN MODE=READ/WRITE", "BUSY TIMEOUT=5000"}));

    // Another program saves meanwhile; our save keeps its alias and applies ours (but not
    // the changes left unsaved before the restart).
    fresh->addAlias("OTHER", "STANDARD", {"PATH=/o"});
    fresh->saveConfig();
    s->addAlias("MINE", "STANDARD", {"PATH=/m"});
    s->saveConfig();
    EXPECT_EQ(make()->aliasNames(), (Lines{"BASE", "KEPT", "TEMP", "OTHER", "MINE"}));
    EXPECT_EQ(make()->aliasParams("KEPT")[0], "PATH=/data/kept");
    EXPECT_EQ(s->aliasNames(), (Lines{"BASE", "KEPT", "OTHER", "MINE", "UNSAVED"}));
}

TEST_F(SessionTest, AnAliasLeftUnsavedIsNotWrittenByALaterSave) {
    std::filesystem::create_directories(cfg.parent_path());
    seed();
    auto s = make();
    s->addAlias("NOSAVE", "STANDARD", {"PATH=/n"});
    s->close(); // the database window restarts the session after a change it did not save
    s->open();
    s->addAlias("SAVED", "STANDARD", {"PATH=/s"});
    s->saveConfig();
    EXPECT_EQ(s->aliasNames(), (Lines{"BASE", "SAVED", "NOSAVE"}));
    EXPECT_EQ(make()->aliasNames(), (Lines{"BASE", "SAVED"}));
    s->close();
    s->open();
    EXPECT_EQ(s->aliasNames(), (Lines{"BASE", "SAVED", "NOSAVE"}));
}

TEST_F(SessionTest, AliasEditingErrors) {
    std::filesystem::create_directories(cfg.parent_path());
    seed();
    auto s = make();
    EXPECT_EQ(errorCodeOf([&] { s->addAlias("base", "STANDARD", {}); }), ErrAliasExists);
    EXPECT_EQ(errorCodeOf([&] { s->addAlias("N", "NOSUCH", {}); }), ErrUnknownDriver);
    EXPECT_EQ(errorCodeOf([&] { s->addAlias("N", "STANDARD", {"PATH"}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { s->addAlias("[N]", "STANDARD", {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { s->addAlias("N", "STANDARD", {"PATH=a\nDRIVER=SQLITE"}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { s->modifyAlias("NONE", {"PATH=/"}); }), ErrNoSuchAlias);
    EXPECT_EQ(errorCodeOf([&] { s->deleteAlias("NONE"); }), ErrNoSuchAlias);
    EXPECT_EQ(errorCodeOf([&] { s->database("NONE"); }), ErrNoSuchAlias);
    EXPECT_EQ(s->aliasNames(), (Lines{"BASE"}));
    EXPECT_EQ(s->driverDefaults("standard"), (Lines{"PATH=", "DEFAULT DRIVER=PARADOX", "LANGDRIVER=932"}));
}

TEST_F(SessionTest, SavedFileIsPrivateWhenItHoldsAPassword) {
    std::filesystem::create_directories(cfg.parent_path());
    seed();
    auto s = make();
    s->saveConfig();
    struct stat st{};
    ASSERT_EQ(::stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    s->addAlias("PG", "POSTGRESQL", {"PASSWORD=secret"});
    s->saveConfig();
    ASSERT_EQ(::stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const auto& e : std::filesystem::directory_iterator(cfg.parent_path()))
        EXPECT_TRUE(e.path() == cfg || e.path().extension() == ".lock") << e.path(); // no temporary left
}

TEST(EngineConfigText, ParsesFormatsAndNamesTheFaultyLine) {
    const std::string text = "# c\n[A]\r\nDRIVER = STANDARD\nPATH=/a b\n\n; x\n[B]\nDRIVER=SQLITE\nDATABASE=\n";
    const auto aliases = parseEngineConfig(text);
    ASSERT_EQ(aliases.size(), 2u);
    EXPECT_EQ(aliases[0].driver, "STANDARD");
    EXPECT_EQ(aliases[0].params, (Params{{"PATH", "/a b"}}));
    EXPECT_EQ(aliases[1].params, (Params{{"DATABASE", ""}}));
    EXPECT_EQ(parseEngineConfig(formatEngineConfig(aliases))[1].name, "B");
    EXPECT_TRUE(parseEngineConfig("").empty());

    for (auto [bad, line] : std::vector<std::pair<std::string, int>>{
             {"PATH=/x\n", 1}, {"[A]\nPATH=/x\n", 1}, {"[A]\nDRIVER=S\n[a]\nDRIVER=S\n", 3},
             {"[A]\nDRIVER=S\nnonsense\n", 3}, {"[A\n", 1}, {"[A]\nDRIVER=S\nDRIVER=T\n", 3},
             {"[A]\nDRIVER=S\nX=1\nx=2\n", 4}, {std::string("[A]\nDRIVER=S\nX=\0\n", 16), 3}}) {
        try {
            parseEngineConfig(bad);
            ADD_FAILURE() << bad;
        } catch (const EngineError& e) {
            EXPECT_EQ(e.code(), ErrCorruptFile);
            EXPECT_NE(std::string(e.what()).find(std::to_string(line) + " 行目"), std::string::npos) << e.what();
        }
    }
}

TEST_F(SessionTest, DamagedFileIsAnErrorNotAnEmptyAliasList) {
    std::filesystem::create_directories(cfg.parent_path());
    writeFile(cfg, "[A]\nPATH=/x\n");
    auto s = make();
    EXPECT_EQ(errorCodeOf([&] { s->aliasNames(); }), ErrCorruptFile);
    EXPECT_EQ(readFile(cfg), "[A]\nPATH=/x\n"); // left for the user to repair
}
