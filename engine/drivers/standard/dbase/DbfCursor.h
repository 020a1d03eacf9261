#pragma once
// The engine's cursor over one dBASE table.
#include "engine/contract/Cursor.h"
#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/drivers/standard/dbase/LiveIndex.h"

#include <functional>
#include <memory>
#include <optional>

namespace vemo::engine::dbase {

class DbfCursor : public Cursor {
public:
    DbfCursor(const std::filesystem::path& file, const OpenOptions& options, const standard::TableSettings& settings = {});

    const std::vector<FieldDef>& fields() const override { return fields_; }
    std::vector<IndexDef> indexes() const override { return indexes_->definitions(); }
    std::string readOnlyReason() const override { return readOnly_; }
    void setOrder(const std::string& indexName) override;
    bool setFilter(const Filter* filter) override;
    int64_t count() override;
    bool read(int64_t pos, Row& row, RowId& id) override;
    int64_t positionOf(const RowId& id) override;
    void refresh() override;
    RowId insert(const Row& values) override;
    void update(const RowId& id, const Row& before, const Row& after) override;
    void remove(const RowId& id, const Row& before) override;

private:
    void requireWritable() const;
    int64_t recnoAt(int64_t pos);
    // Record numbers of the records in the current order that pass the filter.
    const std::vector<uint32_t>& filtered();
    // The record as it is on disk now, after checking that it still holds `before`.
    std::vector<uint8_t> checkedRecord(const RowId& id, const Row& before);
    void afterWrite(bool reorder);
    // Runs one logical write under the table's write scope; a failure at any step puts the
    // table and its index files back as they were.
    void writing(const std::function<void()>& body);

    std::unique_ptr<DbfTable> table_;
    std::unique_ptr<IndexSet> indexes_;
    std::vector<FieldDef> fields_;
    std::string readOnly_;
    LiveIndex live_;
    LiveIndex::FlagReader flags_;
    std::string order_;
    std::optional<std::vector<uint32_t>> ordered_; // record numbers in index order
    const Filter* filter_ = nullptr;
    std::optional<std::vector<uint32_t>> filtered_;  // computed on first use
};

} // namespace vemo::engine::dbase
