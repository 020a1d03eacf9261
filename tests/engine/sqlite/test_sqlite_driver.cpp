#include "SqlTestSupport.h"

#include "engine/drivers/Drivers.h"
#include "engine/drivers/SampleData.h"
#include "engine/drivers/sqlite/SqliteDatabase.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sqlite3.h>

using namespace vemo::engine;
using namespace sqltest;

namespace {

// Writes through SQLite's own API, independent of the driver under test.
void rawExec(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    std::string msg = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << msg;
}

std::unique_ptr<Database> connect(const std::filesystem::path& file, Params extra = {}) {
    Params p{{"DATABASE", file.string()}};
    p.insert(p.end(), extra.begin(), extra.end());
    return makeSqliteDriver()->connect("TEST", p, {});
}

class SqliteDriverTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir.path() / "test.db";
    void SetUp() override { rawExec(file, "PRAGMA user_version = 1"); }
};

} // namespace

TEST_F(SqliteDriverTest, DeclaredTypesMapToFieldTypesWithSizes) {
    struct Case { const char* decl; FieldType type; int size, precision, scale; };
    const Case cases[] = {
        {"INTEGER", FieldType::Integer, 0, 0, 0},     {"INT", FieldType::Integer, 0, 0, 0},
        {"SMALLINT", FieldType::Smallint, 0, 0, 0},   {"BIGINT", FieldType::LargeInt, 0, 0, 0},
        {"VARCHAR(40)", FieldType::String, 40, 0, 0}, {"NVARCHAR(10)", FieldType::String, 10, 0, 0},
        {"CHAR(13)", FieldType::FixedChar, 13, 0, 0}, {"TEXT", FieldType::Memo, 0, 0, 0},
        {"CLOB", FieldType::Memo, 0, 0, 0},           {"REAL", FieldType::Float, 0, 0, 0},
        {"DOUBLE PRECISION", FieldType::Float, 0, 0, 0}, {"FLOAT", FieldType::Float, 0, 0, 0},
        {"NUMERIC(10,2)", FieldType::BCD, 2, 10, 2},  {"DECIMAL(8, 3)", FieldType::BCD, 3, 8, 3},
        {"MONEY", FieldType::Currency, 0, 0, 0},      {"BOOLEAN", FieldType::Boolean, 0, 0, 0},
        {"DATE", FieldType::Date, 0, 0, 0},           {"TIME", FieldType::Time, 0, 0, 0},
        {"DATETIME", FieldType::DateTime, 0, 0, 0},   {"TIMESTAMP", FieldType::DateTime, 0, 0, 0},
        {"BLOB", FieldType::Blob, 0, 0, 0},           {"VARBINARY(16)", FieldType::VarBytes, 16, 0, 0},
        {"", FieldType::String, 0, 0, 0},             {"unsigned big int", FieldType::LargeInt, 0, 0, 0},
    };
    std::string ddl = "CREATE TABLE t (";
    for (size_t i = 0; i < std::size(cases); ++i)
        ddl += (i ? ", c" : "c") + std::to_string(i) + " " + cases[i].decl;
    rawExec(file, ddl + ")");
    auto db = connect(file);
    auto c = db->openTable("t", {});
    ASSERT_EQ(c->fields().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const FieldDef& f = c->fields()[i];
        SCOPED_TRACE(cases[i].decl);
        EXPECT_EQ(f.type, cases[i].type);
        EXPECT_EQ(f.size, cases[i].size);
        EXPECT_EQ(f.precision, cases[i].precision);
        EXPECT_EQ(f.scale, cases[i].scale);
    }
}

