#include "engine/drivers/sqlite/SqliteDatabase.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteTypes.h"

#include <algorithm>
#include <strings.h>

namespace vemo::engine::sql {

namespace {
std::string text(const Value& v) { return paramText(v).value_or(""); }
int64_t integer(const Value& v) { return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : 0; }
std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}
} // namespace

SqliteDatabase::SqliteDatabase(const std::string& path, bool readOnly, int busyTimeoutMs)
    : conn_(std::make_unique<SqliteConnection>(path, readOnly, busyTimeoutMs)) {}

std::vector<std::string> SqliteDatabase::tableNames(const std::string& pattern, bool, bool systemTables) {
    std::vector<std::string> names;
    conn_->query("SELECT name FROM sqlite_master WHERE type IN ('table', 'view') ORDER BY name", {}, [&](Row&& r) {
        std::string n = text(r[0]);
        if (!systemTables && strncasecmp(n.c_str(), "sqlite_", 7) == 0)
            return;
        if (matchesTablePattern(n, pattern))
            names.push_back(std::move(n));
    });
    return names;
}

bool SqliteDatabase::lookup(const std::string& name, std::string& stored, std::string& type, std::string& sql) {
    bool found = false;
    conn_->query("SELECT name, type, sql FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE",
                 {name}, [&](Row&& r) {
                     stored = text(r[0]);
                     type = text(r[1]);
                     sql = text(r[2]);
                     found = true;
                 });
    return found;
}

SqlTableInfo SqliteDatabase::tableInfo(const std::string& name) {
    std::string stored, type, sql;
    if (!lookup(name, stored, type, sql))
        throw EngineError(ErrNotFound, "テーブル " + name + " が見つかりません。");
    SqlTableInfo info;
    info.qualifiedName = quoteIdent(stored);
    std::vector<std::pair<int64_t, int>> pk;
    conn_->query("SELECT name, type, \"notnull\", pk, hidden FROM pragma_table_xinfo(?1)", {stored}, [&](Row&& r) {
        if (integer(r[4]) == 1)
            return;
        auto f = sqliteField(text(r[0]), text(r[1]), integer(r[2]) != 0);
        if (integer(r[3]) > 0)
            pk.emplace_back(integer(r[3]), static_cast<int>(info.fields.size()));
        info.fields.push_back(std::move(f));
    });
    std::sort(pk.begin(), pk.end());
    for (auto& [order, field] : pk)
        info.keyColumns.push_back(field);
    if (!info.keyColumns.empty()) {
        IndexDef primary;
        primary.primary = primary.unique = true;
        for (size_t i = 0; i < info.keyColumns.size(); ++i)
            primary.fields += (i ? ";" : "") + info.fields[info.keyColumns[i]].name;
        info.indexes.push_back(primary);
    }
    std::vector<IndexDef> named;
    conn_->query("SELECT name, \"unique\", origin FROM pragma_index_list(?1)", {stored}, [&](Row&& r) {
        if (text(r[2]) == "pk")
            return;
        IndexDef d;
        d.name = text(r[0]);
        d.unique = integer(r[1]) != 0;
        named.push_back(d);
    });
    for (auto& d : named) {
        conn_->query("SELECT name, \"desc\" FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno", {d.name}, [&](Row&& r) {
            if (!d.fields.empty())
                d.fields += ";";
            d.fields += isNull(r[0]) ? std::string("<expr>") : text(r[0]);
            d.descending = d.descending || integer(r[1]) != 0;
        });
        if (d.fields.find("<expr>") != std::string::npos)
            conn_->query("SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?1", {d.name},
                         [&](Row&& r) { d.expression = text(r[0]); });
    }
    std::sort(named.begin(), named.end(), [](const IndexDef& a, const IndexDef& b) { return a.name < b.name; });
    info.indexes.insert(info.indexes.end(), named.begin(), named.end());

    if (type == "view") {
        info.readOnlyReason = "ビュー " + stored + " は更新できません。";
    } else if (info.keyColumns.empty() && upper(sql).find("WITHOUT ROWID") == std::string::npos) {
        // Tables without a primary key are written by their row number, under whichever of
        // its three names no column has taken.
        for (const char* alias : {"rowid", "_rowid_", "oid"}) {
            bool taken = std::any_of(info.fields.begin(), info.fields.end(),
                                     [&](const FieldDef& f) { return strcasecmp(f.name.c_str(), alias) == 0; });
            if (!taken) {
                info.rowIdentity = alias;
                break;
            }
        }
        if (info.rowIdentity.empty())
            info.readOnlyReason = "テーブル " + stored + " にはレコードを特定するキーがないため更新できません。";
    }
    if (conn_->readOnly() && info.readOnlyReason.empty())
        info.readOnlyReason = "データベースは読み取り専用で開かれています。";
    return info;
}

std::unique_ptr<Cursor> SqliteDatabase::openTable(const std::string& name, const OpenOptions& options) {
    SqlTableInfo info = tableInfo(name);
    if (options.readOnly && info.readOnlyReason.empty())
        info.readOnlyReason = "テーブルは読み取り専用で開かれています。";
    return std::make_unique<SqlTableCursor>(*conn_, std::move(info));
}

void SqliteDatabase::createTable(const std::string& name, const std::vector<FieldDef>& fields,
                                 const std::vector<IndexDef>& indexes) {
    if (name.empty() || fields.empty())
        throw EngineError(ErrInvalidParam, "テーブル名とフィールドが必要です。");
    std::string stored, type, sql;
    if (lookup(name, stored, type, sql))
        throw EngineError(ErrGeneral, "テーブル " + stored + " は既にあります。");
    Transaction tx(*conn_);
    for (const auto& statement : sql::createTableStatements(quoteIdent(name), name, fields, indexes, sqliteDeclaredType))
        conn_->exec(statement);
    tx.commit();
}

void SqliteDatabase::deleteTable(const std::string& name) {
    std::string stored, type, sql;
    if (!lookup(name, stored, type, sql))
        throw EngineError(ErrNotFound, "テーブル " + name + " が見つかりません。");
    conn_->exec(std::string(type == "view" ? "DROP VIEW " : "DROP TABLE ") + quoteIdent(stored));
}

void SqliteDatabase::renameTable(const std::string& oldName, const std::string& newName) {
    std::string stored, type, sql, other, otherType;
    if (!lookup(oldName, stored, type, sql))
        throw EngineError(ErrNotFound, "テーブル " + oldName + " が見つかりません。");
    if (type == "view")
        throw EngineError(ErrNotSupported, "ビューの名前は変更できません。");
    if (newName.empty())
        throw EngineError(ErrInvalidParam, "新しいテーブル名が空です。");
    if (strcasecmp(stored.c_str(), newName.c_str()) != 0 && lookup(newName, other, otherType, sql))
        throw EngineError(ErrGeneral, "テーブル " + other + " は既にあります。");
    conn_->exec("ALTER TABLE " + quoteIdent(stored) + " RENAME TO " + quoteIdent(newName));
}

std::unique_ptr<RowAppender> SqliteDatabase::openAppender(const std::string& name) {
    const SqlTableInfo info = tableInfo(name);
    std::string sql = "INSERT INTO " + info.qualifiedName + " (", values;
    for (size_t i = 0; i < info.fields.size(); ++i) {
        sql += (i ? ", " : "") + quoteIdent(info.fields[i].name);
        values += (i ? ", ?" : "?") + std::to_string(i + 1);
    }
    return conn_->appender(sql + ") VALUES (" + values + ")", info.fields.size());
}

} // namespace vemo::engine::sql
