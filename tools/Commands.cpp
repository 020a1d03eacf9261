#include "tools/Command.h"

namespace vemo::tool {

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        aliasesCommand(),
        tablesCommand(),
        fieldsCommand(),
        indexesCommand(),
        repairCommand(),
        exportCommand(),
        copyCommand(),
        sqlCommand(),
        aliasCommand(),
        sampleCommand(),
#ifdef VEMO_TOOL_HAVE_SCRIPT
        scriptCommand(),
#endif
    };
    return table;
}

void applyFileTableOptions(ToolContext& c, const ParsedArgs& a, bool fileTableGiven) {
    if (!a.has("langdriver") && !a.has("force-langdriver"))
        return;
    if (!fileTableGiven)
        throw UsageError("--langdriver and --force-langdriver apply to a table given as a file (an empty ALIAS); "
                         "an alias has its own LANGDRIVER");
    if (a.has("force-langdriver") && !a.has("langdriver"))
        throw UsageError("--force-langdriver needs --langdriver");
    engine::Params params;
    if (a.has("langdriver"))
        params.emplace_back("LANGDRIVER", a.value("langdriver"));
    if (a.has("force-langdriver"))
        params.emplace_back("FORCE LANGDRIVER", "TRUE");
    c.session.setFileTableParams(std::move(params));
}

bool ParsedArgs::has(const std::string& name) const {
    for (const auto& [n, v] : options)
        if (n == name)
            return true;
    return false;
}

std::string ParsedArgs::value(const std::string& name) const {
    for (const auto& [n, v] : options)
        if (n == name)
            return v;
    return {};
}

ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                     const std::vector<std::string>& withValue) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            parsed.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = a.substr(2), value;
        const size_t eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        bool known = false;
        for (const auto& f : flags)
            if (f == name) {
                if (inlineValue)
                    throw UsageError("--" + name + " takes no value");
                known = true;
            }
        for (const auto& w : withValue)
            if (w == name) {
                if (!inlineValue) {
                    if (i + 1 >= args.size())
                        throw UsageError("--" + name + " needs a value");
                    value = args[++i];
                }
                known = true;
            }
        if (!known)
            throw UsageError("unknown option " + a);
        parsed.options.emplace_back(name, value);
    }
    return parsed;
}

} // namespace vemo::tool
