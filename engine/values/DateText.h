#pragma once
// Reading dates and times typed as text ("2001/04/01", "2001-4-1", "12:30", "12:30:15").
#include "engine/values/Value.h"

#include <optional>
#include <string_view>

namespace vemo::engine {

// "yyyy/mm/dd" (also "-" or "." as separator, one-digit month and day); a two-digit year
// is taken as 19xx from 50 up and 20xx below. Invalid calendar dates give nothing.
std::optional<Date> parseDateText(std::string_view text);
// "hh:mm", "hh:mm:ss" or "hh:mm:ss.zzz".
std::optional<Time> parseTimeText(std::string_view text);
// A date, optionally followed by blanks and a time.
std::optional<DateTime> parseDateTimeText(std::string_view text);

std::string dateText(const Date& d);         // "yyyy/mm/dd"
std::string timeText(const Time& t);         // "hh:mm:ss"
std::string dateTimeText(const DateTime& t); // "yyyy/mm/dd hh:mm:ss"

} // namespace vemo::engine
