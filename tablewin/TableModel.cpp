#include "tablewin/TableModel.h"

#include "engine/dataset/Table.h"

#include <QBrush>
#include <QString>

namespace vemo::tablewin {

using engine::DataSetState;

TableModel::TableModel(engine::Table& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {}

void TableModel::reload()
{
    blocks_.clear();
    const int oldRows = rowCount();
    if (table_.state() != DataSetState::Insert)
        insertRow_ = -1;
    count_ = table_.isOpen() ? table_.recordCount() : 0;
    const int newRows = rowCount();
    // Resize at the end instead of resetting, so the grid keeps its current cell.
    if (newRows > oldRows) {
        beginInsertRows({}, oldRows, newRows - 1);
        endInsertRows();
    } else if (newRows < oldRows) {
        beginRemoveRows({}, newRows, oldRows - 1);
        endRemoveRows();
    }
    if (newRows > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(newRows - 1, columnCount() - 1));
}

void TableModel::reset()
{
    beginResetModel();
    blocks_.clear();
    insertRow_ = -1;
    count_ = table_.isOpen() ? table_.recordCount() : 0;
    endResetModel();
}

int TableModel::currentRow() const
{
    if (insertRow_ >= 0)
        return insertRow_;
    const int64_t pos = table_.isOpen() ? table_.recNo() : -1;
    return pos < 0 ? -1 : static_cast<int>(pos);
}

int64_t TableModel::positionOfRow(int row) const
{
    if (insertRow_ >= 0 && row > insertRow_)
        return row - 1;
    return row;
}

bool TableModel::isBufferRow(int row) const
{
    if (insertRow_ >= 0)
        return row == insertRow_;
    return table_.state() == DataSetState::Edit && row == currentRow();
}

void TableModel::moveToRow(int row)
{
    if (!table_.isOpen() || row < 0 || row == currentRow())
        return;
    int64_t target = positionOfRow(row);
    const DataSetState st = table_.state();
    if (st == DataSetState::Edit || st == DataSetState::Insert) {
        const bool inserting = st == DataSetState::Insert;
        table_.post(); // raises; the edit stays pending then
        if (inserting) {
            const int64_t placed = table_.recNo();
            if (placed >= 0 && placed <= target)
                ++target;
        }
        reload();
    }
    table_.moveTo(target);
}

void TableModel::beginInsert()
{
    if (insertRow_ >= 0)
        return;
    const int64_t pos = table_.recNo();
    const int row = pos < 0 ? 0 : static_cast<int>(pos);
    table_.insert();
    beginInsertRows({}, row, row);
    insertRow_ = row;
    endInsertRows();
}

void TableModel::beginAppend()
{
    if (insertRow_ >= 0)
        return;
    table_.append();
    const int row = static_cast<int>(count_);
    beginInsertRows({}, row, row);
    insertRow_ = row;
    endInsertRows();
}

void TableModel::post()
{
    const DataSetState st = table_.state();
    if (st != DataSetState::Edit && st != DataSetState::Insert)
        return;
    table_.post();
    reload(); // drops the inserted row's place along with the old count

}

void TableModel::cancel()
{
    if (insertRow_ >= 0) {
        const int row = insertRow_;
        table_.cancel();
        beginRemoveRows({}, row, row);
        insertRow_ = -1;
        endRemoveRows();
        return;
    }
    if (table_.state() == DataSetState::Edit) {
        table_.cancel();
        currentRowChanged();
    }
}

void TableModel::removeCurrent()
{
    if (insertRow_ >= 0) {
        cancel(); // deleting a record never posted only drops it
        return;
    }
    table_.remove();
    reload();
}

void TableModel::currentRowChanged()
{
    const int row = currentRow();
    if (row >= 0 && row < rowCount() && columnCount() > 0)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int TableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(count_) + (insertRow_ >= 0 ? 1 : 0);
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !table_.isOpen())
        return 0;
    return table_.fieldCount();
}

const engine::Row* TableModel::cachedRow(int64_t position) const
{
    const int64_t start = position - position % kBlock;
    auto it = blocks_.find(start);
    if (it == blocks_.end()) {
        if (blocks_.size() >= kMaxBlocks) {
            // Keep the neighbourhood of what is being looked at, drop the far blocks.
            auto far = blocks_.begin();
            if (std::abs(far->first - start) < std::abs(std::prev(blocks_.end())->first - start))
                far = std::prev(blocks_.end());
            blocks_.erase(far);
        }
        std::vector<engine::Row> rows;
        rows.reserve(kBlock);
        try {
            for (int64_t p = start; p < start + kBlock; ++p) {
                engine::Row r;
                if (!table_.rowAt(p, r))
                    break;
                rows.push_back(std::move(r));
            }
        } catch (const std::exception&) {
            // A damaged record reads as empty cells; the block is read again on the next reload.
        }
        it = blocks_.emplace(start, std::move(rows)).first;
    }
    const size_t offset = static_cast<size_t>(position - start);
    return offset < it->second.size() ? &it->second[offset] : nullptr;
}

size_t TableModel::cachedRows() const
{
    size_t n = 0;
    for (const auto& [start, rows] : blocks_)
        n += rows.size();
    return n;
}

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !table_.isOpen())
        return {};
    const int col = index.column();
    const auto& defs = table_.fieldDefs();
    if (col >= static_cast<int>(defs.size()))
        return {};
    const engine::FieldType type = defs[col].type;
    if (role == Qt::TextAlignmentRole) {
        switch (type) {
        case engine::FieldType::Smallint: case engine::FieldType::Integer: case engine::FieldType::Word:
        case engine::FieldType::Float: case engine::FieldType::Currency: case engine::FieldType::BCD:
        case engine::FieldType::AutoInc: case engine::FieldType::LargeInt:
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (isBufferRow(index.row()))
        return QString::fromStdString(table_.fieldText(col));
    const engine::Row* row = cachedRow(positionOfRow(index.row()));
    if (!row || col >= static_cast<int>(row->size()))
        return {};
    return QString::fromStdString(engine::valueToText((*row)[col], type));
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || !table_.isOpen())
        return {};
    const auto& defs = table_.fieldDefs();
    if (section < 0 || section >= static_cast<int>(defs.size()))
        return {};
    return QString::fromStdString(defs[section].name);
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || !table_.isOpen())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const auto& defs = table_.fieldDefs();
    if (index.column() < static_cast<int>(defs.size()) && !engine::isBinaryType(defs[index.column()].type)
        && defs[index.column()].type != engine::FieldType::AutoInc && table_.canModify())
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    try {
        moveToRow(index.row());
        const std::string text = value.toString().toStdString();
        if (!isBufferRow(index.row()) && table_.fieldText(index.column()) == text)
            return true; // nothing changed: do not start an edit
        table_.setFieldText(index.column(), text);
    } catch (const std::exception& e) {
        if (onError)
            onError(QString::fromUtf8(e.what()));
        return false;
    }
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return true;
}

} // namespace vemo::tablewin
