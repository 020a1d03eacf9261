#include "engine/dataset/Query.h"

#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"

#include <strings.h>

namespace vemo::engine {

namespace {
const char* kNotLive = "ライブ結果を要求していないため、結果は更新できません。";

// Placeholder names the drivers take as plain ":NAME" parameters. The blank in front keeps
// a placeholder apart from a name or colon written right before it ("x:A", ":::A").
std::string placeholderName(size_t k) { return "vemo_p" + std::to_string(k + 1); }
} // namespace

Query::Query(Session& session) : Table(session), session_(session) {}

void Query::clearSql() { setSql({}); }

void Query::addSqlLine(const std::string& line) {
    std::string text = sql_;
    if (!text.empty())
        text += '\n';
    text += line;
    setSql(text);
}

void Query::setSql(const std::string& text) {
    if (isOpen())
        close();
    sql_ = text;
    rescan();
}

const std::string& Query::sql() const { return sql_; }

void Query::setRequestLive(bool on) { requestLive_ = on; }
bool Query::requestLive() const { return requestLive_; }

void Query::rescan() {
    occurrences_ = scanParamOccurrences(sql_);
    // Values already bound stay with their names where a name is still there.
    std::vector<QueryParam> old = std::move(params_);
    std::vector<bool> oldBound = std::move(bound_);
    params_.clear();
    bound_.clear();
    for (const auto& o : occurrences_) {
        QueryParam p{o.name, FieldType::Unknown, Value{}};
        bool was = false;
        for (size_t i = 0; i < old.size(); ++i)
            if (old[i].name == o.name && oldBound[i]) {
                p = old[i];
                was = true;
                break;
            }
        params_.push_back(std::move(p));
        bound_.push_back(was);
    }
}

int Query::paramCount() const { return static_cast<int>(params_.size()); }

const QueryParam& Query::param(int index) const {
    if (index < 0 || index >= paramCount())
        throw EngineError(ErrNotFound, "パラメータ番号 " + std::to_string(index) + " はありません。");
    return params_[static_cast<size_t>(index)];
}

void Query::bind(const std::string& name, FieldType type, Value value) {
    bool exact = false;
    for (const auto& p : params_)
        exact = exact || p.name == name;
    bool any = false;
    for (size_t i = 0; i < params_.size(); ++i) {
        auto& p = params_[i];
        if (exact ? p.name == name : strcasecmp(p.name.c_str(), name.c_str()) == 0) {
            p.type = type;
            p.value = value;
            bound_[i] = true;
            any = true;
        }
    }
    if (!any)
        throw EngineError(ErrNotFound, "パラメータ " + name + " が見つかりません。");
}

void Query::setParamText(const std::string& name, const std::string& value) { bind(name, FieldType::String, value); }
void Query::setParamInteger(const std::string& name, int64_t value) { bind(name, FieldType::Integer, value); }
void Query::setParamFloat(const std::string& name, double value) { bind(name, FieldType::Float, value); }
void Query::setParamCurrency(const std::string& name, double value) { bind(name, FieldType::Currency, value); }
void Query::setParamBoolean(const std::string& name, bool value) { bind(name, FieldType::Boolean, value); }
void Query::setParamDate(const std::string& name, const Date& value) { bind(name, FieldType::DateTime, value); }

void Query::clearParamValues() {
    for (size_t i = 0; i < params_.size(); ++i) {
        params_[i].type = FieldType::Unknown;
        params_[i].value = Value{};
        bound_[i] = false;
    }
}

std::string Query::driverSql() const {
    return replaceParamOccurrences(sql_, occurrences_, [](size_t k) { return " :" + placeholderName(k); });
}

std::vector<QueryParam> Query::driverParams() const {
    std::vector<QueryParam> out;
    out.reserve(params_.size());
    for (size_t k = 0; k < params_.size(); ++k) {
        if (!bound_[k])
            throw EngineError(ErrInvalidParam, "パラメータ " + params_[k].name + " の値が設定されていません。");
        out.push_back(QueryParam{placeholderName(k), params_[k].type, params_[k].value});
    }
    return out;
}

void Query::open() {
    if (isOpen())
        return;
    Database& db = session_.database(databaseName());
    auto cursor = requestLive_ ? db.openLiveQuery(driverSql(), driverParams()) : db.openQuery(driverSql(), driverParams());
    std::string reason = cursor->readOnlyReason();
    if (reason.empty() && !requestLive_)
        reason = kNotLive;
    openCursor(std::move(cursor), db, reason);
}

int64_t Query::execSql() {
    if (isOpen())
        close();
    Database& db = session_.database(databaseName());
    return db.executeSql(driverSql(), driverParams());
}

bool Query::isLive() const { return isOpen() && readOnlyReason().empty(); }

} // namespace vemo::engine
