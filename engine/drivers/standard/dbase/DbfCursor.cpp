#include "engine/drivers/standard/dbase/DbfCursor.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

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
    if (writable && !table_->damage().empty() &&
        standard::FileSetJournal::inspect(table_->journalPath()) == standard::FileSetJournal::Found::Journal) {
        // A post cut off may leave the table looking damaged (its count down before the
        // record it counts): it is put back first, its index pages with it, and read again.
        {
            DbfTable::WriteScope scope(*table_);
            scope.finish();
        }
        table_ = std::make_unique<DbfTable>(file, writable, settings);
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
    table_->markSeen();
}

void DbfCursor::forgetKept() {
    walk_.reset();
    live_.reset(table_->recordCount());
    if (!order_.empty()) {
        ordered_.reset();
        orderPending_ = true;
    }
    filtered_.reset();
}

void DbfCursor::writing(const std::function<void()>& body) {
    if (batchBroken_)
        throw EngineError(ErrIO, "書き込みに失敗したため、一括書き込みは取り消されました: " + table_->tableName());
    if (batch_) {
        const uint64_t before = table_->writesMade();
        try {
            body();
        } catch (...) {
            if (table_->writesMade() != before) {
                // Part of this write may be in the file: the whole batch goes back, as a
                // kill would have left it.
                rollbackBatch();
                batchBroken_ = true;
            }
            throw;
        }
        return;
    }
    DbfTable::WriteScope scope(*table_);
    // Another cursor or program wrote since this one last looked: what it keeps of the
    // records (its order, the visible records) is built again from the file.
    if (table_->changedSinceSeen())
        forgetKept();
    const bool recovered = scope.recovered() && !indexes_->empty();
    try {
        if (recovered)
            indexes_->rebuild();
        for (bool retried = false;; retried = true) {
            indexes_->beginWrite();
            try {
                body();
                break;
            } catch (const IndexSet::Stale&) {
                // An index file did not match the table: the write is undone, every file is
                // built anew from the records, and the write is made once more.
                if (retried)
                    throw EngineError(ErrCorruptFile, "インデックスがテーブルと合いません: " + table_->tableName());
                scope.rollBack();
                indexes_->endWrite();
                indexes_->rebuild();
            }
        }
        scope.finish(); // the commit: records, memo and index pages synced through one journal
        table_->markSeen();
        indexes_->endWrite(true);
    } catch (...) {
        // The records and the index pages go back together.
        try {
            scope.rollBack();
            if (recovered)
                indexes_->rebuild();
            scope.finish();
        } catch (const EngineError&) {
            // The journal stays; the next write or open finishes the repair.
        }
        indexes_->endWrite();
        forgetKept();
        throw;
    }
}

void DbfCursor::beginBatch() {
    requireWritable();
    if (batch_)
        throw EngineError(ErrInvalidParam, "一括書き込みは入れ子にできません: " + table_->tableName());
    batchBroken_ = false;
    if (table_->hasJournal())
        writing([] {}); // finish the repair of a cut-off write first
    auto scope = std::make_unique<DbfTable::WriteScope>(*table_, false);
    if (table_->changedSinceSeen())
        forgetKept();
    table_->setDeferSync(true);
    indexes_->beginBatch();
    indexes_->beginWrite(); // for key checks through the trees
    batchStart_ = table_->writesMade();
    batch_ = std::move(scope);
    afterWrite(); // another writer may have added records before the lock was ours
}

void DbfCursor::endBatchScope() noexcept {
    table_->setDeferSync(false);
    indexes_->endWrite();
    if (indexes_->inBatch())
        indexes_->endBatch(false);
    batch_.reset(); // releases the writers' lock (putting the table back unless finished)
}

void DbfCursor::commitBatch() {
    if (batchBroken_) {
        batchBroken_ = false;
        throw EngineError(ErrIO, "書き込みに失敗したため、一括書き込みは取り消されました: " + table_->tableName());
    }
    if (!batch_)
        return;
    const bool wrote = table_->writesMade() != batchStart_;
    try {
        indexes_->endWrite();
        table_->syncAll();
        // Each index file is built once from the records, then the table commits.
        indexes_->endBatch(wrote);
        batch_->finish();
        table_->markSeen();
    } catch (...) {
        try {
            batch_->rollBack();
            if (wrote && !indexes_->empty())
                indexes_->rebuild();
            batch_->finish();
        } catch (const EngineError&) {
            // The journal stays; the next write or open finishes the repair.
        }
        endBatchScope();
        live_.reset(table_->recordCount());
        refresh();
        throw;
    }
    endBatchScope();
}

