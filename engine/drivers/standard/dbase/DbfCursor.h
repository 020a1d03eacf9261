#pragma once
// The engine's cursor over one dBASE table.
#include "engine/contract/Cursor.h"
#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/drivers/standard/dbase/LiveIndex.h"
#include "engine/drivers/standard/dbase/RecordOrder.h"

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
    void setWantedFields(const std::vector<int>& which) override;
    void refresh() override;
    RowId insert(const Row& values) override;
    void update(const RowId& id, const Row& before, const Row& after) override;
    void remove(const RowId& id, const Row& before) override;
    int64_t seek(const Row& key) override;
    bool walkFrom(const Row& key, bool sameKey) override;
    bool walkNext(Row& row, RowId& id) override;
    void beginBatch() override;
    void commitBatch() override;
    void rollbackBatch() noexcept override;

private:
    std::vector<int> wanted_; // fields read decodes; empty for all
    void requireWritable() const;
    int64_t recnoAt(int64_t pos);
    // Record numbers of the records in the current order that pass the filter.
    const std::vector<uint32_t>& filtered();
    // The record as it is on disk now, after checking that it still holds `before`.
    std::vector<uint8_t> checkedRecord(const RowId& id, const Row& before);
    void afterWrite();
    // Drops what the cursor keeps of the records (order, visible records, filter result):
    // built again from the file on next use.
    void forgetKept();
    // Leading bytes of each record's sortable key the order keeps, so that finding a
    // record's place after a write reads no records but those whose keys tie that far.
    static constexpr size_t OrderKeyBytes = 16;
    // The current order's record numbers, built on first use.
    RecordOrder* order();
    // Keeps the built order right after one record got a new key (or was added: had == false).
    void reorder(uint32_t recno, const std::vector<uint8_t>* before, const std::vector<uint8_t>& after);
    // Position in the order of the first record not less than the sortable key (with recno).
    // moving: a record whose entry is looked for by its old key while the file already
    // holds its new one (it counts as equal to the key).
    size_t lowerBound(const std::string& key, uint32_t recno, size_t prefix, int64_t moving = -1);
    void endBatchScope() noexcept;
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
    std::optional<RecordOrder> ordered_;           // record numbers in index order
    bool orderPending_ = false;                    // ordered_ not built yet for order_
    // The record of the table that holds the key's values in the order's leading fields (the
    // others blank); false when the key cannot be put in them.
    bool probeRecord(const Row& key, std::vector<uint8_t>& probe) const;
    // A walk through the current order's index tree (walkFrom/walkNext): entries are read a
    // few at a time, each checked against its record.
    struct Walk {
        std::vector<std::pair<std::string, uint32_t>> entries;
        size_t at = 0;
        size_t batch = 4;
        bool ended = false;
        std::string last; // with sameKey: the key past which the walk ends
        std::vector<uint8_t> record;
    };
    std::optional<Walk> walk_;
    std::unique_ptr<DbfTable::WriteScope> batch_;  // the scope of a running batch
    bool batchBroken_ = false;                     // a write failed and the batch was undone
    uint64_t batchStart_ = 0;                      // table writes when the batch began
    const Filter* filter_ = nullptr;
    std::optional<std::vector<uint32_t>> filtered_;  // computed on first use
};

} // namespace vemo::engine::dbase
