#include "engine/batchmove/KeyLookup.h"

#include "engine/batchmove/FieldMapping.h"
#include "engine/contract/EngineError.h"
#include "engine/values/NameCompare.h"

#include <cstdlib>
#include <strings.h>

namespace vemo::engine {
namespace {

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

// The table's name as the database spells it: a server may have taken the given one
// case-insensitively.
std::string storedName(Database& db, const std::string& table) {
    std::string only;
    int found = 0;
    for (const auto& name : db.tableNames(table, false, false)) {
        if (name == table)
            return name;
        if (sameName(name, table)) {
            only = name;
            ++found;
        }
    }
    return found == 1 ? only : table;
}

} // namespace

std::string keyTextOf(const Row& row, const std::vector<int>& keyFields, const std::vector<FieldDef>& fields) {
    std::string k;
    for (int i : keyFields) {
        k += isNull(row[i]) ? std::string("\x01") : valueToText(row[i], fields[i].type);
        k += '\x1f';
    }
    return k;
}

KeyLookup::KeyLookup(Database& db, Cursor& cursor, TableKind kind, const std::string& table, const IndexDef& index,
                     std::vector<int> keyFields)
    : db_(db), cursor_(cursor), kind_(kind), table_(table), index_(index), keyFields_(std::move(keyFields)) {}

std::string KeyLookup::keyText(const Row& row) const { return keyTextOf(row, keyFields_, cursor_.fields()); }

// Decided on the first key, before anything is written: a driver tells whether it can
// search an order only when asked.
void KeyLookup::chooseWay(const Row& values) {
    chosen_ = true;
    if (kind_ == TableKind::Sqlite || kind_ == TableKind::Postgres) {
        // A record is then named by its primary key, or on SQLite by its rowid.
        const auto& fields = cursor_.fields();
        for (const auto& ix : cursor_.indexes()) {
            if (!ix.primary || !ix.expression.empty())
                continue;
            for (const auto& name : splitIndexFields(ix.fields)) {
                const int f = fieldIndexOf(fields, name);
                if (f < 0) {
                    primaryFields_.clear();
                    break;
                }
                primaryFields_.push_back(f);
            }
            break;
        }
        if (!primaryFields_.empty() || kind_ == TableKind::Sqlite) {
            table_ = storedName(db_, table_);
            way_ = Way::Query;
            return;
        }
        loadKeys();
        return;
    }
    cursor_.setOrder(index_.primary ? std::string() : index_.name);
    Row key;
    for (int k : keyFields_)
        key.push_back(values[k]);
    if (cursor_.seek(key) >= 0) {
        way_ = Way::Seek;
        return;
    }
    loadKeys();
}

void KeyLookup::loadKeys() {
    way_ = Way::Memory;
    Row row;
    RowId id;
    for (int64_t pos = 0; cursor_.read(pos, row, id); ++pos)
        byKey_.insert_or_assign(keyText(row), Match{id, row});
}

std::optional<KeyLookup::Match> KeyLookup::find(const Row& values) {
    if (!chosen_)
        chooseWay(values);
    switch (way_) {
    case Way::Seek:
        return seek(values);
    case Way::Query:
        return query(values);
    case Way::Memory:
        break;
    }
    auto it = byKey_.find(keyText(values));
    if (it == byKey_.end())
        return std::nullopt;
    return it->second;
}

std::optional<KeyLookup::Match> KeyLookup::seek(const Row& values) {
    Row key;
    for (int k : keyFields_)
        key.push_back(values[k]);
    int64_t pos = cursor_.seek(key);
    if (pos < 0)
        throw EngineError(ErrGeneral, "転送先のインデックスを検索できません: " + index_.name);
    // The index may compare as the exact text does not (case, trailing blanks): the records
    // it finds equal are looked through for the exact key.
    const std::string wanted = keyText(values);
    Match m;
    for (; cursor_.read(pos, m.row, m.id); ++pos) {
        const std::string got = keyText(m.row);
        if (got == wanted)
            return m;
        if (strcasecmp(got.c_str(), wanted.c_str()) != 0)
            break;
    }
    return std::nullopt;
}

std::string KeyLookup::selectList() const {
    const auto& fields = cursor_.fields();
    std::string sql = "SELECT ";
    for (size_t i = 0; i < fields.size(); ++i)
        sql += (i ? ", " : "") + quoted(fields[i].name);
    if (primaryFields_.empty())
        sql += ", rowid";
    return sql + " FROM " + quoted(table_) + " WHERE ";
}

KeyLookup::Match KeyLookup::matchOf(Row row) const {
    Match m;
    m.row = std::move(row);
    if (primaryFields_.empty()) {
        const Value rowid = m.row.back();
        m.row.pop_back();
        if (const auto* n = std::get_if<int64_t>(&rowid))
            m.id.recno = *n;
        else
            m.id.recno = std::strtoll(valueToText(rowid, FieldType::LargeInt).c_str(), nullptr, 10);
    } else {
        for (int f : primaryFields_)
            m.id.key.push_back(m.row[f]);
    }
    return m;
}

std::optional<KeyLookup::Match> KeyLookup::query(const Row& values) {
    if (!answered_.empty()) {
        const std::string key = keyText(values);
        if (answered_.count(key) && !written_.count(key)) {
            auto it = fetched_.find(key);
            if (it == fetched_.end())
                return std::nullopt;
            return it->second;
        }
    }
    const auto& fields = cursor_.fields();
    std::string sql = selectList();
    std::vector<QueryParam> params;
    for (size_t i = 0; i < keyFields_.size(); ++i) {
        const int k = keyFields_[i];
        sql += (i ? " AND " : "") + quoted(fields[k].name);
        if (isNull(values[k])) {
            sql += " IS NULL";
            continue;
        }
        const std::string name = "K" + std::to_string(i);
        sql += " = :" + name;
        params.push_back(QueryParam{name, fields[k].type, values[k]});
    }
    sql += " LIMIT 1";
    auto found = db_.openQuery(sql, params);
    Row row;
    RowId ignored;
    if (!found->read(0, row, ignored))
        return std::nullopt;
    return matchOf(std::move(row));
}

void KeyLookup::prefetch(const std::vector<Row>& values) {
    fetched_.clear();
    answered_.clear();
    written_.clear();
    if (values.empty())
        return;
    if (!chosen_)
        chooseWay(values.front());
    if (way_ != Way::Query)
        return;
    // One statement for the keys without nulls (a null key is looked up alone, by IS NULL);
    // each key once.
    const auto& fields = cursor_.fields();
    std::unordered_set<std::string> wanted;
    std::vector<QueryParam> params;
    std::string where;
    for (const Row& v : values) {
        bool hasNull = false;
        for (int k : keyFields_)
            hasNull = hasNull || isNull(v[k]);
        if (hasNull || !wanted.insert(keyText(v)).second)
            continue;
        if (keyFields_.size() == 1) {
            const std::string name = "K" + std::to_string(params.size());
            where += (where.empty() ? "" : ", ") + std::string(":") + name;
            params.push_back(QueryParam{name, fields[keyFields_[0]].type, v[keyFields_[0]]});
            continue;
        }
        where += where.empty() ? "(" : " OR (";
        for (size_t i = 0; i < keyFields_.size(); ++i) {
            const int k = keyFields_[i];
            const std::string name = "K" + std::to_string(params.size());
            where += (i ? " AND " : "") + quoted(fields[k].name) + " = :" + name;
            params.push_back(QueryParam{name, fields[k].type, v[k]});
        }
        where += ")";
    }
    if (wanted.empty())
        return;
    std::string sql = selectList();
    sql += keyFields_.size() == 1 ? quoted(fields[keyFields_[0]].name) + " IN (" + where + ")" : where;
    auto found = db_.openQuery(sql, params);
    Row row;
    RowId ignored;
    bool exact = true;
    for (int64_t pos = 0; found->read(pos, row, ignored); ++pos) {
        Match m = matchOf(row);
        const std::string key = keyText(m.row);
        // A database that compares keys otherwise than their text (case, collation) found
        // a record under another spelling: such keys are left to the lookup one by one.
        if (!wanted.count(key)) {
            exact = false;
            continue;
        }
        fetched_.emplace(key, std::move(m)); // the first of a key, as LIMIT 1 would give
    }
    for (const auto& key : wanted)
        if (exact || fetched_.count(key))
            answered_.insert(key);
}

void KeyLookup::touched(const std::string& key) {
    if (!answered_.empty())
        written_.insert(key);
}

void KeyLookup::inserted(const RowId& id, const Row& values) {
    touched(keyText(values));
    if (way_ == Way::Memory)
        byKey_.emplace(keyText(values), Match{id, values});
}

void KeyLookup::updated(const Row& before, const RowId& id, const Row& after) {
    touched(keyText(before));
    touched(keyText(after));
    if (way_ != Way::Memory)
        return;
    byKey_.erase(keyText(before));
    byKey_.insert_or_assign(keyText(after), Match{id, after});
}

void KeyLookup::removed(const Row& before) {
    touched(keyText(before));
    if (way_ == Way::Memory)
        byKey_.erase(keyText(before));
}

} // namespace vemo::engine
