#pragma once
// The rows of a SELECT over one table of a SQL database, editable: each row carries the
// table's key (or row number) in hidden columns ahead of the ones shown, and writes go to
// the table checked against the values shown, as the table window checks them.
#include "engine/contract/Cursor.h"
#include "engine/contract/Database.h"
#include "engine/drivers/sqlcommon/SqlQueryCursor.h"
#include "engine/drivers/sqlcommon/SqlTableCursor.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::sql {

class SqlLiveCursor final : public Cursor {
public:
    // rows: the statement with `identity` hidden columns first; fieldOf[i]: the table field
    // that shown column i is.
    SqlLiveCursor(SqlConnection& connection, SqlTableInfo table, std::vector<std::string> identity,
                  std::unique_ptr<SqlQueryCursor> rows, std::vector<int> fieldOf);

    const std::vector<FieldDef>& fields() const override { return fields_; }
    std::vector<IndexDef> indexes() const override { return {}; }
    void setOrder(const std::string& indexName) override { rows_->setOrder(indexName); }
    int64_t count() override { return rows_->count(); }
    bool read(int64_t pos, Row& row, RowId& id) override;
    int64_t positionOf(const RowId& id) override;
    void refresh() override { rows_->refresh(); }
    RowId insert(const Row& values) override;
    void update(const RowId& id, const Row& before, const Row& after) override;
    void remove(const RowId& id, const Row& before) override;

private:
    size_t hidden() const { return identity_.size(); }
    // The key part of the WHERE clause, then a check that every shown column still holds
    // what the caller saw.
    void appendWhere(SqlBuilder& b, const RowId& id, const Row& before) const;
    void checkedWrite(const SqlBuilder& b);

    SqlConnection& conn_;
    SqlTableInfo table_;
    std::vector<std::string> identity_; // quoted column names (or the row number's name)
    std::unique_ptr<SqlQueryCursor> rows_;
    std::vector<int> fieldOf_;
    std::vector<FieldDef> fields_;
};

// The editable result of a SELECT over one table whose rows the table's key (or row
// number) identifies; null for any other statement, which then opens read-only. tableInfo
// finds a table by the names the connection's columnSources give.
std::unique_ptr<Cursor> openLiveSqlQuery(SqlConnection& connection, const std::string& sql,
                                         const std::vector<QueryParam>& params,
                                         const std::function<SqlTableInfo(const std::string&)>& tableInfo);

} // namespace vemo::engine::sql
