#include "engine/drivers/postgres/PgDatabase.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/postgres/PgTypes.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace vemo::engine::sql {

namespace {
std::string text(const Value& v) { return paramText(v).value_or(""); }
bool flag(const Value& v) { return text(v) == "t"; }
std::vector<int> numbers(const std::string& s) {
    std::vector<int> out;
    std::string cleaned;
    for (char c : s)
        cleaned += (c == '{' || c == '}' || c == ',') ? ' ' : c;
    std::istringstream in(cleaned);
    int n;
    while (in >> n)
        out.push_back(n);
    return out;
}
const char* kRelKinds = "('r', 'v', 'm', 'p', 'f')";
} // namespace

PgDatabase::PgDatabase(const std::string& alias, const PgLogin& login, const std::string& schema, const LoginCallback& ask)
    : conn_(std::make_unique<PgConnection>(alias, login, ask)), alias_(alias), schema_(schema.empty() ? "public" : schema) {}

std::string PgDatabase::qualified(const std::string& table) const { return quoteIdent(schema_) + "." + quoteIdent(table); }

std::vector<std::string> PgDatabase::tableNames(const std::string& pattern, bool, bool systemTables) {
    std::vector<std::string> names;
    conn_->query(std::string("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                             "WHERE n.nspname = $1 AND c.relkind IN ") + kRelKinds + " ORDER BY c.relname",
                 {schema_}, [&](Row&& r) {
                     if (matchesTablePattern(text(r[0]), pattern))
                         names.push_back(text(r[0]));
                 });
    if (systemTables)
        conn_->query(std::string("SELECT n.nspname || '.' || c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                 "WHERE n.nspname IN ('pg_catalog', 'information_schema') AND c.relkind IN ") + kRelKinds +
                         " ORDER BY 1",
                     {}, [&](Row&& r) {
                         if (matchesTablePattern(text(r[0]), pattern))
                             names.push_back(text(r[0]));
                     });
    return names;
}

bool PgDatabase::lookup(const std::string& name, Relation& rel) {
    auto find = [&](const std::string& schema, const std::string& table) {
        std::vector<Relation> found;
        // The exact name first; otherwise a name that differs only in case, when only one does.
        for (const char* cond : {"c.relname = $2", "lower(c.relname) = lower($2)"}) {
            conn_->query(std::string("SELECT c.oid, n.nspname, c.relname, c.relkind FROM pg_class c JOIN pg_namespace n "
                                     "ON n.oid = c.relnamespace WHERE n.nspname = $1 AND ") + cond +
                             " AND c.relkind IN " + kRelKinds,
                         {schema, table}, [&](Row&& r) { found.push_back({text(r[0]), text(r[1]), text(r[2]), text(r[3])}); });
            if (!found.empty())
                break;
        }
        if (found.size() != 1)
            return false;
        rel = found.front();
        return true;
    };
    if (find(schema_, name))
        return true;
    size_t dot = name.find('.');
    return dot != std::string::npos && find(name.substr(0, dot), name.substr(dot + 1));
}

PgDatabase::Relation PgDatabase::require(const std::string& name) {
    Relation rel;
    if (!lookup(name, rel))
        throw EngineError(ErrNotFound, "テーブル " + name + " が見つかりません。");
    return rel;
}

SqlTableInfo PgDatabase::tableInfo(const std::string& name) {
    Relation rel = require(name);
    SqlTableInfo info;
    info.qualifiedName = quoteIdent(rel.schema) + "." + quoteIdent(rel.name);
    std::map<int, int> fieldOfAttnum;
    conn_->query(
        "SELECT a.attnum, a.attname, CASE WHEN t.typtype = 'd' THEN bt.typname ELSE t.typname END, a.atttypmod, "
        "a.attnotnull, (a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false)) "
        "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid LEFT JOIN pg_type bt ON bt.oid = t.typbasetype "
        "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
        "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
        {rel.oid}, [&](Row&& r) {
            fieldOfAttnum[static_cast<int>(parseInt(text(r[0])).value_or(0))] = static_cast<int>(info.fields.size());
            info.fields.push_back(pgField(text(r[1]), text(r[2]), static_cast<int>(parseInt(text(r[3])).value_or(-1)),
                                          flag(r[4]), flag(r[5])));
        });
    std::vector<IndexDef> named;
    conn_->query("SELECT ic.relname, i.indisprimary, i.indisunique, i.indkey::text, i.indoption::text, "
                 "pg_get_indexdef(i.indexrelid) FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid "
                 "WHERE i.indrelid = $1::oid ORDER BY i.indisprimary DESC, ic.relname",
                 {rel.oid}, [&](Row&& r) {
                     IndexDef d;
                     d.primary = flag(r[1]);
                     d.unique = flag(r[2]);
                     d.name = d.primary ? std::string() : text(r[0]);
                     auto keys = numbers(text(r[3]));
                     auto options = numbers(text(r[4]));
                     for (size_t k = 0; k < keys.size(); ++k) {
                         auto it = fieldOfAttnum.find(keys[k]);
                         if (it == fieldOfAttnum.end()) {
                             d.expression = text(r[5]);
                             d.fields += (d.fields.empty() ? "" : ";") + std::string("<expr>");
                             continue;
                         }
                         d.fields += (d.fields.empty() ? "" : ";") + info.fields[it->second].name;
                         if (d.primary)
                             info.keyColumns.push_back(it->second);
                         if (k < options.size() && (options[k] & 1))
                             d.descending = true;
                     }
                     info.indexes.push_back(std::move(d));
                 });
    if (rel.kind == "v" || rel.kind == "m" || rel.kind == "f") {
        info.readOnlyReason = "ビュー " + rel.name + " は更新できません。";
    } else if (info.keyColumns.empty()) {
        // Row positions (ctid) move with every update, so they cannot identify a record
        // between reading and writing it; they still give a stable order for paging.
        info.rowIdentity = "ctid";
        info.readOnlyReason = "テーブル " + rel.name + " には主キーがないため更新できません。";
    }
    return info;
}

std::unique_ptr<Cursor> PgDatabase::openTable(const std::string& name, const OpenOptions& options) {
    SqlTableInfo info = tableInfo(name);
    if (options.readOnly && info.readOnlyReason.empty())
        info.readOnlyReason = "テーブルは読み取り専用で開かれています。";
    return std::make_unique<SqlTableCursor>(*conn_, std::move(info));
}

std::vector<std::string> PgDatabase::procedureNames() {
    std::vector<std::string> names;
    conn_->query("SELECT DISTINCT p.proname FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                 "WHERE n.nspname = $1 AND p.prokind IN ('f', 'p') ORDER BY 1",
                 {schema_}, [&](Row&& r) { names.push_back(text(r[0])); });
    return names;
}

bool PgDatabase::routine(const std::string& name, std::string& oid, std::string& kind, std::string& returnType) {
    oid.clear();
    conn_->query("SELECT p.oid, p.prokind, rt.typname FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                 "JOIN pg_type rt ON rt.oid = p.prorettype WHERE n.nspname = $1 AND p.proname = $2 "
                 "AND p.prokind IN ('f', 'p') ORDER BY p.oid LIMIT 1",
                 {schema_, name}, [&](Row&& r) {
                     oid = text(r[0]);
                     kind = text(r[1]);
                     returnType = text(r[2]);
                 });
    return !oid.empty();
}

std::vector<ProcParam> PgDatabase::procedureParams(const std::string& name) {
    std::string oid, kind, returnType;
    if (!routine(name, oid, kind, returnType))
        throw EngineError(ErrNotFound, "ストアドプロシージャ " + name + " が見つかりません。");
    std::vector<ProcParam> params;
    bool outputs = false;
    conn_->query("SELECT coalesce(p.proargnames[a.ord], ''), coalesce(p.proargmodes[a.ord]::text, 'i'), t.typname, "
                 "format_type(a.t, NULL) FROM pg_proc p "
                 "CROSS JOIN LATERAL unnest(coalesce(p.proallargtypes, p.proargtypes::oid[])) WITH ORDINALITY AS a(t, ord) "
                 "JOIN pg_type t ON t.oid = a.t WHERE p.oid = $1::oid ORDER BY a.ord",
                 {oid}, [&](Row&& r) {
                     ProcParam p;
                     p.name = text(r[0]);
                     std::string mode = text(r[1]);
                     p.direction = mode == "o" || mode == "t" ? ProcParam::Direction::Output
                                   : mode == "b"              ? ProcParam::Direction::InputOutput
                                                              : ProcParam::Direction::Input;
                     outputs = outputs || p.direction != ProcParam::Direction::Input;
                     p.type = pgField(p.name, text(r[2]), -1, false, false).type;
                     p.typeName = text(r[3]);
                     params.push_back(std::move(p));
                 });
    if (kind == "f" && !outputs && returnType != "void") {
        ProcParam result;
        result.name = "Result";
        result.direction = ProcParam::Direction::Result;
        result.type = pgField("", returnType, -1, false, false).type;
        result.typeName = returnType;
        params.push_back(std::move(result));
    }
    return params;
}

std::vector<QueryParam> PgDatabase::executeProcedure(const std::string& name, const std::vector<QueryParam>& inputs,
                                                     bool* emptySet) {
    std::string oid, kind, returnType;
    if (!routine(name, oid, kind, returnType))
        throw EngineError(ErrNotFound, "ストアドプロシージャ " + name + " が見つかりません。");
    const auto params = procedureParams(name);
    SqlBuilder b(*conn_);
    std::vector<const ProcParam*> outputs;
    bool hasOutputs = false;
    for (const auto& p : params)
        hasOutputs = hasOutputs || p.direction == ProcParam::Direction::Output || p.direction == ProcParam::Direction::InputOutput;
    b << (kind == "p" ? "CALL " : hasOutputs ? "SELECT * FROM " : "SELECT ") << qualified(name) << "(";
    bool first = true;
    for (size_t i = 0; i < params.size(); ++i) {
        const ProcParam& p = params[i];
        if (p.direction != ProcParam::Direction::Input)
            outputs.push_back(&p);
        if (p.direction == ProcParam::Direction::Result || (kind != "p" && p.direction == ProcParam::Direction::Output))
            continue;
        b << (first ? "" : ", ");
        first = false;
        if (p.direction == ProcParam::Direction::Output) {
            b << "NULL"; // a procedure's OUT argument is only a place holder in CALL
            continue;
        }
        // Unnamed arguments are matched by their position ("$1", "$2", ...).
        const std::string key = p.name.empty() ? "$" + std::to_string(i + 1) : p.name;
        auto it = std::find_if(inputs.begin(), inputs.end(), [&](const QueryParam& q) { return q.name == key; });
        if (it == inputs.end())
            it = std::find_if(inputs.begin(), inputs.end(), [&](const QueryParam& q) {
                return q.name.size() == key.size() && std::equal(q.name.begin(), q.name.end(), key.begin(), [](char x, char y) {
                           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
                       });
            });
        b << "CAST(";
        b.bind(it == inputs.end() ? Value() : it->value);
        b << " AS " << p.typeName << ")";
    }
    b << ")";
    Row result;
    bool any = false;
    conn_->query(b.sql(), b.params(), [&](Row&& r) {
        if (!any)
            result = std::move(r);
        any = true;
    });
    if (emptySet) {
        bool returnsSet = false;
        if (!any)
            conn_->query("SELECT proretset FROM pg_proc WHERE oid = $1::oid", {oid},
                         [&](Row&& r) { returnsSet = text(r[0]) == "t"; });
        *emptySet = returnsSet;
    }
    std::vector<QueryParam> out;
    for (size_t i = 0; i < outputs.size(); ++i) {
        FieldDef f;
        f.type = outputs[i]->type;
        f.nativeType = outputs[i]->typeName;
        Value v = any && i < result.size() ? conn_->toTyped(result[i], f) : Value();
        out.push_back({outputs[i]->name, outputs[i]->type, std::move(v)});
    }
    return out;
}

void PgDatabase::createTable(const std::string& name, const std::vector<FieldDef>& fields,
                             const std::vector<IndexDef>& indexes) {
    if (name.empty() || fields.empty())
        throw EngineError(ErrInvalidParam, "テーブル名とフィールドが必要です。");
    Relation existing;
    if (lookup(name, existing) && existing.name == name)
        throw EngineError(ErrGeneral, "テーブル " + name + " は既にあります。");
    Transaction tx(*conn_);
    for (const auto& statement : sql::createTableStatements(qualified(name), name, fields, indexes, pgDeclaredType))
        conn_->exec(statement);
    tx.commit();
}

static const char* objectWord(const std::string& kind) {
    if (kind == "v") return "VIEW";
    if (kind == "m") return "MATERIALIZED VIEW";
    if (kind == "f") return "FOREIGN TABLE";
    return "TABLE";
}

void PgDatabase::deleteTable(const std::string& name) {
    Relation rel = require(name);
    conn_->exec(std::string("DROP ") + objectWord(rel.kind) + " " + quoteIdent(rel.schema) + "." + quoteIdent(rel.name));
}

void PgDatabase::renameTable(const std::string& oldName, const std::string& newName) {
    Relation rel = require(oldName);
    if (newName.empty())
        throw EngineError(ErrInvalidParam, "新しいテーブル名が空です。");
    conn_->exec(std::string("ALTER ") + objectWord(rel.kind) + " " + quoteIdent(rel.schema) + "." + quoteIdent(rel.name) +
                " RENAME TO " + quoteIdent(newName));
}

} // namespace vemo::engine::sql
