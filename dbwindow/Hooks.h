#pragma once
// Wires the database window into the shell's window hooks, and the engine's server logins
// into the login dialog.
#include "engine/contract/Driver.h"

namespace vemo::dbwindow {
void installWindowHooks();
// Answers a server's request for a login with the login dialog over the active window.
engine::LoginCallback windowLogin();
}
