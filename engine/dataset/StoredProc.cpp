#include "engine/dataset/StoredProc.h"

#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/values/NameCompare.h"

namespace vemo::engine {

namespace {

bool takesText(FieldType t)
{
    return t == FieldType::Unknown || isBinaryType(t);
}

} // namespace

StoredProc::StoredProc(Session& session) : session_(session) {}

void StoredProc::setDatabaseName(const std::string& alias)
{
    alias_ = alias;
    prepared_ = false;
}

void StoredProc::setProcedureName(const std::string& name)
{
    name_ = name;
    prepared_ = false;
}

void StoredProc::prepare()
{
    if (name_.empty())
        throw EngineError(ErrInvalidParam, "ストアドプロシージャ名が指定されていません。");
    std::vector<ProcParam> defs = session_.database(alias_).procedureParams(name_);
    std::vector<Slot> slots;
    for (size_t i = 0; i < defs.size(); ++i) {
        if (defs[i].name.empty())
            defs[i].name = "$" + std::to_string(i + 1);
        slots.push_back({std::move(defs[i]), Value()});
    }
    params_ = std::move(slots);
    prepared_ = true;
}

int StoredProc::paramIndex(const std::string& name) const
{
    for (size_t i = 0; i < params_.size(); ++i)
        if (sameName(params_[i].def.name, name))
            return static_cast<int>(i);
    throw EngineError(ErrNotFound, "パラメータ " + name + " が見つかりません。");
}

void StoredProc::setParamText(const std::string& name, const std::string& text)
{
    Slot& s = params_[paramIndex(name)];
    if (takesText(s.def.type))
        s.value = text.empty() ? Value() : Value(text);
    else
        s.value = valueFromText(text, s.def.type);
}

std::string StoredProc::paramText(const std::string& name) const
{
    const Slot& s = params_[paramIndex(name)];
    if (takesText(s.def.type) && std::holds_alternative<std::string>(s.value))
        return std::get<std::string>(s.value);
    return valueToText(s.value, s.def.type);
}

void StoredProc::execute()
{
    if (!prepared_)
        prepare();
    std::vector<QueryParam> inputs;
    for (const Slot& s : params_)
        if (s.def.direction == ProcParam::Direction::Input || s.def.direction == ProcParam::Direction::InputOutput)
            inputs.push_back({s.def.name, s.def.type, s.value});
    bool noRow = false;
    const std::vector<QueryParam> results = session_.database(alias_).executeProcedure(name_, inputs, &noRow);
    noRow_ = noRow;
    // Only after the run succeeded: a failure leaves every value as it was.
    std::vector<Value> next;
    for (const Slot& s : params_)
        next.push_back(s.value);
    size_t position = 0; // among the parameters that return a value
    for (size_t i = 0; i < params_.size(); ++i) {
        if (params_[i].def.direction == ProcParam::Direction::Input)
            continue;
        bool found = false;
        for (const QueryParam& r : results)
            if (!r.name.empty() && sameName(r.name, params_[i].def.name)) {
                next[i] = r.value;
                found = true;
                break;
            }
        // An argument without a name comes back without one, in its place.
        if (!found && position < results.size() && results[position].name.empty())
            next[i] = results[position].value;
        ++position;
    }
    for (size_t i = 0; i < params_.size(); ++i)
        params_[i].value = std::move(next[i]);
}

} // namespace vemo::engine
