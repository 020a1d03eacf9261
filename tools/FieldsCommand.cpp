#include "engine/values/FieldTypeNames.h"
#include "engine/dataset/Table.h"
#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {

void printRow(std::ostream& out, const engine::ListingRow& row) {
    for (size_t i = 0; i < row.size(); ++i)
        out << (i ? "\t" : "") << row[i];
    out << "\n";
}

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"force-langdriver"}, {"langdriver"});
    if (a.positional.size() != 2)
        throw UsageError("ALIAS and TABLE expected");
    applyFileTableOptions(c, a, a.positional[0].empty());
    engine::Table table(c.session);
    table.setDatabaseName(a.positional[0]);
    table.setTableName(a.positional[1]);
    table.open();
    const auto fields = table.fieldDefs();
    table.close();
    printRow(c.out, engine::listingHeadings());
    for (size_t i = 0; i < fields.size(); ++i)
        printRow(c.out, engine::listingRow(static_cast<int>(i + 1), fields[i]));
    return 0;
}

} // namespace

Command fieldsCommand() {
    return {"fields", "ALIAS TABLE [--langdriver CP] [--force-langdriver]",
            "Field definitions: number, name, type, field class, size, SQL type (tab-separated).", run};
}

} // namespace vemo::tool
