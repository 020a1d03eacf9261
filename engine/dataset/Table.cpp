#include "engine/dataset/Table.h"
#include "engine/contract/Database.h"
#include "engine/filter/FilterParser.h"
#include "engine/session/Session.h"
#include "engine/dataset/TableImpl.h"
#include "engine/values/Value.h"

#include <algorithm>

namespace vemo::engine {

namespace {
const Value kNull{};
}

bool sameRowId(const RowId& a, const RowId& b) {
    if (a.recno != -1 || b.recno != -1)
        return a.recno == b.recno;
    return !a.key.empty() && a.key == b.key;
}

// ---------------------------------------------------------------- setup

Table::Table(Session& session) : d(std::make_unique<Impl>(session)) {}
Table::~Table() {
    try {
        close();
    } catch (...) {
    }
}

void Table::setDatabaseName(const std::string& alias) { d->requireClosed("データベース名を変更"); d->databaseName = alias; }
const std::string& Table::databaseName() const { return d->databaseName; }
void Table::setTableName(const std::string& name) { d->requireClosed("テーブル名を変更"); d->tableName = name; }
const std::string& Table::tableName() const { return d->tableName; }
const std::string& Table::indexName() const { return d->indexName; }
void Table::setExclusive(bool on) { d->requireClosed("排他モードを変更"); d->exclusive = on; }
bool Table::exclusive() const { return d->exclusive; }
void Table::setReadOnly(bool on) { d->requireClosed("読み取り専用を変更"); d->readOnly = on; }
void Table::setCachedUpdates(bool on) {
    if (!on && !d->pending.empty())
        throw EngineError(ErrInvalidParam, "未反映の変更があるため、キャッシュ更新を止められません。");
    d->cachedUpdates = on;
}
bool Table::cachedUpdates() const { return d->cachedUpdates; }

void Table::setIndexName(const std::string& name) {
    if (d->state == DataSetState::Inactive) {
        d->indexName = name;
        return;
    }
    if (d->state != DataSetState::Browse)
        post();
    d->cursor->setOrder(name);
    d->indexName = name;
    const RowId keep = d->id;
    d->rebuildView();
    d->relocate(keep, 0);
}

// ---------------------------------------------------------------- open state

void Table::open() {
    if (d->state != DataSetState::Inactive)
        return;
    std::string name;
    Database& db = d->session.databaseFor(d->databaseName, d->tableName, name);
    OpenOptions options;
    options.exclusive = d->exclusive;
    options.readOnly = d->readOnly;
    auto cursor = db.openTable(name, options);
    if (!d->indexName.empty())
        cursor->setOrder(d->indexName);
    d->readOnlyText.clear();
    d->nameInDatabase = name;
    openCursor(std::move(cursor), db, {});
}

void Table::openCursor(std::unique_ptr<Cursor> cursor, Database& db, const std::string& readOnlyText) {
    if (d->state != DataSetState::Inactive)
        close();
    d->readOnlyText = readOnlyText;
    d->cursor = std::move(cursor);
    d->database = &db;
    d->pending.clear();
    try {
        d->applyFilter();
    } catch (...) {
        d->filtered = false; // the table opens unfiltered; the error tells why
        d->cursor.reset();
        throw;
    }
    d->state = DataSetState::Browse;
    d->rebuildView();
    d->relocate(RowId{}, 0);
    d->bof = true;
    if (afterOpen)
        afterOpen(*this);
}

void Table::close() {
    if (d->state == DataSetState::Inactive)
        return;
    d->state = DataSetState::Browse;
    d->buffer.clear();
    d->pending.clear();
    d->filter.reset();
    d->cursor.reset();
    d->database = nullptr;
    d->view.clear();
    d->listed = false;
    d->row.clear();
    d->id = RowId{};
    d->current = -1;
    d->state = DataSetState::Inactive;
}

void Table::refresh() {
    d->requireOpen();
    if (d->state != DataSetState::Browse)
        post();
    const RowId keep = d->id;
    const int64_t index = d->current;
    d->cursor->refresh();
    d->rebuildView();
    d->relocate(keep, index);
}

bool Table::isOpen() const { return d->state != DataSetState::Inactive; }
DataSetState Table::state() const { return d->state; }

std::string Table::readOnlyReason() const {
    if (d->readOnly)
        return "読み取り専用で開かれています。";
    if (!d->readOnlyText.empty())
        return d->readOnlyText;
    return d->cursor ? d->cursor->readOnlyReason() : std::string{};
}

bool Table::canModify() const { return isOpen() && readOnlyReason().empty(); }

// ---------------------------------------------------------------- definitions

const std::vector<FieldDef>& Table::fieldDefs() const {
    d->requireOpen();
    return d->cursor->fields();
}
std::vector<IndexDef> Table::indexDefs() const {
    d->requireOpen();
    return d->cursor->indexes();
}
int Table::fieldCount() const { return static_cast<int>(fieldDefs().size()); }
int Table::fieldIndex(const std::string& name) const { return findField(fieldDefs(), name); }

// ---------------------------------------------------------------- navigation

void Table::first() {
    d->requireOpen();
    if (d->state != DataSetState::Browse) post();
    d->dropGhost();
    const int64_t n = d->viewCount();
    d->current = n > 0 ? 0 : -1;
    d->bof = true;
    d->eof = n == 0;
    d->loadCurrent();
}

void Table::last() {
    d->requireOpen();
    if (d->state != DataSetState::Browse) post();
    d->dropGhost();
    const int64_t n = d->viewCount();
    d->current = n - 1;
    d->eof = true;
    d->bof = n == 0;
    d->loadCurrent();
}

void Table::next() {
    d->requireOpen();
    if (d->state != DataSetState::Browse) post();
    const bool onGhost = d->ghost && d->current == d->ghostIndex;
    d->dropGhost();
    const int64_t n = d->viewCount();
    if (onGhost && d->current >= 0 && d->current < n) {
        d->bof = d->eof = false; // the record after the one that left the view
    } else if (d->current + 1 < n) {
        ++d->current;
        d->bof = d->eof = false;
    } else {
        d->eof = true;
    }
    d->loadCurrent();
}

void Table::prior() {
    d->requireOpen();
    if (d->state != DataSetState::Browse) post();
    d->dropGhost();
    if (d->current > 0) {
        --d->current;
        d->bof = d->eof = false;
    } else {
        d->bof = true;
    }
    d->loadCurrent();
}

bool Table::eof() const { return d->state == DataSetState::Inactive || d->eof; }
bool Table::bof() const { return d->state == DataSetState::Inactive || d->bof; }
int64_t Table::recNo() const { return d->state == DataSetState::Inactive ? -1 : d->current; }

void Table::moveTo(int64_t position) {
    d->requireOpen();
    if (d->state != DataSetState::Browse) post();
    d->dropGhost();
    const int64_t n = d->viewCount();
    d->current = n > 0 ? std::clamp<int64_t>(position, 0, n - 1) : -1;
    d->bof = d->eof = n == 0;
    d->loadCurrent();
}

int64_t Table::recordCount() {
    d->requireOpen();
    return d->viewCount();
}

bool Table::isEmpty() { return recordCount() == 0; }

bool Table::rowAt(int64_t position, Row& row) {
    d->requireOpen();
    RowId ignored;
    return d->readView(position, row, ignored);
}

bool Table::scanRows(const std::function<bool(const Row&)>& onRow) {
    d->requireOpen();
    // The driver's own pass serves when the view is exactly the cursor's records.
    const bool cursorOnly = !d->listed && !d->ghost &&
                            std::none_of(d->pending.begin(), d->pending.end(), [](const PendingUpdate& p) { return !p.applied; });
    if (cursorOnly)
        return d->cursor->scan(onRow);
    Row row;
    RowId id;
    for (int64_t i = 0; d->readView(i, row, id); ++i)
        if (!onRow(row))
            return false;
    return true;
}

// ---------------------------------------------------------------- current record

const Value& Table::fieldValue(int field) const {
    d->requireOpen();
    if (field < 0 || field >= fieldCount())
        throw EngineError(ErrNotFound, "フィールド番号 " + std::to_string(field) + " はありません。");
    const Row& r = d->state == DataSetState::Browse ? d->row : d->buffer;
    return static_cast<size_t>(field) < r.size() ? r[field] : kNull;
}

std::string Table::fieldText(int field) const { return valueToText(fieldValue(field), fieldDefs()[field].type); }

// ---------------------------------------------------------------- filter

void Table::setFilter(const std::string& text) {
    d->filterText = text;
    if (d->state == DataSetState::Inactive || !d->filtered)
        return;
    setFiltered(true);
}

const std::string& Table::filter() const { return d->filterText; }
bool Table::filtered() const { return d->filtered; }
void Table::setFilterOptions(FilterOptions options) {
    d->filterOptions = options;
    if (d->state != DataSetState::Inactive && d->filtered)
        setFiltered(true);
}

void Table::setFiltered(bool on) {
    if (d->state == DataSetState::Inactive) {
        d->filtered = on; // parsed against the fields when the table opens
        return;
    }
    if (d->state != DataSetState::Browse)
        post();
    d->dropGhost();
    RowId target = d->id;
    try {
        if (on && d->current >= 0) {
            // When the current record is filtered out, the next one that passes becomes current.
            const Filter probe(d->filterText, d->cursor->fields(), d->filterOptions);
            Row r;
            RowId rid;
            for (int64_t i = d->current, end = d->current + 10000; i < end && d->readView(i, r, rid); ++i)
                if (probe.matches(r)) {
                    target = rid;
                    break;
                }
        }
        d->filtered = on;
        d->applyFilter();
    } catch (...) {
        d->filtered = false;
        d->applyFilter();
        d->rebuildView();
        d->relocate(target, 0);
        throw;
    }
    d->rebuildView();
    d->relocate(target, 0);
}

} // namespace vemo::engine
