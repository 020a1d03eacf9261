#pragma once
// A SQLITE alias: one database file.
#include "engine/contract/Database.h"
#include "engine/drivers/sqlcommon/SqlLiveCursor.h"
#include "engine/drivers/sqlcommon/SqlQueryCursor.h"
#include "engine/drivers/sqlcommon/SqlTableCursor.h"
#include "engine/drivers/sqlite/SqliteConnection.h"

#include <memory>

namespace vemo::engine::sql {

class SqliteDatabase : public Database {
public:
    SqliteDatabase(const std::string& path, bool readOnly, int busyTimeoutMs);

    std::string driverName() const override { return "SQLITE"; }
    std::vector<std::string> tableNames(const std::string& pattern, bool extensions, bool systemTables) override;
    std::unique_ptr<Cursor> openTable(const std::string& name, const OpenOptions& options) override;
    void createTable(const std::string& name, const std::vector<FieldDef>& fields,
                     const std::vector<IndexDef>& indexes) override;
    void deleteTable(const std::string& name) override;
    void renameTable(const std::string& oldName, const std::string& newName) override;
    std::unique_ptr<Cursor> openQuery(const std::string& sql, const std::vector<QueryParam>& params) override {
        return openSqlQuery(*conn_, sql, params);
    }
    std::unique_ptr<Cursor> openLiveQuery(const std::string& sql, const std::vector<QueryParam>& params) override {
        if (auto live = openLiveSqlQuery(*conn_, sql, params, [this](const std::string& name) { return tableInfo(name); }))
            return live;
        return openSqlQuery(*conn_, sql, params);
    }
    int64_t executeSql(const std::string& sql, const std::vector<QueryParam>& params) override {
        return executeSqlText(*conn_, sql, params);
    }

    // The table's definitions and how its rows are identified; for tests as well.
    bool beginWork() override { conn_->begin(); return true; }
    void commitWork() override { conn_->commit(); }
    void rollbackWork() noexcept override { conn_->rollback(); }
    void guardedWrite(const std::function<void()>& write) override { sql::guardedWrite(*conn_, write); }
    std::unique_ptr<RowAppender> openAppender(const std::string& name) override;

    SqlTableInfo tableInfo(const std::string& name);
    SqliteConnection& connection() { return *conn_; }

private:
    // Stored name and kind ("table", "view") of a table, matched without regard to case.
    bool lookup(const std::string& name, std::string& stored, std::string& type, std::string& sql);

    std::unique_ptr<SqliteConnection> conn_;
};

} // namespace vemo::engine::sql
