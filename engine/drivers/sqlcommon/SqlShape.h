#pragma once
// The shape of a statement typed by a user, as far as live results need it: whether it is a
// SELECT that reads one table and shows each of its rows at most once.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::engine::sql {

struct OneTableSelect {
    size_t listStart = 0;            // offset just after SELECT, where the select list begins
    std::vector<std::string> table;  // the table as written after FROM: [schema,] name, unquoted
};

// A SELECT whose FROM names one table (with or without schema and alias), without
// DISTINCT, GROUP BY, HAVING, WINDOW, set operators, INTO or a WITH prefix; nullopt for any
// other statement. Subqueries in the select list or WHERE clause are allowed: they do not
// change which rows the outer SELECT shows.
std::optional<OneTableSelect> oneTableSelect(std::string_view sql);

} // namespace vemo::engine::sql
