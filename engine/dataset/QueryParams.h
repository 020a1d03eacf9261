#pragma once
// The ":NAME" parameters of SQL text as the SQL window's users write them.
//
// A parameter is a ":" followed by a name, anywhere outside a quoted literal (single or
// double quotes); "::" is a literal colon (a PostgreSQL cast) and starts none. The name runs
// up to the first space, CR, LF, ",", ";" or ")" (a tab, "=" or "(" belong to it), unless
// it is written in double quotes right after the colon, when it runs to the closing quote.
// Comments are not recognised. A multi-byte character is always taken whole.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::engine {

struct ParamOccurrence {
    std::string name;   // as written (letter case kept, quotes removed)
    size_t begin = 0;   // the colon
    size_t end = 0;     // one past the name (or its closing quote)
};

// Every occurrence in text order; a name used twice occurs twice.
std::vector<ParamOccurrence> scanParamOccurrences(std::string_view sql);

// The names in the order they first occur, each once (letter case significant).
std::vector<std::string> distinctParamNames(std::string_view sql);

// The text with every occurrence replaced by what placeholder(k) gives for the k-th
// (0-based) occurrence.
std::string replaceParamOccurrences(std::string_view sql, const std::vector<ParamOccurrence>& occurrences,
                                    const std::function<std::string(size_t)>& placeholder);

// The statement without the blanks and control characters at its start.
std::string_view trimmedStatement(std::string_view sql);
// True when the statement opens a result set: its first six characters, once trimmed, are
// "SELECT" in any letter case. (WITH, a parenthesis or a comment first runs it as a
// statement without result.)
bool isSelectStatement(std::string_view sql);

} // namespace vemo::engine
