#pragma once
#include <string>

namespace vemo::tool {

// Asks the password of a server alias on the terminal with echo off; false without a
// terminal or when the user gives an empty answer to an end of input.
bool terminalLogin(const std::string& alias, std::string& user, std::string& password);

} // namespace vemo::tool