TEST_F(SqliteDriverTest, ValuesComeBackTypedAndRoundTrip) {
    rawExec(file, "CREATE TABLE v (id INTEGER PRIMARY KEY, d DATE, t TIME, ts DATETIME, n NUMERIC(10,2), f DOUBLE,"
                  " b BOOLEAN, s VARCHAR(20), m TEXT, bl BLOB);"
                  "INSERT INTO v VALUES (1, '2001-04-01', '09:15:30', '2001-04-01 09:15:30.250', '12.5', 0.1, 1,"
                  " '日本語', 'メモ', x'00ff10')");
    auto db = connect(file);
    auto c = db->openTable("v", {});
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_EQ(row[0], Value(int64_t{1}));
    EXPECT_EQ(row[1], Value(Date{2001, 4, 1}));
    EXPECT_EQ(row[2], Value(Time{(9 * 3600 + 15 * 60 + 30) * 1000}));
    EXPECT_EQ(row[3], Value(DateTime{{2001, 4, 1}, {(9 * 3600 + 15 * 60 + 30) * 1000 + 250}}));
    EXPECT_EQ(row[5], Value(0.1));
    EXPECT_EQ(row[6], Value(true));
    EXPECT_EQ(row[7], Value(std::string("日本語")));
    EXPECT_EQ(row[9], Value(Bytes{0x00, 0xff, 0x10}));
    Row after = row;
    after[1] = Date{2024, 2, 29};
    after[3] = DateTime{{2024, 2, 29}, {1000}};
    after[9] = Bytes{1, 2, 3};
    c->update(id, row, after);
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_TRUE(row == after);
}

TEST_F(SqliteDriverTest, IndexesListPrimaryKeyFirstThenNamedIndexes) {
    rawExec(file, "CREATE TABLE t (a INTEGER NOT NULL, b VARCHAR(5) NOT NULL, c INTEGER, PRIMARY KEY (b, a));"
                  "CREATE UNIQUE INDEX zz_c ON t (c DESC); CREATE INDEX aa_ca ON t (c, a);"
                  "CREATE TABLE plain (x INTEGER)");
    auto db = connect(file);
    auto ix = db->openTable("T", {})->indexes();
    ASSERT_EQ(ix.size(), 3u);
    EXPECT_EQ(ix[0].name, "");
    EXPECT_TRUE(ix[0].primary);
    EXPECT_EQ(ix[0].fields, "b;a");
    EXPECT_EQ(ix[1].name, "aa_ca");
    EXPECT_EQ(ix[1].fields, "c;a");
    EXPECT_FALSE(ix[1].unique);
    EXPECT_EQ(ix[2].name, "zz_c");
    EXPECT_TRUE(ix[2].unique);
    EXPECT_TRUE(ix[2].descending);
    EXPECT_TRUE(db->openTable("plain", {})->indexes().empty());
}

TEST_F(SqliteDriverTest, MissingOrBadDatabaseFileIsAClearErrorAndNothingIsCreated) {
    auto missing = dir.path() / "nope.db";
    EXPECT_EQ(errorCodeOf([&] { connect(missing); }), ErrNotFound);
    EXPECT_FALSE(std::filesystem::exists(missing));
    auto junk = dir.path() / "junk.db";
    { std::FILE* f = std::fopen(junk.c_str(), "w"); std::fputs("this is not a database file at all, sorry", f); std::fclose(f); }
    EXPECT_NE(errorCodeOf([&] { connect(junk); }), 0);
    EXPECT_EQ(errorCodeOf([&] { connect(file, {{"OPEN MODE", "SOMETIMES"}}); }), ErrInvalidParam);
    auto ro = connect(file, {{"OPEN MODE", "READ ONLY"}});
    EXPECT_NE(errorCodeOf([&] { ro->createTable("x", {field("a", FieldType::Integer)}, {}); }), 0);
}

TEST_F(SqliteDriverTest, NamesNeedingQuotesWorkAndCannotInjectSql) {
    rawExec(file, "CREATE TABLE keep (x INTEGER); INSERT INTO keep VALUES (1)");
    auto db = connect(file);
    const std::string evil = "t\"; DROP TABLE keep; --";
    std::vector<FieldDef> fields{field("my col", FieldType::Integer, 0, true), field("\"q\"", FieldType::String, 20),
                                 field("顧客名", FieldType::String, 40), field("select", FieldType::Integer)};
    IndexDef pk;
    pk.primary = true;
    pk.fields = "my col";
    IndexDef named;
    named.name = "ix \"order\"";
    named.fields = "顧客名;select";
    db->createTable(evil, fields, {pk, named});
    auto names = db->tableNames("*.*", true, false);
    EXPECT_NE(std::find(names.begin(), names.end(), evil), names.end());
    auto c = db->openTable(evil, {});
    c->insert({int64_t{1}, std::string("it's \"quoted\""), std::string("山田"), int64_t{7}});
    c->setOrder("ix \"order\"");
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_EQ(row[1], Value(std::string("it's \"quoted\"")));
    Row after = row;
    after[2] = std::string("佐藤");
    c->update(id, row, after);
    db->renameTable(evil, "名前 \"変更\"");
    auto renamed = db->openTable("名前 \"変更\"", {});
    ASSERT_TRUE(renamed->read(0, row, id));
    EXPECT_EQ(row[2], Value(std::string("佐藤")));
    db->deleteTable("名前 \"変更\"");
    EXPECT_EQ(readAll(*db->openTable("keep", {})).size(), 1u);
    EXPECT_EQ(errorCodeOf([&] { db->openTable(evil, {}); }), ErrNotFound);
}

