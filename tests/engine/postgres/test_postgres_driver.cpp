#include "SqlTestSupport.h"

#include "engine/export/CsvFormat.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/sqlcommon/SqlTableCursor.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <libpq-fe.h>

using namespace vemo::engine;
using namespace sqltest;

namespace {

// Runs SQL through libpq directly, independent of the driver under test.
void rawExec(const std::string& sql, const std::string& host = env("PGHOST"), const std::string& port = env("PGPORT")) {
    std::string conninfo = "host=" + host + " port=" + port + " dbname=postgres user=postgres";
    PGconn* c = PQconnectdb(conninfo.c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    PGresult* r = PQexec(c, sql.c_str());
    auto status = PQresultStatus(r);
    std::string msg = PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);
    ASSERT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << msg << sql;
}

Params aliasParams(const std::string& schema, const std::string& user = "postgres", const std::string& password = "") {
    Params p{{"SERVER NAME", env("PGHOST")}, {"PORT", env("PGPORT")}, {"DATABASE NAME", "postgres"},
             {"USER NAME", user}, {"SCHEMA", schema}, {"SSLMODE", "disable"}};
    if (!password.empty())
        p.emplace_back("PASSWORD", password);
    return p;
}

// Every test works in a schema of its own, whose name itself needs quoting.
class PostgresDriverTest : public ::testing::Test {
protected:
    std::string schema;
    void SetUp() override {
        schema = std::string("t \"") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\"";
        std::string q = "\"t \"\"" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "\"\"\"";
        quoted = q;
        rawExec("DROP SCHEMA IF EXISTS " + q + " CASCADE; CREATE SCHEMA " + q + "; SET search_path TO " + q);
    }
    void run(const std::string& sql) { rawExec("SET search_path TO " + quoted + "; " + sql); }
    std::unique_ptr<Database> connect() { return makePostgresDriver()->connect("PG", aliasParams(schema), {}); }
    std::string quoted;
};

} // namespace

