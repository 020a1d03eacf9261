#pragma once
// Text helpers of the SQL drivers: identifier quoting, table name patterns, and the ISO
// text forms that SQL databases store dates and times in.
#include "engine/contract/Definitions.h"
#include "engine/values/Value.h"

#include <functional>
#include <vector>

#include <optional>
#include <string>
#include <string_view>

namespace vemo::engine::sql {

// "name" with inner double quotes doubled; a NUL byte is refused since no server can
// take it in a name.
std::string quoteIdent(std::string_view name);
// 'text' with inner single quotes doubled (only for DDL, where parameters cannot go).
std::string quoteLiteral(std::string_view text);

// Case-insensitive (ASCII) match of a table name against "*.*", "*", "CUST*", "?..." patterns.
bool matchesTablePattern(std::string_view name, std::string_view pattern);

std::string isoDate(const Date& d);           // 2024-01-31
std::string isoTime(const Time& t);           // 13:05:09 or 13:05:09.250
std::string isoDateTime(const DateTime& dt);  // 2024-01-31 13:05:09[.250]
std::optional<Date> parseIsoDate(std::string_view s);
std::optional<Time> parseIsoTime(std::string_view s);      // ignores a zone suffix
std::optional<DateTime> parseIsoDateTime(std::string_view s);

std::string doubleText(double d);   // shortest text that reads back the same
std::optional<int64_t> parseInt(std::string_view s);
std::optional<double> parseDouble(std::string_view s);
bool isDecimalText(std::string_view s);

// Text form of a value for a server parameter or a text column; nullopt for null.
std::optional<std::string> paramText(const Value& v);

// Statements that create a table: CREATE TABLE (with NOT NULL and the primary key) followed by
// one CREATE [UNIQUE] INDEX per secondary index. `table` is the table's name as written in SQL
// (already quoted, schema-qualified where the server has schemas); `bareName` names indexes
// that have no name of their own.
std::vector<std::string> createTableStatements(const std::string& table, const std::string& bareName,
                                               const std::vector<FieldDef>& fields,
                                               const std::vector<IndexDef>& indexes,
                                               const std::function<std::string(const FieldDef&)>& declaredType);

// Declared type size helpers: "VARCHAR(40)" -> 40; "NUMERIC(10,2)" -> 10 and 2.
// The field names of an index's field list ("ID;NAME").
std::vector<std::string> splitFieldList(const std::string& list);

void declaredSize(std::string_view decl, int& first, int& second);

} // namespace vemo::engine::sql
