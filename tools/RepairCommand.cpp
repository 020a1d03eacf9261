#include "engine/contract/Database.h"
#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {"check"}, {});
    if (a.positional.size() != 2)
        throw UsageError("ALIAS and TABLE expected");
    const bool check = a.has("check");
    std::string name;
    engine::Database& db = c.session.databaseFor(a.positional[0], a.positional[1], name);
    const engine::RepairReport r = db.repairTable(name, !check);
    for (const auto& line : r.mended)
        c.out << (check ? "修復できます: " : "修復しました: ") << line << "\n";
    for (const auto& line : r.remaining)
        c.out << "修復できません: " << line << "\n";
    if (r.mended.empty() && r.remaining.empty())
        c.out << (check ? "修復の必要はありません\n" : "修復するものはありませんでした\n");
    return r.remaining.empty() ? 0 : 1;
}

} // namespace

Command repairCommand() {
    return {"repair", "ALIAS TABLE [--check]",
            "Mend a table file left inconsistent (counts, index files) without dropping a record; --check only says what.",
            run};
}

} // namespace vemo::tool