TEST_F(PostgresDriverTest, CatalogTypesMapToFieldTypesAndValuesRoundTrip) {
    run("CREATE TABLE t (id serial PRIMARY KEY, s smallint, i integer NOT NULL, b bigint, r real, d double precision,"
        " n numeric(10,2), m money, v varchar(40), c char(5), tx text, bo boolean, dt date, tm time, ts timestamp,"
        " tz timestamptz, by bytea, j json, u uuid, iv interval);"
        "INSERT INTO t (s, i, b, r, d, n, m, v, c, tx, bo, dt, tm, ts, tz, by, j, u, iv) VALUES"
        " (1, 2, 3000000000, 1.5, 0.1, 12.34, 5.5, '日本語', 'ab', 'メモ', true, '2001-04-01', '09:15:30.25',"
        " '2001-04-01 09:15:30.123456', '2001-04-01 09:15:30+09', '\\x00ff', '{\"a\": 1}',"
        " 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '1 day')");
    auto db = connect();
    auto c = db->openTable("t", {});
    const FieldType expected[] = {FieldType::AutoInc, FieldType::Smallint, FieldType::Integer, FieldType::LargeInt,
                                  FieldType::Float, FieldType::Float, FieldType::BCD, FieldType::Currency,
                                  FieldType::String, FieldType::FixedChar, FieldType::Memo, FieldType::Boolean,
                                  FieldType::Date, FieldType::Time, FieldType::DateTime, FieldType::DateTime,
                                  FieldType::Blob, FieldType::Memo, FieldType::String, FieldType::String};
    ASSERT_EQ(c->fields().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(c->fields()[i].type, expected[i]) << c->fields()[i].name;
    EXPECT_EQ(c->fields()[8].size, 40);
    EXPECT_EQ(c->fields()[9].size, 5);
    EXPECT_EQ(c->fields()[6].precision, 10);
    EXPECT_EQ(c->fields()[6].scale, 2);
    EXPECT_TRUE(c->fields()[2].required);
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_EQ(row[3], Value(int64_t{3000000000}));
    EXPECT_EQ(row[5], Value(0.1));
    EXPECT_EQ(row[6], Value(Decimal{"12.34"}));
    EXPECT_EQ(row[7], Value(5.5));
    EXPECT_EQ(row[8], Value(std::string("日本語")));
    EXPECT_EQ(row[11], Value(true));
    EXPECT_EQ(row[12], Value(Date{2001, 4, 1}));
    EXPECT_EQ(row[13], Value(Time{(9 * 3600 + 15 * 60 + 30) * 1000 + 250}));
    EXPECT_EQ(row[16], Value(Bytes{0x00, 0xff}));
    // Microseconds and a json column (no equality operator) must not upset the conflict check.
    Row after = row;
    after[8] = std::string("変更");
    after[16] = Bytes{1, 2, 3};
    c->update(id, row, after);
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_EQ(row[8], Value(std::string("変更")));
    EXPECT_EQ(row[16], Value(Bytes{1, 2, 3}));
}

TEST_F(PostgresDriverTest, IndexesAndStoredProcedures) {
    run("CREATE TABLE t (a integer, b varchar(5), c integer, PRIMARY KEY (b, a));"
        "CREATE UNIQUE INDEX zz_c ON t (c DESC); CREATE INDEX aa_ca ON t (c, a); CREATE INDEX ex ON t (lower(b));"
        "CREATE FUNCTION add_tax(price numeric, rate numeric DEFAULT 0.1) RETURNS numeric LANGUAGE sql AS 'SELECT price * (1 + rate)';"
        "CREATE FUNCTION split(IN whole integer, OUT half integer, INOUT note text) LANGUAGE sql AS 'SELECT whole / 2, note';"
        "CREATE PROCEDURE touch(x integer) LANGUAGE sql AS 'SELECT 1';"
        "CREATE PROCEDURE bump(INOUT n integer, OUT twice integer) LANGUAGE plpgsql AS $$BEGIN n := n + 1; twice := n * 2; END$$;"
        "CREATE FUNCTION anon(integer, integer) RETURNS integer LANGUAGE sql AS 'SELECT $1 - $2'");
    auto db = connect();
    auto ix = db->openTable("t", {})->indexes();
    ASSERT_EQ(ix.size(), 4u);
    EXPECT_EQ(ix[0].name, "");
    EXPECT_TRUE(ix[0].primary);
    EXPECT_EQ(ix[0].fields, "b;a");
    EXPECT_EQ(ix[1].name, "aa_ca");
    EXPECT_EQ(ix[1].fields, "c;a");
    EXPECT_EQ(ix[2].name, "ex");
    EXPECT_FALSE(ix[2].expression.empty());
    EXPECT_EQ(ix[3].name, "zz_c");
    EXPECT_TRUE(ix[3].unique && ix[3].descending);
    EXPECT_EQ(db->procedureNames(), (std::vector<std::string>{"add_tax", "anon", "bump", "split", "touch"}));
    auto tax = db->executeProcedure("add_tax", {{"price", FieldType::BCD, Decimal{"100"}}, {"RATE", FieldType::BCD, Decimal{"0.08"}}});
    ASSERT_EQ(tax.size(), 1u);
    EXPECT_EQ(tax[0].value, Value(Decimal{"108.00"}));
    auto split = db->executeProcedure("split", {{"whole", FieldType::Integer, int64_t{7}}, {"note", FieldType::Memo, std::string("メモ")}});
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0].name, "half");
    EXPECT_EQ(split[0].value, Value(int64_t{3}));
    EXPECT_EQ(split[1].value, Value(std::string("メモ")));
    auto bump = db->executeProcedure("bump", {{"n", FieldType::Integer, int64_t{4}}});
    ASSERT_EQ(bump.size(), 2u);
    EXPECT_EQ(bump[0].value, Value(int64_t{5}));
    EXPECT_EQ(bump[1].value, Value(int64_t{10}));
    auto anon = db->executeProcedure("anon", {{"$1", FieldType::Integer, int64_t{9}}, {"$2", FieldType::Integer, int64_t{2}}});
    ASSERT_EQ(anon.size(), 1u);
    EXPECT_EQ(anon[0].value, Value(int64_t{7}));
    auto p = db->procedureParams("add_tax");
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].name, "price");
    EXPECT_EQ(p[0].type, FieldType::BCD);
    EXPECT_EQ(p[2].direction, ProcParam::Direction::Result);
    auto s = db->procedureParams("split");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].direction, ProcParam::Direction::Input);
    EXPECT_EQ(s[1].direction, ProcParam::Direction::Output);
    EXPECT_EQ(s[2].direction, ProcParam::Direction::InputOutput);
    EXPECT_EQ(s[2].typeName, "text");
    EXPECT_EQ(db->procedureParams("touch").size(), 1u);
    EXPECT_EQ(errorCodeOf([&] { db->procedureParams("nothing"); }), ErrNotFound);
}

