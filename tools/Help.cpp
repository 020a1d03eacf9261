#include "tools/Help.h"

#include <ostream>

namespace vemo::tool {

void printToolHelp(std::ostream& out)
{
    out << "Usage: vemo32-tool COMMAND [ARGUMENTS]\n"
           "   or: vemo32-tool COMMAND --help\n"
           "   or: vemo32-tool --help | --version | --commands\n\n"
           "Lists, exports and edits the tables of VEMO32's aliases from the command line.\n"
           "An empty ALIAS (\"\") with a file path as TABLE opens that table file directly.\n"
           "Aliases come from $XDG_CONFIG_HOME/vemo32/engine.cfg.\n\n"
           "Commands:\n";
    for (const auto& c : commands())
        out << "  " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
    out << "\nOptions:\n"
           "  --help      this text; COMMAND --help shows the usage of one command\n"
           "  --version   the program's version\n"
           "  --commands  the command names, one a line\n\n"
           "Exit status: 0 on success, 1 when the work failed, 2 for wrong arguments.\n";
}

void printCommandHelp(std::ostream& out, const Command& command)
{
    out << "Usage: vemo32-tool " << command.name << " " << command.usage << "\n\n" << command.summary << "\n";
}

void printCommandNames(std::ostream& out)
{
    for (const auto& c : commands())
        out << c.name << "\n";
}

const Command* findCommand(const std::string& name)
{
    for (const auto& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

bool asksForHelp(const std::vector<std::string>& args)
{
    for (const auto& a : args) {
        if (a == "--")
            return false;
        if (a == "--help")
            return true;
    }
    return false;
}

} // namespace vemo::tool
