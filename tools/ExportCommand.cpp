#include "engine/export/CsvExport.h"
#include "engine/dataset/Table.h"
#include "tools/Command.h"

#include <cstdio>
#include <ostream>
#include <unistd.h>

namespace vemo::tool {

namespace {

// Percentages on a terminal only, so that scripts see clean output.
engine::ExportProgress terminalProgress(std::ostream& err) {
    if (!::isatty(STDERR_FILENO))
        return {};
    return [&err, last = -1](int64_t done, int64_t total) mutable {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent != last) {
            err << "\r" << percent << "%" << (done == total ? "\n" : "") << std::flush;
            last = percent;
        }
        return true;
    };
}

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"force-langdriver"}, {"index", "filter", "langdriver"});
    if (a.positional.size() < 2 || a.positional.size() > 3)
        throw UsageError("ALIAS, TABLE and an optional FILE expected");
    applyFileTableOptions(c, a, a.positional[0].empty());
    engine::Table table(c.session);
    table.setDatabaseName(a.positional[0]);
    table.setTableName(a.positional[1]);
    table.setIndexName(a.value("index"));
    if (a.has("filter")) {
        table.setFilter(a.value("filter"));
        table.setFiltered(true);
    }
    table.open();
    if (a.positional.size() == 3 && a.positional[2] != "-") {
        engine::exportCsv(table, a.positional[2], terminalProgress(c.err));
    } else {
        engine::writeCsv(table, [&](const std::string& block) { c.out.write(block.data(), block.size()); });
    }
    table.close();
    return 0;
}

} // namespace

Command exportCommand() {
    return {"export", "ALIAS TABLE [FILE] [--index NAME] [--filter EXPR] [--langdriver CP] [--force-langdriver]",
            "Write the records as CSV (to standard output without FILE), in index order and filtered.", run};
}

} // namespace vemo::tool
