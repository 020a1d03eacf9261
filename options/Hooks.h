#pragma once
// Wires the options dialog, the MDI background and the about box into the shell's window
// hooks.
namespace vemo::options {
void installWindowHooks();
}
