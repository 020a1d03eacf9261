#pragma once
// The table window's offer to repair a table that opened read-only for something a repair
// mends (a missing or unreadable index file, a header count): what to ask, and the repair.
#include <string>

namespace vemo::engine {
class Session;
class Table;
} // namespace vemo::engine

namespace vemo::tablewin {

// The question to ask for the open table; empty when it can be written, or when a repair
// would not make it writable.
std::string repairQuestion(engine::Session& session, const engine::Table& table);

// Closes the table, repairs it and opens it again. Returns what could not be mended (one
// line each), empty when all was. Engine errors are raised; the table is then reopened as
// it is where it can be.
std::string repairAndReopen(engine::Session& session, engine::Table& table);

} // namespace vemo::tablewin
