// SQL over the files of a STANDARD alias compared with an independent oracle: the same
// tables read by python3-dbfread (dBASE) and pxlib (Paradox) into a native SQLite database,
// the same statements run there, the results compared row for row. After writes through
// SQL the files are read again by those peers.
#include "EngineTestSupport.h"
#include "PxlibPeer.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/localsql/LocalSql.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <iconv.h>
#include <paradox.h>
#include <sqlite3.h>

using namespace vemo::engine;

namespace {

std::string cp932ToUtf8(const std::string& in) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    std::string out(in.size() * 3 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t left = in.size(), room = out.size();
    char* dst = out.data();
    iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

std::string text(const Value& v) {
    if (isNull(v)) return "NULL";
    if (const auto* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
    if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) return sql::doubleText(*d);
    if (const auto* dec = std::get_if<Decimal>(&v)) return sql::doubleText(sql::parseDouble(dec->text).value_or(0));
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* d = std::get_if<Date>(&v)) return sql::isoDate(*d);
    return sql::paramText(v).value_or("?");
}

class LocalSqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = makeStandardDriver(localsql::LocalSql::factory())
                  ->connect("L", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        auto f = [](const char* name, FieldType t, const char* native, int size, int prec = 0, int scale = 0) {
            FieldDef d = enginetest::field(name, t, size);
            d.nativeType = native;
            d.precision = prec;
            d.scale = scale;
            return d;
        };
        IndexDef byId{"ID", "ID", false, false, false, false, "", ""};
        IndexDef byPref{"PREF", "PREF", false, false, false, false, "", ""};
        db_->createTable("CUST.DBF",
                         {f("ID", FieldType::Integer, "N", 0, 8, 0), f("NAME", FieldType::String, "C", 20),
                          f("PREF", FieldType::String, "C", 10), f("AMOUNT", FieldType::Float, "N", 0, 10, 2),
                          f("BORN", FieldType::Date, "D", 0), f("NOTE", FieldType::Memo, "M", 0)},
                         {byId, byPref});
        const char* names[] = {"山田太郎", "ｻﾄｳ ﾊﾅｺ", "鈴木一郎", "佐藤花子", "高橋", "Smith", "ａｂｃ", "渡辺"};
        const char* prefs[] = {"TOKYO", "OSAKA", "KYOTO", "AICHI", "HOKKAIDO"};
        {
            auto c = db_->openTable("CUST.DBF", {});
            for (int i = 1; i <= 40; ++i) {
                Row r{int64_t((i * 7) % 41), std::string(names[i % 8]) + std::to_string(i % 5),
                      i % 6 == 0 ? Value{} : Value(std::string(prefs[i % 5])), double((i * 137) % 1000) + 0.25 * (i % 4),
                      i % 7 == 0 ? Value{} : Value(Date{1950 + i, 1 + i % 12, 1 + i % 28}),
                      i % 3 == 0 ? Value{} : Value("メモ" + std::to_string(i) + (i % 5 == 0 ? "\r\n二行目" : ""))};
                c->insert(r);
            }
        }
        IndexDef key{"", "ORDNO", true, true, false, false, "", ""};
        db_->createTable("ORDERS.DB",
                         {enginetest::field("ORDNO", FieldType::Integer), enginetest::field("CUSTID", FieldType::Integer),
                          enginetest::field("ITEM", FieldType::String, 20), enginetest::field("QTY", FieldType::Smallint),
                          enginetest::field("PRICE", FieldType::Float)},
                         {key});
        {
            auto c = db_->openTable("ORDERS.DB", {});
            const char* items[] = {"りんご", "みかん", "ぶどう", "apple", "ﾊﾞﾅﾅ"};
            for (int i = 60; i >= 1; --i)
                c->insert({int64_t(i), int64_t(i % 23), std::string(items[i % 5]), int64_t(i % 9), 10.5 * (i % 7)});
        }
    }

