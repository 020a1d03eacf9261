// The query dataset on SQLITE and POSTGRESQL aliases: parameters bound by type at every
// occurrence, result sets browsed like tables, statements run for their effect.
#include "SqlTestSupport.h"

#include "engine/dataset/Query.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"

#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>

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

struct QueryTest : ::testing::TestWithParam<const char*> {
    TempDir dir;
    std::unique_ptr<Session> s;
    void SetUp() override {
        const auto cfg = dir.path() / "config" / "vemo32" / "engine.cfg";
        std::filesystem::create_directories(cfg.parent_path());
        std::ofstream(cfg) << "# aliases\n";
        s = std::make_unique<Session>(cfg);
        registerBuiltinDrivers(*s);
        s->open();
        const std::string create =
            "CREATE TABLE items (id integer PRIMARY KEY, name varchar(20), price numeric(10,2), d date, flag boolean)";
        const std::string fill = "INSERT INTO items VALUES (1, 'りんご', 12.50, '2001-04-01', true),"
                                 " (2, 'みかん', 100.00, '1999-12-31', false), (3, 'a:b', NULL, NULL, NULL),"
                                 " (4, 'ぶどう', 0.25, '2024-02-29', true)";
        if (std::string(GetParam()) == "LITE") {
            std::ofstream(dir.path() / "q.sqlite"); // an empty file is an empty database
            s->addAlias("LITE", "SQLITE", {"DATABASE=" + (dir.path() / "q.sqlite").string()});
            s->database("LITE").executeSql(create, {});
            s->database("LITE").executeSql(fill, {});
        } else {
            rawExec("DROP SCHEMA IF EXISTS \"q ds\" CASCADE; CREATE SCHEMA \"q ds\"; SET search_path = \"q ds\"; " + create + "; " +
                    fill);
            s->addAlias("PGX", "POSTGRESQL",
                        {"SERVER NAME=" + env("PGHOST"), "PORT=" + env("PGPORT"), "DATABASE NAME=postgres",
                         "USER NAME=postgres", "SCHEMA=q ds", "SSLMODE=disable"});
        }
    }
    std::unique_ptr<Query> query(const std::string& sql) {
        auto q = std::make_unique<Query>(*s);
        q->setDatabaseName(GetParam());
        q->setSql(sql);
        return q;
    }
    // The items table as the server's own client reads it, one "id|name|price" line a row.
    std::string peer(const std::string& select) {
        std::string cmd = std::string(GetParam()) == "LITE"
                              ? "sqlite3 '" + (dir.path() / "q.sqlite").string() + "' \"" + select + "\""
                              : "psql -X -A -t -h '" + env("PGHOST") + "' -p " + env("PGPORT") +
                                    " -U postgres postgres -c 'SET search_path = \"q ds\"' -c \"" + select + "\"";
        std::string out;
        FILE* p = popen((cmd + " 2>&1").c_str(), "r");
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        pclose(p);
        if (std::string(GetParam()) != "LITE" && out.rfind("SET\n", 0) == 0)
            out.erase(0, 4);
        return out;
    }
    std::vector<std::string> column(Query& q, int field) {
        std::vector<std::string> out;
        for (q.first(); !q.eof(); q.next())
            out.push_back(q.fieldText(field));
        return out;
    }
};

using V = std::vector<std::string>;

} // namespace

TEST_P(QueryTest, ParametersBindByTypeAtEveryOccurrence) {
    auto q = query("SELECT id, name, price FROM items WHERE (id >= :LO AND id <= :HI) OR id = :LO - 1\n"
                   "  OR name = :\"the name\" ORDER BY id");
    ASSERT_EQ(q->paramCount(), 4);
    EXPECT_EQ(q->param(0).name, "LO");
    EXPECT_EQ(q->param(2).name, "LO");
    EXPECT_EQ(q->param(3).name, "the name");
    q->setParamInteger("lo", 3); // found ignoring case when no name matches exactly
    q->setParamInteger("HI", 3);
    q->setParamText("the name", "りんご");
    q->open();
    EXPECT_EQ(q->recordCount(), 3);
    EXPECT_EQ(column(*q, 0), (V{"1", "2", "3"}));
    // The shortest decimal text on every driver.
    EXPECT_EQ(column(*q, 2), (V{"12.5", "100", ""}));

    // A value left unbound stops the open with the parameter's name.
    auto unbound = query("SELECT * FROM items WHERE id = :A OR id = :B");
    unbound->setParamInteger("A", 1);
    try {
        unbound->open();
        ADD_FAILURE() << "opened with an unbound parameter";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrInvalidParam);
        EXPECT_NE(std::string(e.what()).find("B"), std::string::npos);
    }
    EXPECT_FALSE(unbound->isOpen());
    EXPECT_EQ(errorCodeOf([&] { unbound->setParamInteger("C", 1); }), ErrNotFound);
}

