#pragma once
// Grid model over a table dataset: records are read on demand through Table::rowAt and kept
// in a bounded block cache, so a table of a million records opens as fast as a small one.
// The record being edited or inserted is shown from the dataset's own buffer.
#include "engine/values/Value.h"

#include <QAbstractTableModel>
#include <functional>
#include <map>

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableModel(engine::Table& table, QObject* parent = nullptr);

    // Forgets every cached record and counts again (after open, close, post, delete,
    // refresh, filter and index changes).
    void reload();
    // Starts afresh (after open, close, index and filter changes): the grid goes to the top.
    void reset();
    // The grid row of the dataset's current record (the inserted row while inserting).
    int currentRow() const;
    // Makes the record of `row` current, posting a pending edit of another record first.
    // Raises the engine's error when the post fails; the current record stays as it was.
    void moveToRow(int row);
    // Starts an insert before the current record / an append after the last one.
    void beginInsert();
    void beginAppend();
    // Post, cancel and delete on the current record, keeping the rows in step.
    void post();
    void cancel();
    void removeCurrent();
    // Repaints the current record's row (its buffer changed outside the grid).
    void currentRowChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Cached blocks, for the window's own checks of the on-demand reading.
    size_t cachedRows() const;

    // Errors raised inside setData (a value that does not convert) go here.
    std::function<void(const QString&)> onError;

private:
    static constexpr int kBlock = 128;
    static constexpr size_t kMaxBlocks = 64;
    const engine::Row* cachedRow(int64_t position) const;
    int64_t positionOfRow(int row) const;
    bool isBufferRow(int row) const;

    engine::Table& table_;
    int64_t count_ = 0;
    int insertRow_ = -1; // grid row of the record being inserted, -1 when none
    mutable std::map<int64_t, std::vector<engine::Row>> blocks_;
};

} // namespace vemo::tablewin
