#pragma once
// One connection to a PostgreSQL server, in UTF8, text results.
#include "engine/contract/Driver.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <map>
#include <optional>
#include <string>

struct pg_conn;
struct pg_result;

namespace vemo::engine::sql {

struct PgLogin {
    std::string host, port, database, user, password, sslmode;
    std::string sslrootcert; // the certificates a server's is checked against (verify-ca, verify-full)
    // The alias's schema: unqualified names in SQL typed by the user resolve there first.
    std::string schema;
};

class PgConnection : public SqlConnection {
public:
    // Connects without a password unless one is given; asks `login` only when the server
    // demands one. Throws ErrLogin for a refused login, ErrLoginCancelled when `login`
    // declines, ErrServer otherwise.
    PgConnection(const std::string& alias, PgLogin login, const LoginCallback& ask);
    ~PgConnection() override;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Empty when the connection is encrypted or runs over a local socket; otherwise a
    // warning that what passes over it, the password among it, can be read on the way.
    std::string transportNotice(const std::string& alias) const;

    std::string placeholder(int n) const override { return "$" + std::to_string(n); }
    bool nullsFirstAscending() const override { return false; }
    std::string nullSafeEquals(const std::string& column, const std::string& param, const FieldDef& field) const override;
    void query(const std::string& sql, const std::vector<Value>& params,
               const std::function<void(Row&&)>& onRow) override;
    bool stream(const std::string& sql, const std::vector<Value>& params, const std::vector<FieldDef>& fields,
                const std::function<bool(const Row&)>& onRow) override;
    void queryAhead(const std::string& sql, const std::vector<Value>& params) override;
    int64_t execute(const std::string& sql, const std::vector<Value>& params) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    bool inTransaction() const override;
    Value toTyped(const Value& raw, const FieldDef& field) const override;
    std::vector<FieldDef> describe(const std::string& sql, const std::vector<Value>& params) override;
    std::vector<ColumnSource> columnSources(const std::string& sql, const std::vector<Value>& params) override;
    // A cursor declared on a second connection with the same login and settings, in a
    // read-only transaction of its own, so that this connection's writes and transactions
    // go on beside it.
    std::unique_ptr<RowCursor> openRowCursor(const std::string& sql, const std::vector<Value>& params) override;

    // A second connection to the same server, database and user, with the same options.
    std::unique_ptr<PgConnection> twin() const;

    // COPY ... FROM STDIN: starts it, sends text-format lines, ends it (throwing what the
    // server reports), or abandons it so that nothing of it is kept.
    void copyBegin(const std::string& sql);
    void copyData(const std::string& lines);
    void copyEnd();
    void copyAbort() noexcept;

    // Statements without parameters or results (DDL).
    void exec(const std::string& sql) { execute(sql, {}); }

private:
    explicit PgConnection(pg_conn* adopted);
    void ensureConnected();
    // Waits for a statement sent by queryAhead and drops its result.
    void dropAhead() noexcept;
    // Takes in a stream's batch that is on its way and keeps it for the stream.
    void takeInFlight() noexcept;
    // Runs a statement; one that reads or changes records with parameters is prepared on
    // the server once and run by name after that, so that a statement run for every record
    // of a move is parsed and planned once.
    pg_result* runKept(const std::string& sql, const std::vector<Value>& params);
    // Before a statement that changes tables' shapes: plans kept for the old shapes could
    // no longer describe their results.
    void forgetKept(const std::string& sql);

    struct Ahead {
        std::string sql;
        std::vector<Value> params;
    };

    pg_conn* conn_ = nullptr;
    std::map<unsigned, std::string> typeNames_;
    std::optional<Ahead> ahead_;
    // Where the batch a stream has asked for goes when another statement needs the
    // connection first (a grid repainting during an export); null when none is on its way.
    pg_result** inFlight_ = nullptr;
    int streams_ = 0; // names the server-side cursors of nested streams apart
    std::map<std::string, std::string> kept_; // statement text -> name of its prepared statement
    int keptNames_ = 0;
};

} // namespace vemo::engine::sql
