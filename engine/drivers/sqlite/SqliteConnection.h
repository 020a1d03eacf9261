#pragma once
// One SQLite database file opened for the engine.
#include "engine/contract/Database.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <map>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace vemo::engine::sql {

class SqliteConnection : public SqlConnection {
public:
    // Opens an existing file only: a mistyped path must not leave a new empty database.
    SqliteConnection(const std::string& path, bool readOnly, int busyTimeoutMs);
    // A private database in memory (the local SQL engine's, whose tables are virtual).
    struct InMemory {};
    explicit SqliteConnection(InMemory);
    ~SqliteConnection() override;

    std::string placeholder(int n) const override { return "?" + std::to_string(n); }
    bool nullsFirstAscending() const override { return true; }
    std::string nullSafeEquals(const std::string& column, const std::string& param, const FieldDef&) const override {
        return column + " IS " + param;
    }
    void query(const std::string& sql, const std::vector<Value>& params,
               const std::function<void(Row&&)>& onRow) override;
    bool stream(const std::string& sql, const std::vector<Value>& params, const std::vector<FieldDef>& fields,
                const std::function<bool(const Row&)>& onRow) override;
    int64_t execute(const std::string& sql, const std::vector<Value>& params) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    bool inTransaction() const override;
    std::vector<FieldDef> describe(const std::string& sql, const std::vector<Value>& params) override;
    std::vector<ColumnSource> columnSources(const std::string& sql, const std::vector<Value>& params) override;
    // A stepping statement on an in-memory connection; null for a database file (its
    // results are paged, so that no statement stays open on the file).
    std::unique_ptr<RowCursor> openRowCursor(const std::string& sql, const std::vector<Value>& params) override;

    // One statement prepared with its parameters bound; the caller finalizes it.
    sqlite3_stmt* prepareBound(const std::string& sql, const std::vector<Value>& params);
    // The current row of a stepped statement, each column by its storage class.
    static Row rowOf(sqlite3_stmt* st);
    // Throws the connection's last error as an EngineError.
    [[noreturn]] void raise(int rc) const { fail(rc, ""); }

    // Runs statements without parameters (DDL, PRAGMA).
    void exec(const std::string& sql);
    bool readOnly() const { return readOnly_; }
    sqlite3* handle() const { return db_; }
    // Runs one prepared INSERT for every row handed to the writer.
    std::unique_ptr<RowAppender> appender(const std::string& insertSql, size_t width);

private:
    [[noreturn]] void fail(int rc, const std::string& context) const;

    // Statements kept prepared by their text, so that the same statement run once per
    // record of a move is compiled once. A statement in use is taken out of the cache: a
    // nested run of the same text gets one of its own.
    class Lease;
    sqlite3_stmt* take(const std::string& sql);
    void giveBack(const std::string& sql, sqlite3_stmt* st) noexcept;

    sqlite3* db_ = nullptr;
    bool readOnly_;
    std::map<std::string, sqlite3_stmt*> prepared_;
    bool inMemory_ = false;
};

} // namespace vemo::engine::sql