    // The folder as the peers read it, in a native SQLite database.
    sqlite3* loadOracle() {
        const auto file = dir_ / ("oracle" + std::to_string(++oracles_) + ".sqlite");
        const std::string cmd = "/usr/bin/python3 " + std::string(LOCALSQL_TEST_DIR) + "/load_dbf_oracle.py " +
                                dir_.path().string() + " " + file.string();
        if (std::system(cmd.c_str()) != 0)
            throw std::runtime_error("the dBASE oracle failed: " + cmd);
        sqlite3* o = nullptr;
        sqlite3_open(file.c_str(), &o);
        const auto px = pxpeer::read(dir_ / "ORDERS.DB");
        std::string ddl = "CREATE TABLE ORDERS (";
        for (size_t i = 0; i < px.fields.size(); ++i)
            ddl += (i ? ", \"" : "\"") + px.fields[i].name + "\" " +
                   (px.fields[i].type == pxfAlpha ? "TEXT" : px.fields[i].type == pxfNumber ? "REAL" : "INTEGER");
        exec(o, ddl + ")");
        for (const auto& row : px.rows) {
            std::string ins = "INSERT INTO ORDERS VALUES (";
            for (size_t i = 0; i < row.size(); ++i) {
                const auto& v = row[i];
                std::string lit = "NULL";
                if (!v.null) {
                    switch (px.fields[i].type) {
                    case pxfAlpha: lit = sql::quoteLiteral(cp932ToUtf8(v.s)); break;
                    case pxfNumber: case pxfCurrency: lit = sql::doubleText(v.d); break;
                    default: lit = std::to_string(v.l); break;
                    }
                }
                ins += (i ? "," : "") + lit;
            }
            exec(o, ins + ")");
        }
        return o;
    }

    static void exec(sqlite3* o, const std::string& s) {
        char* err = nullptr;
        if (sqlite3_exec(o, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string m = err ? err : "?";
            sqlite3_free(err);
            throw std::runtime_error(m + " in " + s);
        }
    }

    static std::string theirs(sqlite3* o, const std::string& s) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(o, s.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(o));
        std::string out;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                Value v;
                switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER: v = int64_t(sqlite3_column_int64(st, i)); break;
                case SQLITE_FLOAT: v = sqlite3_column_double(st, i); break;
                case SQLITE_TEXT: v = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i))); break;
                default: break;
                }
                out += (i ? "|" : "") + text(v);
            }
            out += "\n";
        }
        sqlite3_finalize(st);
        return out;
    }

    std::string ours(const std::string& s, const std::vector<QueryParam>& params = {}) {
        auto c = db_->openQuery(s, params);
        std::string out;
        c->scan([&](const Row& r) {
            for (size_t i = 0; i < r.size(); ++i)
                out += (i ? "|" : "") + text(r[i]);
            out += "\n";
            return true;
        });
        return out;
    }

    enginetest::TempDir dir_;
    std::unique_ptr<Database> db_;
    int oracles_ = 0;
};

const char* kReads[] = {
    "SELECT ID, NAME, PREF, AMOUNT, BORN, NOTE FROM CUST ORDER BY ID",
    "SELECT PREF, COUNT(*), SUM(AMOUNT), MIN(BORN), MAX(NAME) FROM CUST GROUP BY PREF ORDER BY PREF",
    "SELECT NAME, ID FROM CUST ORDER BY NAME DESC, ID",
    "SELECT c.NAME, o.ORDNO, o.ITEM, o.QTY * o.PRICE FROM CUST c JOIN ORDERS o ON o.CUSTID = c.ID ORDER BY o.ORDNO",
    "SELECT c.ID, COUNT(o.ORDNO), SUM(o.QTY) FROM CUST c LEFT JOIN ORDERS o ON o.CUSTID = c.ID GROUP BY c.ID ORDER BY c.ID",
    "SELECT ID FROM CUST WHERE PREF IS NULL ORDER BY ID",
    "SELECT ID, NAME FROM CUST WHERE ID = 17",
    "SELECT ID FROM CUST WHERE ID BETWEEN 5 AND 12 ORDER BY ID",
    "SELECT ID FROM CUST WHERE ID > 30 ORDER BY ID",
    "SELECT ID FROM CUST WHERE ID = '9'",
    "SELECT ID, PREF FROM CUST WHERE PREF = 'OSAKA' ORDER BY ID",
    "SELECT ID, PREF FROM CUST WHERE PREF >= 'HOKKAIDO' AND PREF < 'OSAKA' ORDER BY ID",
    "SELECT ORDNO, ITEM FROM ORDERS WHERE ORDNO >= 10 AND ORDNO < 20 ORDER BY ORDNO",
    "SELECT ITEM, COUNT(*), SUM(PRICE) FROM ORDERS GROUP BY ITEM ORDER BY ITEM",
    "SELECT ID, NOTE FROM CUST WHERE NOTE LIKE '%二行目%' ORDER BY ID",
    "SELECT strftime('%Y', BORN) AS y, COUNT(*) FROM CUST WHERE BORN IS NOT NULL GROUP BY y ORDER BY y",
    "SELECT ID FROM CUST WHERE BORN >= '1970-01-01' AND BORN < '1980-01-01' ORDER BY ID",
};

