#include "engine/drivers/sqlcommon/SqlQueryCursor.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlParams.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <cctype>

namespace vemo::engine::sql {

namespace {
constexpr int64_t kFirstPage = 200;
constexpr int64_t kMaxPage = 8192;
const char* kReadOnly = "クエリの結果は更新できません。";

// A statement ends at its last ";": the query is wrapped in a sub-select for paging.
std::string withoutTerminator(std::string sql) {
    while (!sql.empty() && (sql.back() == ';' || std::isspace(static_cast<unsigned char>(sql.back()))))
        sql.pop_back();
    return sql;
}
} // namespace

SqlQueryCursor::SqlQueryCursor(SqlConnection& connection, std::string sql, std::vector<Value> params)
    : conn_(connection), sql_(withoutTerminator(std::move(sql))), params_(std::move(params)) {
    if (sql_.empty())
        throw EngineError(ErrInvalidParam, "SQL 文がありません。");
    fields_ = conn_.describe(sql_, params_);
}

std::string SqlQueryCursor::readOnlyReason() const { return kReadOnly; }

void SqlQueryCursor::setOrder(const std::string& indexName) {
    if (!indexName.empty())
        throw EngineError(ErrNotFound, "インデックス " + indexName + " が見つかりません。");
}

// Rows on the server are only for results outside a transaction of the caller's, whose
// uncommitted changes another connection would not see.
RowCursor* SqlQueryCursor::server() {
    if (!serverTried_ && !conn_.inTransaction()) {
        serverTried_ = true;
        try {
            server_ = conn_.openRowCursor(sql_, params_);
        } catch (const EngineError&) {
            server_.reset(); // paged on this connection instead
        }
    }
    return server_.get();
}

int64_t SqlQueryCursor::count() {
    if (!count_ && server()) {
        count_ = server_->count();
    } else if (!count_) {
        int64_t n = 0;
        conn_.query("SELECT count(*) FROM (" + sql_ + "\n) vemo_q", params_,
                    [&](Row&& r) { n = parseInt(paramText(r.at(0)).value_or("0")).value_or(0); });
        count_ = n;
    }
    return *count_;
}

bool SqlQueryCursor::readRaw(int64_t pos, Row& raw) {
    if (pos < 0)
        return false;
    const int64_t end = windowStart_ + static_cast<int64_t>(window_.size());
    if (count_ && pos >= *count_)
        return false; // past the end: no query to find that out again
    if (pos < windowStart_ || pos >= end) {
        // Reading on makes the pages grow; a jump starts small again around the position.
        page_ = (pos == end && !window_.empty()) ? std::min(page_ * 2, kMaxPage) : kFirstPage;
        int64_t start = pos == end ? pos : std::max<int64_t>(0, pos - page_ / 4);
        std::vector<Value> params = params_;
        params.push_back(page_);
        params.push_back(start);
        const int n = static_cast<int>(params.size());
        window_.clear();
        if (server())
            server_->fetch(start, page_, [&](Row&& r) { window_.push_back(std::move(r)); });
        else
            conn_.query("SELECT * FROM (" + sql_ + "\n) vemo_q LIMIT " + conn_.placeholder(n - 1) + " OFFSET " +
                            conn_.placeholder(n),
                        params, [&](Row&& r) { window_.push_back(std::move(r)); });
        windowStart_ = start;
        // A page that came back short ends the result.
        if (static_cast<int64_t>(window_.size()) < page_ && !count_)
            count_ = start + static_cast<int64_t>(window_.size());
    }
    if (pos >= windowStart_ + static_cast<int64_t>(window_.size()))
        return false;
    raw = window_[static_cast<size_t>(pos - windowStart_)];
    return true;
}

bool SqlQueryCursor::read(int64_t pos, Row& row, RowId& id) {
    Row raw;
    if (!readRaw(pos, raw))
        return false;
    row.clear();
    row.reserve(fields_.size());
    for (size_t i = 0; i < fields_.size() && i < raw.size(); ++i)
        row.push_back(conn_.toTyped(raw[i], fields_[i]));
    id = RowId{pos, {}};
    return true;
}

int64_t SqlQueryCursor::positionOf(const RowId& id) { return id.recno >= 0 && id.recno < count() ? id.recno : -1; }

void SqlQueryCursor::refresh() {
    if (server_)
        server_->reset();
    serverTried_ = server_ != nullptr;
    count_.reset();
    window_.clear();
    windowStart_ = 0;
}

RowId SqlQueryCursor::insert(const Row&) { throw EngineError(ErrReadOnly, kReadOnly); }
void SqlQueryCursor::update(const RowId&, const Row&, const Row&) { throw EngineError(ErrReadOnly, kReadOnly); }
void SqlQueryCursor::remove(const RowId&, const Row&) { throw EngineError(ErrReadOnly, kReadOnly); }

std::unique_ptr<Cursor> openSqlQuery(SqlConnection& connection, const std::string& sql,
                                     const std::vector<QueryParam>& params) {
    std::vector<Value> values;
    std::string text = bindNamedParams(sql, params, connection, values);
    return std::make_unique<SqlQueryCursor>(connection, std::move(text), std::move(values));
}

int64_t executeSqlText(SqlConnection& connection, const std::string& sql, const std::vector<QueryParam>& params) {
    std::vector<Value> values;
    std::string text = bindNamedParams(sql, params, connection, values);
    return connection.execute(text, values);
}

} // namespace vemo::engine::sql
