#include "engine/drivers/sqlcommon/SqlLiveCursor.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlParams.h"
#include "engine/drivers/sqlcommon/SqlShape.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace vemo::engine::sql {

namespace {

const char* kConflict = "他のユーザーがレコードを変更または削除しました。";

bool sameText(const Value& a, const Value& b) { return paramText(a) == paramText(b); }

} // namespace

SqlLiveCursor::SqlLiveCursor(SqlConnection& connection, SqlTableInfo table, std::vector<std::string> identity,
                             std::unique_ptr<SqlQueryCursor> rows, std::vector<int> fieldOf)
    : conn_(connection), table_(std::move(table)), identity_(std::move(identity)), rows_(std::move(rows)),
      fieldOf_(std::move(fieldOf)) {
    const auto& shown = rows_->fields();
    for (size_t i = 0; i < fieldOf_.size(); ++i) {
        // The table's own definition, under the name the statement gave the column.
        FieldDef f = table_.fields[static_cast<size_t>(fieldOf_[i])];
        f.name = shown.at(hidden() + i).name;
        fields_.push_back(std::move(f));
    }
}

bool SqlLiveCursor::read(int64_t pos, Row& row, RowId& id) {
    Row raw;
    if (!rows_->readRaw(pos, raw) || raw.size() < hidden() + fields_.size())
        return false;
    row.clear();
    for (size_t i = 0; i < fields_.size(); ++i)
        row.push_back(conn_.toTyped(raw[hidden() + i], fields_[i]));
    id = RowId{-1, std::move(raw)};
    return true;
}

int64_t SqlLiveCursor::positionOf(const RowId& id) {
    if (id.key.size() < hidden())
        return -1;
    Row raw;
    for (int64_t pos = 0; rows_->readRaw(pos, raw); ++pos) {
        bool same = raw.size() >= hidden();
        for (size_t k = 0; same && k < hidden(); ++k)
            same = sameText(raw[k], id.key[k]);
        if (same)
            return pos;
    }
    return -1;
}

void SqlLiveCursor::appendWhere(SqlBuilder& b, const RowId& id, const Row& before) const {
    if (id.key.size() < hidden() || before.size() != fields_.size())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    for (size_t k = 0; k < hidden(); ++k) {
        b << (k ? " AND " : "") << identity_[k] << " = ";
        b.bind(id.key[k]);
    }
    // Values exactly as read where the id still carries them, so that numbers the server
    // stores inexactly compare equal; otherwise the caller's values in stored form.
    bool raw = id.key.size() == hidden() + fields_.size();
    for (size_t i = 0; raw && i < fields_.size(); ++i)
        raw = conn_.toTyped(id.key[hidden() + i], fields_[i]) == before[i];
    for (size_t i = 0; i < fields_.size(); ++i) {
        const Value v = raw ? id.key[hidden() + i] : storedForm(before[i]);
        const std::string column = quoteIdent(table_.fields[static_cast<size_t>(fieldOf_[i])].name);
        b << " AND " << conn_.nullSafeEquals(column, b.placeholderFor(v), fields_[i]);
    }
}

void SqlLiveCursor::checkedWrite(const SqlBuilder& b) {
    Transaction tx(conn_);
    const int64_t n = conn_.execute(b.sql(), b.params());
    if (n != 1)
        throw EngineError(ErrUpdateConflict, kConflict);
    tx.commit();
}

RowId SqlLiveCursor::insert(const Row& values) {
    if (values.size() != fields_.size())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    SqlBuilder b(conn_);
    b << "INSERT INTO " << table_.qualifiedName;
    appendInsertValues(b, values, [&](size_t i) {
        return quoteIdent(table_.fields[static_cast<size_t>(fieldOf_[i])].name);
    });
    b << " RETURNING ";
    for (size_t k = 0; k < hidden(); ++k)
        b << (k ? ", " : "") << identity_[k];
    for (int f : fieldOf_)
        b << ", " << quoteIdent(table_.fields[static_cast<size_t>(f)].name);
    Row back;
    {
        Transaction tx(conn_);
        conn_.query(b.sql(), b.params(), [&](Row&& r) { back = std::move(r); });
        tx.commit();
    }
    rows_->refresh();
    if (back.size() != hidden() + fields_.size())
        throw EngineError(ErrGeneral, "追加したレコードを読み直せませんでした。");
    return RowId{-1, std::move(back)};
}

