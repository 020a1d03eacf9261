#include "tools/Command.h"

#include <algorithm>
#include <ostream>
#include <strings.h>

namespace vemo::tool {

namespace {
int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"ext", "system"}, {"pattern"});
    if (a.positional.size() != 1)
        throw UsageError("one ALIAS expected");
    const std::string pattern = a.has("pattern") ? a.value("pattern") : "*";
    auto names = c.session.tableNames(a.positional[0], pattern, a.has("ext"), a.has("system"));
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& x, const std::string& y) { return strcasecmp(x.c_str(), y.c_str()) < 0; });
    for (const auto& name : names)
        c.out << name << "\n";
    return 0;
}
} // namespace

Command tablesCommand() {
    return {"tables", "ALIAS [--ext] [--system] [--pattern PATTERN]",
            "List the tables of an alias (with file extensions, with system tables).", run};
}

} // namespace vemo::tool
