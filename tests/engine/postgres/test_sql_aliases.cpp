// SQLITE and POSTGRESQL aliases edited end to end: through the session, and through the
// command-line tool on the same configuration file.
#include "SqlTestSupport.h"

#include "engine/values/Codepage.h"
#include "engine/export/CsvExport.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/SampleData.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>

using namespace vemo::engine;
using namespace sqltest;

namespace {

void rawExec(const std::string& sql) {
    std::string conninfo = "host=" + env("PGHOST") + " port=" + env("PGPORT") + " dbname=postgres user=postgres";
    PGconn* c = PQconnectdb(conninfo.c_str());
    PGresult* r = PQexec(c, sql.c_str());
    std::string msg = PQresultErrorMessage(r);
    auto status = PQresultStatus(r);
    PQclear(r);
    PQfinish(c);
    ASSERT_EQ(status, PGRES_COMMAND_OK) << msg;
}

std::vector<std::string> pgLines(const std::string& schema, const std::string& user = "postgres") {
    return {"SERVER NAME=" + env("PGHOST"), "PORT=" + env("PGPORT"), "DATABASE NAME=postgres", "USER NAME=" + user,
            "SCHEMA=" + schema, "SSLMODE=disable"};
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct SqlAliasTest : ::testing::Test {
    TempDir dir;
    std::filesystem::path cfg = dir.path() / "config" / "vemo32" / "engine.cfg";
    std::filesystem::path lite = dir.path() / "sample.sqlite";
    void SetUp() override {
        std::filesystem::create_directories(cfg.parent_path());
        std::ofstream(cfg) << "# aliases\n";
        writeSqliteSample(lite);
        rawExec("DROP SCHEMA IF EXISTS \"alias one\" CASCADE; DROP SCHEMA IF EXISTS \"alias two\" CASCADE;"
                "CREATE SCHEMA \"alias one\"; CREATE TABLE \"alias one\".first (id integer PRIMARY KEY);"
                "CREATE SCHEMA \"alias two\"; CREATE TABLE \"alias two\".second (id integer PRIMARY KEY);"
                "INSERT INTO \"alias two\".second VALUES (1), (2)");
    }
    std::unique_ptr<Session> session() {
        auto s = std::make_unique<Session>(cfg);
        registerBuiltinDrivers(*s);
        s->open();
        return s;
    }
};

} // namespace

TEST_F(SqlAliasTest, SessionAddsEditsDeletesAndKeepsOnlyWhatWasSaved) {
    {
        auto s = session();
        s->addAlias("LITE", "SQLITE", {"DATABASE=" + lite.string()});
        s->addAlias("PGX", "POSTGRESQL", pgLines("alias one"));
        EXPECT_TRUE(hasLine(s->aliasParams("LITE"), "OPEN MODE=READ/WRITE"));
        EXPECT_TRUE(hasLine(s->driverDefaults("POSTGRESQL"), "SCHEMA=public"));
        EXPECT_EQ(s->tableNames("LITE", "*.*", false, false).size(), 3u);
        EXPECT_EQ(s->tableNames("PGX", "*.*", false, false), std::vector<std::string>{"first"});
        s->saveConfig();
        s->modifyAlias("PGX", pgLines("alias two"));
        EXPECT_EQ(s->tableNames("PGX", "*", false, false), std::vector<std::string>{"second"});
        s->deleteAlias("LITE");
    }
    {
        auto s = session(); // unsaved edits are gone
        EXPECT_TRUE(hasLine(s->aliasNames(), "LITE"));
        EXPECT_EQ(s->tableNames("PGX", "*", false, false), std::vector<std::string>{"first"});
        s->modifyAlias("PGX", pgLines("alias two"));
        s->deleteAlias("LITE");
        s->saveConfig();
        s->close();
        s->open();
        EXPECT_EQ(s->openTable("PGX", "second", {})->count(), 2);
        EXPECT_FALSE(hasLine(s->aliasNames(), "LITE"));
    }
    auto s = session();
    EXPECT_FALSE(hasLine(s->aliasNames(), "LITE"));
    EXPECT_TRUE(hasLine(s->aliasParams("PGX"), "SCHEMA=alias two"));
}

TEST_F(SqlAliasTest, StoredPasswordsStayPrivateAndMissingOnesAreAskedFor) {
    auto s = session();
    auto lines = pgLines("alias one", "vemo_pw");
    s->addAlias("NOPW", "POSTGRESQL", lines);
    lines.push_back("PASSWORD=secret");
    s->addAlias("PW", "POSTGRESQL", lines);
    s->saveConfig();
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(s->tableNames("PW", "*", false, false), std::vector<std::string>{"first"});
    int asked = 0;
    s->setLoginCallback([&](const std::string& alias, std::string& user, std::string& password) {
        ++asked;
        EXPECT_EQ(alias, "NOPW");
        EXPECT_EQ(user, "vemo_pw");
        password = "secret";
        return true;
    });
    EXPECT_EQ(s->tableNames("NOPW", "*", false, false), std::vector<std::string>{"first"});
    EXPECT_EQ(asked, 1);
}

TEST_F(SqlAliasTest, AConfigOthersCanReadIsSaidOnceAndNeverWrittenWider) {
    auto modeOf = [&] {
        struct stat st {};
        EXPECT_EQ(stat(cfg.c_str(), &st), 0);
        return st.st_mode & 0777;
    };
    {
        auto s = session();
        s->addAlias("PLAIN", "POSTGRESQL", pgLines("alias one"));
        s->saveConfig();
    }
    // Without a password a file the owner narrowed stays narrow.
    ASSERT_EQ(chmod(cfg.c_str(), 0640), 0);
    {
        auto s = session();
        s->modifyAlias("PLAIN", pgLines("alias two"));
        s->saveConfig();
    }
    EXPECT_EQ(modeOf(), 0640u);
    {
        auto s = session();
        auto lines = pgLines("alias one", "vemo_pw");
        lines.push_back("PASSWORD=secret");
        s->addAlias("PW", "POSTGRESQL", lines);
        s->saveConfig();
    }
    EXPECT_EQ(modeOf(), 0600u);
    ASSERT_EQ(chmod(cfg.c_str(), 0644), 0); // made readable by hand
    std::vector<std::string> heard;
    auto s = std::make_unique<Session>(cfg);
    registerBuiltinDrivers(*s);
    s->open();                  // nobody listens yet: the warning waits
    s->close();
    s->open();
    s->setNoticeCallback([&](const std::string& text) { heard.push_back(text); });
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_NE(heard[0].find("0644"), std::string::npos) << heard[0];
    EXPECT_NE(heard[0].find(cfg.string()), std::string::npos) << heard[0];
    // The aliases still work, the warning is not repeated, and saving narrows the file.
    EXPECT_EQ(s->tableNames("PW", "*", false, false), std::vector<std::string>{"first"});
    s->close();
    s->open();
    s->modifyAlias("PLAIN", pgLines("alias one"));
    s->saveConfig();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(modeOf(), 0600u);
    s->close();
    s->open();
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(SqlAliasTest, ConnectionsOverTheNetworkSayWhetherTheyAreEncrypted) {
    const std::filesystem::path root = std::filesystem::path(env("PGHOST")) / "root.crt";
    auto tcp = [&](const std::string& host, const std::string& sslmode, const std::string& rootcert = {}) {
        std::vector<std::string> lines = pgLines("alias one");
        lines[0] = "SERVER NAME=" + host;
        lines[5] = "SSLMODE=" + sslmode;
        if (!rootcert.empty())
            lines.push_back("SSLROOTCERT=" + rootcert);
        return lines;
    };
    auto s = session();
    std::vector<std::string> heard;
    s->setNoticeCallback([&](const std::string& text) { heard.push_back(text); });
    EXPECT_TRUE(hasLine(s->driverDefaults("POSTGRESQL"), "SSLMODE=prefer"));
    EXPECT_TRUE(hasLine(s->driverDefaults("POSTGRESQL"), "SSLROOTCERT="));
    // The local socket: nothing leaves the machine, nothing to say.
    auto local = pgLines("alias one");
    local[5] = "SSLMODE=prefer";
    s->addAlias("LOCAL", "POSTGRESQL", local);
    EXPECT_EQ(s->tableNames("LOCAL", "*", false, false), std::vector<std::string>{"first"});
    EXPECT_TRUE(heard.empty());
    // Plain text over TCP is said, once, naming the alias and how to require encryption.
    s->addAlias("PLAIN", "POSTGRESQL", tcp("127.0.0.1", "disable"));
    EXPECT_EQ(s->tableNames("PLAIN", "*", false, false), std::vector<std::string>{"first"});
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_NE(heard[0].find("PLAIN"), std::string::npos);
    EXPECT_NE(heard[0].find("暗号化されていません"), std::string::npos);
    EXPECT_NE(heard[0].find("SSLMODE=require"), std::string::npos);
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "the test server has no TLS (openssl missing)";
    // TLS required and the server's certificate verified against its root: quiet.
    s->addAlias("TLS", "POSTGRESQL", tcp("localhost", "verify-full", root.string()));
    EXPECT_EQ(s->tableNames("TLS", "*", false, false), std::vector<std::string>{"first"});
    s->addAlias("PREFER", "POSTGRESQL", tcp("127.0.0.1", "prefer"));
    EXPECT_EQ(s->tableNames("PREFER", "*", false, false), std::vector<std::string>{"first"});
    EXPECT_EQ(heard.size(), 1u);
    // Verification against certificates that are not the server's refuses the connection.
    const auto other = dir.path() / "other.crt";
    ASSERT_EQ(std::system(("openssl req -new -x509 -days 1 -nodes -subj /CN=localhost -keyout '" + (dir.path() / "other.key").string() +
                           "' -out '" + other.string() + "' >/dev/null 2>&1").c_str()),
              0);
    s->addAlias("WRONG", "POSTGRESQL", tcp("localhost", "verify-full", other.string()));
    EXPECT_EQ(errorCodeOf([&] { s->tableNames("WRONG", "*", false, false); }), ErrServer);
}

TEST_F(SqlAliasTest, ToolEditsAliasesAndReadsBothDrivers) {
    const std::string tool = env("VEMO32_TOOL");
    if (tool.empty())
        GTEST_SKIP() << "vemo32-tool is not built in this tree";
    const std::string prefix = "XDG_CONFIG_HOME='" + (dir.path() / "config").string() + "' XDG_DATA_HOME='" +
                               (dir.path() / "data").string() + "' '" + tool + "' ";
    auto run = [&](const std::string& args, std::string* out = nullptr) {
        std::string text;
        FILE* p = popen((prefix + args + " 2>&1").c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            text.append(buf, n);
        int rc = pclose(p);
        if (out)
            *out = text;
        return rc;
    };
    std::string out;
    ASSERT_EQ(run("alias add LITE SQLITE 'DATABASE=" + lite.string() + "'"), 0);
    ASSERT_EQ(run("alias add PGT POSTGRESQL 'SERVER NAME=" + env("PGHOST") + "' PORT=" + env("PGPORT") +
                  " 'DATABASE NAME=postgres' 'USER NAME=postgres' 'SCHEMA=alias two'"), 0);
    ASSERT_EQ(run("tables LITE", &out), 0) << out;
    EXPECT_NE(out.find("ORDER_SUMMARY"), std::string::npos);
    ASSERT_EQ(run("export PGT second", &out), 0) << out;
    EXPECT_EQ(out, "1\r\n2\r\n");
    ASSERT_EQ(run("export LITE CUSTOMER --filter \"PREF = '東京都'\"", &out), 0) << out;
    EXPECT_NE(out.find("山田商事株式会社"), std::string::npos);
    EXPECT_EQ(out.find("鈴木電機"), std::string::npos);
    ASSERT_EQ(run("alias delete LITE --no-save"), 0);
    EXPECT_EQ(run("alias show LITE", &out), 0) << out;
    ASSERT_EQ(run("alias delete LITE"), 0);
    EXPECT_NE(run("alias show LITE", &out), 0);
    EXPECT_EQ(run("tables PGT --pattern 'sec*'", &out), 0) << out;
    EXPECT_NE(out.find("second"), std::string::npos);
    ASSERT_EQ(run("alias add BROKEN SQLITE 'DATABASE=" + (dir.path() / "missing.db").string() + "'"), 0);
    EXPECT_NE(run("tables BROKEN", &out), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing.db"));
}

// The export reads a SQL table in one pass; what it writes is still what the grid shows
// record by record: with a filter the server takes, one the dataset keeps to itself, and
// cached changes not yet applied. A cancelled export leaves no file and a usable table.
TEST_F(SqlAliasTest, ExportWritesWhatTheDatasetShows) {
    rawExec("DROP SCHEMA IF EXISTS \"export\" CASCADE; CREATE SCHEMA \"export\";"
            "CREATE TABLE \"export\".big (id integer PRIMARY KEY, name varchar(20), qty integer, d date);"
            "INSERT INTO \"export\".big SELECT i, CASE WHEN i % 9 = 0 THEN NULL ELSE 'Name ' || i END, i % 100,"
            " date '2000-01-01' + i FROM generate_series(1, 12000) i");
    auto s = session();
    s->addAlias("LITE", "SQLITE", {"DATABASE=" + lite.string()});
    s->addAlias("PGX", "POSTGRESQL", pgLines("export"));
    s->database("LITE").executeSql(
        "CREATE TABLE big (id INTEGER PRIMARY KEY, name VARCHAR(20), qty INTEGER, d DATE)", {});
    s->database("LITE").executeSql(
        "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 12000) INSERT INTO big"
        " SELECT i, CASE WHEN i % 9 = 0 THEN NULL ELSE 'Name ' || i END, i % 100, date('2000-01-01', '+' || i || ' days') FROM k", {});
    const auto csv = dir.path() / "out.csv";
    auto fileText = [&] {
        std::ifstream in(csv, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto gridText = [](Table& t) {
        std::string text;
        Row row;
        for (int64_t i = 0; t.rowAt(i, row); ++i)
            text += csvText(row, t.fieldDefs()) + "\r\n";
        return encodeForLocale(text);
    };
    for (const char* alias : {"LITE", "PGX"}) {
        SCOPED_TRACE(alias);
        Table t(*s);
        t.setDatabaseName(alias);
        t.setTableName("big");
        t.setCachedUpdates(true);
        t.open();
        ASSERT_TRUE(exportCsv(t, csv.string()));
        const std::string all = fileText();
        EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 12000);
        EXPECT_EQ(all, gridText(t));
        for (bool caseInsensitive : {false, true}) { // the server takes only the first
            t.setFilterOptions({caseInsensitive, false});
            t.setFilter("qty > 50 and name >= 'nAME 5'");
            t.setFiltered(true);
            std::vector<int64_t> expected, shown;
            for (int64_t i = 1; i <= 12000; ++i)
                if (i % 9 != 0 && i % 100 > 50 && (caseInsensitive ? "name " : "Name ") + std::to_string(i) >= "name 5")
                    expected.push_back(i);
            Row row;
            for (int64_t i = 0; t.rowAt(i, row); ++i)
                shown.push_back(std::get<int64_t>(row.at(0)));
            EXPECT_EQ(shown, expected);
            EXPECT_EQ(t.recordCount(), static_cast<int64_t>(expected.size()));
            ASSERT_TRUE(exportCsv(t, csv.string()));
            EXPECT_EQ(fileText(), gridText(t));
            t.setFiltered(false);
        }
        t.moveTo(2);
        t.edit();
        t.setFieldText(1, "changed");
        t.post();
        t.moveTo(5);
        t.remove();
        ASSERT_TRUE(exportCsv(t, csv.string()));
        EXPECT_EQ(fileText(), gridText(t));
        EXPECT_NE(fileText().find("\"changed\""), std::string::npos);
        t.cancelUpdates();

        std::filesystem::remove(csv);
        EXPECT_FALSE(exportCsv(t, csv.string(), [](int64_t done, int64_t) { return done < 4096; }));
        EXPECT_FALSE(std::filesystem::exists(csv));
        EXPECT_EQ(t.recordCount(), 12000);
        ASSERT_TRUE(exportCsv(t, csv.string()));
        EXPECT_EQ(fileText(), all);
    }
}
