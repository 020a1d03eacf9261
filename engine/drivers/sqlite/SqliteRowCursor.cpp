#include "engine/drivers/sqlite/SqliteRowCursor.h"

#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteConnection.h"

#include <sqlite3.h>

namespace vemo::engine::sql {

SqliteRowCursor::SqliteRowCursor(SqliteConnection& connection, std::string sql, std::vector<Value> params)
    : conn_(connection), sql_(std::move(sql)), params_(std::move(params)) {}

SqliteRowCursor::~SqliteRowCursor() { sqlite3_finalize(st_); }

void SqliteRowCursor::reset() {
    sqlite3_finalize(st_);
    st_ = nullptr;
    next_ = 0;
    ended_ = false;
    count_.reset();
}

bool SqliteRowCursor::step() {
    if (ended_)
        return false;
    if (!st_)
        st_ = conn_.prepareBound(sql_, params_);
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) {
        ++next_;
        return true;
    }
    if (rc != SQLITE_DONE) {
        // The statement cannot go on: the next read starts it again.
        sqlite3_finalize(st_);
        st_ = nullptr;
        next_ = 0;
        conn_.raise(rc);
    }
    ended_ = true;
    count_ = next_;
    return false;
}

void SqliteRowCursor::fetch(int64_t start, int64_t n, const std::function<void(Row&&)>& onRow) {
    if (start < next_) {
        const std::optional<int64_t> known = count_;
        reset();
        count_ = known;
    }
    while (next_ < start)
        if (!step())
            return;
    for (int64_t k = 0; k < n && step(); ++k)
        onRow(SqliteConnection::rowOf(st_));
}

int64_t SqliteRowCursor::count() {
    if (!count_) {
        int64_t n = 0;
        conn_.query("SELECT count(*) FROM (" + sql_ + "\n) vemo_q", params_,
                    [&](Row&& r) { n = parseInt(paramText(r.at(0)).value_or("0")).value_or(0); });
        count_ = n;
    }
    return *count_;
}

} // namespace vemo::engine::sql
