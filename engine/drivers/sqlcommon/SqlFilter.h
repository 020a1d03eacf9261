#pragma once
// Translation of a parsed dataset filter into a SQL condition with bound parameters.
// SQL's three-valued logic is the dataset's own: a comparison with a missing value is
// unknown, NOT of unknown stays unknown, and only true passes. Text compares without
// trailing blanks, and a blank test counts an all-blank text as blank.
#include "engine/filter/Filter.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::sql {

// SQL text with its parameters; text.size() == params.size() + 1.
struct SqlFragment {
    std::vector<std::string> text{std::string()};
    std::vector<Value> params;

    SqlFragment& operator<<(const std::string& s) { text.back() += s; return *this; }
    SqlFragment& bind(Value v) { params.push_back(std::move(v)); text.emplace_back(); return *this; }
    SqlFragment& operator<<(const SqlFragment& f);
    void emit(SqlBuilder& b) const;
};

// nullopt when some part of the expression has no faithful SQL form (arithmetic,
// case-insensitive comparison, a literal that needs the dataset's own conversion...);
// the dataset then evaluates the filter itself. columns are the quoted field names.
std::optional<SqlFragment> translateFilter(const FilterNode& root, const std::vector<FieldDef>& fields,
                                           const FilterOptions& options,
                                           const std::vector<std::string>& columns);

} // namespace vemo::engine::sql