TEST_P(QueryTest, DatesBooleansFloatsAndCurrency) {
    auto q = query("SELECT id FROM items WHERE d = :D OR (flag = :F AND price > :P) OR price = :M ORDER BY id");
    q->setParamDate("D", Date{1999, 12, 31});
    q->setParamBoolean("F", true);
    q->setParamFloat("P", 1.0);
    q->setParamCurrency("M", 0.25);
    q->open();
    EXPECT_EQ(column(*q, 0), (V{"1", "2", "4"}));
    // Changing the text closes the result; values bound to names still in the text stay.
    q->setSql("SELECT count(*) FROM items WHERE flag = :F");
    EXPECT_FALSE(q->isOpen());
    q->open();
    EXPECT_EQ(q->fieldText(0), "2");
}

TEST_P(QueryTest, ResultIsReadOnlyUnlessLiveIsRequestedAndBrowsesLikeATable) {
    auto q = query("SELECT id, name FROM items WHERE name <> ':x' ORDER BY id DESC");
    q->open();
    EXPECT_FALSE(q->isLive());
    EXPECT_FALSE(q->canModify());
    EXPECT_NE(errorCodeOf([&] { q->edit(); }), 0);
    EXPECT_EQ(q->recordCount(), 4);
    q->last();
    EXPECT_EQ(q->fieldText(0), "1");
    q->prior();
    EXPECT_EQ(q->fieldText(1), "みかん");
    q->moveTo(0);
    EXPECT_EQ(q->fieldText(1), "ぶどう");
    Row row;
    ASSERT_TRUE(q->rowAt(1, row));
    EXPECT_EQ(valueToText(row[0], FieldType::Integer), "3");
    EXPECT_FALSE(q->rowAt(4, row));
    EXPECT_EQ(q->recNo(), 0); // random access leaves the current record alone
}

TEST_P(QueryTest, StatementsRunForTheirEffect) {
    auto q = query("UPDATE items SET price = :P WHERE id IN (:A, :B)");
    q->setParamCurrency("P", 7.5);
    q->setParamInteger("A", 1);
    q->setParamInteger("B", 2);
    EXPECT_EQ(q->execSql(), 2);
    auto check = query("SELECT price FROM items WHERE price = :P");
    check->setParamFloat("P", 7.5);
    check->open();
    EXPECT_EQ(check->recordCount(), 2);
    EXPECT_EQ(check->fieldText(0), "7.5");
    // A failing statement raises the server's error and changes nothing.
    auto bad = query("UPDATE items SET id = 1 WHERE id = :A");
    bad->setParamInteger("A", 2);
    EXPECT_NE(errorCodeOf([&] { bad->execSql(); }), 0);
    check->close();
    check->open();
    EXPECT_EQ(check->recordCount(), 2);
}

TEST_P(QueryTest, LargeResultsOpenWithoutReadingEverything) {
    const std::string sql = std::string(GetParam()) == "LITE"
                                ? "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < :N) SELECT i FROM k"
                                : "SELECT i FROM generate_series(1, :N) i";
    auto q = query(sql);
    q->setParamInteger("N", 100000);
    q->open();
    EXPECT_EQ(q->fieldText(0), "1");
    EXPECT_EQ(q->recordCount(), 100000);
    q->last();
    EXPECT_EQ(q->fieldText(0), "100000");
}