std::string dumpAll(const std::function<std::string(const std::string&)>& run) {
    return run("SELECT ID, NAME, PREF, AMOUNT, BORN, NOTE FROM CUST ORDER BY ID, NAME") +
           "--\n" + run("SELECT ORDNO, CUSTID, ITEM, QTY, PRICE FROM ORDERS ORDER BY ORDNO");
}

} // namespace

TEST_F(LocalSqlTest, SelectsAgreeWithTheOracleRowForRow) {
    sqlite3* o = loadOracle();
    for (const char* s : kReads)
        EXPECT_EQ(ours(s), theirs(o, s)) << s;
    sqlite3_close(o);
}

TEST_F(LocalSqlTest, TablesAnswerToTheirNameWithOrWithoutExtensionAndAsAQuotedFileName) {
    const std::string expected = ours("SELECT COUNT(*), SUM(ID) FROM CUST");
    EXPECT_EQ(expected, "40|820\n");
    EXPECT_EQ(ours("SELECT COUNT(*), SUM(ID) FROM cust"), expected);
    EXPECT_EQ(ours("SELECT COUNT(*), SUM(ID) FROM \"Cust.dbf\""), expected);
    EXPECT_EQ(ours("SELECT COUNT(*) FROM \"orders.db\" JOIN CUST ON CUST.ID = \"orders.db\".CUSTID"),
              ours("SELECT COUNT(*) FROM ORDERS JOIN CUST ON CUST.ID = ORDERS.CUSTID"));
    EXPECT_EQ(enginetest::errorCodeOf([&] { ours("SELECT * FROM NOSUCH"); }), ErrGeneral);
    // Nothing that would live only in the embedded connection, nor any other file.
    for (const char* s : {"CREATE TABLE X (A INTEGER)", "DROP TABLE CUST", "CREATE INDEX I ON CUST (NAME)",
                          "ATTACH DATABASE '/tmp/x.sqlite' AS x", "CREATE VIEW V AS SELECT * FROM CUST"})
        EXPECT_NE(enginetest::errorCodeOf([&] { db_->executeSql(s, {}); }), 0) << s;
    EXPECT_EQ(enginetest::errorCodeOf([&] { db_->executeSql("CREATE TABLE X (A INTEGER)", {}); }), ErrNotSupported);
    EXPECT_EQ(ours("SELECT COUNT(*) FROM CUST"), "40\n");
}

TEST_F(LocalSqlTest, NamedParametersBindAsInTheSqlDrivers) {
    std::vector<QueryParam> p{{"ID", FieldType::Integer, int64_t(17)}, {"pref", FieldType::String, std::string("OSAKA")}};
    EXPECT_EQ(ours("SELECT ID, NAME FROM CUST WHERE ID = :ID OR (PREF = :PREF AND ID < :id) ORDER BY ID", p),
              ours("SELECT ID, NAME FROM CUST WHERE ID = 17 OR (PREF = 'OSAKA' AND ID < 17) ORDER BY ID"));
    EXPECT_EQ(db_->executeSql("UPDATE CUST SET NOTE = :N WHERE ID = :ID",
                              {{"N", FieldType::String, std::string("パラメータ")}, {"ID", FieldType::Integer, int64_t(17)}}),
              1);
    EXPECT_EQ(ours("SELECT NOTE FROM CUST WHERE ID = 17"), "パラメータ\n");
    EXPECT_EQ(enginetest::errorCodeOf([&] { ours("SELECT * FROM CUST WHERE ID = :MISSING"); }), ErrInvalidParam);
}

