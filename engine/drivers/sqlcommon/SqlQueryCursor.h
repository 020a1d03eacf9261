#pragma once
// The rows of a query typed into the SQL window: read-only, fetched a page at a time.
#include "engine/contract/Cursor.h"
#include "engine/contract/Database.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <memory>
#include <optional>

namespace vemo::engine::sql {

class SqlQueryCursor : public Cursor {
public:
    // sql already carries the connection's placeholders for params.
    SqlQueryCursor(SqlConnection& connection, std::string sql, std::vector<Value> params);

    const std::vector<FieldDef>& fields() const override { return fields_; }
    std::vector<IndexDef> indexes() const override { return {}; }
    std::string readOnlyReason() const override;
    void setOrder(const std::string& indexName) override;
    int64_t count() override;
    bool read(int64_t pos, Row& row, RowId& id) override;
    // The row at pos as the connection delivered it, before conversion to the fields.
    bool readRaw(int64_t pos, Row& raw);
    int64_t positionOf(const RowId& id) override;
    void refresh() override;
    RowId insert(const Row&) override;
    void update(const RowId&, const Row&, const Row&) override;
    void remove(const RowId&, const Row&) override;

private:
    RowCursor* server();

    SqlConnection& conn_;
    std::string sql_;
    std::vector<Value> params_;
    std::vector<FieldDef> fields_;
    std::optional<int64_t> count_;
    std::unique_ptr<RowCursor> server_; // the rows held on the server, when the connection can
    bool serverTried_ = false;
    std::vector<Row> window_; // raw rows
    int64_t windowStart_ = 0;
    int64_t page_ = 0;
};

// What the SQLITE and POSTGRESQL databases do for Database::openQuery and executeSql.
std::unique_ptr<Cursor> openSqlQuery(SqlConnection& connection, const std::string& sql,
                                     const std::vector<QueryParam>& params);
int64_t executeSqlText(SqlConnection& connection, const std::string& sql, const std::vector<QueryParam>& params);

} // namespace vemo::engine::sql