TEST_F(SqliteDriverTest, PagesFollowTheIndexOrderWithNullsAndDuplicatesBothWays) {
    std::string sql = "CREATE TABLE big (id INTEGER PRIMARY KEY, v INTEGER, s VARCHAR(10)); CREATE INDEX iv ON big (v DESC);"
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                      "INSERT INTO big SELECT i, CASE WHEN i % 7 = 0 THEN NULL ELSE i % 50 END, 'r' || i FROM n";
    rawExec(file, sql);
    auto db = connect(file);
    auto c = db->openTable("big", {});
    c->setOrder("iv");
    // Expected: v descending (NULLs last), then id ascending.
    std::vector<std::pair<int64_t, int64_t>> expected; // v (-1 for null), id
    for (int64_t i = 1; i <= 3000; ++i)
        expected.emplace_back(i % 7 == 0 ? -1 : i % 50, i);
    std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
    auto rows = readAll(*c);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i][0], Value(expected[i].second)) << "position " << i;
        EXPECT_LE(dynamic_cast<sql::SqlTableCursor&>(*c).cachedRows(), 8192u);
    }
    EXPECT_EQ(c->count(), 3000);
    Row row;
    RowId id;
    // Backwards from the end, and random jumps.
    for (int64_t pos = 2999; pos >= 2500; --pos) {
        ASSERT_TRUE(c->read(pos, row, id));
        ASSERT_EQ(row[0], Value(expected[pos].second));
    }
    for (int64_t pos : {1500, 0, 2999, 17, 2222, 428}) {
        ASSERT_TRUE(c->read(pos, row, id));
        EXPECT_EQ(row[0], Value(expected[pos].second));
        EXPECT_EQ(c->positionOf(id), pos);
    }
    EXPECT_FALSE(c->read(3000, row, id));
    RowId byKey;
    byKey.key = {expected[1234].second};
    EXPECT_EQ(c->positionOf(byKey), 1234);
}

// Whatever a column holds (SQLite lets an INTEGER column keep text, a DATE column a
// number), the one-pass scan gives what reading position by position gives.
TEST_F(SqliteDriverTest, OnePassGivesTheSameRecordsAsReadingOneByOne) {
    rawExec(file, "CREATE TABLE mix (id INTEGER PRIMARY KEY, n INTEGER, f DOUBLE, d DATE, t TIMESTAMP, b BOOLEAN,"
                  " m NUMERIC(10,2), s VARCHAR(20), x BLOB); CREATE INDEX byf ON mix (f DESC, s);"
                  "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 2500) "
                  "INSERT INTO mix SELECT i, CASE i % 5 WHEN 0 THEN NULL WHEN 1 THEN 'text ' || i WHEN 2 THEN i * 1.5 ELSE i END,"
                  " CASE WHEN i % 7 = 0 THEN '  ' || i ELSE i / 3.0 END,"
                  " CASE i % 4 WHEN 0 THEN '2001-02-' || (1 + i % 28) WHEN 1 THEN 20010203 WHEN 2 THEN 'no date' ELSE NULL END,"
                  " '2001-02-03 04:05:' || (10 + i % 50), CASE i % 3 WHEN 0 THEN 'true' WHEN 1 THEN 0 ELSE 'maybe' END,"
                  " CASE WHEN i % 2 = 0 THEN i * 0.25 ELSE 'x' END, '山田' || (i % 97), CASE WHEN i % 6 = 0 THEN x'00ff' END FROM k");
    auto db = connect(file);
    auto c = db->openTable("mix", {});
    forEachOrderAndFilter(*c, {"", "byf"}, {"", "s >= '山田5'"}, [&] {
        const auto on = csvReadingOn(*c);
        ASSERT_GT(on.size(), 500u);
        EXPECT_TRUE(on == csvScanning(*c));
    });
    int64_t seen = 0;
    EXPECT_FALSE(c->scan([&](const Row&) { return ++seen < 3; }));
    EXPECT_EQ(seen, 3);
}

