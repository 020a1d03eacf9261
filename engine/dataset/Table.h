#pragma once
// A table dataset: one open table of an alias (or a table file), a current record, editing
// with optional cached updates, index order and a filter. Every window that shows or edits
// a table goes through this class.
#include "engine/contract/Cursor.h"
#include "engine/contract/Definitions.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"
#include "engine/values/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine {

class Database;
class Session;

enum class DataSetState { Inactive, Browse, Edit, Insert };
enum class UpdateKind { Modify, Insert, Delete };
enum class UpdateAction { Fail, Abort, Skip };

class Table {
public:
    explicit Table(Session& session);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // --- what to open (set while closed; the index name may change while open)
    void setDatabaseName(const std::string& alias);
    const std::string& databaseName() const;
    void setTableName(const std::string& name);
    const std::string& tableName() const;
    void setIndexName(const std::string& name); // "" = primary index / natural order
    const std::string& indexName() const;
    void setExclusive(bool on);
    bool exclusive() const;
    void setReadOnly(bool on);
    void setCachedUpdates(bool on);
    bool cachedUpdates() const;

    // --- open state
    void open();    // raises the engine's error; afterOpen fires on success
    void close();   // a pending edit and cached changes not yet applied are discarded
    void refresh(); // re-reads from the driver, keeping the current record where it can
    bool isOpen() const;
    DataSetState state() const;
    bool canModify() const;
    std::string readOnlyReason() const;

    // --- definitions (open the table first)
    const std::vector<FieldDef>& fieldDefs() const;
    std::vector<IndexDef> indexDefs() const;
    int fieldCount() const;
    int fieldIndex(const std::string& name) const; // case-insensitive; -1 when missing

    // --- navigation over the visible records (current order, filter applied)
    void first();
    void prior();
    void next();
    void last();
    bool eof() const;
    bool bof() const;
    int64_t recNo() const;          // 0-based position of the current record; -1 when none
    void moveTo(int64_t position);  // clamps into range
    int64_t recordCount();          // visible records (filtered records only when a filter is on)
    bool isEmpty();

    // Random access for grids without moving the current record. Returns false past the end.
    bool rowAt(int64_t position, Row& row);
    // Every visible record in order, as rowAt gives them, handed to onRow until it returns
    // false (then false is returned). Quicker than rowAt for a whole pass.
    bool scanRows(const std::function<bool(const Row&)>& onRow);

    // --- current record
    const Value& fieldValue(int field) const;
    std::string fieldText(int field) const;          // engine/Value.h valueToText
    void setFieldValue(int field, Value value);      // starts an edit from Browse
    void setFieldText(int field, const std::string& text);

    // --- editing
    void edit();
    void insert(); // a new record before the current one (appended when the order has no place for it)
    void append();
    void post();   // a posted record is on disk (or in the cache) when post returns; afterPost fires
    void cancel();
    void remove(); // deletes the current record; afterDelete fires

    // --- cached updates: post/remove keep changes here until applied
    bool updatesPending() const;
    // Writes the cached changes. A change whose record was altered or removed since it was
    // read raises onUpdateError; Abort stops (the change stays cached), Skip drops it,
    // Fail rethrows. Returns true when every change was written.
    bool applyUpdates();
    void commitUpdates(); // forgets the applied changes
    void cancelUpdates(); // drops every pending change and restores the records as read

    // --- filter
    void setFilter(const std::string& text); // parsed when filtering is on; raises ErrFilter
    const std::string& filter() const;
    void setFiltered(bool on);               // on with malformed text raises and stays off
    bool filtered() const;
    void setFilterOptions(FilterOptions options);

    // --- table operations (the table must be closed, except where noted)
    void deleteTable();                          // with its companion files
    void renameTable(const std::string& newName); // with its companion files
    void createTable(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes);
    void emptyTable();                           // deletes every record (filtered: every visible one); open or closed
    // The same with progress (records deleted, records to delete); returning false stops
    // after the records deleted so far.
    void emptyTable(const std::function<bool(int64_t done, int64_t total)>& progress);

    // --- events
    std::function<void(Table&)> afterOpen;
    std::function<void(Table&)> afterPost;
    std::function<void(Table&)> afterDelete;
    std::function<UpdateAction(Table&, const EngineError&, UpdateKind)> onUpdateError;

protected:
    // Opens on a cursor made elsewhere (a query's result set). A non-empty readOnlyText
    // keeps the dataset read-only and is the reason it gives.
    void openCursor(std::unique_ptr<Cursor> cursor, Database& database, const std::string& readOnlyText);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vemo::engine