TEST_F(PostgresDriverTest, ChangesBySomeoneElseAreConflictsAndChangeNothing) {
    run("CREATE TABLE k (id integer PRIMARY KEY, name varchar(20), ts timestamp);"
        "INSERT INTO k VALUES (1, 'a', '2001-01-01 00:00:00.000001'), (2, 'b', NULL), (3, 'c', now());"
        "CREATE TABLE nokey (x integer); INSERT INTO nokey VALUES (1); CREATE VIEW vw AS SELECT * FROM k");
    auto dbA = connect(), dbB = connect();
    auto a = dbA->openTable("k", {}), b = dbB->openTable("k", {});
    Row ra, rb;
    RowId ia, ib;
    ASSERT_TRUE(a->read(1, ra, ia));
    ASSERT_TRUE(b->read(1, rb, ib));
    Row theirs = rb;
    theirs[1] = std::string("theirs");
    b->update(ib, rb, theirs);
    Row mine = ra;
    mine[1] = std::string("mine");
    EXPECT_EQ(errorCodeOf([&] { a->update(ia, ra, mine); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { a->remove(ia, ra); }), ErrUpdateConflict);
    a->refresh();
    ASSERT_TRUE(a->read(1, ra, ia));
    EXPECT_EQ(ra[1], Value(std::string("theirs")));
    ASSERT_TRUE(a->read(0, ra, ia));
    mine = ra;
    mine[1] = std::string("ok");
    a->update(ia, ra, mine); // the microsecond timestamp compares exactly
    EXPECT_EQ(errorCodeOf([&] { a->insert({int64_t{2}, std::string("dup"), Value()}); }), ErrKeyViolation);
    RowId fresh = a->insert({int64_t{10}, std::string("new"), Value()});
    EXPECT_EQ(a->positionOf(fresh), 3);
    auto n = dbA->openTable("nokey", {});
    EXPECT_NE(n->readOnlyReason(), "");
    EXPECT_EQ(errorCodeOf([&] { n->insert({int64_t{2}}); }), ErrReadOnly);
    EXPECT_EQ(readAll(*n).size(), 1u);
    EXPECT_NE(dbA->openTable("vw", {})->readOnlyReason(), "");
}

TEST_F(PostgresDriverTest, NamesNeedingQuotesWorkAndCannotInjectSql) {
    run("CREATE TABLE keep (x integer); INSERT INTO keep VALUES (1)");
    auto db = connect();
    const std::string evil = "t\"; DROP TABLE keep; --";
    IndexDef pk;
    pk.primary = true;
    pk.fields = "my col";
    IndexDef named;
    named.name = "ix \"order\"";
    named.fields = "顧客名;select";
    db->createTable(evil, {field("my col", FieldType::Integer, 0, true), field("\"q\"", FieldType::String, 20),
                           field("顧客名", FieldType::String, 40), field("select", FieldType::Integer)},
                    {pk, named});
    EXPECT_EQ(db->tableNames("*", false, false), (std::vector<std::string>{"keep", evil}));
    auto c = db->openTable(evil, {});
    c->insert({int64_t{1}, std::string("it's"), std::string("山田"), int64_t{7}});
    c->setOrder("ix \"order\"");
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    Row after = row;
    after[2] = std::string("佐藤");
    c->update(id, row, after);
    db->renameTable(evil, "名前 \"変更\"");
    ASSERT_TRUE(db->openTable("名前 \"変更\"", {})->read(0, row, id));
    EXPECT_EQ(row[2], Value(std::string("佐藤")));
    db->deleteTable("名前 \"変更\"");
    EXPECT_EQ(db->tableNames("*", false, false), (std::vector<std::string>{"keep"}));
    EXPECT_EQ(errorCodeOf([&] { db->createTable("keep", {field("x", FieldType::Integer)}, {}); }), ErrGeneral);
}

TEST_F(PostgresDriverTest, PagesFollowTheIndexOrderWithNullsBothWays) {
    run("CREATE TABLE big (id integer PRIMARY KEY, v integer); CREATE INDEX iv ON big (v);"
        "INSERT INTO big SELECT i, CASE WHEN i % 7 = 0 THEN NULL ELSE i % 50 END FROM generate_series(1, 3000) i");
    auto db = connect();
    auto c = db->openTable("big", {});
    c->setOrder("iv");
    std::vector<std::pair<int64_t, int64_t>> expected; // ascending v with NULLs last, then id
    for (int64_t i = 1; i <= 3000; ++i)
        expected.emplace_back(i % 7 == 0 ? 1000 : i % 50, i);
    std::sort(expected.begin(), expected.end());
    auto rows = readAll(*c);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i][0], Value(expected[i].second)) << "position " << i;
    EXPECT_LE(dynamic_cast<sql::SqlTableCursor&>(*c).cachedRows(), 8192u);
    Row row;
    RowId id;
    for (int64_t pos = 2999; pos >= 2400; --pos) {
        ASSERT_TRUE(c->read(pos, row, id));
        ASSERT_EQ(row[0], Value(expected[pos].second));
    }
    for (int64_t pos : {1500, 0, 2999, 2700, 31}) {
        ASSERT_TRUE(c->read(pos, row, id));
        EXPECT_EQ(row[0], Value(expected[pos].second));
        EXPECT_EQ(c->positionOf(id), pos);
    }
    // Without a key the row positions still page through every row exactly once.
    run("CREATE TABLE heap AS SELECT i % 10 AS n FROM generate_series(1, 1500) i");
    auto heap = db->openTable("heap", {});
    auto all = readAll(*heap);
    ASSERT_EQ(all.size(), 1500u);
    int64_t sum = 0;
    for (auto& r : all)
        sum += std::get<int64_t>(r[0]);
    EXPECT_EQ(sum, 150 * 45);
}

