#include "engine/contract/EngineError.h"
#include "engine/dataset/Query.h"
#include "engine/export/CsvExport.h"
#include "engine/values/DateText.h"
#include "tools/Command.h"

#include <fstream>
#include <iterator>
#include <ostream>
#include <strings.h>

namespace vemo::tool {

namespace {

// "NAME=TYPE:VALUE" bound to the query; TYPE by the SQL window's names or in English.
void bindParam(engine::Query& q, const std::string& option) {
    const size_t eq = option.find('=');
    const size_t colon = eq == std::string::npos ? std::string::npos : option.find(':', eq + 1);
    if (eq == std::string::npos || eq == 0 || colon == std::string::npos)
        throw UsageError("--param expects NAME=TYPE:VALUE, not '" + option + "'");
    const std::string name = option.substr(0, eq), type = option.substr(eq + 1, colon - eq - 1),
                      text = option.substr(colon + 1);
    auto is = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (strcasecmp(type.c_str(), n) == 0)
                return true;
        return false;
    };
    if (is({"整数型", "int", "integer"})) {
        q.setParamInteger(name, std::get<int64_t>(engine::valueFromText(text.empty() ? "x" : text, engine::FieldType::LargeInt)));
    } else if (is({"実数型", "float", "real"})) {
        q.setParamFloat(name, std::get<double>(engine::valueFromText(text.empty() ? "x" : text, engine::FieldType::Float)));
    } else if (is({"金額型", "money", "currency"})) {
        q.setParamCurrency(name, std::get<double>(engine::valueFromText(text.empty() ? "x" : text, engine::FieldType::Currency)));
    } else if (is({"文字型", "text", "string"})) {
        q.setParamText(name, text);
    } else if (is({"日付型", "date"})) {
        const auto d = engine::parseDateText(text);
        if (!d)
            throw engine::EngineError(engine::ErrConvert, "'" + text + "' は日付として正しくありません。");
        q.setParamDate(name, *d);
    } else if (is({"論理型", "bool", "boolean"})) {
        q.setParamBoolean(name, !text.empty() && (text[0] == 't' || text[0] == 'T'));
    } else {
        throw UsageError("unknown parameter type '" + type + "' (int, float, money, text, date, bool)");
    }
}

int run(ToolContext& c, const std::vector<std::string>& args) {
    const ParsedArgs a = parseArgs(args, {}, {"file", "param", "out"});
    if (a.positional.empty() || a.positional.size() > 2 || (a.positional.size() == 2) == a.has("file"))
        throw UsageError("ALIAS and either TEXT or --file FILE expected");
    std::string sql;
    if (a.has("file")) {
        std::ifstream in(a.value("file"), std::ios::binary);
        if (!in)
            throw engine::EngineError(engine::ErrNotFound, "ファイル " + a.value("file") + " を開けません。");
        sql.assign(std::istreambuf_iterator<char>(in), {});
    } else {
        sql = a.positional[1];
    }
    engine::Query q(c.session);
    q.setDatabaseName(a.positional[0]);
    q.setSql(std::string(engine::trimmedStatement(sql)));
    for (const auto& [name, value] : a.options)
        if (name == "param")
            bindParam(q, value);
    if (!engine::isSelectStatement(sql)) {
        c.out << q.execSql() << "\n";
        return 0;
    }
    q.open();
    if (a.has("out") && a.value("out") != "-")
        engine::exportCsv(q, a.value("out"));
    else
        engine::writeCsv(q, [&](const std::string& block) { c.out.write(block.data(), static_cast<std::streamsize>(block.size())); });
    return 0;
}

} // namespace

Command sqlCommand() {
    return {"sql", "ALIAS (TEXT | --file FILE) [--param NAME=TYPE:VALUE]... [--out FILE]",
            "Run SQL: a SELECT writes its rows as CSV, another statement prints the rows it changed.", run};
}

} // namespace vemo::tool
