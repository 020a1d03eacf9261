#include "engine/contract/Database.h"
#include "engine/values/FieldTypeNames.h"
#include "engine/filter/FilterParser.h"
#include "engine/session/Session.h"
#include "engine/dataset/TableImpl.h"

#include <algorithm>

namespace vemo::engine {

namespace {

bool isPendingInsert(const RowId& id) { return id.recno <= -2; }
size_t pendingIndex(const RowId& id) { return static_cast<size_t>(-2 - id.recno); }

// Runs a step however the enclosing block ends.
template <typename F> class Finally {
public:
    explicit Finally(F f) : f_(std::move(f)) {}
    ~Finally() {
        try {
            f_();
        } catch (...) {
        }
    }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    F f_;
};

} // namespace

RowId Table::Impl::idFor(const RowId& old, const Row& values) const {
    if (old.key.empty())
        return old;
    for (const auto& index : cursor->indexes()) {
        if (!index.primary)
            continue;
        RowId id{old.recno, {}};
        std::string_view rest = index.fields;
        while (!rest.empty()) {
            const size_t semi = rest.find(';');
            const int f = findField(cursor->fields(), rest.substr(0, semi));
            if (f < 0 || static_cast<size_t>(f) >= values.size())
                return old;
            id.key.push_back(values[f]);
            rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
        }
        return id;
    }
    return old;
}

// Shows a record just written: where its order puts it when it passes the filter, otherwise
// kept in view at the place it was edited until the cursor moves on.
void Table::Impl::placeWritten(Row values, const RowId& recordId, int64_t index, bool viewIsFresh) {
    const int64_t pos = cursor->positionOf(recordId);
    const bool passes = pos >= 0 && (!filter || driverFilters || filter->matches(values));
    if (listed && pos >= 0 && !viewIsFresh)
        afterWrite(-1, pos, passes);
    if (passes) {
        relocate(recordId, index);
    } else if (filter) {
        setGhost(std::move(values), recordId, listed && pos >= 0 ? insertionIndex(pos) : index);
        bof = eof = false;
        loadCurrent();
    } else {
        relocate(recordId, index);
    }
}

void Table::edit() {
    d->requireOpen();
    if (d->state != DataSetState::Browse)
        return;
    if (const std::string why = readOnlyReason(); !why.empty())
        throw EngineError(ErrReadOnly, why);
    if (d->current < 0) {
        append();
        return;
    }
    d->buffer = d->row;
    d->buffer.resize(d->cursor->fields().size());
    d->original = d->row;
    d->state = DataSetState::Edit;
}

void Table::insert() {
    d->requireOpen();
    if (d->state != DataSetState::Browse)
        post();
    if (const std::string why = readOnlyReason(); !why.empty())
        throw EngineError(ErrReadOnly, why);
    d->buffer.assign(d->cursor->fields().size(), Value{});
    d->state = DataSetState::Insert;
}

void Table::append() { insert(); }

void Table::setFieldValue(int field, Value value) {
    d->requireOpen();
    if (field < 0 || field >= fieldCount())
        throw EngineError(ErrNotFound, "フィールド番号 " + std::to_string(field) + " はありません。");
    if (d->state == DataSetState::Browse)
        edit();
    d->buffer[field] = std::move(value);
}

void Table::setFieldText(int field, const std::string& text) {
    d->requireOpen();
    if (field < 0 || field >= fieldCount())
        throw EngineError(ErrNotFound, "フィールド番号 " + std::to_string(field) + " はありません。");
    setFieldValue(field, valueFromText(text, fieldDefs()[field].type));
}

void Table::post() {
    d->requireOpen();
    if (d->state == DataSetState::Browse)
        return;
    const auto& fields = d->cursor->fields();
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].required && fields[i].type != FieldType::AutoInc && isNull(d->buffer[i]))
            throw EngineError(ErrRequiredField, "フィールド " + fields[i].name + " には値が必要です。");

    if (d->state == DataSetState::Edit) {
        if (d->buffer == d->original) {
            d->state = DataSetState::Browse;
            d->buffer.clear();
            return;
        }
        if (isPendingInsert(d->id)) {
            d->pending[pendingIndex(d->id)].after = d->buffer;
        } else if (d->cachedUpdates) {
            d->pending.push_back({UpdateKind::Modify, d->id, d->original, d->buffer});
        } else {
            const bool wasGhost = d->ghost && d->current == d->ghostIndex;
            const int64_t index = d->current;
            d->cursor->update(d->id, d->original, d->buffer); // on failure the edit stays open
            const RowId newId = d->idFor(d->id, d->buffer);
            if (wasGhost)
                d->ghost = false;
            else if (d->listed)
                d->afterWrite(d->view[d->ghost && index > d->ghostIndex ? index - 1 : index], -1, false);
            d->dropGhost();
            d->state = DataSetState::Browse;
            Row written = std::move(d->buffer);
            d->buffer.clear();
            d->placeWritten(std::move(written), newId, index, false);
            if (afterPost)
                afterPost(*this);
            return;
        }
        d->state = DataSetState::Browse;
        d->buffer.clear();
        d->loadCurrent();
    } else {
        if (d->cachedUpdates) {
            d->pending.push_back({UpdateKind::Insert, RowId{}, {}, d->buffer});
            const RowId newId{-2 - static_cast<int64_t>(d->pending.size() - 1), {}};
            if (d->listed)
                d->view.push_back(-static_cast<int64_t>(d->pending.size()));
            d->state = DataSetState::Browse;
            d->buffer.clear();
            d->relocate(newId, d->viewCount() - 1);
        } else {
            const RowId newId = d->cursor->insert(d->buffer);
            d->dropGhost();
            d->state = DataSetState::Browse;
            Row written = std::move(d->buffer);
            d->buffer.clear();
            d->placeWritten(std::move(written), newId, std::max<int64_t>(d->current, 0), false);
        }
    }
    d->eof = d->bof = false;
    if (afterPost)
        afterPost(*this);
}