void DbfCursor::rollbackBatch() noexcept {
    if (!batch_) {
        batchBroken_ = false;
        return;
    }
    try {
        indexes_->endWrite();
        // The index files were not touched inside the batch: the table going back is all.
        batch_->rollBack();
        batch_->finish();
    } catch (...) {
        // The journal stays; the next write or open puts the table back.
    }
    endBatchScope();
    try {
        refresh();
    } catch (...) {
    }
}

void DbfCursor::requireWritable() const {
    if (!readOnly_.empty())
        throw EngineError(ErrReadOnly, "テーブル " + table_->tableName() + " は読み取り専用です: " + readOnly_);
}

void DbfCursor::setOrder(const std::string& indexName) {
    walk_.reset();
    ordered_.reset();
    filtered_.reset();
    orderPending_ = false;
    if (indexName.empty()) {
        order_.clear();
        return;
    }
    indexes_->requireUsable(indexName);
    order_ = indexName;
    orderPending_ = true; // built on first use: a search may not need it sorted
}

RecordOrder* DbfCursor::order() {
    if (orderPending_) {
        ordered_.emplace(indexes_->keyedOrder(order_, OrderKeyBytes));
        orderPending_ = false;
    }
    return ordered_ ? &*ordered_ : nullptr;
}

size_t DbfCursor::lowerBound(const std::string& key, uint32_t recno, size_t prefix, int64_t moving) {
    RecordOrder& list = *ordered_;
    const bool down = indexes_->descending(order_);
    const size_t width = key.size();
    const size_t compared = std::min(prefix, width);
    const size_t kept = list.keyBytes();
    const bool keyRestBlank = RecordOrder::blankBetween(key, kept, compared);
    std::vector<uint8_t> rec(table_->header().recordLength);
    return list.lowerBound([&](size_t pos, const RecordOrder::Entry& e) {
        const uint32_t r = e.recno;
        if (r == moving)
            return false; // counts as equal to the key
        // The kept bytes of the entry's key decide unless they are all equal and the
        // comparison goes on past them into bytes that are not blank in both keys: then the
        // record is read (and its key kept).
        int c = e.key ? std::memcmp(e.key, key.data(), std::min(compared, kept)) : 0;
        if (!e.key || (c == 0 && compared > kept && !(e.restBlank && keyRestBlank))) {
            table_->readRecordInto(r, rec.data());
            const std::string k = indexes_->sortKey(order_, rec.data(), r);
            c = std::memcmp(k.data(), key.data(), std::min(compared, k.size()));
            list.setKey(pos, k);
        }
        if (down)
            c = -c;
        if (c == 0 && prefix >= width)
            c = r < recno ? -1 : r > recno ? 1 : 0;
        return c < 0;
    });
}

void DbfCursor::reorder(uint32_t recno, const std::vector<uint8_t>* before, const std::vector<uint8_t>& after) {
    filtered_.reset();
    if (!ordered_ || orderPending_)
        return;
    RecordOrder& list = *ordered_;
    // An order through a tag with a FOR condition holds only the records meeting it.
    if (before && indexes_->inTag(order_, before->data(), recno)) {
        const std::string was = indexes_->sortKey(order_, before->data(), recno);
        size_t at = lowerBound(was, recno, was.size(), recno);
        if (at >= list.size() || list[at] != recno)
            at = list.find(recno);
        if (at < list.size())
            list.erase(at);
    }
    if (after[0] == '*' || !indexes_->inTag(order_, after.data(), recno))
        return;
    const std::string now = indexes_->sortKey(order_, after.data(), recno);
    list.insert(lowerBound(now, recno, now.size()), recno, &now);
}

bool DbfCursor::probeRecord(const Row& key, std::vector<uint8_t>& probe) const {
    const std::vector<std::string> plain = indexes_->plainFields(order_);
    if (plain.empty() || key.size() > plain.size())
        return false;
    // A record holding the key's values in the leading fields gives the key as the index
    // forms it (field widths, number layout, UPPER and the like).
    probe = table_->blankRecord();
    const DbfHeader& h = table_->header();
    for (size_t i = 0; i < key.size(); ++i) {
        auto it = std::find_if(h.fields.begin(), h.fields.end(),
                               [&](const DbfField& f) { return strcasecmp(f.name.c_str(), plain[i].c_str()) == 0; });
        if (it == h.fields.end())
            return false;
        try {
            encodeField(*it, key[i], probe.data(), table_->codepage(), nullptr);
        } catch (const EngineError&) {
            return false; // a value this field cannot hold: leave the search to the caller
        }
    }
    return true;
}

