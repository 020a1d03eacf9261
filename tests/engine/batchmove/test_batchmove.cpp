// The batch move on real tables of every driver: copies between every pair, read back by
// the formats' own tools (sqlite3, psql, python3-dbfread, pxlib); the modes with key
// violations and the problem tables; values that do not fit; a move killed half way.
#include "PxlibPeer.h"
#include "SqlTestSupport.h"

#include "engine/batchmove/BatchMove.h"
#include "engine/batchmove/FieldMapping.h"
#include "engine/batchmove/KeyLookup.h"
#include "engine/batchmove/ReadAhead.h"
#include "engine/contract/EngineError.h"
#include "engine/batchmove/TypeMapping.h"
#include "engine/values/NameCompare.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/values/Codepage.h"

#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vemo::engine;
using namespace sqltest;

namespace {

std::string shell(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string pgConninfo() { return "host=" + env("PGHOST") + " port=" + env("PGPORT") + " dbname=postgres user=postgres"; }

void pgExec(const std::string& sql) {
    PGconn* c = PQconnectdb(pgConninfo().c_str());
    PGresult* r = PQexec(c, sql.c_str());
    const std::string msg = PQresultErrorMessage(r);
    const auto status = PQresultStatus(r);
    PQclear(r);
    PQfinish(c);
    ASSERT_EQ(status, PGRES_COMMAND_OK) << msg;
}

const char* kNames[] = {"りんご", "みかん", "ぶどう（巨峰）", "梨", "桃"};

struct BatchMoveTest : ::testing::Test {
    TempDir dir;
    std::filesystem::path cfg = dir.path() / "config" / "vemo32" / "engine.cfg";
    std::unique_ptr<Session> s;
    const std::vector<std::string> aliases{"DBF", "PDX", "LITE", "PG"};

    void SetUp() override {
        std::filesystem::create_directories(cfg.parent_path());
        std::filesystem::create_directories(dir / "dbf");
        std::filesystem::create_directories(dir / "pdx");
        std::filesystem::create_directories(dir / "problems");
        std::ofstream(cfg) << "# aliases\n";
        sqlite3* created = nullptr; // an empty database file for the SQLITE alias
        sqlite3_open((dir / "lite.sqlite").c_str(), &created);
        sqlite3_close(created);
        pgExec("DROP SCHEMA IF EXISTS bm CASCADE; CREATE SCHEMA bm");
        s = std::make_unique<Session>(cfg);
        registerBuiltinDrivers(*s);
        s->open();
        s->addAlias("DBF", "STANDARD", {"PATH=" + (dir / "dbf").string(), "DEFAULT DRIVER=DBASE"});
        s->addAlias("PDX", "STANDARD", {"PATH=" + (dir / "pdx").string(), "DEFAULT DRIVER=PARADOX"});
        s->addAlias("LITE", "SQLITE", {"DATABASE=" + (dir / "lite.sqlite").string()});
        s->addAlias("PG", "POSTGRESQL", {"SERVER NAME=" + env("PGHOST"), "PORT=" + env("PGPORT"), "DATABASE NAME=postgres",
                                         "USER NAME=postgres", "SCHEMA=bm", "SSLMODE=disable"});
        s->saveConfig();
        // The seed: a keyed Paradox table with Japanese text.
        FieldDef price = field("PRICE", FieldType::Float);
        IndexDef key;
        key.fields = "CODE";
        key.primary = key.unique = true;
        s->database("PDX").createTable("SEED", {field("CODE", FieldType::Integer, 0, true), field("NAME", FieldType::String, 20),
                                                price, field("DAY", FieldType::Date)},
                                       {key});
        auto c = s->openTable("PDX", "SEED", {});
        for (int i = 0; i < 5; ++i)
            c->insert({int64_t(i + 1), std::string(kNames[i]), 1.5 * (i + 1), Date{2024, 1, i + 1}});
    }

    BatchMoveResult move(const std::string& from, const std::string& fromTable, const std::string& to,
                         const std::string& toTable, BatchMode mode, std::vector<std::string> maps = {}) {
        BatchMoveSettings b;
        b.sourceAlias = from;
        b.sourceTable = fromTable;
        b.destinationAlias = to;
        b.destinationTable = toTable;
        b.mode = mode;
        b.mappings = std::move(maps);
        return runBatchMove(*s, b);
    }

    std::vector<std::string> names(const std::string& alias, const std::string& table) {
        auto c = s->openTable(alias, table, {});
        const int n = fieldIndexOf(c->fields(), "NAME");
        std::vector<std::string> out;
        for (auto& row : readAll(*c))
            out.push_back(valueToText(row[n], FieldType::String));
        std::sort(out.begin(), out.end());
        return out;
    }

    // The NAME column of a table as the format's own tool reads it, sorted.
    std::vector<std::string> peerNames(const std::string& alias, const std::string& table) {
        std::string text;
        if (alias == "LITE")
            text = shell("sqlite3 '" + (dir / "lite.sqlite").string() + "' 'SELECT NAME FROM \"" + table + "\"'");
        else if (alias == "PG")
            text = shell("psql -X -A -t -h '" + env("PGHOST") + "' -p " + env("PGPORT") +
                         " -U postgres postgres -c 'SELECT \"NAME\" FROM bm.\"" + table + "\"'");
        else if (alias == "DBF") {
            const std::string out = shell("/usr/bin/python3 " DBFREAD_SCRIPT " '" + (dir / "dbf" / (table + ".DBF")).string() + "'");
            std::istringstream in(out);
            std::string line, header;
            std::getline(in, header);
            const auto cols = header.substr(7);
            int nameAt = 0, i = 0;
            for (size_t p = 0, q; p <= cols.size(); p = q + 1, ++i) {
                q = cols.find('|', p);
                if (q == std::string::npos) q = cols.size();
                if (cols.compare(p, 5, "NAME:") == 0) nameAt = i;
            }
            while (std::getline(in, line)) {
                if (line.rfind("DELETED", 0) == 0) break;
                std::istringstream cells(line);
                std::string cell;
                for (int k = 0; k <= nameAt; ++k) std::getline(cells, cell, '|');
                text += cell + "\n";
            }
        } else {
            const auto t = pxpeer::read(dir / "pdx" / (table + ".DB"));
            int nameAt = 0;
            for (size_t i = 0; i < t.fields.size(); ++i)
                if (t.fields[i].name == "NAME") nameAt = int(i);
            for (const auto& r : t.rows) text += decodeText(r[nameAt].s, 932) + "\n";
        }
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) out.push_back(line);
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::string> seedNames() {
        std::vector<std::string> v(std::begin(kNames), std::end(kNames));
        std::sort(v.begin(), v.end());
        return v;
    }
};

} // namespace

TEST_F(BatchMoveTest, CopiesBetweenEveryPairOfDriversAreReadBackByEachFormatsTools) {
    for (const auto& a : aliases) {
        if (a != "PDX") {
            ASSERT_EQ(move("PDX", "SEED", a, "ITEMS", BatchMode::Copy).moved, 5) << a;
        }
    }
    ASSERT_EQ(move("PDX", "SEED", "PDX", "ITEMS", BatchMode::Copy).moved, 5);
    for (const auto& from : aliases)
        for (const auto& to : aliases) {
            SCOPED_TRACE(from + " -> " + to);
            const std::string table = "C_" + from;
            ASSERT_EQ(move(from, "ITEMS", to, table, BatchMode::Copy).moved, 5);
            EXPECT_EQ(names(to, table), seedNames());
            EXPECT_EQ(peerNames(to, table), seedNames());
            auto c = s->openTable(to, table, {});
            Row row;
            RowId id;
            c->setOrder("");
            ASSERT_TRUE(c->read(0, row, id));
            // Numbers and dates come through; a keyed source stays keyed where the format keys.
            bool sawPrice = false;
            for (size_t i = 0; i < c->fields().size(); ++i)
                if (sameName(c->fields()[i].name, "PRICE")) {
                    Value v;
                    sawPrice = true;
                    EXPECT_TRUE(convertValue(row[i], c->fields()[i].type, field("P", FieldType::Float), TableKind::Sqlite, v));
                }
            EXPECT_TRUE(sawPrice);
        }
    // Copying again replaces the table rather than adding to it.
    ASSERT_EQ(move("LITE", "ITEMS", "PG", "C_LITE", BatchMode::Copy).moved, 5);
    EXPECT_EQ(s->openTable("PG", "C_LITE", {})->count(), 5);
    // A copy into table files leaves no temporary table behind.
    for (const auto& e : std::filesystem::directory_iterator(dir / "pdx"))
        EXPECT_EQ(e.path().filename().string().find("VMTMP"), std::string::npos) << e.path();
}

TEST_F(BatchMoveTest, ModesOnKeyedDestinationsWithKeyViolationsAndChangedRecords) {
    // A source of changes: code 9 is new, code 2 exists with a new name.
    s->database("LITE").createTable("CHANGES", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 20)}, {});
    {
        auto c = s->openTable("LITE", "CHANGES", {});
        c->insert({int64_t(9), std::string("新しい果物")});
        c->insert({int64_t(2), std::string("温州みかん")});
    }
    const std::string changed = (dir / "problems" / "Changed.DB").string();
    const std::string keyViol = (dir / "problems" / "KeyViol.DB").string();
    for (const std::string to : {"PDX", "LITE", "PG"}) {
        SCOPED_TRACE(to);
        auto reset = [&] { ASSERT_EQ(move("PDX", "SEED", to, "FRUIT", BatchMode::Copy).moved, 5); };
        BatchMoveSettings b;
        b.sourceAlias = "LITE";
        b.sourceTable = "CHANGES";
        b.destinationAlias = to;
        b.destinationTable = "FRUIT";
        b.changedTableName = changed;
        b.keyViolTableName = keyViol;

        reset();
        b.mode = BatchMode::Append;
        auto r = runBatchMove(*s, b);
        EXPECT_EQ(r.moved, 1);
        EXPECT_EQ(r.keyViolations, 1);
        EXPECT_EQ(names(to, "FRUIT").size(), 6u);
        auto kv = pxpeer::read(keyViol);
        ASSERT_EQ(kv.rows.size(), 1u);
        EXPECT_EQ(kv.rows[0][0].l, 2);
        EXPECT_EQ(decodeText(kv.rows[0][1].s, 932), "温州みかん");

        // With abort the move stops at the violation; a server destination keeps nothing of it.
        reset();
        b.abortOnKeyViol = true;
        EXPECT_EQ(errorCodeOf([&] { runBatchMove(*s, b); }), ErrKeyViolation);
        b.abortOnKeyViol = false;
        if (to != "PDX") {
            EXPECT_EQ(names(to, "FRUIT"), seedNames());
        }

        reset();
        b.mode = BatchMode::Update;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.changed, 1);
        auto n = names(to, "FRUIT");
        EXPECT_EQ(n.size(), 5u);
        EXPECT_NE(std::find(n.begin(), n.end(), "温州みかん"), n.end());
        auto ch = pxpeer::read(changed);
        ASSERT_EQ(ch.rows.size(), 1u);
        EXPECT_EQ(decodeText(ch.rows[0][1].s, 932), "みかん");
        EXPECT_EQ(ch.fields.size(), 4u); // the destination's fields, as they were

        reset();
        b.mode = BatchMode::AppendUpdate;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.moved, 2);
        EXPECT_EQ(r.changed, 1);
        n = names(to, "FRUIT");
        EXPECT_EQ(n.size(), 6u);
        EXPECT_NE(std::find(n.begin(), n.end(), "新しい果物"), n.end());

        reset();
        b.mode = BatchMode::Delete;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.moved, 1);
        n = names(to, "FRUIT");
        EXPECT_EQ(n.size(), 4u);
        EXPECT_EQ(std::find(n.begin(), n.end(), "みかん"), n.end());
        EXPECT_EQ(decodeText(pxpeer::read(changed).rows.at(0)[1].s, 932), "みかん");
    }
}

