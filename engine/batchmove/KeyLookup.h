#pragma once
// How the update, append-and-update and delete modes find the destination record that a
// source record's key names, without holding the destination in memory where the driver
// can search: through the destination index (Cursor::seek) for table files, and by a
// SELECT on the key for SQLite and PostgreSQL. A driver that can do neither has its keys
// read into memory once.
#include "engine/batchmove/TypeMapping.h"
#include "engine/contract/Database.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vemo::engine {

class KeyLookup {
public:
    enum class Way { Seek, Query, Memory };

    struct Match {
        RowId id;
        Row row; // the destination record as it is now
    };

    // keyFields: positions in fields() of the chosen index's fields, in index order.
    KeyLookup(Database& db, Cursor& cursor, TableKind kind, const std::string& table, const IndexDef& index,
              std::vector<int> keyFields);

    // The destination record whose key equals that of `values` (a record in the
    // destination's field order), if there is one.
    std::optional<Match> find(const Row& values);

    // Looks the keys of many records up at once, where one statement can find them all
    // (SQL destinations): find() then answers those keys from what was read, unless the
    // move has written a record of that key since. Each call replaces what the last read.
    void prefetch(const std::vector<Row>& values);

    // What the move wrote, for a lookup that keeps the keys itself.
    void inserted(const RowId& id, const Row& values);
    void updated(const Row& before, const RowId& id, const Row& after);
    void removed(const Row& before);

    Way way() const { return way_; }

private:
    void chooseWay(const Row& values);
    void loadKeys();
    std::optional<Match> seek(const Row& values);
    std::optional<Match> query(const Row& values);
    std::string selectList() const;
    Match matchOf(Row row) const;
    void touched(const std::string& key);
    std::string keyText(const Row& row) const;

    Database& db_;
    Cursor& cursor_;
    TableKind kind_;
    std::string table_;
    IndexDef index_;
    std::vector<int> keyFields_;
    std::vector<int> primaryFields_; // SQL tables: the primary key that identifies a record
    bool chosen_ = false;
    Way way_ = Way::Memory;
    std::unordered_map<std::string, Match> byKey_;
    // What prefetch read: the record of each key asked for that has one, the keys it
    // answers for (found or known to be absent), and the keys written since.
    std::unordered_map<std::string, Match> fetched_;
    std::unordered_set<std::string> answered_, written_;
};

// The text a key is compared by: each key field's value as text, nulls apart from blanks.
std::string keyTextOf(const Row& row, const std::vector<int>& keyFields, const std::vector<FieldDef>& fields);

} // namespace vemo::engine
