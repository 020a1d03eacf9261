#pragma once
// Wires the table window into the shell: File > Open of a table file, and the openers of
// the status and index windows.
#include <QString>

namespace vemo::engine {
class Session;
}

namespace vemo::index {
class TTableIndex;
}

namespace vemo::tablewin {

class TMDIChild;
class TTableStatus;

void installWindowHooks();

// Opens a Paradox or dBASE table file in a new table window (persistence flag 0). The window
// is returned also when the file cannot be opened: the error has been shown and the window
// stays, empty, as the user can see what was asked for.
TMDIChild* openTableFile(const QString& path);
TMDIChild* openTableFile(engine::Session& session, const QString& path);

// The shared openers of the status and index windows: persistence flag 1, caption, the
// table's alias and name; the window is placed in the frame and shows itself.
TTableStatus* openStatusWindow(engine::Session& session, const QString& table, const QString& alias);
index::TTableIndex* openIndexWindow(engine::Session& session, const QString& table, const QString& alias);

} // namespace vemo::tablewin
