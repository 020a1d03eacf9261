#pragma once
// A query dataset: SQL text for one alias, its ":NAME" parameters, and either a result set
// (browsed, and edited when live, exactly like a table) or a statement run for its effect.
#include "engine/contract/Database.h"
#include "engine/dataset/QueryParams.h"
#include "engine/dataset/Table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::engine {

class Query : public Table {
public:
    explicit Query(Session& session);

    // --- SQL text (set while closed); the parameter list follows every change
    void clearSql();
    void addSqlLine(const std::string& line); // appended with a line break
    void setSql(const std::string& text);
    const std::string& sql() const;

    // Asks for a result that can be edited. Honoured when the driver can identify the
    // result's rows (see isLive); otherwise the result opens read-only.
    void setRequestLive(bool on);
    bool requestLive() const;

    // --- parameters: one entry per occurrence in text order
    int paramCount() const;
    const QueryParam& param(int index) const;
    // Binds a value to every occurrence of a name: those written with exactly this name,
    // or when there are none, those equal to it ignoring letter case. Throws ErrNotFound
    // when the text has no such parameter.
    void setParamText(const std::string& name, const std::string& value);
    void setParamInteger(const std::string& name, int64_t value);
    void setParamFloat(const std::string& name, double value);
    void setParamCurrency(const std::string& name, double value);
    void setParamBoolean(const std::string& name, bool value);
    void setParamDate(const std::string& name, const Date& value); // a date-time holding a date
    void clearParamValues();

    // The statement as the driver receives it: every occurrence replaced by a placeholder
    // of its own, bound to the occurrence's value.
    std::string driverSql() const;
    std::vector<QueryParam> driverParams() const; // throws ErrInvalidParam for an unbound one

    // --- running
    void open();          // a result set; raises the engine's error
    int64_t execSql();    // a statement without result; the number of rows it changed
    bool isLive() const;  // the open result can be edited

private:
    void bind(const std::string& name, FieldType type, Value value);
    void rescan();

    Session& session_;
    std::string sql_;
    bool requestLive_ = false;
    std::vector<ParamOccurrence> occurrences_;
    std::vector<QueryParam> params_;
    std::vector<bool> bound_;
};

} // namespace vemo::engine
