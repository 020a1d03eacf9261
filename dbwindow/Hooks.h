#pragma once
// Wires the database window into the shell's window hooks.
namespace vemo::dbwindow {
void installWindowHooks();
}
