#include "engine/drivers/sqlite/SqliteConnection.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteRowCursor.h"
#include "engine/drivers/sqlite/SqliteTypes.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <sqlite3.h>
#include <strings.h>

namespace vemo::engine::sql {

namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

int errorCodeFor(int extended) {
    switch (extended) {
    case SQLITE_CONSTRAINT_PRIMARYKEY: case SQLITE_CONSTRAINT_UNIQUE:
        return ErrKeyViolation;
    case SQLITE_CONSTRAINT_NOTNULL:
        return ErrRequiredField;
    case SQLITE_BUSY: case SQLITE_LOCKED: case SQLITE_BUSY_SNAPSHOT: case SQLITE_BUSY_RECOVERY:
        return ErrLocked;
    case SQLITE_READONLY: case SQLITE_READONLY_DBMOVED:
        return ErrReadOnly;
    case SQLITE_CORRUPT: case SQLITE_NOTADB:
        return ErrCorruptFile;
    case SQLITE_CANTOPEN:
        return ErrNotFound;
    default:
        return (extended & 0xff) == SQLITE_IOERR ? ErrIO : (extended & 0xff) == SQLITE_READONLY ? ErrReadOnly : ErrGeneral;
    }
}

} // namespace

// Memory statistics cost a global lock on every allocation, and nothing reads them. The
// setting only takes before SQLite starts; later it is refused and changes nothing.
static void withoutMemoryStatistics() {
    static const int once = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)once;
}

SqliteConnection::SqliteConnection(const std::string& path, bool readOnly, int busyTimeoutMs) : readOnly_(readOnly) {
    withoutMemoryStatistics();
    std::error_code ec;
    if (path.empty())
        throw EngineError(ErrInvalidParam, "データベースファイル (DATABASE) が指定されていません。");
    if (!std::filesystem::is_regular_file(path, ec))
        throw EngineError(ErrNotFound, "データベースファイル " + path + " が見つかりません。");
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(errorCodeFor(rc), "データベースファイル " + path + " を開けません: " + msg);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // A file that is not a database is only noticed when it is first read.
    try {
        exec("SELECT count(*) FROM sqlite_master");
    } catch (const EngineError& e) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(e.code(), "データベースファイル " + path + " を開けません: " + e.what());
    }
}

SqliteConnection::SqliteConnection(InMemory) : readOnly_(false), inMemory_(true) {
    withoutMemoryStatistics();
    int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(ErrGeneral, std::string("SQL の実行環境を用意できません: ") + sqlite3_errstr(rc));
    }
    sqlite3_extended_result_codes(db_, 1);
}

SqliteConnection::~SqliteConnection() {
    for (auto& [sql, st] : prepared_)
        sqlite3_finalize(st);
    sqlite3_close_v2(db_);
}

void SqliteConnection::fail(int rc, const std::string& context) const {
    int ext = sqlite3_extended_errcode(db_);
    std::string msg = sqlite3_errmsg(db_);
    (void)rc;
    throw EngineError(errorCodeFor(ext), context.empty() ? msg : context + ": " + msg);
}

void SqliteConnection::exec(const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        throw EngineError(errorCodeFor(sqlite3_extended_errcode(db_)), msg);
    }
}