TEST_F(BatchMoveTest, ValuesThatDoNotFitGoToTheProblemTableAndMappingsAreCheckedFirst) {
    s->database("LITE").createTable("WIDE", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 40)}, {});
    {
        auto c = s->openTable("LITE", "WIDE", {});
        c->insert({int64_t(1), std::string("短い")});
        c->insert({int64_t(70000), std::string("小")});                    // out of a small integer's range
        c->insert({int64_t(3), std::string("とても長い名前のくだもの")});    // 24 bytes in code page 932
    }
    const std::string problems = (dir / "problems" / "Problem.DB").string();
    for (const std::string to : {"DBF", "PDX", "LITE", "PG"}) {
        SCOPED_TRACE(to);
        // A small integer; in dBASE a numeric field of four digits.
        FieldDef id = field("ID", FieldType::Smallint);
        if (to == "DBF") {
            id.nativeType = "N";
            id.precision = 4;
        }
        auto create = [&] {
            s->database(to).createTable("NARROW", {id, field("NAME", FieldType::String, to == "LITE" || to == "PG" ? 5 : 10)}, {});
        };
        create();
        BatchMoveSettings b;
        b.sourceAlias = "LITE";
        b.sourceTable = "WIDE";
        b.destinationAlias = to;
        b.destinationTable = "NARROW";
        b.mode = BatchMode::Append;
        b.problemTableName = problems;

        b.mappings = {"ID = CODE", "NAME = NOSUCH"};
        EXPECT_EQ(errorCodeOf([&] { runBatchMove(*s, b); }), ErrNotFound);
        EXPECT_EQ(s->openTable(to, "NARROW", {})->count(), 0);
        EXPECT_FALSE(std::filesystem::exists(problems));

        b.mappings = {"ID = CODE", "NAME"};
        b.abortOnProblem = true;
        EXPECT_EQ(errorCodeOf([&] { runBatchMove(*s, b); }), ErrConvert);
        b.abortOnProblem = false;
        // Nothing of the aborted move is kept: a server rolls back, a file table its batch.
        EXPECT_EQ(s->openTable(to, "NARROW", {})->count(), 0);
        s->database(to).deleteTable("NARROW");
        create();
        const auto r = runBatchMove(*s, b);
        EXPECT_EQ(r.problems, 2);
        EXPECT_EQ(names(to, "NARROW"), (std::vector<std::string>{"短い"}) );
        auto p = pxpeer::read(problems);
        ASSERT_EQ(p.rows.size(), 2u);
        EXPECT_EQ(p.rows[0][0].l, 70000);
        EXPECT_EQ(decodeText(p.rows[1][1].s, 932), "とても長い名前のくだもの");
        std::filesystem::remove(problems);
        s->database(to).deleteTable("NARROW");
    }
    EXPECT_EQ(errorCodeOf([&] { move("LITE", "WIDE", "LITE", "wide", BatchMode::Append); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { move("LITE", "", "PG", "X", BatchMode::Copy); }), ErrInvalidParam);
}

