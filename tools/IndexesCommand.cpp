#include "engine/dataset/Table.h"
#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {
int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"force-langdriver"}, {"langdriver"});
    if (a.positional.size() != 2)
        throw UsageError("ALIAS and TABLE expected");
    applyFileTableOptions(c, a, a.positional[0].empty());
    engine::Table table(c.session);
    table.setDatabaseName(a.positional[0]);
    table.setTableName(a.positional[1]);
    table.open();
    const auto indexes = table.indexDefs();
    table.close();
    for (const auto& index : indexes)
        c.out << index.name << "\t" << index.fields << "\n";
    return 0;
}
} // namespace

Command indexesCommand() {
    return {"indexes", "ALIAS TABLE [--langdriver CP] [--force-langdriver]", "Index definitions: name and fields joined by \";\" (tab-separated).", run};
}

} // namespace vemo::tool