TEST_P(QueryTest, LiveResultOfOneKeyedTableWritesThroughWithTheConflictCheck) {
    auto q = query("SELECT name AS label, price FROM items it WHERE id >= :LO ORDER BY id");
    q->setParamInteger("LO", 2);
    q->setRequestLive(true);
    q->open();
    ASSERT_TRUE(q->isLive()) << q->readOnlyReason();
    ASSERT_EQ(q->fieldCount(), 2); // the key travels in hidden columns
    EXPECT_EQ(q->fieldDefs()[0].name, "label");
    EXPECT_EQ(q->fieldText(0), "みかん");

    // An edit, read back by the server's own client.
    q->edit();
    q->setFieldText(1, "99.5");
    q->post();
    EXPECT_EQ(peer("SELECT id, name FROM items WHERE id = 2 AND price = 99.5"), "2|みかん\n");
    EXPECT_EQ(q->fieldText(1), "99.5");

    // Another writer changes the next record: the edit is refused and nothing is written.
    q->next();
    EXPECT_EQ(q->fieldText(0), "a:b");
    peer("UPDATE items SET price = 1 WHERE id = 3");
    q->edit();
    q->setFieldText(0, "mine");
    EXPECT_EQ(errorCodeOf([&] { q->post(); }), ErrUpdateConflict);
    q->cancel();
    EXPECT_EQ(peer("SELECT name FROM items WHERE id = 3 AND price = 1"), "a:b\n");

    // Deleting needs the record unchanged too; once it is read again it goes.
    q->refresh();
    q->moveTo(1);
    EXPECT_EQ(q->fieldText(1), "1");
    peer("UPDATE items SET price = 2 WHERE id = 3");
    EXPECT_EQ(errorCodeOf([&] { q->remove(); }), ErrUpdateConflict);
    EXPECT_EQ(peer("SELECT count(*) FROM items WHERE id = 3"), "1\n");
    q->refresh();
    q->moveTo(1);
    q->remove();
    EXPECT_EQ(peer("SELECT count(*) FROM items WHERE id = 3"), "0\n");
    EXPECT_EQ(q->recordCount(), 2);

    // A record whose key the result does not show: SQLite numbers it itself (the key is
    // its row number); PostgreSQL refuses the missing key and the table stays as it was.
    q->append();
    q->setFieldText(0, "なし");
    if (std::string(GetParam()) == "LITE") {
        q->post();
        EXPECT_EQ(peer("SELECT id, name FROM items WHERE name = 'なし'"), "5|なし\n");
        EXPECT_EQ(q->fieldText(0), "なし");
        peer("DELETE FROM items WHERE id = 5");
    } else {
        EXPECT_NE(errorCodeOf([&] { q->post(); }), 0);
        q->cancel();
    }
    EXPECT_EQ(peer("SELECT count(*) FROM items"), "3\n");
    q->close();

    // With the key shown, a new record is inserted and found again in the result.
    auto k = query("SELECT id, name FROM items ORDER BY id");
    k->setRequestLive(true);
    k->open();
    ASSERT_TRUE(k->isLive());
    k->append();
    k->setFieldText(0, "10");
    k->setFieldText(1, "新しい");
    k->post();
    EXPECT_EQ(k->fieldText(1), "新しい");
    EXPECT_EQ(peer("SELECT id, name FROM items WHERE id = 10"), "10|新しい\n");
    k->edit();
    k->setFieldText(1, "二度目");
    k->post();
    EXPECT_EQ(peer("SELECT name FROM items WHERE id = 10"), "二度目\n");
}

TEST_P(QueryTest, OnlyResultsThatIdentifyTheirRowsOpenLive) {
    for (const char* sql : {"SELECT count(*) FROM items", "SELECT DISTINCT name FROM items",
                            "SELECT a.name FROM items a JOIN items b ON a.id = b.id", "SELECT a.name FROM items a, items b",
                            "SELECT name FROM items GROUP BY name", "SELECT id, id FROM items",
                            "SELECT name FROM items UNION SELECT name FROM items", "SELECT id + 1 FROM items",
                            "WITH x AS (SELECT * FROM items) SELECT * FROM x", "SELECT name, upper(name) FROM items",
                            "SELECT (SELECT max(name) FROM items) FROM items"}) {
        auto q = query(sql);
        q->setRequestLive(true);
        q->open();
        EXPECT_FALSE(q->isLive()) << sql;
        EXPECT_GT(q->recordCount(), 0) << sql;
    }
    for (const char* sql : {"SELECT * FROM items", "select name from \"items\" where id in (select id from items) limit 2",
                            "SELECT name FROM items AS x ORDER BY name;"}) {
        auto q = query(sql);
        q->setRequestLive(true);
        q->open();
        EXPECT_TRUE(q->isLive()) << sql;
    }
}

