#include "engine/localsql/LocalSql.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlQueryCursor.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteConnection.h"
#include "engine/drivers/standard/StandardDatabase.h"
#include "engine/drivers/sqlcommon/SqlParams.h"
#include "engine/localsql/LiveQueryCursor.h"
#include "engine/localsql/TableModule.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <sqlite3.h>
#include <strings.h>

namespace vemo::engine::localsql {

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool wordChar(unsigned char c) { return c >= 0x80 || std::isalnum(c) || c == '_' || c == '$'; }

// The file of a table of a STANDARD folder, as the driver would find it.
std::filesystem::path fileOf(Database& tables, const std::string& name) {
    auto* standard = dynamic_cast<standard::StandardDatabase*>(&tables);
    if (!standard)
        return {};
    const auto& dir = standard->directory();
    std::filesystem::path f = standard::findFileNoCase(dir, name);
    for (const char* ext : {".DBF", ".DB"})
        if (f.empty())
            f = standard::findFileNoCase(dir, name + ext);
    return f;
}

// Statements work on the folder's tables only: tables, indexes, views or triggers made in
// the embedded connection would vanish with it, and ATTACH would reach any file. The
// engine's own virtual tables are made while `internal` is set.
int authorize(void* self, int action, const char*, const char*, const char*, const char*) {
    auto& flags = *static_cast<std::pair<bool, bool>*>(self); // internal, denied
    if (flags.first)
        return SQLITE_OK;
    switch (action) {
    case SQLITE_CREATE_INDEX: case SQLITE_CREATE_TABLE: case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE: case SQLITE_CREATE_TEMP_TRIGGER: case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TRIGGER: case SQLITE_CREATE_VIEW: case SQLITE_DROP_INDEX: case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_INDEX: case SQLITE_DROP_TEMP_TABLE: case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW: case SQLITE_DROP_TRIGGER: case SQLITE_DROP_VIEW: case SQLITE_ATTACH:
    case SQLITE_DETACH: case SQLITE_ALTER_TABLE: case SQLITE_CREATE_VTABLE: case SQLITE_DROP_VTABLE:
        flags.second = true;
        return SQLITE_DENY;
    default:
        return SQLITE_OK;
    }
}

} // namespace

std::vector<std::string> tableNameCandidates(const std::string& sql) {
    std::vector<std::string> out;
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(sql[i]);
        if (c == '\'') {
            for (++i; i < n; ++i)
                if (sql[i] == '\'') {
                    if (i + 1 < n && sql[i + 1] == '\'') { ++i; continue; }
                    break;
                }
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            i = sql.find('\n', i);
            if (i == std::string::npos) i = n;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            i = sql.find("*/", i + 2);
            i = i == std::string::npos ? n : i + 2;
        } else if (c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : static_cast<char>(c);
            std::string name;
            for (++i; i < n; ++i) {
                if (sql[i] == close) {
                    if (close != ']' && i + 1 < n && sql[i + 1] == close) { name += close; ++i; continue; }
                    break;
                }
                name += sql[i];
            }
            ++i;
            if (!name.empty())
                out.push_back(name);
        } else if (wordChar(c) && !std::isdigit(c)) {
            const size_t start = i;
            while (i < n && wordChar(static_cast<unsigned char>(sql[i])))
                ++i;
            out.push_back(sql.substr(start, i - start));
        } else {
            ++i;
        }
    }
    return out;
}

LocalSql::LocalSql(Database& tables, OtherTables other)
    : tables_(tables),
      module_(std::make_unique<TableModule>(tables, [&tables](const std::string& name) { return fileOf(tables, name); },
                                            std::move(other))),
      conn_(std::make_unique<sql::SqliteConnection>(sql::SqliteConnection::InMemory{})) {
    module_->registerOn(conn_->handle());
    sqlite3_set_authorizer(conn_->handle(), authorize, &auth_);
}

LocalSql::~LocalSql() {
    // The virtual tables close their cursors with the connection, before the module goes.
    conn_.reset();
}

standard::StandardSqlFactory LocalSql::factory(OtherTables other) {
    return [other](Database& tables) -> std::unique_ptr<standard::StandardSql> {
        return std::make_unique<LocalSql>(tables, other);
    };
}

void LocalSql::attachTables(const std::string& sql) {
    std::vector<std::string> files;
    bool listed = false;
    for (const auto& name : tableNameCandidates(sql)) {
        const std::string key = upper(name);
        if (attached_.count(key))
            continue;
        std::string alias, table;
        if (splitAliasTable(name, alias, table)) {
            // A table of another alias is made whatever it is; opening it says if it is not there.
            makeTable(name);
            attached_.insert(key);
            continue;
        }
        if (!listed) {
            files = tables_.tableNames("*", true, false);
            listed = true;
        }
        // A table's file name, or its name without the extension.
        const bool known = std::any_of(files.begin(), files.end(), [&](const std::string& f) {
            const std::string u = upper(f);
            return u == key || upper(std::filesystem::path(f).stem().string()) == key;
        });
        if (!known)
            continue;
        makeTable(name);
        attached_.insert(key);
    }
}

