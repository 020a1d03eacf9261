#include "engine/values/Codepage.h"
#include "engine/dataset/Table.h"
#include "tablewin/DefinitionScript.h"
#include "tools/Command.h"

#include <ostream>

namespace vemo::tool {

namespace {

int digitOption(const ParsedArgs& a, const std::string& name, int fallback, int max)
{
    if (!a.has(name))
        return fallback;
    const std::string v = a.value(name);
    if (v.size() != 1 || v[0] < '0' || v[0] - '0' > max)
        throw UsageError("--" + name + " must be 0.." + std::to_string(max));
    return v[0] - '0';
}

int run(ToolContext& c, const std::vector<std::string>& args)
{
    const ParsedArgs a = parseArgs(args, {}, {"kind", "field-names"});
    if (a.positional.size() != 2)
        throw UsageError("ALIAS and TABLE expected (ALIAS \"\" for a table file)");
    if (!a.has("kind"))
        throw UsageError("--kind 0, 1 or 2 expected");
    const int kind = digitOption(a, "kind", 0, 2);
    const int naming = digitOption(a, "field-names", 0, 1);
    engine::Table table(c.session);
    table.setDatabaseName(a.positional[0]);
    table.setTableName(a.positional[1]);
    table.setReadOnly(true);
    const std::string script = tablewin::definitionScript(table, static_cast<tablewin::ScriptKind>(kind), naming);
    table.close();
    const std::string text = engine::encodeForLocale(script);
    c.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    c.out.flush();
    return 0;
}

} // namespace

Command scriptCommand()
{
    return {"script", "ALIAS TABLE --kind 0|1|2 [--field-names 0|1]",
            "Write a routine (0 Object Pascal, 1 C++) or an SQL script (2) that creates the table.", run};
}

} // namespace vemo::tool