TEST_F(BatchMoveTest, AMoveKilledHalfWayLeavesTheDestinationAsItWas) {
    s->database("LITE").createTable("MANY", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 20)}, {});
    {
        auto c = s->openTable("LITE", "MANY", {});
        s->database("LITE").beginWork();
        for (int i = 0; i < 3000; ++i)
            c->insert({int64_t(100 + i), "レコード" + std::to_string(i)});
        s->database("LITE").commitWork();
    }
    for (const auto& to : std::vector<std::string>{"LITE", "PG", "PDX", "DBF"}) {
        SCOPED_TRACE(to);
        ASSERT_EQ(move("PDX", "SEED", to, "KEEP", BatchMode::Copy).moved, 5);
        for (const BatchMode mode : {BatchMode::Append, BatchMode::Copy}) {
            s->close(); // the child opens its own connections
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                Session own(cfg);
                registerBuiltinDrivers(own);
                own.open();
                BatchMoveSettings b;
                b.sourceAlias = "LITE";
                b.sourceTable = "MANY";
                b.destinationAlias = to;
                b.destinationTable = "KEEP";
                b.mode = mode;
                b.mappings = {"CODE", "NAME"};
                runBatchMove(own, b, [](int, const ProgressRecord& r) {
                    if (progressPosition(r) >= 2000)
                        raise(SIGKILL);
                    return kProgressContinue;
                });
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            s->open();
            EXPECT_EQ(names(to, "KEEP"), seedNames());
            EXPECT_EQ(peerNames(to, "KEEP"), seedNames());
        }
        // The temporary table the killed copy was building goes with the next copy.
        if (to == "PDX" || to == "DBF") {
            EXPECT_FALSE(s->database(to).tableNames("VMTMP*", false, false).empty());
            ASSERT_EQ(move("PDX", "SEED", to, "KEEP", BatchMode::Copy).moved, 5);
            EXPECT_TRUE(s->database(to).tableNames("VMTMP*", false, false).empty());
        }
    }
}

