#include "engine/batchmove/BatchMove.h"
#include "tools/Command.h"

#include <ostream>
#include <unistd.h>

namespace vemo::tool {

namespace {

engine::BatchMode modeNamed(const std::string& name) {
    if (name == "append") return engine::BatchMode::Append;
    if (name == "update") return engine::BatchMode::Update;
    if (name == "appendupdate") return engine::BatchMode::AppendUpdate;
    if (name == "copy") return engine::BatchMode::Copy;
    if (name == "delete") return engine::BatchMode::Delete;
    throw UsageError("--mode is one of append, update, appendupdate, copy, delete");
}

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"abort-on-keyviol", "abort-on-problem", "force-langdriver"},
                                   {"mode", "map", "problem-tables", "langdriver"});
    if (a.positional.size() != 4)
        throw UsageError("SRC_ALIAS, SRC_TABLE, DST_ALIAS and DST_TABLE expected");
    if (!a.has("mode"))
        throw UsageError("--mode is required");
    applyFileTableOptions(c, a, a.positional[0].empty() || a.positional[2].empty());
    engine::BatchMoveSettings s;
    s.sourceAlias = a.positional[0];
    s.sourceTable = a.positional[1];
    s.destinationAlias = a.positional[2];
    s.destinationTable = a.positional[3];
    s.mode = modeNamed(a.value("mode"));
    for (const auto& [name, value] : a.options)
        if (name == "map")
            s.mappings.push_back(value);
    s.abortOnKeyViol = a.has("abort-on-keyviol");
    s.abortOnProblem = a.has("abort-on-problem");
    if (a.has("problem-tables")) {
        std::string dir = a.value("problem-tables");
        if (!dir.empty() && dir.back() != '/')
            dir += '/';
        s.changedTableName = dir + "Changed.DB";
        s.keyViolTableName = dir + "KeyViol.DB";
        s.problemTableName = dir + "Problem.DB";
    }
    // A bar on a terminal only, so that scripts see the summary alone.
    engine::ProgressCallback progress;
    int64_t total = 0;
    if (::isatty(STDERR_FILENO)) {
        engine::OpenOptions readOnly;
        readOnly.readOnly = true;
        total = c.session.openTable(s.sourceAlias, s.sourceTable, readOnly)->count();
        progress = [&c, total, last = -1](int, const engine::ProgressRecord& r) mutable {
            const int percent = engine::progressPercent(engine::progressPosition(r), static_cast<int>(total));
            if (percent != last) {
                const int filled = percent * 40 / 100;
                c.err << "\r[" << std::string(filled, '#') << std::string(40 - filled, ' ') << "] " << percent << "%" << std::flush;
                last = percent;
            }
            return engine::kProgressContinue;
        };
    }
    const auto result = engine::runBatchMove(c.session, s, progress);
    if (progress)
        c.err << "\n";
    c.out << "moved " << result.moved << ", changed " << result.changed << ", key violations " << result.keyViolations
          << ", problems " << result.problems << "\n";
    return 0;
}

} // namespace

Command copyCommand() {
    return {"copy",
            "SRC_ALIAS SRC_TABLE DST_ALIAS DST_TABLE --mode append|update|appendupdate|copy|delete [--map \"DEST = SRC\"]... "
            "[--abort-on-keyviol] [--abort-on-problem] [--problem-tables DIR] [--langdriver CP] [--force-langdriver]",
            "Move the records of one table into another (a batch move), with a progress bar on a terminal.", run};
}

} // namespace vemo::tool
