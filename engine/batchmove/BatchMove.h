#pragma once
// The batch move: records of one table moved into another, between any two aliases, in
// five modes, with field mappings, problem tables and progress.
#include "engine/batchmove/Progress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::engine {

class Session;

enum class BatchMode {
    Append,       // insert every source record
    Update,       // replace matching destination records (by the destination index)
    AppendUpdate, // replace matching records, insert the others
    Copy,         // create the destination anew (replacing one of that name), then insert
    Delete,       // delete the destination records matching source records
};

struct BatchMoveSettings {
    // An empty alias takes the table name as a file path.
    std::string sourceAlias, sourceTable, sourceIndex;
    std::string destinationAlias, destinationTable, destinationIndex;
    BatchMode mode = BatchMode::Append;
    // "DEST = SRC" or one name for both; empty pairs fields of the same name.
    std::vector<std::string> mappings;
    bool abortOnKeyViol = false;
    bool abortOnProblem = false;
    // Paradox tables written for the records concerned; an empty name writes none.
    std::string changedTableName;  // destination records as they were before an update or delete
    std::string keyViolTableName;  // source records that broke a key
    std::string problemTableName;  // source records whose values could not be placed without loss
};

struct BatchMoveResult {
    int64_t read = 0;          // source records handled
    int64_t moved = 0;         // records inserted, updated or deleted
    int64_t changed = 0;       // destination records updated or deleted
    int64_t keyViolations = 0;
    int64_t problems = 0;
};

// How often a move reports: every this many records, and once at the end.
constexpr int64_t kProgressEvery = 1000;

// Runs the move. Everything that can be checked (the tables, the mappings, the index) is
// checked before anything is written. On SQLite and PostgreSQL destinations the move is one
// transaction; a copy into table files is built under a temporary name and renamed at the
// end. Throws EngineError on failure, after undoing what it can.
BatchMoveResult runBatchMove(Session& session, const BatchMoveSettings& settings,
                             const ProgressCallback& progress = {});

// The record counts as the command line shows them.
std::string describeResult(const BatchMoveResult& result);

} // namespace vemo::engine