bool DbfCursor::walkFrom(const Row& key, bool sameKey) {
    walk_.reset();
    // Only a whole key is looked up in the tree: a shorter one would need the tree's own
    // prefix comparison. Inside a batch the trees are rebuilt at its end, so they are stale.
    if (order_.empty() || key.empty() || filter_ || batch_ || !indexes_->treeWalkable(order_) ||
        key.size() != indexes_->plainFields(order_).size())
        return false;
    std::vector<uint8_t> probe;
    if (!probeRecord(key, probe))
        return false;
    Walk w;
    w.record.resize(table_->header().recordLength);
    // The search starts before every record of the key: record numbers in the tree begin at 1.
    w.entries.emplace_back(indexes_->treeKey(order_, probe.data(), 0), 0);
    if (sameKey)
        w.last = w.entries.back().first;
    walk_ = std::move(w);
    return true;
}

bool DbfCursor::walkNext(Row& row, RowId& id) {
    if (!walk_)
        return false;
    Walk& w = *walk_;
    for (;;) {
        if (++w.at >= w.entries.size()) {
            if (w.ended)
                return false;
            // On from just after the last entry seen (or from the probe).
            const auto last = w.entries.back();
            w.entries.clear();
            w.at = 0;
            w.ended = !indexes_->treeEntries(order_, last.first, last.second + 1, w.batch, w.entries,
                                             w.last.empty() ? nullptr : &w.last);
            w.batch = std::min<size_t>(w.batch * 4, 1024);
            if (w.entries.empty())
                return false;
        }
        const auto& [key, recno1] = w.entries[w.at];
        // An entry that does not lead to a visible record holding its key (another program
        // wrote the table, or this statement changed the record) is passed over.
        if (recno1 < 1 || recno1 > table_->recordCount())
            continue;
        const uint32_t recno = recno1 - 1;
        table_->readRecordInto(recno, w.record.data());
        if (w.record[0] == '*' || indexes_->treeKey(order_, w.record.data(), recno) != key)
            continue;
        if (wanted_.empty())
            table_->decode(w.record.data(), row);
        else
            table_->decodeSome(w.record.data(), row, wanted_);
        id.recno = recno1;
        id.key.clear();
        return true;
    }
}

int64_t DbfCursor::seek(const Row& key) {
    if (order_.empty() || key.empty() || filter_)
        return -1;
    std::vector<uint8_t> probe;
    if (!probeRecord(key, probe))
        return -1;
    const std::vector<std::string> plain = indexes_->plainFields(order_);
    size_t prefix;
    const std::string want = indexes_->sortKey(order_, probe.data(), 0);
    if (key.size() == plain.size())
        prefix = want.size();
    else if (!(prefix = indexes_->leadingWidth(order_, key.size())))
        return -1;
    if (orderPending_) {
        // The index tree gives the order without evaluating and sorting every key; a tree
        // that disagrees with the table's count is not trusted.
        try {
            auto list = indexes_->orderFromIndex(order_, [this](uint32_t r) { return live_.isLive(r, flags_); });
            if (static_cast<int64_t>(list.size()) == live_.liveCount(flags_)) {
                // The keys are learnt as searches pass them.
                ordered_.emplace(list, std::min(OrderKeyBytes, indexes_->sortWidth(order_)));
                orderPending_ = false;
            }
        } catch (const EngineError&) {
        }
    }
    order();
    return static_cast<int64_t>(lowerBound(want, 0, prefix));
}

bool DbfCursor::setFilter(const Filter* filter) {
    walk_.reset();
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
        if (auto* list = order())
            list->forEach(test);
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
    if (auto* list = order())
        return static_cast<int64_t>(list->size());
    return live_.liveCount(flags_);
}

int64_t DbfCursor::recnoAt(int64_t pos) {
    if (pos < 0)
        return -1;
    if (filter_) {
        const auto& f = filtered();
        return pos < static_cast<int64_t>(f.size()) ? static_cast<int64_t>(f[static_cast<size_t>(pos)]) : -1;
    }
    if (auto* list = order())
        return pos < static_cast<int64_t>(list->size()) ? static_cast<int64_t>((*list)[static_cast<size_t>(pos)]) : -1;
    return live_.recnoAt(pos, flags_);
}

bool DbfCursor::read(int64_t pos, Row& row, RowId& id) {
    const int64_t recno = recnoAt(pos);
    if (recno < 0)
        return false;
    if (wanted_.empty())
        table_->decode(table_->record(static_cast<uint32_t>(recno)), row);
    else
        table_->decodeSome(table_->record(static_cast<uint32_t>(recno)), row, wanted_);
    id.recno = recno + 1;
    id.key.clear();
    return true;
}

void DbfCursor::setWantedFields(const std::vector<int>& which) {
    wanted_.clear();
    for (int f : which)
        if (f >= 0 && static_cast<size_t>(f) < fields_.size() && std::find(wanted_.begin(), wanted_.end(), f) == wanted_.end())
            wanted_.push_back(f);
    // Every field asked for is every field.
    if (wanted_.size() == fields_.size())
        wanted_.clear();
}

