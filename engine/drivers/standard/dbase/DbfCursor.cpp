#include "engine/drivers/standard/dbase/DbfCursor.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"

#include <algorithm>

namespace vemo::engine::dbase {
namespace {

const char* variantName(Variant v) {
    switch (v) {
    case Variant::Dbase2: return "dBASE II";
    case Variant::Dbase7: return "dBASE 7";
    case Variant::FoxPro: return "FoxPro";
    case Variant::VisualFoxPro: return "Visual FoxPro";
    default: return "dBASE";
    }
}

} // namespace

DbfCursor::DbfCursor(const std::filesystem::path& file, const OpenOptions& options, const standard::TableSettings& settings) {
    bool writable = !options.readOnly;
    try {
        table_ = std::make_unique<DbfTable>(file, writable, settings);
    } catch (const EngineError& e) {
        if (!writable || e.code() != ErrReadOnly)
            throw;
        writable = false;
        table_ = std::make_unique<DbfTable>(file, false, settings);
        readOnly_ = "ファイルに書き込む権限がありません";
    }
    const DbfHeader& h = table_->header();
    for (int i : table_->visibleFields())
        fields_.push_back(fieldDefOf(h.fields[static_cast<size_t>(i)], h.variant));
    indexes_ = std::make_unique<IndexSet>(*table_);
    flags_ = [this](uint32_t r) { return table_->isDeleted(r); };
    live_.reset(table_->recordCount());

    if (options.readOnly) {
        readOnly_ = "読み取り専用で開いています";
    } else if (!readOnly_.empty()) {
    } else if (!table_->damage().empty()) {
        readOnly_ = "テーブルが壊れています: " + table_->damage();
    } else if (h.variant != Variant::Dbase3 && h.variant != Variant::Dbase4) {
        readOnly_ = std::string(variantName(h.variant)) + " 形式のテーブルへの書き込みには対応していません";
    } else if (auto it = std::find_if(h.fields.begin(), h.fields.end(), [](const DbfField& f) { return !canWriteType(f.type); });
               it != h.fields.end()) {
        readOnly_ = "フィールド " + it->name + " の型 '" + std::string(1, it->type) + "' には書き込めません";
    } else if (!indexes_->problem().empty()) {
        readOnly_ = indexes_->problem();
    }
    if (readOnly_.empty() && table_->hasJournal()) {
        // A write was cut off: the table goes back to what it was before it, and the index
        // files, derived from the records, are rebuilt.
        writing([] {});
        live_.reset(table_->recordCount());
    }
}

void DbfCursor::writing(const std::function<void()>& body) {
    DbfTable::WriteScope scope(*table_);
    const bool rebuild = scope.recovered() && !indexes_->empty();
    try {
        if (rebuild)
            indexes_->rebuild();
        body();
        scope.finish();
    } catch (...) {
        // Put the records back as they were, then the index files that may have followed them.
        try {
            scope.rollBack();
            if (!indexes_->empty())
                indexes_->rebuild();
            scope.finish();
        } catch (const EngineError&) {
            // The journal stays; the next write or open finishes the repair.
        }
        live_.reset(table_->recordCount());
        throw;
    }
}

void DbfCursor::requireWritable() const {
    if (!readOnly_.empty())
        throw EngineError(ErrReadOnly, "テーブル " + table_->tableName() + " は読み取り専用です: " + readOnly_);
}

void DbfCursor::setOrder(const std::string& indexName) {
    if (indexName.empty()) {
        ordered_.reset();
        order_.clear();
        filtered_.reset();
        return;
    }
    ordered_ = indexes_->order(indexName);
    order_ = indexName;
    filtered_.reset();
}

bool DbfCursor::setFilter(const Filter* filter) {
    filter_ = filter;
    filtered_.reset();
    return true;
}

namespace {

// One record's field values, each decoded on the filter's first request for it; fields
// behind an AND or OR operand that already decided the record are never decoded.
class LazyRecord final : public FilterFieldSource {
public:
    explicit LazyRecord(const DbfTable& table)
        : table_(table), values_(table.visibleFields().size()), seen_(values_.size(), 0) {}

