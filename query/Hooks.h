#pragma once
// Wires the SQL window into the shell's window hooks.
#include <QString>

namespace vemo::engine {
class Session;
}

namespace vemo::query {

class TSQLChild;

void installWindowHooks();

// Creates and shows an SQL window for an alias: database name set, SQL text cleared, live
// request off, caption "SQL Window - [alias]". The caller records it and waits for its
// first paint when it wants to.
TSQLChild* openSqlWindow(const QString& alias);
TSQLChild* openSqlWindow(engine::Session& session, const QString& alias);

} // namespace vemo::query
