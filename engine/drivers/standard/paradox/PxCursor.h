#pragma once
// A Paradox table opened for the engine: records in primary-key (or natural) order or in
// the order of a secondary index, and writes that keep every index file current.
#include "PxBlobStore.h"
#include "PxIndexFiles.h"
#include "PxTable.h"
#include "engine/contract/Cursor.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::paradox {

class PxCursor : public Cursor {
public:
    PxCursor(const std::filesystem::path& file, const OpenOptions& options, const standard::TableSettings& settings = {});
    ~PxCursor() override;

    // Bulk loading: while deferred, index files are brought up to date only by
    // flushIndexes() (or when the cursor closes) instead of after every write.
    void setDeferIndexWrites(bool defer);
    void flushIndexes();

    // Repair (PxRepair.cpp): the secondary indexes this cursor understood, and every index
    // file rewritten whole from the records under the writers' lock.
    const std::vector<SecondaryIndexSpec>& secondaryIndexes() const { return secondary_; }
    void rebuildIndexFiles();

    const std::vector<FieldDef>& fields() const override { return fields_; }
    std::vector<IndexDef> indexes() const override;
    std::string readOnlyReason() const override;
    void setOrder(const std::string& indexName) override;
    int64_t count() override { return table_->count(); }
    bool read(int64_t pos, Row& row, RowId& id) override;
    int64_t positionOf(const RowId& id) override;
    int64_t seek(const Row& key) override;
    void setWantedFields(const std::vector<int>& which) override;
    void refresh() override;
    RowId insert(const Row& values) override;
    void update(const RowId& id, const Row& before, const Row& after) override;
    void remove(const RowId& id, const Row& before) override;
    void beginBatch() override;
    void commitBatch() override;
    void rollbackBatch() noexcept override;

private:
    std::vector<int> wanted_; // fields read decodes; empty for all
    void openFiles();
    void findSecondaryIndexes();
    void buildOrder();
    Row decodeRow(const uint8_t* rec);
    Value decodeBlob(const PxField& f, const uint8_t* data);
    RowId idOf(const uint8_t* rec, int64_t physical);
    // Position in chain order of the record an id names, -1 when it is gone.
    int64_t locate(const RowId& id);
    // The record an update or delete names, as `before` shows it; ErrUpdateConflict when
    // it was changed or removed.
    int64_t locateForWrite(const RowId& id, const Row& before);
    // Encodes the non-blob fields of values into rec (throws before anything is written).
    void encodeScalars(const Row& values, std::vector<uint8_t>& rec, const std::vector<uint8_t>* old);
    void writeBlobs(const Row& values, const Row* before, std::vector<uint8_t>& rec, std::vector<int>& written);
    void releaseBlobs(const uint8_t* rec, const std::vector<int>& which);
    void afterWrite();
    // Runs one logical write under the table's write scope: other writers' changes are
    // taken in first, and a failure at any step puts the table (and its index files) back.
    template <class Body> auto writing(Body&& body);
    void recoverUnfinishedWrite();
    // Brings every index file up to date with the table: the changes noted since the last
    // time one by one, or a rebuild of them all when there are too many or they are unknown.
    void writeIndexes();
    void replaceIndexFiles(); // every index file written whole from the records
    void applyIndexChanges();
    void syncIndexFiles();
    void forgetIndexImages();
    void noteChange(const uint8_t* oldRec, const uint8_t* newRec);
    PxTable& xTable(size_t i);
    // Whether reads in a secondary order can go through its .X file.
    bool orderThroughIndexFile();
    // Whether an existing .X is of a case-insensitive index (its header does not say).
    bool foldedIndex(const SecondaryIndexSpec& ix);
    std::vector<uint8_t> encodeLeading(const std::vector<int>& fields, const Row& key, bool fold, int& len);
    // locked: under the writers' lock, where the key order is checked once.
    void requireWritable(bool locked = false);
    void checkKeyOrder();
    void noteOrderProblems();
    static std::string orderProblem(const SecondaryIndexSpec& ix);

    std::filesystem::path path_;
    OpenOptions options_;
    standard::TableSettings settings_;
    std::unique_ptr<PxTable> table_;
    std::unique_ptr<PxBlobStore> blobs_;
    std::vector<FieldDef> fields_;
    std::vector<SecondaryIndexSpec> secondary_;
    std::unique_ptr<IndexFileImage> primaryImage_;
    std::vector<IndexFileImage> treeImages_; // the .Y of each secondary index
    std::vector<std::unique_ptr<PxTable>> xTables_; // each .X opened for writing, when needed
    // Changes not yet in the index files: a record's bytes before and after (either empty).
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> pending_;
    std::vector<std::vector<uint8_t>> moved_; // records moved to another block since
    bool rebuildNeeded_ = false;                // the index files must be rebuilt whole
    std::unique_ptr<PxTable::WriteScope> batch_;
    bool batchUndone_ = false;
    bool orderStale_ = false; // the in-memory secondary order lags behind the table
    bool indexTouched_ = false; // index files written in the current write scope
    bool indexReplaced_ = false; // ... and some of them replaced whole (not journaled)
    bool memoryOrder_ = false;  // the .X of the current order cannot be trusted: sort instead
    void undoBatch() noexcept;
    bool keyOrderChecked_ = false;
    bool deferIndexes_ = false;
    std::vector<std::pair<std::vector<uint8_t>, std::vector<int>>> releaseAfterCommit_; // record, blob fields
    bool indexesDirty_ = false;
    std::vector<std::string> problems_;
    std::string orderName_;
    int orderIndex_ = -1;
    std::vector<uint32_t> order_; // chain positions in the order of a secondary index
};

} // namespace vemo::engine::paradox