TEST_F(LocalSqlTest, WritesThroughSqlAreReadBackByThePeersAsTheOracleWouldHaveThem) {
    sqlite3* expected = loadOracle();
    const char* writes[] = {
        "INSERT INTO CUST (ID, NAME, PREF, AMOUNT, BORN, NOTE) VALUES (100, '新規顧客', 'NARA', 12.5, '2001-02-03', '新しいメモ')",
        "INSERT INTO CUST (ID, NAME) VALUES (101, 'ﾃｽﾄ')",
        "UPDATE CUST SET AMOUNT = AMOUNT * 2, PREF = 'KYOTO' WHERE ID % 3 = 0",
        "DELETE FROM CUST WHERE ID BETWEEN 20 AND 24",
        "UPDATE ORDERS SET QTY = QTY + 1, ITEM = ITEM || '済' WHERE CUSTID = 3",
        "DELETE FROM ORDERS WHERE ORDNO > 50",
        "INSERT INTO ORDERS VALUES (70, 5, 'なし', 2, 1.5)",
        "UPDATE ORDERS SET ORDNO = ORDNO + 100 WHERE ORDNO BETWEEN 1 AND 5",
        "UPDATE CUST SET ID = ID + 1000 WHERE ID > 10",
    };
    for (const char* w : writes) {
        const int64_t n = db_->executeSql(w, {});
        exec(expected, w);
        EXPECT_EQ(n, sqlite3_changes(expected)) << w;
    }
    auto native = [&](const std::string& s) { return theirs(expected, s); };
    sqlite3* reread = loadOracle();
    auto peers = [&](const std::string& s) { return theirs(reread, s); };
    EXPECT_EQ(dumpAll(peers), dumpAll(native));
    // Lookups through the indexes find the changed records where the peers have them.
    for (const char* s : {"SELECT ID, NAME FROM CUST WHERE ID = 1027", "SELECT ID FROM CUST WHERE ID > 1000 ORDER BY ID",
                          "SELECT ID FROM CUST WHERE ID < 1000 ORDER BY ID", "SELECT ID FROM CUST WHERE PREF = 'KYOTO' ORDER BY ID",
                          "SELECT ORDNO, QTY FROM ORDERS WHERE ORDNO >= 100 ORDER BY ORDNO", "SELECT ORDNO FROM ORDERS WHERE ORDNO = 70"})
        EXPECT_EQ(ours(s), native(s)) << s;
    sqlite3_close(expected);
    sqlite3_close(reread);
}

TEST_F(LocalSqlTest, AStatementThatFailsPartWayChangesNothing) {
    const std::string before = dumpAll([&](const std::string& s) { return ours(s); });
    // A key violation on the fourth record, after three were moved.
    EXPECT_NE(enginetest::errorCodeOf([&] { db_->executeSql("UPDATE ORDERS SET ORDNO = ORDNO + 3 WHERE ORDNO <= 6", {}); }), 0);
    // New records inserted in descending order, until one repeats an existing key.
    EXPECT_NE(enginetest::errorCodeOf([&] {
        db_->executeSql("INSERT INTO ORDERS SELECT ORDNO + 55, CUSTID, ITEM, QTY, PRICE FROM ORDERS ORDER BY ORDNO DESC", {});
    }), 0);
    // A value that does not convert, after earlier records were changed and deleted.
    EXPECT_NE(enginetest::errorCodeOf([&] {
        db_->executeSql("UPDATE CUST SET AMOUNT = CASE WHEN ID < 30 THEN AMOUNT + 1 ELSE 'abc' END", {});
    }), 0);
    EXPECT_EQ(dumpAll([&](const std::string& s) { return ours(s); }), before);
    sqlite3* o = loadOracle();
    EXPECT_EQ(dumpAll([&](const std::string& s) { return theirs(o, s); }), before) << "the files as the peers read them";
    sqlite3_close(o);
}

