#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {
int run(ToolContext& c, const std::vector<std::string>& args) {
    if (!parseArgs(args, {}, {}).positional.empty())
        throw UsageError("no arguments expected");
    for (const auto& name : c.session.aliasNames())
        c.out << name << "\n";
    return 0;
}
} // namespace

Command aliasesCommand() { return {"aliases", "", "List the alias names.", run}; }

} // namespace vemo::tool