#ifdef VEMO_TOOL_PATH
TEST_F(BatchMoveTest, TheToolMovesTablesAndReportsWhatHappened) {
    auto tool = [&](const std::string& args, int* status = nullptr) {
        const std::string cmd = "XDG_CONFIG_HOME='" + (dir / "config").string() + "' XDG_DATA_HOME='" +
                                (dir / "data").string() + "' '" VEMO_TOOL_PATH "' " + args + " </dev/null";
        std::string out;
        FILE* p = popen((cmd + " 2>&1").c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        const int rc = pclose(p);
        if (status)
            *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return out;
    };
    s->close(); // the tool works on the saved configuration
    int status = 0;
    EXPECT_EQ(tool("copy PDX SEED DBF ITEMS --mode copy", &status), "moved 5, changed 0, key violations 0, problems 0\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tool("copy DBF ITEMS PG ITEMS --mode copy --map 'CODE' --map 'LABEL = NAME'", &status),
              "moved 5, changed 0, key violations 0, problems 0\n");
    const std::string labels = shell("psql -X -A -t -h '" + env("PGHOST") + "' -p " + env("PGPORT") +
                                     " -U postgres postgres -c 'SELECT \"LABEL\" FROM bm.\"ITEMS\" ORDER BY \"CODE\"'");
    EXPECT_EQ(labels, "りんご\nみかん\nぶどう（巨峰）\n梨\n桃\n");
    EXPECT_EQ(tool("copy PG ITEMS LITE ITEMS --mode copy", &status), "moved 5, changed 0, key violations 0, problems 0\n");
    EXPECT_EQ(shell("sqlite3 '" + (dir / "lite.sqlite").string() + "' 'SELECT COUNT(*) FROM ITEMS'"), "5\n");

    // An unknown field is refused before anything is written.
    const std::string refused = tool("copy PDX SEED LITE ITEMS --mode append --map 'CODE = NOSUCH'", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(refused.find("NOSUCH"), std::string::npos) << refused;
    EXPECT_EQ(shell("sqlite3 '" + (dir / "lite.sqlite").string() + "' 'SELECT COUNT(*) FROM ITEMS'"), "5\n");

    // Appending the seed again into the keyed Paradox copy: every record breaks the key.
    tool("copy PDX SEED PDX AGAIN --mode copy");
    EXPECT_EQ(tool("copy DBF ITEMS PDX AGAIN --mode append --problem-tables '" + (dir / "problems").string() + "'", &status),
              "moved 0, changed 0, key violations 5, problems 0\n");
    EXPECT_EQ(pxpeer::read(dir / "problems" / "KeyViol.DB").rows.size(), 5u);
    tool("copy LITE ITEMS PDX AGAIN --mode delete", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pxpeer::read(dir / "pdx" / "AGAIN.DB").rows.size(), 0u);
    tool("copy LITE ITEMS PDX AGAIN --mode sideways", &status);
    EXPECT_EQ(status, 2);
}
#endif

TEST_F(BatchMoveTest, UpdateAndDeleteFindDestinationRecordsThroughADbaseIndex) {
    s->database("LITE").createTable("CHANGES", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 20)}, {});
    {
        auto c = s->openTable("LITE", "CHANGES", {});
        c->insert({int64_t(9), std::string("新しい果物")});
        c->insert({int64_t(2), std::string("温州みかん")});
        c->insert({int64_t(4), std::string("洋梨")});
    }
    const std::string changed = (dir / "problems" / "Changed.DB").string();
    FieldDef code = field("CODE", FieldType::Integer);
    code.nativeType = "N";
    code.precision = 6;
    IndexDef byCode;
    byCode.name = "CODE";
    byCode.fields = "CODE";
    auto reset = [&] {
        if (std::filesystem::exists(dir / "dbf" / "FRUIT.DBF"))
            s->database("DBF").deleteTable("FRUIT");
        s->database("DBF").createTable("FRUIT", {code, field("NAME", FieldType::String, 20)}, {byCode});
        ASSERT_EQ(move("PDX", "SEED", "DBF", "FRUIT", BatchMode::Append, {"CODE", "NAME"}).moved, 5);
    };
    BatchMoveSettings b;
    b.sourceAlias = "LITE";
    b.sourceTable = "CHANGES";
    b.destinationAlias = "DBF";
    b.destinationTable = "FRUIT";
    b.destinationIndex = "CODE";
    b.changedTableName = changed;

    reset();
    b.mode = BatchMode::Update;
    auto r = runBatchMove(*s, b);
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(peerNames("DBF", "FRUIT"), (std::vector<std::string>{"ぶどう（巨峰）", "りんご", "桃", "洋梨", "温州みかん"}));
    auto ch = pxpeer::read(changed);
    ASSERT_EQ(ch.rows.size(), 2u);
    EXPECT_EQ(decodeText(ch.rows[0][1].s, 932), "みかん");
    EXPECT_EQ(decodeText(ch.rows[1][1].s, 932), "梨");

    reset();
    b.mode = BatchMode::AppendUpdate;
    r = runBatchMove(*s, b);
    EXPECT_EQ(r.moved, 3);
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(peerNames("DBF", "FRUIT").size(), 6u);
    // The record appended is found through the index the next time.
    b.mode = BatchMode::Delete;
    r = runBatchMove(*s, b);
    EXPECT_EQ(r.moved, 3);
    EXPECT_EQ(peerNames("DBF", "FRUIT"), (std::vector<std::string>{"ぶどう（巨峰）", "りんご", "桃"}));
    ch = pxpeer::read(changed);
    ASSERT_EQ(ch.rows.size(), 3u);
    EXPECT_EQ(decodeText(ch.rows[0][1].s, 932), "新しい果物");

    // The index walks in order and agrees with the records after the writes.
    auto c = s->openTable("DBF", "FRUIT", {});
    c->setOrder("CODE");
    std::vector<int64_t> codes;
    for (auto& row : readAll(*c))
        codes.push_back(std::get<int64_t>(row[0]));
    EXPECT_EQ(codes, (std::vector<int64_t>{1, 3, 5}));
    c.reset();

    // An index with a condition holds only some records: it is never chosen by itself, and
    // named, it is refused rather than miss the records outside it.
    IndexDef high = byCode;
    high.name = "HIGH";
    high.condition = "CODE>3";
    s->database("DBF").deleteTable("FRUIT");
    s->database("DBF").createTable("FRUIT", {code, field("NAME", FieldType::String, 20)}, {high, byCode});
    ASSERT_EQ(move("PDX", "SEED", "DBF", "FRUIT", BatchMode::Append, {"CODE", "NAME"}).moved, 5);
    b.mode = BatchMode::Update;
    b.destinationIndex = "HIGH";
    EXPECT_EQ(errorCodeOf([&] { runBatchMove(*s, b); }), ErrNotSupported);
    b.destinationIndex.clear();
    r = runBatchMove(*s, b);
    EXPECT_EQ(r.changed, 2) << "the record under 2, outside HIGH, is found through CODE";
    EXPECT_EQ(peerNames("DBF", "FRUIT").size(), 5u);
}

