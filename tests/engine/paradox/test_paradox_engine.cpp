// Paradox tables through the whole engine: the STANDARD driver, the dataset with cached
// updates and filters, exclusive use, table deletion and renaming, the sample tables.
#include "TestDir.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "engine/drivers/standard/paradox/PxCipher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace vemo::engine;
using namespace enginetest;

namespace {


std::set<std::string> files(const std::filesystem::path& dir) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

class ParadoxEngine : public ::testing::Test {
protected:
    void SetUp() override {
        writeParadoxSample(dir_.path());
        db_ = makeStandardDriver()->connect("S", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "PARADOX"}}, {});
        session_ = std::make_unique<Session>(dir_ / "engine.cfg");
        registerBuiltinDrivers(*session_);
    }
    std::unique_ptr<Table> openFile(const std::string& name, bool cached = false) {
        auto t = std::make_unique<Table>(*session_);
        t->setTableName((dir_ / name).string());
        t->setCachedUpdates(cached);
        t->open();
        return t;
    }
    TestDir dir_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<Session> session_;
};

} // namespace

TEST_F(ParadoxEngine, SampleTablesOpenWithTheirIndexesAndJapaneseText) {
    EXPECT_EQ(db_->tableNames("*", false, false), (std::vector<std::string>{"JUCHU", "SHOHIN", "TOKUISAKI"}));
    auto c = db_->openTable("tokuisaki", {});
    EXPECT_EQ(c->count(), 5);
    EXPECT_EQ(c->fields()[1].name, "得意先名");
    EXPECT_EQ(c->fields()[7].type, FieldType::Memo);
    const auto idx = c->indexes();
    ASSERT_EQ(idx.size(), 3u);
    EXPECT_TRUE(idx[0].primary);
    EXPECT_EQ(idx[0].name, "");
    EXPECT_EQ(idx[0].fields, "得意先コード");
    EXPECT_EQ(idx[2].name, "都道府県別");
    EXPECT_EQ(idx[2].fields, "都道府県;得意先名");
    c->setOrder("フリガナ");
    Row r;
    RowId id;
    ASSERT_TRUE(c->read(0, r, id));
    EXPECT_EQ(r[2], Value(std::string("ｻﾄｳｺｳｷﾞｮｳ"))); // half-width katakana sorts in code page order
    ASSERT_TRUE(c->read(4, r, id));
    EXPECT_EQ(r[2], Value(std::string("ﾔﾏﾀﾞｼｮｳｼﾞ")));
    auto orders = db_->openTable("JUCHU", {});
    ASSERT_TRUE(orders->read(3, r, id));
    EXPECT_EQ(r[0], Value(int64_t(4))); // auto-increment keys
    EXPECT_EQ(r[5], Value(Decimal{"7200.00"}));
}

TEST_F(ParadoxEngine, CachedEditsApplyAndConflictsAreRefused) {
    auto a = openFile("SHOHIN.DB", true);
    auto b = openFile("SHOHIN.DB", true);
    a->first();
    a->setFieldText(2, "150");
    a->post();
    EXPECT_TRUE(a->applyUpdates());
    a->commitUpdates();
    // b read the record before a changed it.
    b->first();
    b->setFieldText(3, "1");
    b->post();
    b->onUpdateError = [](Table&, const EngineError& e, UpdateKind) {
        EXPECT_EQ(e.code(), ErrUpdateConflict);
        return UpdateAction::Abort;
    };
    EXPECT_FALSE(b->applyUpdates());
    b->cancelUpdates();
    auto c = openFile("SHOHIN.DB");
    c->first();
    EXPECT_EQ(c->fieldText(2), "150");
    EXPECT_EQ(c->fieldText(3), "350");
    // A second record with an existing key is a key violation.
    c->append();
    c->setFieldText(0, "A-001");
    c->setFieldText(1, "重複");
    EXPECT_EQ(errorCodeOf([&] { c->post(); }), ErrKeyViolation);
    c->cancel();
    c->setFilter("在庫数 < 100");
    c->setFiltered(true);
    EXPECT_EQ(c->recordCount(), 2);
}

TEST_F(ParadoxEngine, ExclusiveUseDeleteAndRenameCoverEveryCompanionFile) {
    {
        auto shared = db_->openTable("TOKUISAKI", {});
        EXPECT_NE(errorCodeOf([&] { db_->openTable("TOKUISAKI", OpenOptions{true, false}); }), 0);
        EXPECT_NE(errorCodeOf([&] { db_->deleteTable("TOKUISAKI"); }), 0);
    }
    db_->renameTable("TOKUISAKI", "CLIENTS");
    const auto after = files(dir_.path());
    for (const char* f : {"CLIENTS.DB", "CLIENTS.PX", "CLIENTS.MB", "CLIENTS.X03", "CLIENTS.Y03", "CLIENTS.XG0", "CLIENTS.YG0"})
        EXPECT_TRUE(after.count(f)) << f;
    for (const auto& f : after) EXPECT_EQ(f.rfind("TOKUISAKI", 0), std::string::npos) << f;
    auto c = db_->openTable("CLIENTS", {});
    EXPECT_EQ(c->count(), 5);
    EXPECT_TRUE(c->readOnlyReason().empty()) << c->readOnlyReason();
    c.reset();
    db_->deleteTable("CLIENTS");
    for (const auto& f : files(dir_.path())) EXPECT_EQ(f.rfind("CLIENTS", 0), std::string::npos) << f;
}