void LocalSql::makeTable(const std::string& name) {
    auth_.first = true;
    try {
        conn_->exec("CREATE VIRTUAL TABLE temp." + sql::quoteIdent(name) + " USING vemo_table(" + sql::quoteLiteral(name) +
                    ")");
    } catch (...) {
        auth_.first = false;
        throw;
    }
    auth_.first = false;
}

void LocalSql::failed() {
    checkUndo();
    if (std::exchange(auth_.second, false))
        throw EngineError(ErrNotSupported, "ローカル SQL ではフォルダのテーブルを読み書きする文だけを実行できます"
                                           "（テーブル・インデックス・ビューの作成や削除、ATTACH はできません）。");
}

void LocalSql::checkUndo() {
    const std::string failures = module_->takeUndoFailures();
    if (!failures.empty())
        throw EngineError(ErrIO, "失敗した SQL 文の変更を元に戻せませんでした:\n" + failures);
}

std::unique_ptr<Cursor> LocalSql::openLive(const std::string& sql, const std::vector<QueryParam>& params) {
    std::vector<Value> values;
    std::string text = sql::bindNamedParams(sql, params, *conn_, values);
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos || strncasecmp(text.c_str() + start, "SELECT", 6) != 0 ||
        (start + 6 < text.size() && !std::isspace(static_cast<unsigned char>(text[start + 6]))) ||
        !sqlite3_get_autocommit(conn_->handle()))
        return nullptr;
    // One table named once, no clause that merges or repeats rows.
    std::string table;
    int references = 0;
    for (const auto& token : tableNameCandidates(text)) {
        const std::string u = upper(token);
        for (const char* word : {"DISTINCT", "GROUP", "UNION", "INTERSECT", "EXCEPT", "JOIN", "WITH", "HAVING", "VALUES"})
            if (u == word)
                return nullptr;
        if (attached_.count(u)) {
            table = token;
            ++references;
        }
    }
    if (references != 1)
        return nullptr;
    const auto file = fileOf(tables_, table);
    const std::string ext = file.empty() ? std::string() : upper(file.extension().string());
    if (ext != ".DBF" && ext != ".DB")
        return nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(conn_->handle(), text.c_str(), static_cast<int>(text.size()), &st, nullptr) != SQLITE_OK || !st) {
        sqlite3_finalize(st);
        return nullptr;
    }
    std::vector<int> fieldOf;
    auto cursor = tables_.openTable(table, OpenOptions{});
    const auto& fields = cursor->fields();
    bool plain = sqlite3_stmt_readonly(st) != 0;
    for (int i = 0; plain && i < sqlite3_column_count(st); ++i) {
        const char* origin = sqlite3_column_origin_name(st, i);
        const char* from = sqlite3_column_table_name(st, i);
        int f = -1;
        for (size_t k = 0; origin && from && k < fields.size(); ++k)
            if (strcasecmp(fields[k].name.c_str(), origin) == 0 && upper(from) == upper(table))
                f = static_cast<int>(k);
        plain = f >= 0 && std::find(fieldOf.begin(), fieldOf.end(), f) == fieldOf.end();
        fieldOf.push_back(f);
    }
    sqlite3_finalize(st);
    if (!plain || fieldOf.empty() || !cursor->readOnlyReason().empty())
        return nullptr;
    // A dBASE record keeps its number while others change; a keyed Paradox record moves
    // with its key, so the key fields find it again.
    std::vector<int> keyFields;
    if (ext == ".DB")
        for (const auto& index : cursor->indexes()) {
            if (!index.primary)
                continue;
            for (const auto& name : sql::splitFieldList(index.fields))
                for (size_t k = 0; k < fields.size(); ++k)
                    if (strcasecmp(fields[k].name.c_str(), name.c_str()) == 0)
                        keyFields.push_back(static_cast<int>(k));
        }
    std::string hidden;
    for (size_t k = 0; k < keyFields.size(); ++k)
        hidden += " " + sql::quoteIdent(fields[static_cast<size_t>(keyFields[k])].name) + " AS vemo_key" + std::to_string(k) + ",";
    text.insert(start + 6, hidden.empty() ? std::string(" rowid AS vemo_recno,") : hidden);
    auto rows = std::make_unique<sql::SqlQueryCursor>(*conn_, std::move(text), std::move(values));
    return std::make_unique<LiveQueryCursor>(std::move(rows), tables_, table, std::move(fieldOf), std::move(keyFields));
}

std::unique_ptr<Cursor> LocalSql::openQuery(const std::string& sql, const std::vector<QueryParam>& params) {
    attachTables(sql);
    auth_.second = false;
    try {
        if (auto live = openLive(sql, params))
            return live;
        auto cursor = sql::openSqlQuery(*conn_, sql, params);
        checkUndo();
        return cursor;
    } catch (const EngineError&) {
        failed();
        throw;
    }
}

int64_t LocalSql::executeSql(const std::string& sql, const std::vector<QueryParam>& params) {
    attachTables(sql);
    auth_.second = false;
    try {
        const int64_t n = sql::executeSqlText(*conn_, sql, params);
        checkUndo();
        return n;
    } catch (const EngineError&) {
        failed();
        throw;
    }
}

} // namespace vemo::engine::localsql
