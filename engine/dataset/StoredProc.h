#pragma once
// A stored procedure dataset: one procedure of an alias, prepared to learn its parameters
// (name, direction, type), with values set and read as text, executed any number of times.
// It is never opened as a result set.
#include "engine/contract/Database.h"
#include "engine/values/Value.h"

#include <string>
#include <vector>

namespace vemo::engine {

class Session;

class StoredProc {
public:
    explicit StoredProc(Session& session);
    StoredProc(const StoredProc&) = delete;
    StoredProc& operator=(const StoredProc&) = delete;

    void setDatabaseName(const std::string& alias);
    const std::string& databaseName() const { return alias_; }
    void setProcedureName(const std::string& name);
    const std::string& procedureName() const { return name_; }

    // Reads the parameter list from the server; raises the engine's error (an unknown
    // procedure, a server gone away). Values are cleared.
    void prepare();
    bool prepared() const { return prepared_; }

    int paramCount() const { return static_cast<int>(params_.size()); }
    // Parameter i as the server describes it; an argument without a name is called "$n"
    // after its position (1-based), as the server numbers it.
    const ProcParam& param(int i) const { return params_.at(i).def; }
    // Position of a parameter by name, letter case ignored; ErrNotFound when there is none.
    int paramIndex(const std::string& name) const;

    // The value as text: converted to the parameter's type (ErrConvert when it does not
    // convert; empty text is null). Types text cannot express go to the server as text.
    void setParamText(const std::string& name, const std::string& text);
    std::string paramText(const std::string& name) const;

    // Runs the procedure with the input and input-output values; the output, input-output
    // and result parameters then hold what it returned. On an error the values stay as they were.
    void execute();
    // The last run was of a function returning a set of rows, and it gave none: the
    // outputs are empty because there was no row, not because the values were null.
    bool lastRunGaveNoRow() const { return noRow_; }

private:
    struct Slot {
        ProcParam def;
        Value value;
    };
    Session& session_;
    std::string alias_, name_;
    std::vector<Slot> params_;
    bool prepared_ = false;
    bool noRow_ = false;
};

} // namespace vemo::engine
