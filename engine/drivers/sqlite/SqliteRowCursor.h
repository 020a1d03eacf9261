#pragma once
// The rows of one query on a private in-memory connection (the local SQL engine's), read by
// stepping one statement: reading on costs a step a row, so a long result is read once from
// its start rather than a page at a time with OFFSET, and a jump back runs it again. Not for
// database files: a statement left open would hold the file's read lock against other
// programs for as long as the result is shown.
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <optional>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace vemo::engine::sql {

class SqliteConnection;

class SqliteRowCursor final : public RowCursor {
public:
    SqliteRowCursor(SqliteConnection& connection, std::string sql, std::vector<Value> params);
    ~SqliteRowCursor() override;
    SqliteRowCursor(const SqliteRowCursor&) = delete;
    SqliteRowCursor& operator=(const SqliteRowCursor&) = delete;

    int64_t count() override;
    void fetch(int64_t start, int64_t n, const std::function<void(Row&&)>& onRow) override;
    void reset() override;

private:
    // Moves to the next row; false at the end.
    bool step();

    SqliteConnection& conn_;
    std::string sql_;
    std::vector<Value> params_;
    sqlite3_stmt* st_ = nullptr;
    int64_t next_ = 0; // position of the row the next step gives
    bool ended_ = false;
    std::optional<int64_t> count_;
};

} // namespace vemo::engine::sql
