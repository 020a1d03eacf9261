// The records a table dataset shows: cursor positions, cached inserts, and the record kept
// in view after it left the filter.
#include "engine/contract/Database.h"
#include "engine/dataset/TableImpl.h"

#include <algorithm>

namespace vemo::engine {

// ---------------------------------------------------------------- view

int64_t Table::Impl::viewCount() { return baseCount() + (ghost ? 1 : 0); }

int64_t Table::Impl::baseCount() {
    if (listed)
        return static_cast<int64_t>(view.size());
    int64_t inserts = 0;
    for (const auto& p : pending)
        inserts += p.kind == UpdateKind::Insert && !p.applied;
    return cursor->count() + inserts;
}

bool Table::Impl::readView(int64_t index, Row& out, RowId& outId) {
    if (index < 0)
        return false;
    if (ghost) {
        if (index == ghostIndex) {
            out = ghostRow;
            outId = ghostId;
            return true;
        }
        if (index > ghostIndex)
            --index;
    }
    int64_t entry = index;
    if (listed) {
        if (index >= static_cast<int64_t>(view.size()))
            return false;
        entry = view[index];
    } else {
        const int64_t n = cursor->count();
        if (index >= n) {
            int64_t k = index - n;
            for (size_t i = 0; i < pending.size(); ++i)
                if (pending[i].kind == UpdateKind::Insert && !pending[i].applied && k-- == 0) {
                    entry = -static_cast<int64_t>(i) - 1;
                    break;
                }
            if (entry >= 0)
                return false;
        }
    }
    if (entry < 0) {
        const size_t k = static_cast<size_t>(-entry - 1);
        out = pending[k].after;
        outId = RowId{-2 - static_cast<int64_t>(k), {}};
        return true;
    }
    if (!cursor->read(entry, out, outId))
        return false;
    for (const auto& p : pending)
        if (p.kind == UpdateKind::Modify && !p.applied && sameRowId(p.id, outId))
            out = p.after;
    return true;
}

bool Table::Impl::passes(const Row& values) const { return !filter || driverFilters || filter->matches(values); }

void Table::Impl::rebuildView() {
    ghost = false;
    bool hidesDeletes = false;
    for (const auto& p : pending)
        hidesDeletes = hidesDeletes || (p.kind == UpdateKind::Delete && !p.applied);
    const bool scan = filter && !driverFilters;
    listed = scan || hidesDeletes;
    view.clear();
    if (!listed)
        return;
    const int64_t n = cursor->count();
    if (pending.empty()) {
        // Only the filter decides: one pass of the driver.
        int64_t pos = 0;
        cursor->scan([&](const Row& r) {
            if (pos >= n)
                return false;
            if (filter->matches(r))
                view.push_back(pos);
            ++pos;
            return true;
        });
        return;
    }
    Row r;
    RowId rid;
    for (int64_t pos = 0; pos < n; ++pos) {
        if (!cursor->read(pos, r, rid))
            break;
        if (!pending.empty()) {
            bool deleted = false;
            for (const auto& p : pending) {
                if (p.applied || !sameRowId(p.id, rid))
                    continue;
                if (p.kind == UpdateKind::Delete) deleted = true;
                else if (p.kind == UpdateKind::Modify) r = p.after;
            }
            if (deleted)
                continue;
        }
        if (!scan || filter->matches(r))
            view.push_back(pos);
    }
    for (size_t i = 0; i < pending.size(); ++i)
        if (pending[i].kind == UpdateKind::Insert && !pending[i].applied)
            view.push_back(-static_cast<int64_t>(i) - 1);
}

int64_t Table::Impl::indexOfPosition(int64_t pos) const {
    int64_t idx = pos;
    if (listed) {
        const auto stored = std::partition_point(view.begin(), view.end(), [](int64_t e) { return e >= 0; });
        const auto it = std::lower_bound(view.begin(), stored, pos);
        idx = it != stored && *it == pos ? it - view.begin() : -1;
    }
    return ghost && idx >= ghostIndex ? idx + 1 : idx;
}

// Where a record at cursor position pos stands (or would stand) among the listed records.
int64_t Table::Impl::insertionIndex(int64_t pos) const {
    if (!listed)
        return pos;
    const auto stored = std::partition_point(view.begin(), view.end(), [](int64_t e) { return e >= 0; });
    return std::lower_bound(view.begin(), stored, pos) - view.begin();
}

// Keeps the listed view in step with one write of our own instead of scanning again: the
// record left position oldPos and/or arrived at newPos; every other record keeps its order.
void Table::Impl::afterWrite(int64_t oldPos, int64_t newPos, bool keepVisible) {
    if (!listed)
        return;
    if (oldPos >= 0) {
        std::erase(view, oldPos);
        for (auto& e : view)
            if (e > oldPos) --e;
    }
    if (newPos >= 0) {
        for (auto& e : view)
            if (e >= newPos) ++e;
        if (keepVisible)
            view.insert(view.begin() + insertionIndex(newPos), newPos);
    }
}

void Table::Impl::setGhost(Row values, const RowId& recordId, int64_t index) {
    ghost = false;
    ghostIndex = std::clamp<int64_t>(index, 0, baseCount());
    ghostRow = std::move(values);
    ghostId = recordId;
    ghost = true;
    current = ghostIndex;
}

// The record that left the filter disappears once the cursor moves.
void Table::Impl::dropGhost() {
    if (!ghost)
        return;
    ghost = false;
    if (current > ghostIndex)
        --current;
    current = std::min(current, baseCount() - 1);
}

void Table::Impl::loadCurrent() {
    const int64_t n = viewCount();
    if (current >= n)
        current = n - 1;
    if (current < 0 || !readView(current, row, id)) {
        current = n > 0 ? current : -1;
        row.clear();
        id = RowId{};
    }
}

bool Table::Impl::relocate(const RowId& target, int64_t fallbackIndex) {
    int64_t idx = -1;
    if (ghost && sameRowId(target, ghostId)) {
        idx = ghostIndex;
    } else if (target.recno <= -2) { // a cached insert
        const auto it = std::find(view.begin(), view.end(), -(-2 - target.recno) - 1);
        if (listed && it != view.end())
            idx = it - view.begin();
    } else if (target.recno >= 0 || !target.key.empty()) {
        const int64_t pos = cursor->positionOf(target);
        if (pos >= 0)
            idx = indexOfPosition(pos);
    }
    const int64_t n = viewCount();
    current = idx >= 0 ? idx : std::clamp<int64_t>(fallbackIndex, n > 0 ? 0 : -1, n - 1);
    bof = eof = n == 0;
    loadCurrent();
    return idx >= 0;
}

void Table::Impl::requireOpen() const {
    if (state == DataSetState::Inactive)
        throw EngineError(ErrInvalidParam, "テーブルが開かれていません。");
}

void Table::Impl::requireClosed(const char* what) const {
    if (state != DataSetState::Inactive)
        throw EngineError(ErrInvalidParam, std::string("テーブルを閉じてから") + what + "してください。");
}

void Table::Impl::applyFilter() {
    cursor->setFilter(nullptr);
    filter.reset();
    driverFilters = false;
    if (filtered) {
        auto parsed = std::make_unique<Filter>(filterText, cursor->fields(), filterOptions);
        driverFilters = cursor->setFilter(parsed.get());
        filter = std::move(parsed);
    }
}

} // namespace vemo::engine
