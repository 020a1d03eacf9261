#pragma once
// One command of vemo32-tool: its name, its usage line and what it does.
#include "engine/session/Session.h"

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemo::tool {

struct ToolContext {
    engine::Session& session;
    std::ostream& out;
    std::ostream& err;
};

// Wrong arguments: the tool prints the message and the usage, and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* usage;   // arguments after the name
    const char* summary; // one line for --help
    // Returns the exit status; engine errors are thrown and reported by main.
    int (*run)(ToolContext& context, const std::vector<std::string>& args);
};

// The command table (Commands.cpp), in --help order.
const std::vector<Command>& commands();

Command aliasesCommand();
Command tablesCommand();
Command fieldsCommand();
Command indexesCommand();
Command repairCommand();
Command exportCommand();
Command copyCommand();
Command sqlCommand();
Command aliasCommand();
Command sampleCommand();
Command scriptCommand(); // tools/ScriptCommand.cpp, when present

// Splits args into positional arguments and "--name [value]" options; options named in
// withValue take the next argument. Unknown options are usage errors.
struct ParsedArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    bool has(const std::string& name) const;
    std::string value(const std::string& name) const;
};
ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                     const std::vector<std::string>& withValue);

// "--langdriver CP" (the code page of tables whose header names none) and
// "--force-langdriver" (of every table), for tables given as files (an empty ALIAS): hands
// them to the session. With none of the tables given as a file they are usage errors: an
// alias has its own LANGDRIVER.
void applyFileTableOptions(ToolContext& context, const ParsedArgs& args, bool fileTableGiven);

} // namespace vemo::tool