TEST_F(SqliteDriverTest, ChangesBySomeoneElseAreConflictsAndChangeNothing) {
    rawExec(file, "CREATE TABLE k (id INTEGER PRIMARY KEY, name VARCHAR(20), amount DOUBLE);"
                  "INSERT INTO k VALUES (1, 'a', 1.5), (2, 'b', NULL), (3, 'c', 0.1);"
                  "CREATE TABLE nokey (name VARCHAR(20), n INTEGER); INSERT INTO nokey VALUES ('x', 1), ('x', 1)");
    auto dbA = connect(file), dbB = connect(file);
    auto a = dbA->openTable("k", {}), b = dbB->openTable("k", {});
    Row ra, rb;
    RowId ia, ib;
    ASSERT_TRUE(a->read(1, ra, ia));
    ASSERT_TRUE(b->read(1, rb, ib));
    Row changed = rb;
    changed[2] = 9.0;
    b->update(ib, rb, changed);
    Row mine = ra;
    mine[1] = std::string("mine");
    EXPECT_EQ(errorCodeOf([&] { a->update(ia, ra, mine); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { a->remove(ia, ra); }), ErrUpdateConflict);
    a->refresh();
    ASSERT_TRUE(a->read(1, ra, ia));
    EXPECT_EQ(ra[1], Value(std::string("b")));
    EXPECT_EQ(ra[2], Value(9.0));
    a->update(ia, ra, mine);
    ASSERT_TRUE(b->read(2, rb, ib));
    a->remove(RowId{-1, {int64_t{3}}}, rb);
    EXPECT_EQ(errorCodeOf([&] { b->remove(ib, rb); }), ErrUpdateConflict);
    EXPECT_EQ(errorCodeOf([&] { a->insert({int64_t{1}, std::string("dup"), Value()}); }), ErrKeyViolation);
    b->refresh();
    EXPECT_EQ(b->count(), 2);

    // Without a primary key, identical rows stay apart by their row number.
    auto n = dbA->openTable("nokey", {});
    EXPECT_EQ(n->readOnlyReason(), "");
    ASSERT_TRUE(n->read(1, ra, ia));
    Row upd = ra;
    upd[1] = int64_t{2};
    n->update(ia, ra, upd);
    auto rows = readAll(*n);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], Value(int64_t{1}));
    EXPECT_EQ(rows[1][1], Value(int64_t{2}));
    EXPECT_EQ(errorCodeOf([&] { n->update(ia, Row{std::string("x"), int64_t{1}}, upd); }), ErrUpdateConflict);
    // The same id handed back with the values just written: a second edit, not a conflict.
    Row again = upd;
    again[0] = std::string("z");
    n->update(ia, upd, again);
    n->remove(ia, again);
    EXPECT_EQ(n->count(), 1);
    rawExec(file, "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 1500) "
                  "INSERT INTO nokey SELECT 'y', i FROM s");
    n->refresh();
    rows = readAll(*n);
    ASSERT_EQ(rows.size(), 1501u);
    EXPECT_EQ(rows.back()[1], Value(int64_t{1500}));
}

TEST_F(SqliteDriverTest, ServerFiltersGiveTheDatasetsOwnResults) {
    rawExec(file, "CREATE TABLE f (id INTEGER PRIMARY KEY, name VARCHAR(20), qty INTEGER, price NUMERIC(10,2), d DATE,"
                  " ts DATETIME, ok BOOLEAN);"
                  "INSERT INTO f VALUES (1, 'abc', 5, 10.5, '2001-04-01', '2001-04-01 10:00:00', 1),"
                  " (2, 'abc  ', 6, 11, '2001-03-31', '2001-04-02 00:00:00', 0), (3, NULL, NULL, NULL, NULL, NULL, NULL),"
                  " (4, '', -3, 0, '2002-01-01', '2001-04-01 00:00:00', 1), (5, '   ', 7, 99.99, '2001-04-01', NULL, 0),"
                  " (6, 'abd', 0, -1, '1999-12-31', '1999-12-31 23:59:59', NULL), (7, '山田太郎', 10, 5, '2001-04-02', NULL, 1),"
                  " (8, 'ab', 2, 2, NULL, NULL, 1), (9, 'Abc', 3, 3, '2001-04-01', NULL, 0)");
    auto db = connect(file);
    auto c = db->openTable("f", {});
    for (const char* text : {"name = 'abc'", "name <> 'abc'", "NOT (name = 'abc')", "name = 'ab*'", "name <> 'ab*'",
                             "name = '*'", "name = '山田*'", "name = BLANK", "name <> NULL", "name > 'ab'",
                             "qty > 5", "qty >= -3 and name < 'b'", "price > 10.5", "price <= '3'", "qty > -2",
                             "d >= '2001/04/01'", "ts < '2001/04/02'", "ts = '2001/04/01'", "ok = TRUE", "ok <> 'F'",
                             "qty > price", "not (qty > 5 or name = 'abc')", "name = 'abc  '"})
        expectFilterAgrees(*c, text, true);
    expectFilterAgrees(*c, "qty + 1 > 5", false);
    EXPECT_EQ(c->count(), 9);
}

