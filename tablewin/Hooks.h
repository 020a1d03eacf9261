#pragma once
// Wires the table window into the shell: File > Open of a table file.
#include <QString>

namespace vemo::engine {
class Session;
}

namespace vemo::tablewin {

class TMDIChild;

void installWindowHooks();

// Opens a Paradox or dBASE table file in a new table window (persistence flag 0). The window
// is returned also when the file cannot be opened: the error has been shown and the window
// stays, empty, as the user can see what was asked for.
TMDIChild* openTableFile(const QString& path);
TMDIChild* openTableFile(engine::Session& session, const QString& path);

} // namespace vemo::tablewin