void Table::cancel() {
    d->requireOpen();
    if (d->state == DataSetState::Browse)
        return;
    d->state = DataSetState::Browse;
    d->buffer.clear();
    d->loadCurrent();
}

void Table::remove() {
    d->requireOpen();
    if (d->state == DataSetState::Insert) {
        cancel();
        return;
    }
    cancel();
    if (d->current < 0)
        throw EngineError(ErrNotFound, "削除するレコードがありません。");
    if (const std::string why = readOnlyReason(); !why.empty())
        throw EngineError(ErrReadOnly, why);
    if (isPendingInsert(d->id)) {
        d->pending[pendingIndex(d->id)].applied = true; // never written: nothing to undo
        d->rebuildView();
        d->relocate(RowId{}, d->current);
    } else if (d->cachedUpdates) {
        d->pending.push_back({UpdateKind::Delete, d->id, d->row, {}});
        d->rebuildView();
        d->relocate(RowId{}, d->current);
    } else if (d->ghost && d->current == d->ghostIndex) {
        // The record that left the filter is not among the listed positions.
        const int64_t pos = d->listed ? d->cursor->positionOf(d->id) : -1;
        d->cursor->remove(d->id, d->row);
        d->ghost = false;
        if (pos >= 0)
            d->afterWrite(pos, -1, false);
        d->relocate(RowId{}, d->current);
    } else {
        const int64_t pos = d->listed ? d->view[d->current] : d->current;
        d->cursor->remove(d->id, d->row);
        d->afterWrite(pos, -1, false);
        d->relocate(RowId{}, d->current);
    }
    if (afterDelete)
        afterDelete(*this);
}

// ---------------------------------------------------------------- cached updates

bool Table::updatesPending() const {
    return std::any_of(d->pending.begin(), d->pending.end(), [](const PendingUpdate& p) { return !p.applied; });
}

bool Table::applyUpdates() {
    d->requireOpen();
    if (d->state != DataSetState::Browse)
        post();
    RowId target = d->id;
    const Row shown = d->row;
    bool currentWritten = false;
    const int64_t index = d->current;
    // However the writes end, the view is rebuilt; the current record stays in view even
    // when its new values no longer pass the filter, until the cursor moves.
    Finally restore([&] {
        d->rebuildView();
        if (!d->relocate(target, index) && currentWritten && d->filter)
            d->placeWritten(shown, target, index, true);
    });
    if (d->applying)
        throw EngineError(ErrInvalidParam, "キャッシュ更新の反映中です。");
    d->applying = true;
    d->cancelRequested = false;
    Finally endApply([&] {
        d->applying = false;
        if (d->cancelRequested) { // the error handler cancelled every pending change
            d->cancelRequested = false;
            d->pending.clear();
            if (isPendingInsert(target))
                target = RowId{};
            currentWritten = false;
        }
    });
    bool all = true;
    for (size_t i = 0; i < d->pending.size() && !d->cancelRequested; ++i) {
        PendingUpdate& p = d->pending[i];
        if (p.applied)
            continue;
        try {
            switch (p.kind) {
            case UpdateKind::Modify:
                d->cursor->update(p.id, p.before, p.after);
                if (sameRowId(target, p.id)) {
                    target = d->idFor(p.id, p.after);
                    currentWritten = true;
                }
                break;
            case UpdateKind::Insert: {
                const RowId newId = d->cursor->insert(p.after);
                if (isPendingInsert(target) && pendingIndex(target) == i) {
                    target = newId;
                    currentWritten = true;
                }
                break;
            }
            case UpdateKind::Delete:
                d->cursor->remove(p.id, p.before);
                break;
            }
            p.applied = true;
        } catch (const EngineError& e) {
            const UpdateKind kind = p.kind;
            const UpdateAction action = onUpdateError ? onUpdateError(*this, e, kind) : UpdateAction::Fail;
            all = false;
            if (action == UpdateAction::Fail)
                throw;
            if (action == UpdateAction::Abort || d->cancelRequested)
                break;
            d->pending[i].applied = true; // Skip: dropped, nothing written
        }
    }
    return all;
}