TEST_F(ParadoxEngine, CachedDeletesAndEditsOfAnUnkeyedTableApplyToTheRightRecords) {
    std::vector<FieldDef> defs(2);
    defs[0].name = "S";
    defs[0].type = FieldType::String;
    defs[0].size = 10;
    defs[1].name = "N";
    defs[1].type = FieldType::Integer;
    db_->createTable("HEAP.DB", defs, {});
    {
        auto t = openFile("HEAP.DB");
        for (int i = 0; i < 6; ++i) {
            t->append();
            t->setFieldText(0, "r" + std::to_string(i));
            t->setFieldText(1, std::to_string(i));
            t->post();
        }
    }
    auto t = openFile("HEAP.DB", true);
    t->moveTo(1);
    t->remove();
    t->moveTo(3); // "r4" now
    EXPECT_EQ(t->fieldText(0), "r4");
    t->setFieldText(1, "40");
    t->post();
    EXPECT_TRUE(t->applyUpdates());
    t->commitUpdates();
    auto c = db_->openTable("HEAP", {});
    std::vector<std::string> seen;
    Row r;
    RowId id;
    for (int64_t i = 0; c->read(i, r, id); ++i)
        seen.push_back(std::get<std::string>(r[0]) + "=" + std::to_string(std::get<int64_t>(r[1])));
    EXPECT_EQ(seen, (std::vector<std::string>{"r0=0", "r2=2", "r3=3", "r4=40", "r5=5"}));
}

namespace {

// Protects an unkeyed table without blobs as the format does: the password's checksum in
// the header, every data block scrambled with it.
void protectTable(const std::filesystem::path& db, const std::string& password) {
    std::ifstream in(db, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), {});
    in.close();
    const size_t headerSize = static_cast<uint8_t>(b[2]) | static_cast<uint8_t>(b[3]) << 8;
    const size_t blockSize = static_cast<uint8_t>(b[5]) * 0x400u;
    const uint32_t sum = vemo::engine::paradox::passwordChecksum(password);
    for (int i = 0; i < 4; ++i) b[0x5C + i] = char(sum >> (8 * i));
    for (size_t at = headerSize, n = 1; at + blockSize <= b.size(); at += blockSize, ++n)
        vemo::engine::paradox::encryptDataBlock(reinterpret_cast<uint8_t*>(b.data() + at), blockSize, sum, uint16_t(n));
    std::ofstream(db, std::ios::binary | std::ios::trunc) << b;
}

} // namespace

TEST_F(ParadoxEngine, ProtectedTableOpensWithTheAliasPasswordOrTheLoginPrompt) {
    db_->createTable("LOCKED", {field("NAME", FieldType::String, 20), field("N", FieldType::Integer)}, {});
    {
        auto c = db_->openTable("LOCKED", {});
        for (int i = 0; i < 200; ++i) c->insert({std::string("row ") + std::to_string(i), int64_t(i)});
    }
    protectTable(dir_ / "LOCKED.DB", "open sesame");

    // The alias's PASSWORD, for scripts.
    auto withPassword = makeStandardDriver()->connect(
        "S", {{"PATH", dir_.path().string()}, {"PASSWORD", "open sesame"}}, {});
    auto c = withPassword->openTable("LOCKED", {});
    EXPECT_EQ(c->count(), 200);
    c->insert({std::string("added"), int64_t(999)});
    c.reset();

    // Without it: the login prompt, asked with the alias and the table's file name.
    std::vector<std::string> asked;
    session_->setLoginCallback([&](const std::string& alias, std::string& user, std::string& password) {
        asked.push_back(alias + "/" + user);
        password = asked.size() == 1 ? "wrong" : "open sesame";
        return true;
    });
    session_->addAlias("LOCKS", "STANDARD", {"PATH=" + dir_.path().string()});
    Table t(*session_);
    t.setDatabaseName("LOCKS");
    t.setTableName("LOCKED");
    t.open();
    EXPECT_EQ(asked, (std::vector<std::string>{"LOCKS/LOCKED.DB", "LOCKS/LOCKED.DB"}));
    EXPECT_EQ(t.recordCount(), 201);
    t.close();
    t.open(); // the answer is remembered by the connection
    EXPECT_EQ(asked.size(), 2u);
    t.close();

    // A wrong password in the alias and nobody to ask: a clear error.
    auto wrong = makeStandardDriver()->connect("S", {{"PATH", dir_.path().string()}, {"PASSWORD", "nope"}}, {});
    EXPECT_EQ(errorCodeOf([&] { wrong->openTable("LOCKED", {}); }), ErrLogin);
}