TEST_P(QueryTest, PagesOfOneResultComeFromOneStateOfTheTableUntilRefreshed) {
    peer("CREATE TABLE seq (i integer PRIMARY KEY)");
    peer(std::string(GetParam()) == "LITE" ? "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 3000) "
                                             "INSERT INTO seq SELECT i FROM k"
                                           : "INSERT INTO seq SELECT generate_series(1, 3000)");
    auto q = query("SELECT i FROM seq ORDER BY i");
    q->open();
    EXPECT_EQ(q->fieldText(0), "1");
    // Another program deletes rows ahead of the page read so far.
    peer("DELETE FROM seq WHERE i <= 100");
    Row row;
    if (std::string(GetParam()) == "PGX") {
        // The server holds the result as it was when opened: no row is skipped.
        ASSERT_TRUE(q->rowAt(2500, row));
        EXPECT_EQ(valueToText(row[0], FieldType::Integer), "2501");
        EXPECT_EQ(q->recordCount(), 3000);
    }
    q->refresh();
    ASSERT_TRUE(q->rowAt(2500, row));
    EXPECT_EQ(valueToText(row[0], FieldType::Integer), "2601");
    EXPECT_EQ(q->recordCount(), 2900);
    q->last();
    EXPECT_EQ(q->fieldText(0), "3000");
}

TEST_P(QueryTest, AResultReadsOnBesideTheAliasesOpenWork) {
    auto q = query("SELECT id, name FROM items ORDER BY id");
    q->open();
    auto& db = s->database(GetParam());
    ASSERT_TRUE(db.beginWork());
    db.executeSql("UPDATE items SET name = 'work' WHERE id = 1", {});
    Row row;
    ASSERT_TRUE(q->rowAt(3, row));
    EXPECT_EQ(valueToText(row[1], FieldType::String), "ぶどう");
    // A result opened inside the work sees its changes.
    auto inside = query("SELECT name FROM items WHERE id = 1");
    inside->open();
    EXPECT_EQ(inside->fieldText(0), "work");
    inside->close();
    db.rollbackWork();
    q->refresh();
    q->first();
    EXPECT_EQ(q->fieldText(1), "りんご");
}

TEST_P(QueryTest, AStatementRunAgainAfterItsTableChangedShapeSeesTheNewShape) {
    // The drivers keep statements run with parameters prepared; a table dropped and made
    // anew with other types, or altered by another connection, must not leave an old plan.
    Database& db = s->database(GetParam());
    const std::string select = "SELECT name, price FROM items WHERE id = :I";
    auto row = [&] {
        auto c = db.openQuery(select, {QueryParam{"I", FieldType::Integer, int64_t(1)}});
        Row r;
        RowId id;
        EXPECT_TRUE(c->read(0, r, id));
        return r.size() == 2 ? valueToText(r[0], c->fields()[0].type) + "|" + valueToText(r[1], c->fields()[1].type)
                             : std::string("?");
    };
    for (int i = 0; i < 3; ++i) // often enough for the server to settle on one plan
        EXPECT_EQ(row(), "りんご|12.5");
    db.executeSql("DROP TABLE items", {});
    db.executeSql("CREATE TABLE items (id integer PRIMARY KEY, name integer, price varchar(10))", {});
    db.executeSql("INSERT INTO items VALUES (:A, :B, :C)", {QueryParam{"A", FieldType::Integer, int64_t(1)},
                                                            QueryParam{"B", FieldType::Integer, int64_t(42)},
                                                            QueryParam{"C", FieldType::String, std::string("x")}});
    EXPECT_EQ(row(), "42|x");
    EXPECT_EQ(peer("SELECT name, price FROM items"), "42|x\n");
    if (std::string(GetParam()) == "LITE")
        return;
    // Another program changes a column's type: the next run outside work prepares anew.
    rawExec("ALTER TABLE \"q ds\".items ALTER COLUMN name TYPE varchar(8)");
    EXPECT_EQ(row(), "42|x");
    EXPECT_EQ(row(), "42|x"); // and keeps that plan
    // Inside work the server may refuse the kept plan: an error, never old columns, and
    // once the work is rolled back the statement runs again.
    rawExec("ALTER TABLE \"q ds\".items ALTER COLUMN name TYPE integer USING name::integer");
    ASSERT_TRUE(db.beginWork());
    std::string inside;
    const int code = errorCodeOf([&] { inside = row(); });
    db.rollbackWork();
    EXPECT_TRUE(code != 0 || inside == "42|x") << inside;
    EXPECT_EQ(row(), "42|x");
}

INSTANTIATE_TEST_SUITE_P(Drivers, QueryTest, ::testing::Values("LITE", "PGX"));