namespace {

// The same lines read one position at a time from the last record back.
std::vector<std::string> csvReadingBack(Cursor& c) {
    std::vector<std::string> lines;
    Row row;
    RowId id;
    for (int64_t pos = c.count() - 1; pos >= 0; --pos) {
        EXPECT_TRUE(c.read(pos, row, id)) << "position " << pos;
        lines.push_back(csvText(row, c.fields()));
    }
    std::reverse(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST_F(PostgresDriverTest, ReadingOnGivesTheSameRecordsAsReadingOneByOne) {
    run("CREATE TABLE mix (id integer PRIMARY KEY, name varchar(30), qty numeric(12,3), ok boolean, d date,"
        " ts timestamp, b bytea, f double precision); CREATE INDEX byname ON mix (name DESC);"
        "INSERT INTO mix SELECT i, CASE WHEN i % 11 = 0 THEN NULL WHEN i % 3 = 0 THEN '山田 ' || (i % 97)"
        " ELSE 'name, \"' || (i % 89) || '\"' END, CASE WHEN i % 13 = 0 THEN NULL ELSE i * 1.125 - 500 END,"
        " CASE WHEN i % 5 = 0 THEN NULL ELSE i % 2 = 0 END, CASE WHEN i % 17 = 0 THEN NULL ELSE date '1999-12-31' + i END,"
        " timestamp '2001-04-01 09:15:30.25' + i * interval '1 minute', CASE WHEN i % 4 = 0 THEN NULL ELSE int4send(i) END,"
        " i / 7.0 FROM generate_series(1, 4000) i");
    auto db = connect();
    auto c = db->openTable("mix", {});
    forEachOrderAndFilter(*c, {"", "byname"}, {"", "qty > 100 and name >= 'n'"}, [&] {
        const auto on = csvReadingOn(*c);
        ASSERT_EQ(static_cast<int64_t>(on.size()), c->count());
        ASSERT_GT(on.size(), 1000u); // past several pages
        c->refresh();
        EXPECT_TRUE(on == csvReadingBack(*c));
        EXPECT_TRUE(on == csvScanning(*c)); // one statement, read in batches
    });
}

// A pass that stops early, fails in its caller, or runs inside a transaction the user
// began leaves the connection as it found it.
TEST_F(PostgresDriverTest, AOnePassScanLeavesTheConnectionAsItFoundIt) {
    run("CREATE TABLE s (id integer PRIMARY KEY, v integer); INSERT INTO s SELECT i, i FROM generate_series(1, 20000) i");
    auto db = connect();
    auto c = db->openTable("s", {});
    auto other = db->openTable("s", {}); // the same connection
    int64_t seen = 0;
    EXPECT_FALSE(c->scan([&](const Row&) { return ++seen < 10000; }));
    EXPECT_EQ(seen, 10000);
    // No transaction is left open: a write commits and another session sees it.
    Row row;
    RowId id;
    ASSERT_TRUE(other->read(0, row, id));
    Row after = row;
    after[1] = int64_t{-5};
    other->update(id, row, after);
    PGconn* watcher = PQconnectdb(("host=" + env("PGHOST") + " port=" + env("PGPORT") + " dbname=postgres user=postgres").c_str());
    auto watched = [&] {
        PGresult* r = PQexec(watcher, ("SELECT v FROM " + quoted + ".s WHERE id = 1").c_str());
        std::string v = PQntuples(r) ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
        return v;
    };
    EXPECT_EQ(watched(), "-5");

    // Statements on the same connection during the pass (a grid repainting while an export
    // shows its progress, even another pass) run, and the pass still gives every record.
    const auto expected = csvReadingOn(*c);
    std::vector<std::string> lines;
    int64_t inner = 0;
    EXPECT_TRUE(c->scan([&](const Row& r) {
        lines.push_back(csvText(r, c->fields()));
        if (lines.size() % 3000 == 1) {
            other->refresh();
            Row o;
            RowId oid;
            EXPECT_TRUE(other->read(static_cast<int64_t>(lines.size()), o, oid));
            EXPECT_EQ(other->count(), 20000);
        }
        if (lines.size() == 9000)
            other->scan([&](const Row&) { return ++inner > 0; });
        return true;
    }));
    EXPECT_EQ(inner, 20000);
    EXPECT_TRUE(lines == expected);
    EXPECT_THROW(c->scan([](const Row&) -> bool { throw std::runtime_error("caller failed"); }), std::runtime_error);
    EXPECT_EQ(csvScanning(*c).size(), 20000u);
    other->refresh();
    EXPECT_EQ(other->count(), 20000);

    // Inside the user's own transaction the pass sees its uncommitted change and leaves
    // the transaction open.
    db->executeSql("BEGIN", {});
    db->executeSql("UPDATE " + quoted + ".s SET v = 0 WHERE id = 2", {});
    int64_t zeros = 0;
    EXPECT_TRUE(c->scan([&](const Row& r) { zeros += r[1] == Value(int64_t{0}); return true; }));
    EXPECT_EQ(zeros, 1);
    EXPECT_EQ(watched(), "-5");
    db->executeSql("COMMIT", {});
    PGresult* r = PQexec(watcher, ("SELECT v FROM " + quoted + ".s WHERE id = 2").c_str());
    EXPECT_STREQ(PQgetvalue(r, 0, 0), "0");
    PQclear(r);
    PQfinish(watcher);
}

TEST_F(PostgresDriverTest, ReadingOnSeesWritesMadeBetweenPages) {
    run("CREATE TABLE w (id integer PRIMARY KEY, v integer); INSERT INTO w SELECT i, i FROM generate_series(0, 2999) i");
    auto db = connect();
    auto reader = db->openTable("w", {});
    auto writer = db->openTable("w", {}); // the same connection
    Row row, before;
    RowId id, target;
    ASSERT_TRUE(writer->read(1500, before, target));
    // Reading on for a while: the cursor may already have asked for the pages that follow.
    for (int64_t pos = 0; pos <= 600; ++pos)
        ASSERT_TRUE(reader->read(pos, row, id));
    Row after = before;
    after[1] = int64_t{-1};
    writer->update(target, before, after);
    for (int64_t pos = 601; pos < 3000; ++pos) {
        ASSERT_TRUE(reader->read(pos, row, id)) << pos;
        ASSERT_EQ(row[0], Value(pos));
        ASSERT_EQ(row[1], Value(pos == 1500 ? int64_t{-1} : pos)) << pos;
    }
    EXPECT_FALSE(reader->read(3000, row, id));
}

TEST_F(PostgresDriverTest, ServerFiltersGiveTheDatasetsOwnResults) {
    run("CREATE TABLE f (id integer PRIMARY KEY, name varchar(20), qty integer, price numeric(10,2), d date,"
        " ts timestamp, ok boolean, fc char(6));"
        "INSERT INTO f VALUES (1, 'abc', 5, 10.5, '2001-04-01', '2001-04-01 10:00:00', true, 'abc'),"
        " (2, 'abc  ', 6, 11, '2001-03-31', '2001-04-02 00:00:00', false, 'ab'), (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
        " (4, '', -3, 0, '2002-01-01', '2001-04-01 00:00:00', true, ''), (5, '   ', 7, 99.99, '2001-04-01', NULL, false, 'x'),"
        " (6, 'abd', 0, -1, '1999-12-31', '1999-12-31 23:59:59', NULL, 'abd'), (7, '山田太郎', 10, 5, '2001-04-02', NULL, true, '山田'),"
        " (8, 'ab', 2, 2, NULL, NULL, true, NULL), (9, 'Abc', 3, 3, '2001-04-01', NULL, false, 'Abc')");
    auto db = connect();
    auto c = db->openTable("f", {});
    for (const char* text : {"name = 'abc'", "name <> 'abc'", "NOT (name = 'abc')", "name = 'ab*'", "name <> 'ab*'",
                             "name = '*'", "name = '山田*'", "name = BLANK", "name <> NULL", "name > 'ab'",
                             "qty > 5", "qty >= -3 and name < 'b'", "price > 10.5", "price <= '3'", "qty > -2",
                             "d >= '2001/04/01'", "ts < '2001/04/02'", "ts = '2001/04/01'", "ok = TRUE", "ok <> 'F'",
                             "qty > price", "not (qty > 5 or name = 'abc')", "fc = 'ab'", "fc = 'ab*'", "fc = BLANK",
                             "fc = name"})
        expectFilterAgrees(*c, text, true);
    expectFilterAgrees(*c, "qty * 2 > 5", false);
}

TEST(PostgresLogin, AsksForAPasswordOnlyWhenTheServerWantsOne) {
    auto driver = makePostgresDriver();
    std::atomic<int> asked{0};
    LoginCallback answer = [&](const std::string& alias, std::string& user, std::string& password) {
        ++asked;
        EXPECT_EQ(alias, "PG");
        EXPECT_EQ(user, "vemo_pw");
        password = "secret";
        return true;
    };
    driver->connect("PG", aliasParams("public"), answer);
    EXPECT_EQ(asked, 0);
    auto db = driver->connect("PG", aliasParams("public", "vemo_pw"), answer);
    EXPECT_EQ(asked, 1);
    EXPECT_NO_THROW(db->tableNames("*", false, false));
    EXPECT_EQ(errorCodeOf([&] { driver->connect("PG", aliasParams("public", "vemo_pw", "wrong"), answer); }), ErrLogin);
    EXPECT_EQ(asked, 1);
    LoginCallback cancel = [](const std::string&, std::string&, std::string&) { return false; };
    EXPECT_EQ(errorCodeOf([&] { driver->connect("PG", aliasParams("public", "vemo_pw"), cancel); }), ErrLoginCancelled);
    LoginCallback wrong = [](const std::string&, std::string&, std::string& p) { p = "nope"; return true; };
    EXPECT_EQ(errorCodeOf([&] { driver->connect("PG", aliasParams("public", "vemo_pw"), wrong); }), ErrLogin);
    EXPECT_NO_THROW(driver->connect("PG", aliasParams("public", "vemo_pw", "secret"), {}));
    Params noServer = aliasParams("public");
    noServer[1].second = "1";
    EXPECT_EQ(errorCodeOf([&] { driver->connect("PG", noServer, {}); }), ErrServer);
}

TEST_F(PostgresDriverTest, QueriesAndStatementsTakeNamedParameters) {
    run("CREATE TABLE q (id integer PRIMARY KEY, name text, ts timestamp);"
        "INSERT INTO q SELECT i, 'n' || i, '2001-04-01 10:00:00' FROM generate_series(1, 500) i");
    auto db = connect();
    db->executeSql("SET search_path TO " + quoted, {});
    EXPECT_EQ(db->executeSql("UPDATE q SET name = :new WHERE id <= :id", {{"NEW", FieldType::String, std::string("x")},
                                                                          {"ID", FieldType::Integer, int64_t{10}}}),
              10);
    auto c = db->openQuery("SELECT id::text AS t, name, ts, id * 1.5 AS half FROM q WHERE id > :min ORDER BY id",
                           {{"min", FieldType::Integer, int64_t{5}}});
    ASSERT_EQ(c->fields().size(), 4u);
    EXPECT_EQ(c->fields()[0].type, FieldType::Memo);
    EXPECT_EQ(c->fields()[2].type, FieldType::DateTime);
    EXPECT_EQ(c->fields()[3].type, FieldType::BCD);
    EXPECT_EQ(c->count(), 495);
    auto rows = readAll(*c);
    ASSERT_EQ(rows.size(), 495u);
    EXPECT_EQ(rows.front()[1], Value(std::string("x")));
    EXPECT_EQ(rows.back()[3], Value(Decimal{"750.0"}));
    EXPECT_EQ(errorCodeOf([&] { db->executeSql("SELECT :a", {}); }), ErrInvalidParam);
}
