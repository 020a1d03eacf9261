#pragma once
// The tool's help texts, all taken from the command table, so a command listed there gets
// its own "COMMAND --help", a line in "--help", the manual page and shell completion.
#include "tools/Command.h"

#include <iosfwd>

namespace vemo::tool {

void printToolHelp(std::ostream& out);
void printCommandHelp(std::ostream& out, const Command& command);
// The command names, one a line (read by the bash completion).
void printCommandNames(std::ostream& out);
const Command* findCommand(const std::string& name);
// "COMMAND ... --help": a "--help" anywhere before a "--".
bool asksForHelp(const std::vector<std::string>& args);

} // namespace vemo::tool
