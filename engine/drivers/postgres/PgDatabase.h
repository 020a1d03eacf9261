#pragma once
// A POSTGRESQL alias: one database on a server, one schema of it.
#include "engine/contract/Database.h"
#include "engine/drivers/postgres/PgConnection.h"
#include "engine/drivers/sqlcommon/SqlLiveCursor.h"
#include "engine/drivers/sqlcommon/SqlQueryCursor.h"
#include "engine/drivers/sqlcommon/SqlTableCursor.h"

#include <memory>

namespace vemo::engine::sql {

class PgDatabase : public Database {
public:
    PgDatabase(const std::string& alias, const PgLogin& login, const std::string& schema, const LoginCallback& ask);

    std::string driverName() const override { return "POSTGRESQL"; }
    std::string connectionNotice() const override { return conn_->transportNotice(alias_); }
    std::vector<std::string> tableNames(const std::string& pattern, bool extensions, bool systemTables) override;
    std::vector<std::string> procedureNames() override;
    std::vector<ProcParam> procedureParams(const std::string& name) override;
    std::vector<QueryParam> executeProcedure(const std::string& name, const std::vector<QueryParam>& inputs,
                                             bool* emptySet = nullptr) override;
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

    bool beginWork() override { conn_->begin(); return true; }
    void commitWork() override { conn_->commit(); }
    void rollbackWork() noexcept override { conn_->rollback(); }
    void guardedWrite(const std::function<void()>& write) override { sql::guardedWrite(*conn_, write); }
    std::unique_ptr<RowAppender> openAppender(const std::string& name) override;

    SqlTableInfo tableInfo(const std::string& name);
    PgConnection& connection() { return *conn_; }

private:
    struct Relation {
        std::string oid, schema, name, kind;
    };
    bool lookup(const std::string& name, Relation& rel);
    Relation require(const std::string& name);
    std::string qualified(const std::string& table) const;
    // The first routine of that name: its oid, kind ("f" function, "p" procedure), return type.
    bool routine(const std::string& name, std::string& oid, std::string& kind, std::string& returnType);

    std::unique_ptr<PgConnection> conn_;
    std::string alias_;
    std::string schema_;
};

} // namespace vemo::engine::sql
