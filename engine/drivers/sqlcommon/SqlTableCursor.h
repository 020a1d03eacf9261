#pragma once
// A table of a SQL database as a cursor: pages of rows fetched around the requested
// position (keyset seeks while reading on, OFFSET from the nearer end for jumps), so that
// memory does not grow with the table; writes checked against the values last read.
#include "engine/contract/Cursor.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"
#include "engine/drivers/sqlcommon/SqlFilter.h"

#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::sql {

struct SqlTableInfo {
    std::string qualifiedName;      // quoted, with its schema where needed
    std::vector<FieldDef> fields;
    std::vector<IndexDef> indexes;
    std::vector<int> keyColumns;    // primary key fields in key order
    std::string rowIdentity;        // hidden column selected after the fields ("rowid", "ctid"), or empty
    std::string readOnlyReason;
};

class SqlTableCursor : public Cursor {
public:
    SqlTableCursor(SqlConnection& connection, SqlTableInfo info);

    const std::vector<FieldDef>& fields() const override { return info_.fields; }
    std::vector<IndexDef> indexes() const override { return info_.indexes; }
    std::string readOnlyReason() const override { return info_.readOnlyReason; }
    void setOrder(const std::string& indexName) override;
    bool setFilter(const Filter* filter) override;
    int64_t count() override;
    bool read(int64_t pos, Row& row, RowId& id) override;
    bool scan(const std::function<bool(const Row&)>& onRow) override;
    int64_t positionOf(const RowId& id) override;
    void refresh() override { invalidate(); }
    RowId insert(const Row& values) override;
    void update(const RowId& id, const Row& before, const Row& after) override;
    void remove(const RowId& id, const Row& before) override;

    // For tests and benchmarks: how many rows the cursor holds in memory right now.
    size_t cachedRows() const { return window_.size(); }

private:
    struct OrderKey {
        int rawIndex;
        std::string expr;
        bool desc;
        bool nullable;
    };
    struct CachedRow {
        Row typed;
        Row raw;
    };

    void invalidate();
    void checkWritable() const;
    size_t rawWidth() const { return info_.fields.size() + (info_.rowIdentity.empty() ? 0 : 1); }
    std::string selectList() const;
    void appendFilter(SqlBuilder& b, bool& where) const;
    void appendSeek(SqlBuilder& b, const Row& raw, bool reverse) const;
    void appendOrderBy(SqlBuilder& b, bool reverse) const;
    void appendIdentity(SqlBuilder& b, const Row& raw) const;
    SqlBuilder fetchStatement(const Row* after, bool reverse, int64_t offset, int64_t limit) const;
    std::vector<CachedRow> fetch(const Row* after, bool reverse, int64_t offset, int64_t limit);
    std::vector<CachedRow> runSelect(const SqlBuilder& b);
    bool rawMatches(const RowId& id, const Row& before) const;
    Row fullRaw(const RowId& id, const Row& before) const;
    RowId rowIdOf(const Row& raw) const;
    void assignRowId(const Row& raw, RowId& id) const;
    void checkedWrite(const SqlBuilder& b);
    void appendUnchanged(SqlBuilder& b, const Row& old, bool rawValues) const;
    bool readWindow(int64_t pos, Row& row, RowId& id) const;

    SqlConnection& conn_;
    SqlTableInfo info_;
    std::vector<std::string> columns_;
    std::vector<OrderKey> order_;
    bool orderUnique_ = false;
    std::optional<SqlFragment> filter_;
    std::optional<int64_t> count_;
    std::vector<CachedRow> window_;
    int64_t windowStart_ = 0;
    int64_t streamPage_ = 0;
};

} // namespace vemo::engine::sql