void SqlLiveCursor::update(const RowId& id, const Row& before, const Row& after) {
    if (after.size() != fields_.size())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    std::vector<size_t> changed;
    for (size_t i = 0; i < after.size() && i < before.size(); ++i)
        if (after[i] != before[i])
            changed.push_back(i);
    SqlBuilder b(conn_);
    if (changed.empty()) {
        // Nothing to write, but a record that is gone or changed is still reported.
        b << "SELECT count(*) FROM " << table_.qualifiedName << " WHERE ";
        appendWhere(b, id, before);
        int64_t n = 0;
        conn_.query(b.sql(), b.params(), [&](Row&& r) { n = parseInt(paramText(r.at(0)).value_or("0")).value_or(0); });
        if (n != 1)
            throw EngineError(ErrUpdateConflict, kConflict);
        return;
    }
    b << "UPDATE " << table_.qualifiedName << " SET ";
    for (size_t i = 0; i < changed.size(); ++i) {
        b << (i ? ", " : "") << quoteIdent(table_.fields[static_cast<size_t>(fieldOf_[changed[i]])].name) << " = ";
        b.bind(after[changed[i]]);
    }
    b << " WHERE ";
    appendWhere(b, id, before);
    rows_->refresh();
    checkedWrite(b);
}

void SqlLiveCursor::remove(const RowId& id, const Row& before) {
    SqlBuilder b(conn_);
    b << "DELETE FROM " << table_.qualifiedName << " WHERE ";
    appendWhere(b, id, before);
    rows_->refresh();
    checkedWrite(b);
}

std::unique_ptr<Cursor> openLiveSqlQuery(SqlConnection& connection, const std::string& sql,
                                         const std::vector<QueryParam>& params,
                                         const std::function<SqlTableInfo(const std::string&)>& tableInfo) {
    std::vector<Value> values;
    std::string text = bindNamedParams(sql, params, connection, values);
    while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
        text.pop_back();
    const auto shape = oneTableSelect(text);
    // A failed look-up would spoil a transaction that is open on the server.
    if (!shape || connection.inTransaction())
        return nullptr;
    try {
        const auto sources = connection.columnSources(text, values);
        if (sources.empty() || sources.front().table.empty())
            return nullptr;
        // Every shown column is a column of the table after FROM, each at most once.
        const std::string& source = sources.front().table;
        const std::string& written = shape->table.back();
        const size_t dot = source.rfind('.');
        const std::string stored = dot == std::string::npos ? source : source.substr(dot + 1);
        if (strcasecmp(stored.c_str(), written.c_str()) != 0)
            return nullptr;
        SqlTableInfo info = tableInfo(source);
        if (!info.readOnlyReason.empty())
            return nullptr;
        std::vector<std::string> identity;
        for (int k : info.keyColumns)
            identity.push_back(quoteIdent(info.fields[static_cast<size_t>(k)].name));
        if (identity.empty() && !info.rowIdentity.empty() && info.rowIdentity != "ctid")
            identity.push_back(info.rowIdentity);
        if (identity.empty())
            return nullptr;
        std::vector<int> fieldOf;
        for (const auto& column : sources) {
            if (column.table != source)
                return nullptr;
            auto it = std::find_if(info.fields.begin(), info.fields.end(),
                                   [&](const FieldDef& f) { return f.name == column.column; });
            if (it == info.fields.end())
                it = std::find_if(info.fields.begin(), info.fields.end(),
                                  [&](const FieldDef& f) { return strcasecmp(f.name.c_str(), column.column.c_str()) == 0; });
            const int f = it == info.fields.end() ? -1 : static_cast<int>(it - info.fields.begin());
            if (f < 0 || std::find(fieldOf.begin(), fieldOf.end(), f) != fieldOf.end())
                return nullptr;
            fieldOf.push_back(f);
        }
        if (fieldOf.empty())
            return nullptr;
        std::string hiddenList;
        for (size_t k = 0; k < identity.size(); ++k)
            hiddenList += " " + identity[k] + " AS vemo_id" + std::to_string(k) + ",";
        text.insert(shape->listStart, hiddenList);
        auto rows = std::make_unique<SqlQueryCursor>(connection, std::move(text), std::move(values));
        if (rows->fields().size() != identity.size() + fieldOf.size())
            return nullptr;
        return std::make_unique<SqlLiveCursor>(connection, std::move(info), std::move(identity), std::move(rows),
                                               std::move(fieldOf));
    } catch (const EngineError&) {
        // Anything the look-ups could not settle opens read-only.
        return nullptr;
    }
}

} // namespace vemo::engine::sql