static void bindAll(sqlite3* db, sqlite3_stmt* st, const std::vector<Value>& params) {
    for (size_t i = 0; i < params.size(); ++i) {
        int n = static_cast<int>(i + 1);
        const Value& v = params[i];
        int rc;
        if (isNull(v))
            rc = sqlite3_bind_null(st, n);
        else if (const auto* b = std::get_if<bool>(&v))
            rc = sqlite3_bind_int64(st, n, *b ? 1 : 0);
        else if (const auto* x = std::get_if<int64_t>(&v))
            rc = sqlite3_bind_int64(st, n, *x);
        else if (const auto* d = std::get_if<double>(&v))
            rc = sqlite3_bind_double(st, n, *d);
        else if (const auto* bytes = std::get_if<Bytes>(&v))
            rc = sqlite3_bind_blob64(st, n, bytes->data(), bytes->size(), SQLITE_TRANSIENT);
        else if (const auto* text = std::get_if<std::string>(&v)) // the common case, without a copy of its own
            rc = sqlite3_bind_text64(st, n, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        else if (const auto* dec = std::get_if<Decimal>(&v))
            rc = sqlite3_bind_text64(st, n, dec->text.data(), dec->text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        else {
            std::string s = paramText(v).value_or("");
            rc = sqlite3_bind_text64(st, n, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        if (rc != SQLITE_OK)
            throw EngineError(ErrInvalidParam, sqlite3_errmsg(db));
    }
}

// One statement at a time: text after the first one would otherwise be dropped unseen.
static sqlite3_stmt* prepareOne(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, &tail) != SQLITE_OK)
        throw EngineError(ErrGeneral, sqlite3_errmsg(db));
    for (; tail && *tail; ++tail) {
        if (*tail != ';' && !std::isspace(static_cast<unsigned char>(*tail))) {
            sqlite3_finalize(st);
            throw EngineError(ErrInvalidParam, "一度に実行できる SQL 文は一つだけです。");
        }
    }
    if (!st)
        throw EngineError(ErrInvalidParam, "SQL 文がありません。");
    return st;
}

namespace {
constexpr size_t kKeptStatements = 32;
} // namespace

sqlite3_stmt* SqliteConnection::take(const std::string& sql) {
    auto it = prepared_.find(sql);
    if (it == prepared_.end())
        return prepareOne(db_, sql);
    sqlite3_stmt* st = it->second;
    prepared_.erase(it);
    return st;
}

void SqliteConnection::giveBack(const std::string& sql, sqlite3_stmt* st) noexcept {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    // Only statements that read or change records are worth keeping; the others run once.
    auto starts = [&](const char* word) { return strncasecmp(sql.c_str(), word, std::strlen(word)) == 0; };
    const bool worth = starts("SELECT") || starts("INSERT") || starts("UPDATE") || starts("DELETE") ||
                       starts("WITH") || starts("SAVEPOINT") || starts("RELEASE") || starts("ROLLBACK TO");
    if (!worth || prepared_.count(sql)) {
        sqlite3_finalize(st);
        return;
    }
    if (prepared_.size() >= kKeptStatements) {
        sqlite3_finalize(prepared_.begin()->second);
        prepared_.erase(prepared_.begin());
    }
    prepared_.emplace(sql, st);
}

// A statement from the cache for one run, handed back reset when the run ends.
class SqliteConnection::Lease {
public:
    Lease(SqliteConnection& c, const std::string& sql) : c_(c), sql_(sql), st_(c.take(sql)) {}
    ~Lease() { c_.giveBack(sql_, st_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    sqlite3_stmt* get() const { return st_; }

private:
    SqliteConnection& c_;
    const std::string& sql_;
    sqlite3_stmt* st_;
};

std::vector<FieldDef> SqliteConnection::describe(const std::string& sql, const std::vector<Value>&) {
    Statement st(prepareOne(db_, sql));
    std::vector<FieldDef> fields;
    for (int i = 0, n = sqlite3_column_count(st.get()); i < n; ++i) {
        const char* decl = sqlite3_column_decltype(st.get(), i);
        fields.push_back(sqliteField(sqlite3_column_name(st.get(), i), decl ? decl : "", false));
    }
    return fields;
}

std::vector<SqlConnection::ColumnSource> SqliteConnection::columnSources(const std::string& sql,
                                                                        const std::vector<Value>&) {
    Statement st(prepareOne(db_, sql));
    std::vector<ColumnSource> out;
    for (int i = 0, n = sqlite3_column_count(st.get()); i < n; ++i) {
        const char* schema = sqlite3_column_database_name(st.get(), i);
        const char* table = sqlite3_column_table_name(st.get(), i);
        const char* column = sqlite3_column_origin_name(st.get(), i);
        // Only tables of the database itself are found again by name.
        if (schema && table && column && std::strcmp(schema, "main") == 0)
            out.push_back({table, column});
        else
            out.emplace_back();
    }
    return out;
}

namespace {

// Column i of the current row by its storage class.
Value columnValue(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: return sqlite3_column_double(st, i);
    case SQLITE_TEXT:
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                           static_cast<size_t>(sqlite3_column_bytes(st, i)));
    case SQLITE_BLOB: {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, i));
        return Bytes(p, p + sqlite3_column_bytes(st, i));
    }
    default: return {};
    }
}

} // namespace

