#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"no-save"}, {});
    const auto& p = a.positional;
    if (p.empty())
        throw UsageError("add, delete or show expected");
    const std::string& action = p[0];
    if (action == "add") {
        if (p.size() < 3)
            throw UsageError("NAME and DRIVER expected");
        c.session.addAlias(p[1], p[2], std::vector<std::string>(p.begin() + 3, p.end()));
    } else if (action == "delete") {
        if (p.size() != 2)
            throw UsageError("one NAME expected");
        c.session.deleteAlias(p[1]);
    } else if (action == "show") {
        if (p.size() != 2 || a.has("no-save"))
            throw UsageError("one NAME expected");
        c.out << "DRIVER=" << c.session.aliasDriver(p[1]) << "\n";
        for (const auto& line : c.session.aliasParams(p[1]))
            c.out << line << "\n";
        return 0;
    } else {
        throw UsageError("unknown action '" + action + "'");
    }
    if (!a.has("no-save"))
        c.session.saveConfig();
    return 0;
}

} // namespace

Command aliasCommand() {
    return {"alias", "add NAME DRIVER [PARAM=VALUE]... [--no-save] | delete NAME [--no-save] | show NAME",
            "Add, delete or show an alias; changes are saved unless --no-save is given.", run};
}

} // namespace vemo::tool
