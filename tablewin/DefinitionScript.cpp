#include "tablewin/DefinitionScript.h"

#include "engine/values/Codepage.h"
#include "engine/dataset/Table.h"

#include <algorithm>
#include <cctype>

namespace vemo::tablewin {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

bool endsWithNoCase(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && upper(s.substr(s.size() - suffix.size())) == suffix;
}

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

std::string replaceAll(std::string s, char from, char to)
{
    std::replace(s.begin(), s.end(), from, to);
    return s;
}

const char* kindName(TableKind k)
{
    switch (k) {
    case TableKind::Paradox: return "ttParadox";
    case TableKind::DBase: return "ttDBase";
    default: return "ttDefault";
    }
}

enum class IndexOption { PrimaryUnique, CaseInsensitive, Expression };

IndexOption indexOption(TableKind k, const engine::IndexDef& ix)
{
    if (k == TableKind::DBase)
        return IndexOption::Expression;
    return ix.name.empty() ? IndexOption::PrimaryUnique : IndexOption::CaseInsensitive;
}

// Name in quotes padded to 28, type class padded to 10, size padded to 3.
std::string fieldRowText(const engine::ListingRow& row, char quote)
{
    std::string s = padCp932(quote + row[1] + quote, 28);
    s += ',';
    s += padCp932(row[3], 10);
    s += ',';
    s += padCp932(row[4], 3);
    s += ",False);";
    s += kCrLf;
    return s;
}

std::string pascalScript(const ScriptInput& in, TableKind k)
{
    std::string s;
    auto line = [&s](const std::string& text) { s += text; s += kCrLf; };
    line("procedure Create_Table(TBL1:TTable);");
    line("begin");
    line("  with TBL1 do");
    line("    begin");
    line("      Active       := False;");
    line("      DatabaseName := '" + in.databaseName + "';");
    line("      TableName    := '" + in.tableName + "';");
    line(std::string("      TableType    := ") + kindName(k) + ";");
    line("");
    line("      //テーブル定義");
    line("      with FieldDefs do");
    line("        begin");
    line("          Clear;");
    for (size_t r = 1; r < in.listing.size(); ++r)
        s += "          Add(" + fieldRowText(in.listing[r], '\'');
    line("        end;");
    if (!in.indexes.empty()) {
        line("");
        line("      //インデックス定義");
        line("      with IndexDefs do");
        line("        begin");
        line("          Clear;");
        for (const auto& ix : in.indexes) {
            const char* opt = "[ixCaseInsensitive]);";
            switch (indexOption(k, ix)) {
            case IndexOption::PrimaryUnique: opt = "[ixPrimary, ixUnique]);"; break;
            case IndexOption::Expression: opt = "[ixExpression]);"; break;
            default: break;
            }
            line("          Add('" + ix.name + "','" + ix.fields + "'," + opt);
        }
        line("        end;");
    }
    line("");
    line("      //テーブル作成");
    line("      CreateTable;");
    line("    end;");
    line("end;");
    return s;
}

std::string cppScript(const ScriptInput& in, TableKind k)
{
    std::string s;
    auto line = [&s](const std::string& text) { s += text; s += kCrLf; };
    line("void Create_Table(TTable *TBL1)");
    line("{");
    line("  TIndexOptions MyIndexOptions;");
    line("");
    line("  TBL1->Active = false;");
    line("  TBL1->DatabaseName = \"" + in.databaseName + "\";");
    line(std::string("  TBL1->TableType = ") + kindName(k) + ";");
    line("  TBL1->TableName = \"" + in.tableName + "\";");
    line("");
    line("  //テーブル定義");
    line("  TBL1->FieldDefs->Clear();");
    for (size_t r = 1; r < in.listing.size(); ++r)
        s += "  TBL1->FieldDefs->Add(" + fieldRowText(in.listing[r], '"');
    if (!in.indexes.empty()) {
        line("");
        line("  //インデックス定義");
        line("  TBL1->IndexDefs->Clear();");
        for (const auto& ix : in.indexes) {
            line("  MyIndexOptions.Clear();");
            switch (indexOption(k, ix)) {
            case IndexOption::PrimaryUnique: line("  MyIndexOptions << ixPrimary << ixUnique;"); break;
            case IndexOption::CaseInsensitive: line("  MyIndexOptions << ixCaseInsensitive;"); break;
            case IndexOption::Expression: line("  MyIndexOptions << ixExpression;"); break;
            }
            line("  TBL1->IndexDefs->Add(\"" + ix.name + "\",\"" + ix.fields + "\",MyIndexOptions);");
        }
    }
    line("");
    line("  //テーブル作成");
    line("  TBL1->CreateTable();");
    line("}");
    return s;
}

std::string sqlScript(const ScriptInput& in)
{
    const std::string table = sqlTableName(in.tableName);
    std::string keyList;
    if (!in.indexes.empty() && in.indexes.front().name.empty())
        keyList = in.indexes.front().fields;
    std::vector<std::string> keys;
    if (!keyList.empty())
        for (const auto& k : split(keyList, ';'))
            keys.push_back(upper(k));
    const bool hasKeys = !keyList.empty();

    std::string s;
    auto line = [&s](const std::string& text) { s += text; s += kCrLf; };
    line("CREATE TABLE " + table);
    line("(");
    const size_t last = in.listing.size() - 1;
    for (size_t r = 1; r < in.listing.size(); ++r) {
        const auto& row = in.listing[r];
        std::string l = "  ";
        if (in.fieldNaming == 1)
            l += "FIELD_" + std::to_string(r + 100).substr(1) + " ";
        else
            l += padCp932(row[1], 27);
        l += ' ';
        l += padCp932(row[5], 17);
        const bool isKey = std::find(keys.begin(), keys.end(), upper(row[1])) != keys.end();
        l += isKey ? "  NOT NULL " : " ";
        if (r != last || hasKeys)
            l += ',';
        line(l);
    }
    if (hasKeys)
        line("  PRIMARY KEY (" + replaceAll(keyList, ';', ',') + ")");
    line(");");
    if (!in.indexes.empty()) {
        line("");
        for (const auto& ix : in.indexes) {
            if (ix.name.empty())
                continue;
            line("CREATE INDEX " + ix.name + " ON " + table);
            line("(");
            line("  " + replaceAll(ix.fields, ';', ','));
            line(");");
            line("");
        }
    }
    return s;
}

} // namespace

