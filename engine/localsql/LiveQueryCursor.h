#pragma once
// The rows of a SELECT over one table of the folder, editable: each row carries what finds
// its record again (the record number, or a keyed Paradox table's key fields, in hidden
// first columns of the statement), and edits go to the table's own cursor, with the same
// conflict check as the table window (the record must still hold the values shown).
#include "engine/contract/Cursor.h"
#include "engine/contract/Database.h"

#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::localsql {

class LiveQueryCursor final : public Cursor {
public:
    // rows: the statement's cursor, whose first columns are the record number (keyFields
    // empty) or the key fields keyFields names; fieldOf[i]: the table field that result
    // column i (after the hidden ones) shows.
    LiveQueryCursor(std::unique_ptr<Cursor> rows, Database& tables, std::string table, std::vector<int> fieldOf,
                    std::vector<int> keyFields = {});

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
    Cursor& table();
    Row checked(const RowId& id, const Row& before, RowId& stored);
    void assign(Row& record, const Row& shown);
    size_t hidden() const { return keyFields_.empty() ? 1 : keyFields_.size(); }
    // The record's identity from the hidden columns of a result row.
    RowId identity(const Row& hiddenValues);

    std::unique_ptr<Cursor> rows_;
    Database& tables_;
    std::string name_;
    std::vector<int> fieldOf_;
    std::vector<int> keyFields_;
    std::vector<FieldDef> fields_;
    std::unique_ptr<Cursor> table_;
};

} // namespace vemo::engine::localsql
