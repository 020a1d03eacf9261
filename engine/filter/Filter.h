#pragma once
// Dataset filter expressions: parsed once into a tree, evaluated per record by the engine,
// or translated to SQL by a server driver.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine {

struct FilterNode {
    enum class Kind {
        Or, And, Not,           // logical, children
        Compare,                // op in "=", "<>", "<", "<=", ">", ">="; two children
        IsNull, IsNotNull,      // one child
        Arith,                  // op in "+", "-", "*", "/"; two children
        Negate,                 // unary minus; one child
        Field,                  // field index into the table's fields
        Literal,                // value (a quoted string stays text until compared)
        Null,                   // NULL / BLANK
    };
    Kind kind = Kind::Literal;
    std::string op;
    int field = -1;
    Value literal;
    bool partial = false;       // a string literal ending in "*" used with = or <>
    size_t position = 0;        // offset of the node in the expression text (for messages)
    std::vector<std::unique_ptr<FilterNode>> children;
};

// Field values handed to the filter one at a time, so that a driver can decode only the
// fields an expression actually reaches (AND and OR stop at the first deciding operand).
class FilterFieldSource {
public:
    virtual ~FilterFieldSource() = default;
    // The value of the field at this index; a reference that stays valid until the
    // evaluation of the current record ends.
    virtual const Value& fieldValue(int field) = 0;
};

struct FilterOptions {
    bool caseInsensitive = false;
    bool noPartialCompare = false;
};

class Filter {
public:
    // Parses text against the table's fields. Throws EngineError(ErrFilter) with the
    // position of the fault for malformed text or an unknown field name.
    Filter(const std::string& text, const std::vector<FieldDef>& fields, FilterOptions options = {});
    ~Filter();
    Filter(Filter&&) noexcept;
    Filter& operator=(Filter&&) noexcept;

    bool matches(const Row& row) const;
    // The same test, asking the source for each field value when the expression needs it.
    bool matches(FilterFieldSource& source) const;
    const FilterNode& root() const { return *root_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    const FilterOptions& options() const { return options_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::vector<FieldDef> fields_;
    FilterOptions options_;
    std::unique_ptr<FilterNode> root_;
};

} // namespace vemo::engine