int64_t DbfCursor::positionOf(const RowId& id) {
    if (id.recno < 1 || id.recno > table_->recordCount())
        return -1;
    const auto recno = static_cast<uint32_t>(id.recno - 1);
    if (!filter_ && order()) {
        // Found by its key rather than by a pass over the whole order.
        std::vector<uint8_t> rec(table_->header().recordLength);
        table_->readRecordInto(recno, rec.data());
        if (rec[0] == '*' || !indexes_->inTag(order_, rec.data(), recno))
            return -1;
        const std::string k = indexes_->sortKey(order_, rec.data(), recno);
        const size_t at = lowerBound(k, recno, k.size());
        if (at < ordered_->size() && (*ordered_)[at] == recno)
            return static_cast<int64_t>(at);
    }
    if (filter_) {
        const auto& list = filtered();
        auto it = std::find(list.begin(), list.end(), recno);
        return it == list.end() ? -1 : it - list.begin();
    }
    if (auto* list = order()) {
        const size_t at = list->find(recno);
        return at == list->size() ? -1 : static_cast<int64_t>(at);
    }
    return live_.positionOf(recno, flags_);
}

void DbfCursor::refresh() {
    indexes_->dropReaders();
    table_->reload();
    table_->markSeen();
    forgetKept();
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

void DbfCursor::afterWrite() {
    walk_.reset();
    if (table_->recordCount() != live_.records()) {
        // Another writer's records came in too: the order is built again when needed.
        live_.reset(table_->recordCount());
        if (!order_.empty()) {
            ordered_.reset();
            orderPending_ = true;
        }
    }
    filtered_.reset();
}

RowId DbfCursor::insert(const Row& values) {
    requireWritable();
    if (values.size() > fields_.size())
        throw EngineError(ErrInvalidParam, "値の数がフィールドの数より多くなっています。");
    std::vector<uint8_t> rec = table_->blankRecord();
    uint32_t recno = 0;
    bool caughtUp = false;
    writing([&] {
        rec = table_->blankRecord();
        const DbfHeader& h = table_->header();
        const auto& vis = table_->visibleFields();
        for (size_t i = 0; i < values.size(); ++i)
            encodeField(h.fields[static_cast<size_t>(vis[i])], values[i], rec.data(), table_->codepage(), table_->memo());
        indexes_->checkUnique(rec.data(), 0xFFFFFFFFu);
        caughtUp = live_.records() == table_->recordCount();
        recno = table_->appendRecord(rec.data());
        indexes_->inserted(rec.data(), recno);
    });
    if (caughtUp && recno == live_.records()) {
        live_.appended(recno);
        reorder(recno, nullptr, rec);
    }
    afterWrite();
    return RowId{static_cast<int64_t>(recno) + 1, {}};
}

void DbfCursor::update(const RowId& id, const Row& before, const Row& after) {
    requireWritable();
    if (after.size() != fields_.size())
        throw EngineError(ErrInvalidParam, "値の数がフィールドの数と合いません。");
    bool keysChanged = false;
    std::vector<uint8_t> old, rec;
    const auto recno = static_cast<uint32_t>(id.recno - 1);
    writing([&] {
        rec = checkedRecord(id, before);
        old = rec;
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
        // Index files hold keys and record numbers only: an edit that leaves every key alone
        // leaves them as they are.
        keysChanged = !indexes_->empty() && indexes_->keysDiffer(old.data(), rec.data(), recno);
        if (keysChanged)
            indexes_->checkUnique(rec.data(), recno, old.data());
        table_->writeRecord(recno, rec.data());
        if (keysChanged)
            indexes_->changed(old.data(), rec.data(), recno);
    });
    if (keysChanged && !order_.empty())
        reorder(recno, &old, rec);
    afterWrite();
}

void DbfCursor::remove(const RowId& id, const Row& before) {
    requireWritable();
    uint32_t recno = 0;
    std::vector<uint8_t> was;
    writing([&] {
        std::vector<uint8_t> rec = checkedRecord(id, before);
        was = rec;
        rec[0] = '*';
        recno = static_cast<uint32_t>(id.recno - 1);
        table_->writeRecord(recno, rec.data());
        indexes_->deleted(was.data(), rec.data(), recno);
    });
    live_.markDeleted(recno);
    // Deleted records keep their keys in dBASE indexes until the table is packed, so the
    // index files stay as they are (but for a tag whose condition reads the mark); only the
    // order forgets the record.
    std::vector<uint8_t> gone = was;
    gone[0] = '*';
    reorder(recno, &was, gone);
    afterWrite();
}

} // namespace vemo::engine::dbase