TEST_F(BatchMoveTest, ServerDestinationsAreSearchedByKeyNotHeldInMemory) {
    ASSERT_EQ(move("PDX", "SEED", "PG", "FRUIT", BatchMode::Copy).moved, 5);
    ASSERT_EQ(move("PDX", "SEED", "LITE", "FRUIT", BatchMode::Copy).moved, 5);
    // A SQLite table without a primary key, keyed by a unique index: records named by rowid.
    IndexDef byName;
    byName.name = "BYNAME";
    byName.fields = "NAME";
    byName.unique = true;
    s->database("LITE").createTable("LOOSE", {field("NAME", FieldType::String, 20), field("QTY", FieldType::Integer)}, {byName});
    {
        auto c = s->openTable("LITE", "LOOSE", {});
        c->insert({std::string("梨"), int64_t(1)});
        c->insert({std::string("O'Neil \"x\""), int64_t(2)});
        c->insert({Value{}, int64_t(3)});
    }
    for (const std::string to : {"PG", "LITE"}) {
        SCOPED_TRACE(to);
        std::string name;
        Database& db = s->databaseFor(to, "fruit", name); // a name in another case still finds the table
        auto cursor = db.openTable(name, {});
        const auto& f = cursor->fields();
        const int codeAt = fieldIndexOf(f, "CODE"), nameAt = fieldIndexOf(f, "NAME");
        IndexDef key;
        for (const auto& ix : cursor->indexes())
            if (ix.primary) key = ix;
        ASSERT_TRUE(key.primary);
        KeyLookup lookup(db, *cursor, to == "PG" ? TableKind::Postgres : TableKind::Sqlite, name, key, {codeAt});
        Row probe(f.size());
        probe[codeAt] = int64_t(3);
        auto m = lookup.find(probe);
        EXPECT_EQ(lookup.way(), KeyLookup::Way::Query);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(std::get<std::string>(m->row[nameAt]), "ぶどう（巨峰）");
        // The identity found writes the record.
        Row after = m->row;
        after[nameAt] = std::string("マスカット");
        cursor->update(m->id, m->row, after);
        EXPECT_EQ(std::get<std::string>(lookup.find(probe)->row[nameAt]), "マスカット");
        probe[codeAt] = int64_t(42);
        EXPECT_FALSE(lookup.find(probe).has_value());
    }
    auto cursor = s->openTable("LITE", "LOOSE", {});
    KeyLookup lookup(s->database("LITE"), *cursor, TableKind::Sqlite, "LOOSE", byName, {0});
    for (const Value& v : {Value(std::string("O'Neil \"x\"")), Value{}}) {
        auto m = lookup.find({v, Value{}});
        ASSERT_TRUE(m.has_value());
        cursor->remove(m->id, m->row);
    }
    EXPECT_EQ(lookup.way(), KeyLookup::Way::Query);
    EXPECT_EQ(names("LITE", "LOOSE"), (std::vector<std::string>{"梨"}));
}