void Table::commitUpdates() {
    d->requireOpen();
    if (d->applying)
        throw EngineError(ErrInvalidParam, "キャッシュ更新の反映中です。");
    if (!updatesPending()) {
        // Everything is written and the view already shows it; nothing to re-read.
        d->pending.clear();
        return;
    }
    RowId target = d->id;
    if (isPendingInsert(target))
        target = RowId{};
    const int64_t index = d->current;
    Finally restore([&] {
        d->rebuildView();
        d->relocate(target, index);
    });
    std::erase_if(d->pending, [](const PendingUpdate& p) { return p.applied; });
}

void Table::cancelUpdates() {
    d->requireOpen();
    if (d->applying) { // from onUpdateError: done once the writes stop
        d->cancelRequested = true;
        return;
    }
    cancel();
    RowId target = isPendingInsert(d->id) ? RowId{} : d->id;
    const int64_t index = d->current;
    Finally restore([&] {
        d->rebuildView();
        d->relocate(target, index);
    });
    d->pending.clear();
}

// ---------------------------------------------------------------- table operations

void Table::deleteTable() {
    d->requireClosed("削除");
    std::string name;
    d->session.databaseFor(d->databaseName, d->tableName, name).deleteTable(name);
}

void Table::renameTable(const std::string& newName) {
    d->requireClosed("名前を変更");
    std::string name;
    d->session.databaseFor(d->databaseName, d->tableName, name).renameTable(name, newName);
    if (d->databaseName.empty())
        d->tableName = (std::filesystem::path(d->tableName).parent_path() / newName).string();
    else
        d->tableName = newName;
}

void Table::createTable(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes) {
    d->requireClosed("作成");
    std::string name;
    d->session.databaseFor(d->databaseName, d->tableName, name).createTable(name, fields, indexes);
}

void Table::emptyTable() { emptyTable({}); }

void Table::emptyTable(const std::function<bool(int64_t done, int64_t total)>& progress) {
    const bool wasOpen = isOpen();
    if (!wasOpen)
        open();
    try {
        if (d->state != DataSetState::Browse)
            post();
        if (updatesPending())
            throw EngineError(ErrInvalidParam, "未反映の変更があるため、全件削除できません。");
        if (const std::string why = readOnlyReason(); !why.empty())
            throw EngineError(ErrReadOnly, why);
        d->dropGhost(); // it no longer passes the filter, so it is not among the records to delete
        // In batches from the end: the batch is read before any of it is deleted, so a cursor
        // that filters by itself recounts once a batch rather than once a record, and the
        // positions still to visit do not move.
        constexpr int64_t kBatch = 4096;
        const int64_t total = d->viewCount();
        int64_t done = 0;
        std::vector<std::pair<RowId, Row>> batch;
        for (int64_t n = total; n > 0;) {
            if (progress && !progress(done, total))
                break;
            const int64_t start = std::max<int64_t>(0, n - kBatch);
            batch.clear();
            for (int64_t i = n - 1; i >= start; --i) {
                const int64_t pos = d->listed ? d->view[i] : i;
                Row row;
                RowId id;
                if (pos >= 0 && d->cursor->read(pos, row, id))
                    batch.emplace_back(std::move(id), std::move(row));
            }
            for (const auto& [id, row] : batch)
                d->cursor->remove(id, row);
            done += static_cast<int64_t>(batch.size());
            if (d->listed)
                d->view.resize(static_cast<size_t>(start));
            const int64_t left = d->viewCount();
            if (left >= n)
                break; // nothing more could be deleted
            n = left;
        }
        if (progress)
            progress(done, total);
        d->pending.clear();
        d->rebuildView();
        d->relocate(RowId{}, 0);
    } catch (...) {
        if (!wasOpen)
            close();
        else {
            d->rebuildView();
            d->relocate(RowId{}, 0);
        }
        throw;
    }
    if (!wasOpen)
        close();
}

} // namespace vemo::engine