TEST_F(LocalSqlTest, ASelectOverOneDbaseTableOpensEditableWithTheTableWindowsConflictCheck) {
    auto live = db_->openQuery("SELECT NAME AS N, AMOUNT, BORN FROM CUST WHERE ID < :MAX ORDER BY ID DESC",
                               {{"MAX", FieldType::Integer, int64_t(10)}});
    ASSERT_EQ(live->readOnlyReason(), "");
    EXPECT_EQ(live->fields()[0].name, "N");
    EXPECT_EQ(live->fields()[2].type, FieldType::Date);
    Row row, other;
    RowId id, otherId;
    ASSERT_TRUE(live->read(0, row, id)); // ID 9
    ASSERT_TRUE(live->read(1, other, otherId)); // ID 8
    Row after = row;
    after[0] = std::string("更新後");
    after[1] = 1.75;
    live->update(id, row, after);
    live->refresh();
    EXPECT_EQ(live->positionOf(id), 0);
    // Changed by someone else since it was read: the edit is refused and nothing changes.
    db_->executeSql("UPDATE CUST SET AMOUNT = 5 WHERE ID = 8", {});
    Row stale = other;
    stale[0] = std::string("上書き");
    EXPECT_EQ(enginetest::errorCodeOf([&] { live->update(otherId, other, stale); }), ErrUpdateConflict);
    live->remove(otherId, [&] { Row r; RowId i; live->refresh(); live->read(1, r, i); return r; }());
    live->insert({std::string("追加"), 2.5, Date{2020, 2, 29}});
    sqlite3* o = loadOracle();
    EXPECT_EQ(theirs(o, "SELECT ID, NAME, AMOUNT FROM CUST WHERE ID IN (8, 9) ORDER BY ID"), "9|更新後|1.75\n");
    EXPECT_EQ(theirs(o, "SELECT ID, NAME, AMOUNT, BORN FROM CUST WHERE NAME = '追加'"), "NULL|追加|2.5|2020-02-29\n");
    sqlite3_close(o);
    // Anything else opens read-only.
    for (const char* s : {"SELECT PREF, COUNT(*) FROM CUST GROUP BY PREF", "SELECT c.NAME FROM CUST c JOIN ORDERS o ON o.CUSTID = c.ID",
                          "SELECT NAME, AMOUNT * 2 FROM CUST", "SELECT DISTINCT PREF FROM CUST", "SELECT ITEM, ITEM FROM ORDERS"})
        EXPECT_NE(db_->openQuery(s, {})->readOnlyReason(), "") << s;
}

TEST_F(LocalSqlTest, ASelectOverAKeyedParadoxTableFindsItsRecordsByKey) {
    // The key is not shown: it travels in hidden columns, and records move as keys change.
    auto live = db_->openQuery("SELECT ITEM, QTY FROM ORDERS WHERE ORDNO BETWEEN 10 AND 14 ORDER BY ORDNO DESC", {});
    ASSERT_EQ(live->readOnlyReason(), "");
    ASSERT_EQ(live->fields().size(), 2u);
    EXPECT_EQ(live->count(), 5);
    Row row, other;
    RowId id, otherId;
    ASSERT_TRUE(live->read(0, row, id));        // ORDNO 14
    ASSERT_TRUE(live->read(1, other, otherId)); // ORDNO 13
    Row after = row;
    after[0] = std::string("なし");
    live->update(id, row, after);
    live->refresh();
    EXPECT_EQ(live->positionOf(id), 0);
    // An edit of a record someone else changed is refused; a delete of a fresh one goes.
    db_->executeSql("UPDATE ORDERS SET QTY = 0 WHERE ORDNO = 13", {});
    Row stale = other;
    stale[1] = int64_t(7);
    EXPECT_EQ(enginetest::errorCodeOf([&] { live->update(otherId, other, stale); }), ErrUpdateConflict);
    EXPECT_EQ(enginetest::errorCodeOf([&] { live->remove(otherId, other); }), ErrUpdateConflict);
    Row fresh;
    live->refresh();
    ASSERT_TRUE(live->read(1, fresh, otherId));
    live->remove(otherId, fresh);
    live->refresh();
    EXPECT_EQ(live->count(), 4);

    // With the key shown, a new record goes in at its key's place.
    auto keyed = db_->openQuery("SELECT ORDNO, ITEM FROM ORDERS WHERE ORDNO > 55", {});
    ASSERT_EQ(keyed->readOnlyReason(), "");
    const RowId added = keyed->insert({int64_t(100), std::string("追加")});
    keyed->refresh();
    EXPECT_EQ(keyed->positionOf(added), keyed->count() - 1);

    sqlite3* o = loadOracle();
    EXPECT_EQ(theirs(o, "SELECT ORDNO, ITEM FROM ORDERS WHERE ORDNO IN (13, 14, 100) ORDER BY ORDNO"), "14|なし\n100|追加\n");
    sqlite3_close(o);
}