TEST_F(BatchMoveTest, ViolationsInsideLongMovesIntoServersAreFoundOnceAndTheRestIsWritten) {
    // 600 source records: more than one chunk of the keys looked up and written together.
    const int n = 600;
    s->database("LITE").createTable("MANY", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 20)}, {});
    {
        auto c = s->openTable("LITE", "MANY", {});
        s->database("LITE").beginWork();
        for (int i = 1; i <= n; ++i)
            c->insert({int64_t(i), std::string("新" + std::to_string(i))});
        c->insert({int64_t(1000), std::string("一度目")}); // the same new key twice
        c->insert({int64_t(1000), std::string("二度目")});
        s->database("LITE").commitWork();
    }
    // NAME is unique in the destination: code 400 is given the name code 599 still has.
    { auto c = s->openTable("LITE", "MANY", {}); c->update(RowId{400, {}}, {int64_t(400), std::string("新400")}, {int64_t(400), std::string("旧599")}); }
    const std::string changed = (dir / "problems" / "Changed.DB").string();
    const std::string keyViol = (dir / "problems" / "KeyViol.DB").string();
    IndexDef key, unique;
    key.primary = key.unique = true;
    key.fields = "CODE";
    unique.name = "BYNAME";
    unique.fields = "NAME";
    unique.unique = true;
    for (const std::string to : {"LITE", "PG"}) {
        SCOPED_TRACE(to);
        auto fill = [&](int upTo) {
            std::string name;
            Database& db = s->databaseFor(to, "DEST", name);
            try { db.deleteTable("DEST"); } catch (const EngineError&) {}
            db.createTable("DEST", {field("CODE", FieldType::Integer, 0, true), field("NAME", FieldType::String, 20)}, {key, unique});
            auto c = db.openTable("DEST", {});
            db.beginWork();
            for (int i = 1; i <= upTo; ++i)
                c->insert({int64_t(i), std::string("旧" + std::to_string(i))});
            db.commitWork();
        };
        auto destination = [&] {
            std::map<int64_t, std::string> out;
            for (auto& row : readAll(*s->openTable(to, "DEST", {})))
                out[std::get<int64_t>(row[0])] = std::get<std::string>(row[1]);
            return out;
        };
        BatchMoveSettings b;
        b.sourceAlias = "LITE";
        b.sourceTable = "MANY";
        b.destinationAlias = to;
        b.destinationTable = "DEST";
        b.changedTableName = changed;
        b.keyViolTableName = keyViol;

        // Update: every record but code 400 rewritten, the Changed table holding each old
        // record once, the one violation once in KeyViol.
        fill(n);
        b.mode = BatchMode::Update;
        auto r = runBatchMove(*s, b);
        EXPECT_EQ(r.read, n + 2);
        EXPECT_EQ(r.changed, n - 1);
        EXPECT_EQ(r.keyViolations, 1);
        auto d = destination();
        EXPECT_EQ(d.size(), size_t(n));
        EXPECT_EQ(d[400], "旧400");
        EXPECT_EQ(d[399], "新399");
        EXPECT_EQ(d[401], "新401");
        EXPECT_EQ(d[599], "新599");
        auto ch = pxpeer::read(changed);
        ASSERT_EQ(ch.rows.size(), size_t(n - 1));
        std::set<int64_t> codes;
        for (const auto& row : ch.rows) {
            codes.insert(row[0].l);
            EXPECT_EQ(decodeText(row[1].s, 932), "旧" + std::to_string(row[0].l));
        }
        EXPECT_EQ(codes.size(), size_t(n - 1));
        EXPECT_EQ(codes.count(400), 0u);
        auto kv = pxpeer::read(keyViol);
        ASSERT_EQ(kv.rows.size(), 1u);
        EXPECT_EQ(kv.rows[0][0].l, 400);

        // Append and update into a half-filled table: the key new to it that comes twice is
        // inserted by the first record and updated by the second.
        fill(n / 2);
        b.mode = BatchMode::AppendUpdate;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.keyViolations, 0);
        EXPECT_EQ(r.moved, n + 2);
        EXPECT_EQ(r.changed, n / 2 + 1);
        d = destination();
        EXPECT_EQ(d.size(), size_t(n + 1));
        EXPECT_EQ(d[1000], "二度目");
        EXPECT_EQ(d[400], "旧599");
        EXPECT_EQ(d[600], "新600");

        // Append with abort: the violation (key 1..300 already there) stops the move and the
        // destination keeps nothing of it; without abort every other record goes in.
        fill(n / 2);
        b.mode = BatchMode::Append;
        b.abortOnKeyViol = true;
        EXPECT_EQ(errorCodeOf([&] { runBatchMove(*s, b); }), ErrKeyViolation);
        EXPECT_EQ(destination().size(), size_t(n / 2));
        kv = pxpeer::read(keyViol); // the record that stopped it is there to see
        ASSERT_EQ(kv.rows.size(), 1u);
        EXPECT_EQ(kv.rows[0][0].l, 1);
        b.abortOnKeyViol = false;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.keyViolations, n / 2 + 1); // codes 1..300, and 1000 the second time
        EXPECT_EQ(r.moved, n / 2 + 1);
        EXPECT_EQ(destination().size(), size_t(n + 1));
        EXPECT_EQ(pxpeer::read(keyViol).rows.size(), size_t(n / 2 + 1));

        // Delete: every record of a source key goes, once.
        fill(n);
        b.mode = BatchMode::Delete;
        r = runBatchMove(*s, b);
        EXPECT_EQ(r.moved, n);
        EXPECT_TRUE(destination().empty());
        EXPECT_EQ(pxpeer::read(changed).rows.size(), size_t(n));
    }
}

