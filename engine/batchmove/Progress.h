#pragma once
// Progress of a batch move as the engine reports it: a percentage, or a message of a
// caption, a colon and a record count; and the arithmetic the progress window does on it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vemo::engine {

// The general progress callback type under which a batch move reports.
constexpr int kGeneralProgress = 23;
// Answers of a progress callback.
constexpr int kProgressContinue = 1;
constexpr int kProgressAbort = 2;

struct ProgressRecord {
    int16_t percentDone = 0; // 0 to 100, or -1 when message carries the news instead
    char message[128] = {};  // NUL-terminated, such as "転送済みレコード: 250"
};

// Called on the caller's thread from inside the move; answers continue or abort.
using ProgressCallback = std::function<int(int callbackType, const ProgressRecord& record)>;

// Fills a record with a message and no percentage.
void setProgressMessage(ProgressRecord& record, std::string_view text);

// The bar position a record sets: the percent field as it is, or with -1 the number of at
// most 10 characters after the message's first colon (0 when they are not a number).
int progressPosition(const ProgressRecord& record);

// The percentage shown for a bar position: position / maximum * 100, rounded to the nearest
// whole number with halves to even; 0 for an empty range.
int progressPercent(int position, int maximum);

} // namespace vemo::engine