namespace {

// Turns the ID of one record of a DBF into another number in the file itself, as a program
// that does not keep the indexes would: the index still files the record under its old key.
void rewriteIdBehindTheIndex(const std::filesystem::path& dbf, int64_t recno, int64_t id) {
    std::FILE* f = std::fopen(dbf.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    unsigned char h[12];
    ASSERT_EQ(std::fread(h, 1, sizeof h, f), sizeof h);
    const long headerLength = h[8] | h[9] << 8, recordLength = h[10] | h[11] << 8;
    char field[9];
    std::snprintf(field, sizeof field, "%8lld", static_cast<long long>(id));
    std::fseek(f, headerLength + (recno - 1) * recordLength + 1, SEEK_SET); // ID is the first field
    std::fwrite(field, 1, 8, f);
    std::fclose(f);
}

} // namespace

// Lookups and ranges go down the index tree of a table big enough for several levels, with
// repeated keys, deleted records, negative and absent keys; each is checked against the
// oracle, also after the grid moved a key in place and after another program changed a
// record behind the index.
TEST_F(LocalSqlTest, IndexLookupsInALargeTableAgreeWithTheOracle) {
    IndexDef byId{"ID", "ID", false, false, false, false, "", ""};
    db_->createTable("BIG.DBF",
                     {dbase::dbaseField("ID", "N", 8), dbase::dbaseField("GRP", "C", 4), dbase::dbaseField("V", "N", 10, 1)},
                     {byId});
    {
        auto c = db_->openTable("BIG", {});
        c->beginBatch();
        for (int i = 0; i < 3000; ++i)
            c->insert({int64_t((i * 37) % 1009 - 100), std::string("G") + std::to_string(i % 7), double(i) + 0.5});
        c->commitBatch();
        Row r;
        RowId id;
        for (int64_t pos = 0; c->read(pos, r, id); pos += 11)
            c->remove(id, r);
    }
    const std::vector<std::string> lookups = {
        "SELECT ID, GRP, V FROM BIG WHERE ID = 5 ORDER BY V",
        "SELECT ID, GRP, V FROM BIG WHERE ID = -100 ORDER BY V",
        "SELECT ID, GRP, V FROM BIG WHERE ID = 908 ORDER BY V",
        "SELECT ID, V FROM BIG WHERE ID = 2000",
        "SELECT ID, V FROM BIG WHERE ID = -101",
        "SELECT ID, V FROM BIG WHERE ID = 0 ORDER BY V",
        "SELECT ID, V FROM BIG WHERE ID = '17' ORDER BY V",
        "SELECT ID, V FROM BIG WHERE ID = 17.0 ORDER BY V",
        "SELECT ID, V FROM BIG WHERE ID = 17.5",
        "SELECT COUNT(*), SUM(V) FROM BIG WHERE ID >= 500",
        "SELECT ID, V FROM BIG WHERE ID > 500 AND ID <= 520 ORDER BY ID, V",
        "SELECT ID, V FROM BIG WHERE ID < -90 ORDER BY ID, V",
        "SELECT COUNT(*), MIN(V), MAX(V) FROM BIG WHERE ID BETWEEN -5 AND 5",
        "SELECT COUNT(*), SUM(b.V) FROM CUST c JOIN BIG b ON b.ID = c.ID",
        "SELECT c.ID, b.V FROM CUST c JOIN BIG b ON b.ID = c.ID WHERE c.ID < 10 ORDER BY c.ID, b.V",
    };
    sqlite3* o = loadOracle();
    for (const auto& s : lookups)
        EXPECT_EQ(ours(s), theirs(o, s)) << s;
    sqlite3_close(o);

    // The grid gives a record another key: the tree changes in place, and the next
    // statement finds the record under its new key only.
    {
        auto c = db_->openTable("BIG", {});
        c->setOrder("ID");
        ASSERT_GE(c->seek({int64_t(5)}), 0);
        Row r, after;
        RowId id;
        ASSERT_TRUE(c->read(c->seek({int64_t(5)}), r, id));
        after = r;
        after[0] = int64_t(7777);
        c->update(id, r, after);
    }
    o = loadOracle();
    for (const char* s : {"SELECT ID, GRP, V FROM BIG WHERE ID = 5 ORDER BY V", "SELECT ID, GRP, V FROM BIG WHERE ID = 7777",
                          "SELECT COUNT(*) FROM BIG WHERE ID > 1000"})
        EXPECT_EQ(ours(s), theirs(o, s)) << s;
    sqlite3_close(o);

    // Of two records filed under 20, the first one now holds 9999 in the file: the lookup
    // passes it over and still finds the other.
    const std::string twenties = ours("SELECT V FROM BIG WHERE ID = 20 ORDER BY V");
    ASSERT_GE(std::count(twenties.begin(), twenties.end(), '\n'), 2) << twenties;
    auto c = db_->openTable("BIG", {OpenOptions{false, true}});
    c->setOrder("ID");
    Row r;
    RowId first;
    ASSERT_TRUE(c->read(c->seek({int64_t(20)}), r, first));
    c.reset();
    rewriteIdBehindTheIndex(dir_ / "BIG.DBF", first.recno, 9999);
    o = loadOracle();
    const char* s = "SELECT ID, V FROM BIG WHERE ID = 20 ORDER BY V";
    EXPECT_EQ(ours(s), theirs(o, s));
    EXPECT_NE(ours(s), "");
    sqlite3_close(o);
}

// An index with a condition holds only the records meeting it: a statement never searches
// through it, so the records outside it are found too.
TEST_F(LocalSqlTest, AnIndexWithAConditionIsNoWayToFindRecords) {
    IndexDef high{"HIGH", "ID", false, false, false, false, "", "V>100"};
    db_->createTable("COND.DBF", {dbase::dbaseField("ID", "N", 8), dbase::dbaseField("V", "N", 10, 1)}, {high});
    {
        auto c = db_->openTable("COND", {});
        ASSERT_EQ(c->readOnlyReason(), "");
        for (int i = 0; i < 300; ++i)
            c->insert({int64_t(i % 50), double(i)});
        c->setOrder("HIGH");
        EXPECT_EQ(c->count(), 199);
    }
    sqlite3* o = loadOracle();
    for (const char* s : {"SELECT ID, V FROM COND WHERE ID = 1 ORDER BY V", "SELECT COUNT(*) FROM COND WHERE ID >= 40",
                          "SELECT COUNT(*) FROM COND WHERE ID BETWEEN 3 AND 5"}) {
        EXPECT_EQ(ours(s), theirs(o, s)) << s;
    }
    EXPECT_EQ(ours("SELECT COUNT(*) FROM COND WHERE ID = 1"), "6\n");
    sqlite3_close(o);
}

// A long result is read by stepping its statement once from the start; a jump back runs
// it again. Results ending on, before and after a page's end give every row once, their
// count, and nothing past the end.
TEST_F(LocalSqlTest, ResultsReadInOrderAfterAJumpBackAndPastTheirEnd) {
    for (int n : {0, 1, 199, 200, 201, 1000, 5000}) {
        const std::string s = "WITH RECURSIVE n(x) AS (SELECT 1 WHERE " + std::to_string(n) +
                              " > 0 UNION ALL SELECT x + 1 FROM n WHERE x < " + std::to_string(n) + ") SELECT x, x * x FROM n";
        auto c = db_->openQuery(s, {});
        Row r;
        RowId id;
        int64_t pos = 0;
        for (; c->read(pos, r, id); ++pos)
            ASSERT_EQ(text(r[0]), std::to_string(pos + 1)) << n;
        EXPECT_EQ(pos, n);
        EXPECT_FALSE(c->read(n, r, id));
        EXPECT_FALSE(c->read(n + 7, r, id));
        EXPECT_EQ(c->count(), n);
        for (int64_t back : {int64_t(n) - 1, int64_t(n) / 2, int64_t(0), int64_t(n) * 3 / 4}) {
            if (back < 0 || back >= n)
                continue;
            ASSERT_TRUE(c->read(back, r, id)) << n << " at " << back;
            EXPECT_EQ(text(r[1]), std::to_string((back + 1) * (back + 1))) << n << " at " << back;
        }
    }
    // Over the tables: the rows backwards are the rows forwards reversed.
    const char* join = "SELECT c.NAME, o.ORDNO FROM CUST c JOIN ORDERS o ON o.CUSTID = c.ID ORDER BY o.ORDNO";
    auto c = db_->openQuery(join, {});
    std::vector<Row> forwards, backwards;
    Row r;
    RowId id;
    for (int64_t pos = 0; c->read(pos, r, id); ++pos)
        forwards.push_back(r);
    ASSERT_GT(forwards.size(), 10u);
    for (int64_t pos = static_cast<int64_t>(forwards.size()) - 1; pos >= 0; --pos) {
        ASSERT_TRUE(c->read(pos, r, id));
        backwards.insert(backwards.begin(), r);
    }
    EXPECT_EQ(backwards, forwards);
    sqlite3* o = loadOracle();
    EXPECT_EQ(ours(join), theirs(o, join));
    sqlite3_close(o);
}