TEST_F(BatchMoveTest, KeysTheServerComparesOtherwiseThanTheirTextAreStillFound) {
    // A column compared without regard to case: the records' keys in the source are
    // spelled otherwise than in the destination.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "lite.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE NOCASE (CODE VARCHAR(10) PRIMARY KEY COLLATE NOCASE, NAME VARCHAR(20));"
                           "INSERT INTO NOCASE VALUES ('abc', '旧'), ('def', '旧'), ('ghi', '旧');"
                           "CREATE TABLE UPPER (CODE VARCHAR(10), NAME VARCHAR(20));"
                           "INSERT INTO UPPER VALUES ('ABC', '新'), ('def', '新'), ('XYZ', '新');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    BatchMoveSettings b;
    b.sourceAlias = b.destinationAlias = "LITE";
    b.sourceTable = "UPPER";
    b.destinationTable = "NOCASE";
    b.mode = BatchMode::AppendUpdate;
    auto r = runBatchMove(*s, b);
    EXPECT_EQ(r.keyViolations, 0);
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(shell("sqlite3 '" + (dir / "lite.sqlite").string() + "' 'SELECT CODE, NAME FROM NOCASE ORDER BY CODE'"),
              "ABC|新\ndef|新\nghi|旧\nXYZ|新\n");
}

TEST_F(BatchMoveTest, TextThatCopyStreamsMustEscapeArrivesUnchanged) {
    // A table without a key goes to the server as one COPY stream, where backslashes, tabs
    // and line ends in values would otherwise end fields and lines.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "lite.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE ODD (N INTEGER, T VARCHAR(40), D NUMERIC(8,2));"
                           "INSERT INTO ODD VALUES (1, 'a' || char(9) || 'b', 1.25), (2, 'c\\d\\', -3.5),"
                           " (3, '行1' || char(10) || '行2' || char(13), NULL), (-4, NULL, 0), (5, '\\N', 2);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(move("LITE", "ODD", "PG", "ODD", BatchMode::Copy).moved, 5);
    const auto query = dir / "odd.sql";
    std::ofstream(query) << "SELECT \"N\", replace(replace(replace(\"T\", E'\\t', '<t>'), E'\\n', '<n>'), E'\\r', '<r>'),"
                            " \"T\" IS NULL, \"D\" FROM bm.\"ODD\" ORDER BY 1;\n";
    EXPECT_EQ(shell("psql -X -A -t -h '" + env("PGHOST") + "' -p " + env("PGPORT") + " -U postgres postgres -f '" +
                    query.string() + "'"),
              "-4||t|0.00\n1|a<t>b|f|1.25\n2|c\\d\\|f|-3.50\n3|行1<n>行2<r>|f|\n5|\\N|f|2.00\n");
}

