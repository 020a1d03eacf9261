// A server that goes away under an open table: clear errors, nothing half applied, and the
// same connection works again once the server is back. Runs against a private instance.
#include "SqlTestSupport.h"

#include "engine/drivers/Drivers.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

using namespace vemo::engine;
using namespace sqltest;

namespace {

std::string rawQuery(const std::string& sql) {
    const std::string dir = env("PG_DOWN_DIR"), port = env("PG_DOWN_PORT");
    std::string conninfo = "host=" + dir + " port=" + port + " dbname=postgres user=postgres";
    PGconn* c = PQconnectdb(conninfo.c_str());
    std::string out;
    if (PQstatus(c) == CONNECTION_OK) {
        PGresult* r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0)
            out = PQgetvalue(r, 0, 0);
        else if (PQresultStatus(r) != PGRES_COMMAND_OK)
            out = "error: " + std::string(PQresultErrorMessage(r));
        PQclear(r);
    } else {
        out = "error: " + std::string(PQerrorMessage(c));
    }
    PQfinish(c);
    return out;
}

int pgCtl(const std::string& args) {
    const std::string dir = env("PG_DOWN_DIR");
    std::string cmd = "runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D '" + dir + "/data' -w " + args +
                      " > /dev/null 2>&1";
    return std::system(cmd.c_str());
}

std::unique_ptr<Database> connectDown() {
    return makePostgresDriver()->connect("DOWN", {{"SERVER NAME", env("PG_DOWN_DIR")}, {"PORT", env("PG_DOWN_PORT")},
                                                  {"DATABASE NAME", "postgres"}, {"USER NAME", "postgres"},
                                                  {"SSLMODE", "disable"}}, {});
}

} // namespace

TEST(PostgresOutage, ServerGoingAwayGivesClearErrorsAndLosesNothing) {
    const std::string dir = env("PG_DOWN_DIR"), port = env("PG_DOWN_PORT");
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(rawQuery("DROP TABLE IF EXISTS acct; CREATE TABLE acct (id integer PRIMARY KEY, amount integer);"
                       "INSERT INTO acct VALUES (1, 100), (2, 200)"), "");
    auto db = connectDown();
    auto c = db->openTable("acct", {});
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    Row after = row;
    after[1] = int64_t{150};

    ASSERT_EQ(pgCtl("-m fast stop"), 0);
    try {
        c->update(id, row, after);
        FAIL() << "update reported success with the server gone";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrServer);
        EXPECT_NE(std::string(e.what()).find("サーバー"), std::string::npos) << e.what();
    }
    c->refresh();
    EXPECT_EQ(errorCodeOf([&] { c->count(); }), ErrServer);
    EXPECT_EQ(errorCodeOf([&] { db->createTable("x", {field("a", FieldType::Integer)}, {}); }), ErrServer);

    ASSERT_EQ(pgCtl("-l '" + dir + "/server.log' -o \"-p " + port + " -k " + dir + " -c listen_addresses=''\" start"), 0);
    EXPECT_EQ(rawQuery("SELECT amount FROM acct WHERE id = 1"), "100");
    EXPECT_EQ(rawQuery("SELECT count(*) FROM pg_class WHERE relname = 'x'"), "0");
    // The same alias connection picks up again.
    EXPECT_EQ(c->count(), 2);
    ASSERT_TRUE(c->read(0, row, id));
    c->update(id, row, after);
    EXPECT_EQ(rawQuery("SELECT amount FROM acct WHERE id = 1"), "150");
}

// The server going away in the middle of a one-pass read (an export) is an error, not a
// short result; once it is back the same connection reads the whole table again.
TEST(PostgresOutage, ServerGoingAwayDuringAOnePassReadIsAnError) {
    const std::string dir = env("PG_DOWN_DIR"), port = env("PG_DOWN_PORT");
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(rawQuery("DROP TABLE IF EXISTS many; CREATE TABLE many (id integer PRIMARY KEY, v text);"
                       "INSERT INTO many SELECT i, 'v' || i FROM generate_series(1, 30000) i"), "");
    auto db = connectDown();
    auto c = db->openTable("many", {});
    int64_t seen = 0;
    EXPECT_EQ(errorCodeOf([&] {
        c->scan([&](const Row&) {
            if (++seen == 10000) {
                EXPECT_EQ(pgCtl("-m fast stop"), 0);
            }
            return true;
        });
    }), ErrServer);
    EXPECT_LT(seen, 30000);
    ASSERT_EQ(pgCtl("-l '" + dir + "/server.log' -o \"-p " + port + " -k " + dir + " -c listen_addresses=''\" start"), 0);
    seen = 0;
    EXPECT_TRUE(c->scan([&](const Row&) { return ++seen > 0; }));
    EXPECT_EQ(seen, 30000);
}
