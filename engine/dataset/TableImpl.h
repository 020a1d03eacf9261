#pragma once
// Internals of the table dataset, shared by its source files.
#include "engine/dataset/Table.h"

namespace vemo::engine {

class Database;

struct PendingUpdate {
    UpdateKind kind = UpdateKind::Modify;
    RowId id;       // Modify/Delete: the record as read
    Row before;     // Modify/Delete: the values it was read with
    Row after;      // Modify/Insert: the values to write
    bool applied = false;
};

bool sameRowId(const RowId& a, const RowId& b);

struct Table::Impl {
    Session& session;
    explicit Impl(Session& s) : session(s) {}

    std::string databaseName, tableName, indexName;
    bool exclusive = false, readOnly = false, cachedUpdates = false;
    std::string readOnlyText; // why a query's result is read-only (empty: writable)

    std::unique_ptr<Cursor> cursor;
    Database* database = nullptr;
    std::string nameInDatabase;
    DataSetState state = DataSetState::Inactive;

    std::string filterText;
    bool filtered = false;
    FilterOptions filterOptions;
    std::unique_ptr<Filter> filter; // parsed filter while filtering is on and the table is open
    bool driverFilters = false;     // the cursor itself restricts its records

    // The records shown, as cursor positions (and -(k+1) for the k-th cached insert), when
    // the dataset filters or hides cached deletes; otherwise every cursor position in order
    // followed by the cached inserts.
    bool listed = false;
    std::vector<int64_t> view;
    // A posted record that no longer passes the filter stays in view, at ghostIndex, until
    // the cursor moves off it.
    bool ghost = false;
    int64_t ghostIndex = -1;
    Row ghostRow;
    RowId ghostId;

    int64_t current = -1;           // index into the view; -1 when there is no record
    bool bof = true, eof = true;
    Row row;                        // the current record as read (with cached changes)
    RowId id;
    Row buffer;                     // Edit/Insert: the values being edited
    Row original;                   // Edit: the values the edit started from

    std::vector<PendingUpdate> pending;
    bool applying = false;          // inside applyUpdates, where onUpdateError may cancel everything
    bool cancelRequested = false;

    // --- view
    int64_t baseCount();
    int64_t viewCount();
    bool readView(int64_t index, Row& out, RowId& outId);
    void rebuildView();
    void afterWrite(int64_t oldPos, int64_t newPos, bool keepVisible);
    int64_t indexOfPosition(int64_t pos) const;
    void dropGhost();
    void setGhost(Row values, const RowId& recordId, int64_t index);
    int64_t insertionIndex(int64_t pos) const;
    bool filtering() const { return filter != nullptr; }
    void loadCurrent();
    bool relocate(const RowId& target, int64_t fallbackIndex); // false when target is not in view
    RowId idFor(const RowId& old, const Row& values) const;
    void placeWritten(Row values, const RowId& recordId, int64_t index, bool viewIsFresh);
    bool passes(const Row& values) const;

    void requireOpen() const;
    void requireClosed(const char* what) const;
    void applyFilter();
};

} // namespace vemo::engine
