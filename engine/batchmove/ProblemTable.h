#pragma once
// One of the problem tables of a batch move ("Changed.DB", "KeyViol.DB", "Problem.DB"): a
// Paradox table made on its first record, replacing one of that name.
#include "engine/batchmove/TypeMapping.h"
#include "engine/contract/Cursor.h"

#include <memory>
#include <string>
#include <vector>

namespace vemo::engine {

class Session;

class ProblemTable {
public:
    // path empty: the table is not wanted and add() does nothing.
    ProblemTable(Session& session, std::string path, const std::vector<FieldDef>& fields, TableKind from);
    ~ProblemTable();

    // Writes one record (the values of `fields` in order). The records go in as one batch
    // of the table's, made durable by finish() (or, failing that, when the table is let go).
    void add(const Row& row);
    void finish();
    bool wanted() const { return !path_.empty(); }

private:
    void create();

    Session& session_;
    std::string path_;
    std::vector<FieldDef> from_, fields_;
    std::unique_ptr<Cursor> cursor_;
    TableKind kind_;
    bool batch_ = false;
};

} // namespace vemo::engine
