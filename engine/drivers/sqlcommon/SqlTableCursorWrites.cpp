#include "engine/drivers/sqlcommon/SqlTableCursor.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"

namespace vemo::engine::sql {

namespace {
const char* kConflict = "他のユーザーがレコードを変更または削除しました。";
} // namespace

void SqlTableCursor::appendIdentity(SqlBuilder& b, const Row& row) const {
    if (!info_.keyColumns.empty()) {
        for (size_t i = 0; i < info_.keyColumns.size(); ++i) {
            int k = info_.keyColumns[i];
            b << (i ? " AND " : "") << columns_[k] << " = ";
            b.bind(row.at(k));
        }
    } else if (!info_.rowIdentity.empty()) {
        b << info_.rowIdentity << " = ";
        b.bind(row.at(info_.fields.size()));
    } else {
        throw EngineError(ErrNotSupported, "このテーブルにはレコードを特定するキーがありません。");
    }
}

// Whether the row an id carries is still the record the caller holds: a caller may keep an
// id across its own writes and hand in newer values as `before`.
bool SqlTableCursor::rawMatches(const RowId& id, const Row& before) const {
    if (id.key.size() != rawWidth() || before.size() != info_.fields.size())
        return false;
    for (size_t i = 0; i < info_.fields.size(); ++i)
        if (conn_.toTyped(id.key[i], info_.fields[i]) != before[i])
            return false;
    return true;
}

// The old values a write is checked against: the row exactly as read when the id came
// from this cursor and still matches, otherwise the caller's record with the key or row
// number of the id.
Row SqlTableCursor::fullRaw(const RowId& id, const Row& before) const {
    if (rawMatches(id, before))
        return id.key;
    Row row = before;
    row.resize(info_.fields.size());
    if (id.key.size() == rawWidth()) {
        for (int k : info_.keyColumns)
            row[k] = id.key[k];
        if (!info_.rowIdentity.empty())
            row.push_back(id.key.back());
        return row;
    }
    if (!info_.keyColumns.empty() && id.key.size() == info_.keyColumns.size())
        for (size_t i = 0; i < info_.keyColumns.size(); ++i)
            row[info_.keyColumns[i]] = id.key[i];
    if (!info_.rowIdentity.empty()) {
        row.emplace_back();
        if (id.recno >= 0)
            row.back() = id.recno;
    }
    return row;
}

void SqlTableCursor::checkWritable() const {
    if (!info_.readOnlyReason.empty())
        throw EngineError(ErrReadOnly, info_.readOnlyReason);
}

RowId SqlTableCursor::insert(const Row& values) {
    checkWritable();
    if (values.size() != info_.fields.size())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    SqlBuilder b(conn_);
    b << "INSERT INTO " << info_.qualifiedName;
    appendInsertValues(b, values, [&](size_t i) { return columns_[i]; });
    b << " RETURNING " << selectList();
    auto rows = runSelect(b);
    invalidate();
    if (rows.empty())
        throw EngineError(ErrGeneral, "追加したレコードを読み直せませんでした。");
    return rowIdOf(rows.front().raw);
}

void SqlTableCursor::appendUnchanged(SqlBuilder& b, const Row& old, bool rawValues) const {
    for (size_t i = 0; i < info_.fields.size(); ++i) {
        const Value v = rawValues ? old[i] : storedForm(old[i]);
        b << " AND " << conn_.nullSafeEquals(columns_[i], b.placeholderFor(v), info_.fields[i]);
    }
}

void SqlTableCursor::checkedWrite(const SqlBuilder& b) {
    Transaction tx(conn_);
    int64_t n = conn_.execute(b.sql(), b.params());
    if (n != 1)
        throw EngineError(ErrUpdateConflict, kConflict);
    tx.commit();
}

void SqlTableCursor::update(const RowId& id, const Row& before, const Row& after) {
    checkWritable();
    if (after.size() != info_.fields.size() || before.size() != info_.fields.size())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    const bool rawValues = rawMatches(id, before);
    Row old = fullRaw(id, before);
    std::vector<size_t> changed;
    for (size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i])
            changed.push_back(i);
    SqlBuilder b(conn_);
    if (changed.empty()) {
        // Nothing to write, but a record that is gone or changed is still reported.
        b << "SELECT count(*) FROM " << info_.qualifiedName << " WHERE ";
        appendIdentity(b, old);
        appendUnchanged(b, old, rawValues);
        int64_t n = 0;
        conn_.query(b.sql(), b.params(), [&](Row&& r) { n = parseInt(paramText(r.at(0)).value_or("0")).value_or(0); });
        if (n != 1)
            throw EngineError(ErrUpdateConflict, kConflict);
        return;
    }
    b << "UPDATE " << info_.qualifiedName << " SET ";
    for (size_t i = 0; i < changed.size(); ++i) {
        b << (i ? ", " : "") << columns_[changed[i]] << " = ";
        b.bind(after[changed[i]]);
    }
    b << " WHERE ";
    appendIdentity(b, old);
    appendUnchanged(b, old, rawValues);
    invalidate();
    checkedWrite(b);
}

void SqlTableCursor::remove(const RowId& id, const Row& before) {
    checkWritable();
    if (before.size() != info_.fields.size() && id.key.size() != rawWidth())
        throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
    // Without the caller's record the row the id carries is what was read.
    const bool rawValues = rawMatches(id, before) || before.size() != info_.fields.size();
    Row old = rawValues ? id.key : fullRaw(id, before);
    SqlBuilder b(conn_);
    b << "DELETE FROM " << info_.qualifiedName << " WHERE ";
    appendIdentity(b, old);
    appendUnchanged(b, old, rawValues);
    invalidate();
    checkedWrite(b);
}

} // namespace vemo::engine::sql