TEST_F(SqliteDriverTest, SampleDatabaseOpensWithJapaneseDataAndAReadOnlyView) {
    auto sample = dir.path() / "sample.db";
    writeSqliteSample(sample);
    writeSqliteSample(sample); // over an existing file
    auto db = connect(sample);
    auto names = db->tableNames("*", false, false);
    EXPECT_EQ(names, (std::vector<std::string>{"CUSTOMER", "ORDERS", "ORDER_SUMMARY"}));
    auto cust = db->openTable("CUSTOMER", {});
    Row row;
    RowId id;
    ASSERT_TRUE(cust->read(0, row, id));
    EXPECT_EQ(row[1], Value(std::string("山田商事株式会社")));
    EXPECT_GE(cust->indexes().size(), 2u);
    auto view = db->openTable("order_summary", {});
    EXPECT_NE(view->readOnlyReason(), "");
    EXPECT_EQ(view->count(), cust->count());
    EXPECT_EQ(errorCodeOf([&] { view->insert(Row(view->fields().size())); }), ErrReadOnly);
    EXPECT_EQ(errorCodeOf([&] { db->renameTable("ORDER_SUMMARY", "X"); }), ErrNotSupported);
}

TEST_F(SqliteDriverTest, QueriesAndStatementsTakeNamedParameters) {
    rawExec(file, "CREATE TABLE q (id INTEGER PRIMARY KEY, name VARCHAR(20), d DATE);"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
                  "INSERT INTO q SELECT i, 'n' || i, '2001-04-01' FROM n");
    auto db = connect(file);
    std::vector<QueryParam> p{{"NEW", FieldType::String, std::string("it's :new")}, {"id", FieldType::Integer, int64_t{3}}};
    EXPECT_EQ(db->executeSql("UPDATE q SET name = :new WHERE id = :ID", p), 1);
    auto c = db->openQuery("SELECT id, name AS \"名前\", d FROM q -- :nothing here\n"
                           "WHERE id >= :MIN AND name <> ':min' ORDER BY id DESC;",
                           {{"min", FieldType::Integer, int64_t{3}}});
    ASSERT_EQ(c->fields().size(), 3u);
    EXPECT_EQ(c->fields()[1].name, "名前");
    EXPECT_EQ(c->fields()[2].type, FieldType::Date);
    EXPECT_EQ(c->count(), 498);
    auto rows = readAll(*c);
    ASSERT_EQ(rows.size(), 498u);
    EXPECT_EQ(rows.front()[0], Value(int64_t{500}));
    EXPECT_EQ(rows.back()[1], Value(std::string("it's :new")));
    EXPECT_EQ(rows.back()[2], Value(Date{2001, 4, 1}));
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(250, row, id));
    EXPECT_EQ(row[0], Value(int64_t{250}));
    EXPECT_EQ(errorCodeOf([&] { c->insert(row); }), ErrReadOnly);
    EXPECT_EQ(errorCodeOf([&] { db->openQuery("SELECT * FROM q WHERE id = :missing", {}); }), ErrInvalidParam);
    EXPECT_EQ(errorCodeOf([&] { db->executeSql("DELETE FROM q; DROP TABLE q", {}); }), ErrInvalidParam);
    EXPECT_EQ(readAll(*db->openTable("q", {})).size(), 500u);
    EXPECT_NE(errorCodeOf([&] { db->openQuery("SELEKT 1", {}); }), 0);
}