    void start(const uint8_t* rec) {
        rec_ = rec;
        if (++generation_ == 0) { // wrapped: forget every mark so none is taken as current
            std::fill(seen_.begin(), seen_.end(), 0);
            generation_ = 1;
        }
    }

    const Value& fieldValue(int field) override {
        const auto i = static_cast<size_t>(field);
        if (i >= values_.size())
            return null_;
        if (seen_[i] != generation_) {
            const auto& h = table_.header();
            values_[i] = table_.value(h.fields[static_cast<size_t>(table_.visibleFields()[i])], rec_);
            seen_[i] = generation_;
        }
        return values_[i];
    }

private:
    const DbfTable& table_;
    const uint8_t* rec_ = nullptr;
    Row values_;
    std::vector<uint32_t> seen_; // generation in which each value was decoded
    uint32_t generation_ = 0;
    const Value null_{};
};

} // namespace

const std::vector<uint32_t>& DbfCursor::filtered() {
    if (!filtered_) {
        // Decoding only the fields the filter reaches keeps a scan of a large table fast.
        std::vector<uint32_t> out;
        LazyRecord lazy(*table_);
        auto test = [&](uint32_t r) {
            const uint8_t* rec = table_->record(r);
            if (rec[0] == '*')
                return;
            lazy.start(rec);
            if (filter_->matches(lazy))
                out.push_back(r);
        };
        if (ordered_)
            for (uint32_t r : *ordered_)
                test(r);
        else
            for (uint32_t r = 0; r < table_->recordCount(); ++r)
                test(r);
        filtered_ = std::move(out);
    }
    return *filtered_;
}

int64_t DbfCursor::count() {
    if (filter_)
        return static_cast<int64_t>(filtered().size());
    if (ordered_)
        return static_cast<int64_t>(ordered_->size());
    return live_.liveCount(flags_);
}

int64_t DbfCursor::recnoAt(int64_t pos) {
    if (pos < 0)
        return -1;
    if (filter_) {
        const auto& f = filtered();
        return pos < static_cast<int64_t>(f.size()) ? static_cast<int64_t>(f[static_cast<size_t>(pos)]) : -1;
    }
    if (ordered_)
        return pos < static_cast<int64_t>(ordered_->size()) ? static_cast<int64_t>((*ordered_)[static_cast<size_t>(pos)]) : -1;
    return live_.recnoAt(pos, flags_);
}

bool DbfCursor::read(int64_t pos, Row& row, RowId& id) {
    const int64_t recno = recnoAt(pos);
    if (recno < 0)
        return false;
    table_->decode(table_->record(static_cast<uint32_t>(recno)), row);
    id.recno = recno + 1;
    id.key.clear();
    return true;
}

int64_t DbfCursor::positionOf(const RowId& id) {
    if (id.recno < 1 || id.recno > table_->recordCount())
        return -1;
    const auto recno = static_cast<uint32_t>(id.recno - 1);
    const std::vector<uint32_t>* list = filter_ ? &filtered() : ordered_ ? &*ordered_ : nullptr;
    if (list) {
        auto it = std::find(list->begin(), list->end(), recno);
        return it == list->end() ? -1 : it - list->begin();
    }
    return live_.positionOf(recno, flags_);
}

void DbfCursor::refresh() {
    table_->reload();
    live_.reset(table_->recordCount());
    if (!order_.empty())
        ordered_ = indexes_->order(order_);
    filtered_.reset();
}

std::vector<uint8_t> DbfCursor::checkedRecord(const RowId& id, const Row& before) {
    if (id.recno < 1 || id.recno > table_->recordCount())
        table_->reload();
    if (id.recno < 1 || id.recno > table_->recordCount())
        throw EngineError(ErrUpdateConflict, "レコードが見つかりません: " + table_->tableName());
    std::vector<uint8_t> rec = table_->freshRecord(static_cast<uint32_t>(id.recno - 1));
    if (rec[0] == '*')
        throw EngineError(ErrUpdateConflict, "レコードは他のユーザーによって削除されています: " + table_->tableName());
    Row current;
    table_->decode(rec.data(), current);
    if (current != before)
        throw EngineError(ErrUpdateConflict, "レコードは他のユーザーによって変更されています: " + table_->tableName());
    return rec;
}

void DbfCursor::afterWrite(bool reorder) {
    if (table_->recordCount() != live_.records())
        live_.reset(table_->recordCount());
    if (reorder && !order_.empty())
        ordered_ = indexes_->order(order_);
    filtered_.reset();
}

RowId DbfCursor::insert(const Row& values) {
    requireWritable();
    if (values.size() > fields_.size())
        throw EngineError(ErrInvalidParam, "値の数がフィールドの数より多くなっています。");
    RowId out;
    writing([&] {
    std::vector<uint8_t> rec = table_->blankRecord();
    const DbfHeader& h = table_->header();
    const auto& vis = table_->visibleFields();
    for (size_t i = 0; i < values.size(); ++i)
        encodeField(h.fields[static_cast<size_t>(vis[i])], values[i], rec.data(), table_->codepage(), table_->memo());
    indexes_->checkUnique(rec.data(), 0xFFFFFFFFu);
    const bool caughtUp = live_.records() == table_->recordCount();
    const uint32_t recno = table_->appendRecord(rec.data());
    if (caughtUp && recno == live_.records())
        live_.appended(recno);
    if (!indexes_->empty())
        indexes_->rebuild();
    out = RowId{static_cast<int64_t>(recno) + 1, {}};
    });
    afterWrite(true);
    return out;
}

void DbfCursor::update(const RowId& id, const Row& before, const Row& after) {
    requireWritable();
    if (after.size() != fields_.size())
        throw EngineError(ErrInvalidParam, "値の数がフィールドの数と合いません。");
    bool keysChanged = false;
    writing([&] {
    std::vector<uint8_t> rec = checkedRecord(id, before);
    const std::vector<uint8_t> old = rec;
    const DbfHeader& h = table_->header();
    const auto& vis = table_->visibleFields();
    bool changed = false;
    for (size_t i = 0; i < after.size(); ++i) {
        if (i < before.size() && after[i] == before[i])
            continue;
        encodeField(h.fields[static_cast<size_t>(vis[i])], after[i], rec.data(), table_->codepage(), table_->memo());
        changed = true;
    }
    if (!changed)
        return;
    const auto recno = static_cast<uint32_t>(id.recno - 1);
    keysChanged = !indexes_->empty() && indexes_->keysDiffer(old.data(), rec.data(), recno);
    if (keysChanged)
        indexes_->checkUnique(rec.data(), recno);
    table_->writeRecord(recno, rec.data());
    // Index files hold keys and record numbers only: an edit that leaves every key alone
    // leaves them valid as they are.
    if (keysChanged)
        indexes_->rebuild();
    });
    afterWrite(keysChanged);
}

void DbfCursor::remove(const RowId& id, const Row& before) {
    requireWritable();
    uint32_t recno = 0;
    writing([&] {
        std::vector<uint8_t> rec = checkedRecord(id, before);
        rec[0] = '*';
        recno = static_cast<uint32_t>(id.recno - 1);
        table_->writeRecord(recno, rec.data());
    });
    live_.markDeleted(recno);
    // Deleted records keep their keys in dBASE indexes until the table is packed, so the
    // index files stay as they are.
    if (ordered_)
        ordered_->erase(std::remove(ordered_->begin(), ordered_->end(), recno), ordered_->end());
    afterWrite(false);
}

} // namespace vemo::engine::dbase
