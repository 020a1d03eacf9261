#include "engine/localsql/LiveQueryCursor.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>

namespace vemo::engine::localsql {

namespace {

int64_t recnoOf(const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v))
        return *i;
    return sql::parseInt(sql::paramText(v).value_or("")).value_or(-1);
}

// Values of one field as the query and the table give them (a decimal and a double, say)
// are the same when their texts are.
bool same(const Value& a, const Value& b) { return sql::paramText(a) == sql::paramText(b); }

} // namespace

LiveQueryCursor::LiveQueryCursor(std::unique_ptr<Cursor> rows, Database& tables, std::string table, std::vector<int> fieldOf,
                                 std::vector<int> keyFields)
    : rows_(std::move(rows)), tables_(tables), name_(std::move(table)), fieldOf_(std::move(fieldOf)),
      keyFields_(std::move(keyFields)) {
    const auto& all = rows_->fields();
    fields_.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(hidden(), all.size())), all.end());
    const auto& defs = this->table().fields();
    for (size_t i = 0; i < fields_.size() && i < fieldOf_.size(); ++i) {
        // The table's own definition, under the name the statement gave the column.
        const std::string shownAs = fields_[i].name;
        fields_[i] = defs[static_cast<size_t>(fieldOf_[i])];
        fields_[i].name = shownAs;
    }
}

Cursor& LiveQueryCursor::table() {
    if (!table_)
        table_ = tables_.openTable(name_, OpenOptions{});
    return *table_;
}

RowId LiveQueryCursor::identity(const Row& hiddenValues) {
    if (keyFields_.empty())
        return RowId{recnoOf(hiddenValues.at(0)), {}};
    const auto& defs = table().fields();
    RowId id;
    for (size_t k = 0; k < keyFields_.size(); ++k) {
        Value typed;
        if (!isNull(hiddenValues.at(k)))
            sql::assignFromText(typed, sql::paramText(hiddenValues[k]).value_or(""), defs[static_cast<size_t>(keyFields_[k])]);
        id.key.push_back(std::move(typed));
    }
    return id;
}

bool LiveQueryCursor::read(int64_t pos, Row& row, RowId& id) {
    if (!rows_->read(pos, row, id) || row.size() < hidden())
        return false;
    id = identity(Row(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(hidden())));
    row.erase(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(hidden()));
    for (size_t i = 0; i < row.size() && i < fields_.size(); ++i) {
        if (isNull(row[i]))
            continue;
        Value typed;
        sql::assignFromText(typed, sql::paramText(row[i]).value_or(""), fields_[i]);
        row[i] = std::move(typed);
    }
    return true;
}

int64_t LiveQueryCursor::positionOf(const RowId& id) {
    Row row;
    RowId at;
    for (int64_t pos = 0; read(pos, row, at); ++pos) {
        if (keyFields_.empty() ? at.recno == id.recno : at.key.size() == id.key.size() &&
                                     std::equal(at.key.begin(), at.key.end(), id.key.begin(), same))
            return pos;
    }
    return -1;
}

// The record as stored now, with the identity the table's cursor gives it, after checking
// that it still shows `before`.
Row LiveQueryCursor::checked(const RowId& id, const Row& before, RowId& stored) {
    Cursor& t = table();
    t.refresh();
    Row record;
    const int64_t pos = t.positionOf(id);
    bool ok = pos >= 0 && t.read(pos, record, stored);
    for (size_t i = 0; ok && i < before.size() && i < fieldOf_.size(); ++i)
        ok = same(record[static_cast<size_t>(fieldOf_[i])], before[i]);
    if (!ok)
        throw EngineError(ErrUpdateConflict, "レコードは他のユーザーによって変更または削除されています。");
    return record;
}

void LiveQueryCursor::assign(Row& record, const Row& shown) {
    const auto& defs = table().fields();
    for (size_t i = 0; i < shown.size() && i < fieldOf_.size(); ++i) {
        const auto f = static_cast<size_t>(fieldOf_[i]);
        if (isNull(shown[i]))
            record[f] = Value{};
        else
            sql::assignFromText(record[f], sql::paramText(shown[i]).value_or(""), defs[f]);
    }
}

RowId LiveQueryCursor::insert(const Row& values) {
    Row record(table().fields().size());
    assign(record, values);
    RowId id = table().insert(record);
    rows_->refresh(); // the result's count and rows are read again
    return id;
}

void LiveQueryCursor::update(const RowId& id, const Row& before, const Row& after) {
    RowId at;
    Row stored = checked(id, before, at);
    Row record = stored;
    assign(record, after);
    table().update(at, stored, record);
    rows_->refresh();
}

void LiveQueryCursor::remove(const RowId& id, const Row& before) {
    RowId at;
    Row stored = checked(id, before, at);
    table().remove(at, stored);
    rows_->refresh();
}

} // namespace vemo::engine::localsql
