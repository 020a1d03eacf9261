#include "engine/drivers/SampleData.h"
#include "tools/Command.h"

#include <filesystem>
#include <ostream>

namespace vemo::tool {

namespace {

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {}, {});
    if (a.positional.size() != 1)
        throw UsageError("one DIR expected");
    const std::filesystem::path dir = a.positional[0];
    std::filesystem::create_directories(dir);
    int status = 0;
    auto attempt = [&](const char* what, auto write) {
        try {
            write();
        } catch (const std::exception& e) {
            c.err << "vemo32-tool: " << what << ": " << e.what() << "\n";
            status = 1;
        }
    };
    attempt("dBASE", [&] { engine::writeDbaseSample(dir); });
    attempt("Paradox", [&] { engine::writeParadoxSample(dir); });
    attempt("SQLite", [&] { engine::writeSqliteSample(dir / "demo.sqlite"); });
    return status;
}

} // namespace

Command sampleCommand() {
    return {"sample", "DIR", "Write the sample dBASE and Paradox tables and demo.sqlite into DIR.", run};
}

} // namespace vemo::tool