// Local SQL over a folder of dBASE files reaches the tables of the session's other aliases,
// written ":ALIAS:TABLE" in double quotes: joined with, read into and written.
TEST(LocalSqlOtherAliases, ADbaseTableJoinsAndFillsTablesOfSqliteAndPostgresql) {
    TempDir dir;
    const auto cfg = dir.path() / "engine.cfg";
    std::ofstream(cfg) << "# aliases\n";
    Session s(cfg);
    registerBuiltinDrivers(s);
    s.open();
    std::filesystem::create_directories(dir.path() / "dbf");
    s.addAlias("FILES", "STANDARD", {"PATH=" + (dir.path() / "dbf").string(), "DEFAULT DRIVER=DBASE"});
    std::ofstream(dir.path() / "o.sqlite");
    s.addAlias("LITE", "SQLITE", {"DATABASE=" + (dir.path() / "o.sqlite").string()});
    rawExec("DROP SCHEMA IF EXISTS other CASCADE; CREATE SCHEMA other; "
            "CREATE TABLE other.prices (code integer PRIMARY KEY, price numeric(10,2)); "
            "INSERT INTO other.prices VALUES (1, 10.50), (2, 20), (3, 30)");
    s.addAlias("PGX", "POSTGRESQL",
               {"SERVER NAME=" + env("PGHOST"), "PORT=" + env("PGPORT"), "DATABASE NAME=postgres", "USER NAME=postgres",
                "SCHEMA=other", "SSLMODE=disable"});
    s.database("LITE").executeSql("CREATE TABLE names (code INTEGER PRIMARY KEY, name TEXT)", {});
    s.database("LITE").executeSql("INSERT INTO names VALUES (1, 'りんご'), (2, 'みかん'), (4, 'なし')", {});
    FieldDef code;
    code.name = "CODE";
    code.type = FieldType::Integer;
    code.nativeType = "N";
    code.precision = 6;
    FieldDef qty = code;
    qty.name = "QTY";
    s.database("FILES").createTable("SALES.DBF", {code, qty}, {});
    {
        auto c = s.database("FILES").openTable("SALES.DBF", {});
        for (int64_t i = 1; i <= 4; ++i)
            c->insert({i, i * 10});
    }

    auto q = std::make_unique<Query>(s);
    q->setDatabaseName("FILES");
    q->setSql("SELECT s.CODE, n.name, p.price * s.QTY FROM SALES s JOIN \":LITE:names\" n ON n.code = s.CODE "
              "LEFT JOIN \":pgx:prices\" p ON p.code = s.CODE WHERE s.QTY >= :MIN ORDER BY s.CODE");
    ASSERT_EQ(q->paramCount(), 1);
    q->setParamInteger("MIN", 10);
    q->open();
    std::vector<std::string> rows;
    for (q->first(); !q->eof(); q->next())
        rows.push_back(q->fieldText(0) + "|" + q->fieldText(1) + "|" + q->fieldText(2));
    EXPECT_EQ(rows, (std::vector<std::string>{"1|りんご|105", "2|みかん|400", "4|なし|"}));
    q->close();

    // Writes reach the other databases, read back by their own tools.
    q->setSql("INSERT INTO \":PGX:prices\" (code, price) SELECT CODE, QTY / 4.0 FROM SALES WHERE CODE = 4");
    EXPECT_EQ(q->execSql(), 1);
    q->setSql("UPDATE \":LITE:names\" SET name = name || '*' WHERE code IN (SELECT CODE FROM SALES WHERE QTY > 15)");
    EXPECT_EQ(q->execSql(), 2);
    auto tool = [](const std::string& cmd) {
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        char buf[512];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        pclose(p);
        return out;
    };
    EXPECT_EQ(tool("psql -X -A -t -h '" + env("PGHOST") + "' -p " + env("PGPORT") +
                   " -U postgres postgres -c 'SELECT code, price FROM other.prices WHERE code = 4'"),
              "4|10.00\n");
    EXPECT_EQ(tool("sqlite3 '" + (dir.path() / "o.sqlite").string() + "' 'SELECT name FROM names ORDER BY code'"),
              "りんご\nみかん*\nなし*\n");

    // A statement failing part way (the last record takes a key already there) changes
    // nothing in the other database either.
    q->setSql("UPDATE \":LITE:names\" SET name = 'x', code = CASE WHEN code = 4 THEN 1 ELSE code END");
    EXPECT_NE(errorCodeOf([&] { q->execSql(); }), 0);
    EXPECT_EQ(tool("sqlite3 '" + (dir.path() / "o.sqlite").string() + "' 'SELECT code, name FROM names ORDER BY code'"),
              "1|りんご\n2|みかん*\n4|なし*\n");
    // An alias that does not exist is named in the error.
    q->setSql("SELECT * FROM \":NOPE:names\"");
    try {
        q->open();
        ADD_FAILURE() << "opened";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
    }
}