TEST_F(BatchMoveTest, ACopyClearsTemporaryTablesThatAKilledCopyLeftBehind) {
    s->database("PDX").createTable("VMTMP123", {field("A", FieldType::Integer)}, {});
    s->database("PDX").createTable("VMTMP77", {field("A", FieldType::Integer)}, {});
    s->database("PDX").createTable("VMTMPX", {field("A", FieldType::Integer)}, {}); // not a name a copy makes
    {
        auto held = s->openTable("PDX", "VMTMP77", {}); // as a copy at work holds its table
        ASSERT_EQ(move("PDX", "SEED", "PDX", "COPY", BatchMode::Copy).moved, 5);
    }
    auto left = s->database("PDX").tableNames("VMTMP*", false, false);
    EXPECT_EQ(left, (std::vector<std::string>{"VMTMP77", "VMTMPX"}));
    EXPECT_EQ(peerNames("PDX", "COPY"), seedNames());
}

namespace {
// A real table's cursor whose reads fail from one record on, as a disk error would.
struct FailingCursor : Cursor {
    Cursor& inner;
    int64_t failAt;
    FailingCursor(Cursor& c, int64_t at) : inner(c), failAt(at) {}
    const std::vector<FieldDef>& fields() const override { return inner.fields(); }
    std::vector<IndexDef> indexes() const override { return inner.indexes(); }
    void setOrder(const std::string& n) override { inner.setOrder(n); }
    int64_t count() override { return inner.count(); }
    bool read(int64_t pos, Row& row, RowId& id) override {
        if (pos >= failAt)
            throw EngineError(ErrIO, "読み込みに失敗しました。");
        return inner.read(pos, row, id);
    }
    int64_t positionOf(const RowId& id) override { return inner.positionOf(id); }
    RowId insert(const Row& v) override { return inner.insert(v); }
    void update(const RowId& id, const Row& b, const Row& a) override { inner.update(id, b, a); }
    void remove(const RowId& id, const Row& b) override { inner.remove(id, b); }
};
} // namespace

TEST_F(BatchMoveTest, ReadingAheadKeepsOrderStopsWhenAskedAndPassesFailuresOn) {
    s->database("LITE").createTable("SEQ", {field("N", FieldType::Integer)}, {});
    {
        auto c = s->openTable("LITE", "SEQ", {});
        s->database("LITE").beginWork();
        for (int i = 0; i < 2000; ++i)
            c->insert({int64_t(i)});
        s->database("LITE").commitWork();
    }
    auto c = s->openTable("LITE", "SEQ", {});
    std::vector<int64_t> seen;
    // Chunks that do not divide the table: every record once, in order.
    EXPECT_TRUE(scanAhead(*c, [&](const Row& r) { seen.push_back(std::get<int64_t>(r[0])); return true; }, 7, 2));
    ASSERT_EQ(seen.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(seen[i], i);
    seen.clear();
    EXPECT_FALSE(scanAhead(*c, [&](const Row& r) { seen.push_back(std::get<int64_t>(r[0])); return seen.size() < 1000; }, 64, 3));
    EXPECT_EQ(seen.size(), 1000u);
    // Work done on the reading thread reaches each record with it, in buffers reused from
    // chunk to chunk: a row shorter than the one before keeps nothing of it.
    size_t wrong = 0;
    EXPECT_TRUE(scanAhead(
        *c,
        [](const Row& r, Row& prepared) {
            const int64_t n = std::get<int64_t>(r[0]);
            prepared.assign(static_cast<size_t>(n % 3 + 1), Value(n * 2));
            return static_cast<int>(n % 5);
        },
        [&](const Row& r, const Row& prepared, int note) {
            const int64_t n = std::get<int64_t>(r[0]);
            wrong += prepared.size() != static_cast<size_t>(n % 3 + 1) || prepared.back() != Value(n * 2) || note != n % 5;
            return true;
        },
        5, 2));
    EXPECT_EQ(wrong, 0u);
    // A failure of the writing side stops the reader and comes out as it was thrown.
    EXPECT_EQ(errorCodeOf([&] {
                  scanAhead(*c, [&](const Row& r) {
                      if (std::get<int64_t>(r[0]) == 1500) throw EngineError(ErrKeyViolation, "x");
                      return true;
                  }, 16, 2);
              }),
              ErrKeyViolation);
    // A failure of the reading side comes out after records read before it, none twice or out of order.
    FailingCursor failing(*c, 1234);
    seen.clear();
    EXPECT_EQ(errorCodeOf([&] { scanAhead(failing, [&](const Row& r) { seen.push_back(std::get<int64_t>(r[0])); return true; }, 100, 2); }),
              ErrIO);
    ASSERT_LE(seen.size(), 1234u);
    for (size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], int64_t(i));
}