sqlite3_stmt* SqliteConnection::prepareBound(const std::string& sql, const std::vector<Value>& params) {
    Statement st(prepareOne(db_, sql));
    bindAll(db_, st.get(), params);
    return st.release();
}

Row SqliteConnection::rowOf(sqlite3_stmt* st) {
    const int n = sqlite3_column_count(st);
    Row row;
    row.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        row.push_back(columnValue(st, i));
    return row;
}

std::unique_ptr<RowCursor> SqliteConnection::openRowCursor(const std::string& sql, const std::vector<Value>& params) {
    if (!inMemory_)
        return nullptr;
    return std::make_unique<SqliteRowCursor>(*this, sql, params);
}

void SqliteConnection::query(const std::string& sql, const std::vector<Value>& params,
                             const std::function<void(Row&&)>& onRow) {
    Lease st(*this, sql);
    sqlite3_stmt* raw = st.get();
    bindAll(db_, raw, params);
    const int n = sqlite3_column_count(raw);
    for (int rc; (rc = sqlite3_step(raw)) != SQLITE_DONE;) {
        if (rc != SQLITE_ROW)
            fail(rc, "");
        Row row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row.push_back(columnValue(raw, i));
        onRow(std::move(row));
    }
}

bool SqliteConnection::stream(const std::string& sql, const std::vector<Value>& params,
                              const std::vector<FieldDef>& fields, const std::function<bool(const Row&)>& onRow) {
    Lease st(*this, sql);
    sqlite3_stmt* raw = st.get();
    bindAll(db_, raw, params);
    const int n = std::min(sqlite3_column_count(raw), static_cast<int>(fields.size()));
    Row row(static_cast<size_t>(n));
    for (int rc; (rc = sqlite3_step(raw)) != SQLITE_DONE;) {
        if (rc != SQLITE_ROW)
            fail(rc, "");
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(raw, i) == SQLITE_TEXT)
                assignFromText(row[i], std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(raw, i)),
                                                        static_cast<size_t>(sqlite3_column_bytes(raw, i))),
                               fields[i]);
            else
                row[i] = toTyped(columnValue(raw, i), fields[i]);
        }
        if (!onRow(row))
            return false;
    }
    return true;
}

int64_t SqliteConnection::execute(const std::string& sql, const std::vector<Value>& params) {
    Lease st(*this, sql);
    sqlite3_stmt* raw = st.get();
    bindAll(db_, raw, params);
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(rc, "");
    return sqlite3_changes64(db_);
}

// IMMEDIATE takes the write lock at once, so a conflict check and its write see one state.
void SqliteConnection::begin() { exec("BEGIN IMMEDIATE"); }
void SqliteConnection::commit() { exec("COMMIT"); }
bool SqliteConnection::inTransaction() const { return !sqlite3_get_autocommit(db_); }
void SqliteConnection::rollback() noexcept {
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

namespace {

class SqliteAppender : public RowAppender {
public:
    SqliteAppender(sqlite3* db, sqlite3_stmt* st, size_t width) : db_(db), st_(st), width_(width) {}
    ~SqliteAppender() override { sqlite3_finalize(st_); }
    void add(const Row& row) override {
        if (row.size() != width_)
            throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
        bindAll(db_, st_, row);
        const int rc = sqlite3_step(st_);
        sqlite3_reset(st_);
        if (rc != SQLITE_DONE)
            throw EngineError(errorCodeFor(sqlite3_extended_errcode(db_)), sqlite3_errmsg(db_));
    }
    void finish() override {}

private:
    sqlite3* db_;
    sqlite3_stmt* st_;
    size_t width_;
};

} // namespace

std::unique_ptr<RowAppender> SqliteConnection::appender(const std::string& insertSql, size_t width) {
    return std::make_unique<SqliteAppender>(db_, prepareOne(db_, insertSql), width);
}

} // namespace vemo::engine::sql
