#pragma once
// What a driver offers for one open table: its definitions and random access to its
// records in the current order. Datasets (engine/Table.h) are built on this; windows never
// see a cursor.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vemo::engine {

class Filter;

// Identity of a record for updates: a record number (dBASE, Paradox unkeyed, SQLite rowid)
// and/or the key values (keyed Paradox, SQL primary key).
struct RowId {
    int64_t recno = -1;
    Row key;
};

struct OpenOptions {
    bool exclusive = false;  // fails with ErrExclusiveRequired/ErrLocked when anyone else has it open
    bool readOnly = false;
};

class Cursor {
public:
    virtual ~Cursor() = default;

    virtual const std::vector<FieldDef>& fields() const = 0;
    virtual std::vector<IndexDef> indexes() const = 0;

    // Empty when the table can be written; otherwise why it cannot.
    virtual std::string readOnlyReason() const { return {}; }

    // Record order: "" is the primary index (keyed tables) or the natural order; any other
    // name is one of indexes(). Unknown names throw ErrNotFound.
    virtual void setOrder(const std::string& indexName) = 0;

    // Offers the filter to the driver. Returns true when the driver itself restricts
    // count()/read() to matching records (a server WHERE); false leaves it to the dataset.
    virtual bool setFilter(const Filter* filter) { (void)filter; return false; }

    // Number of records in the current order (and filter, when the driver took it).
    virtual int64_t count() = 0;

    // Record at position pos (0-based) in the current order. Returns false past the end.
    virtual bool read(int64_t pos, Row& row, RowId& id) = 0;

    // Hands every record, from the first in the current order, to onRow until it returns
    // false (scan then returns false) or the records end. For whole passes such as an
    // export; a driver that can read an order in one go overrides it.
    virtual bool scan(const std::function<bool(const Row&)>& onRow) {
        Row row;
        RowId id;
        for (int64_t pos = 0; read(pos, row, id); ++pos)
            if (!onRow(row))
                return false;
        return true;
    }

    // Position of a record in the current order, -1 when it is not there.
    virtual int64_t positionOf(const RowId& id) = 0;

    // Searches the current order (an index, or the key of a keyed table) through its index:
    // the position of the first record whose leading index fields, compared as the index
    // compares them, are not less than `key` (one value for each leading field given), or
    // count() when there is none. -1 when the driver cannot search this order; callers then
    // search by other means.
    virtual int64_t seek(const Row& key) { (void)key; return -1; }

    // A walk through the current order from a key that needs no positions, so that a lookup
    // in a large table reads only the index entries and records it passes: walkFrom starts it
    // at the first record whose leading index fields are not less than `key` (as seek), and
    // walkNext hands the records in order until it returns false at the end, or, with
    // sameKey, before the first record whose fields differ from the key. walkFrom returns
    // false when the driver cannot walk this order; callers then use seek. Changing the order,
    // refresh() and writes through this cursor end a walk.
    virtual bool walkFrom(const Row& key, bool sameKey) { (void)key; (void)sameKey; return false; }
    virtual bool walkNext(Row& row, RowId& id) { (void)row; (void)id; return false; }

    // A hint that the following reads need only these fields (positions in fields()); the
    // others may come back null. An empty list asks for every field again.
    virtual void setWantedFields(const std::vector<int>& which) { (void)which; }

    // Drops anything cached so that other writers' changes become visible.
    virtual void refresh() {}

    // Writes. Every write is on disk (or committed) when the call returns.
    // update/remove compare the stored record with `before` first and throw
    // EngineError(ErrUpdateConflict) when it differs or is gone, changing nothing.
    virtual RowId insert(const Row& values) = 0;
    virtual void update(const RowId& id, const Row& before, const Row& after) = 0;
    virtual void remove(const RowId& id, const Row& before) = 0;

    // Many writes as one batch (a copy into the table, one SQL statement over many rows).
    // Inside a batch the writes above still check keys and conflicts and return as usual,
    // but the driver may defer syncing and index maintenance to commitBatch(), which makes
    // the whole batch durable at once. rollbackBatch(), or a process killed before
    // commitBatch() returns, leaves the table as it was at beginBatch(). Batches do not
    // nest. Drivers whose writes run in the database's transactions (Database::beginWork)
    // do nothing here.
    virtual void beginBatch() {}
    virtual void commitBatch() {}
    virtual void rollbackBatch() noexcept {}
};

} // namespace vemo::engine
