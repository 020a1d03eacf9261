#pragma once
// The little a SQL cursor needs from a driver's connection. Values come back "raw" (as the
// server hands them: SQLite storage classes, PostgreSQL text) so that they can be bound
// again unchanged for key seeks and conflict checks; toTyped turns them into field values.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::engine::sql {

class RowCursor;

class SqlConnection {
public:
    virtual ~SqlConnection() = default;

    // Text of the n-th (1-based) bound parameter in a statement.
    virtual std::string placeholder(int n) const = 0;
    // Whether NULL sorts before every value in ascending order.
    virtual bool nullsFirstAscending() const = 0;
    // A condition true when the column equals the bound value, NULL matching NULL.
    virtual std::string nullSafeEquals(const std::string& column, const std::string& param,
                                       const FieldDef& field) const = 0;

    virtual void query(const std::string& sql, const std::vector<Value>& params,
                       const std::function<void(Row&&)>& onRow) = 0;
    // Runs a query and hands every row, its first columns converted to `fields` as toTyped
    // would, to onRow until it returns false (stream then returns false). Rows are read as
    // the server delivers them, so memory stays bounded however long the result is.
    virtual bool stream(const std::string& sql, const std::vector<Value>& params,
                        const std::vector<FieldDef>& fields, const std::function<bool(const Row&)>& onRow) = 0;
    // A hint that query(sql, params) is likely to come next: a connection may start it now
    // so that the server works while the caller is busy. Any other statement first discards
    // the early one, so results are never older than the statements before them.
    virtual void queryAhead(const std::string& sql, const std::vector<Value>& params) { (void)sql; (void)params; }
    // Rows changed.
    virtual int64_t execute(const std::string& sql, const std::vector<Value>& params) = 0;

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    // Whether a transaction is open on the connection.
    virtual bool inTransaction() const { return false; }

    virtual Value toTyped(const Value& raw, const FieldDef& field) const;

    // The result columns a query would give, without fetching its rows.
    virtual std::vector<FieldDef> describe(const std::string& sql, const std::vector<Value>& params) = 0;

    // For each result column of a query, the table and column it shows unchanged, as
    // names a database's tableInfo accepts; empty names for a computed column. An empty
    // list when the connection cannot tell.
    struct ColumnSource {
        std::string table;
        std::string column;
    };
    // The rows of a query kept open on the server for reading by position; null when the
    // connection has no such thing (the caller then pages with LIMIT and OFFSET).
    virtual std::unique_ptr<RowCursor> openRowCursor(const std::string& sql, const std::vector<Value>& params) {
        (void)sql;
        (void)params;
        return nullptr;
    }
    virtual std::vector<ColumnSource> columnSources(const std::string& sql, const std::vector<Value>& params) {
        (void)sql;
        (void)params;
        return {};
    }
};

// The rows of one query held open on the server, read by position without the rows before
// them crossing the connection.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    virtual int64_t count() = 0;
    // Hands up to n rows from position start (0-based) to onRow, raw as query gives them.
    virtual void fetch(int64_t start, int64_t n, const std::function<void(Row&&)>& onRow) = 0;
    // Lets go of the rows; the next call runs the query again and sees other writers' changes.
    virtual void reset() = 0;
};

// A value read back for comparison in a WHERE clause, in the form the database stores it:
// numbers, booleans and bytes as they are, anything else as its text.
Value storedForm(const Value& typed);

// Stores the value of a column delivered as text into slot, as toTyped would convert it;
// a slot holding text already keeps its storage.
void assignFromText(Value& slot, std::string_view text, const FieldDef& field);

// Rolls back unless committed. Inside a transaction that is already open it joins that one
// and leaves committing or rolling back to whoever opened it.
class Transaction {
public:
    explicit Transaction(SqlConnection& c) : c_(c), done_(c.inTransaction()) { if (!done_) c_.begin(); }
    ~Transaction() { if (!done_) c_.rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() { if (!done_) c_.commit(); done_ = true; }

private:
    SqlConnection& c_;
    bool done_ = false;
};

// Runs one write inside an open transaction under a savepoint, so that its failure undoes
// that write alone; outside a transaction it just runs it.
void guardedWrite(SqlConnection& c, const std::function<void()>& write);

// Builds one statement and its parameters together so placeholders stay numbered.
class SqlBuilder {
public:
    explicit SqlBuilder(const SqlConnection& c) : c_(c) {}
    SqlBuilder& operator<<(const std::string& text) { sql_ += text; return *this; }
    // Appends a placeholder bound to v.
    SqlBuilder& bind(const Value& v) {
        params_.push_back(v);
        sql_ += c_.placeholder(static_cast<int>(params_.size()));
        return *this;
    }
    std::string placeholderFor(const Value& v) {
        params_.push_back(v);
        return c_.placeholder(static_cast<int>(params_.size()));
    }
    const std::string& sql() const { return sql_; }
    const std::vector<Value>& params() const { return params_; }
    const SqlConnection& connection() const { return c_; }

private:
    const SqlConnection& c_;
    std::string sql_;
    std::vector<Value> params_;
};

// Appends the column list and values of an INSERT of the non-null values (column i named
// by columnName(i)), or DEFAULT VALUES when every value is null.
void appendInsertValues(SqlBuilder& b, const Row& values, const std::function<std::string(size_t)>& columnName);

} // namespace vemo::engine::sql