TableKind tableKindOf(const std::string& tableName)
{
    if (endsWithNoCase(tableName, ".DBF"))
        return TableKind::DBase;
    if (endsWithNoCase(tableName, ".DB"))
        return TableKind::Paradox;
    return TableKind::Default;
}

std::string sqlTableName(const std::string& tableName)
{
    // Paths may use either separator: tables recorded on other systems keep their "\".
    const size_t sep = tableName.find_last_of("\\/");
    std::string base = sep == std::string::npos ? tableName : tableName.substr(sep + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos)
        base.resize(dot);
    return upper(base);
}

std::string padCp932(const std::string& text, size_t width)
{
    const size_t w = engine::cp932Width(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

std::string definitionScript(const ScriptInput& input, ScriptKind kind)
{
    const TableKind k = tableKindOf(input.tableName);
    switch (kind) {
    case ScriptKind::Pascal: return pascalScript(input, k);
    case ScriptKind::Cpp: return cppScript(input, k);
    case ScriptKind::Sql: return sqlScript(input);
    }
    return {};
}

std::string definitionScript(engine::Table& table, ScriptKind kind, int fieldNaming)
{
    ScriptInput in;
    fillListing(table, in.listing);
    table.open();
    in.indexes = table.indexDefs();
    in.databaseName = table.databaseName();
    in.tableName = table.tableName();
    in.fieldNaming = fieldNaming;
    return definitionScript(in, kind);
}

} // namespace vemo::tablewin
