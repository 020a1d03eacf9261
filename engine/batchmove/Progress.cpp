#include "engine/batchmove/Progress.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace vemo::engine {

void setProgressMessage(ProgressRecord& record, std::string_view text) {
    record.percentDone = -1;
    const size_t n = std::min(text.size(), sizeof record.message - 1);
    std::memcpy(record.message, text.data(), n);
    record.message[n] = '\0';
}

int progressPosition(const ProgressRecord& record) {
    if (record.percentDone != -1)
        return record.percentDone;
    const size_t length = strnlen(record.message, sizeof record.message);
    const std::string_view text(record.message, length);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return 0;
    std::string_view digits = text.substr(colon + 1, 10);
    while (!digits.empty() && digits.front() == ' ')
        digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ')
        digits.remove_suffix(1);
    if (digits.empty())
        return 0;
    bool negative = false;
    if (digits.front() == '-' || digits.front() == '+') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty())
        return 0;
    int64_t value = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int progressPercent(int position, int maximum) {
    if (maximum <= 0)
        return 0;
    const double exact = static_cast<double>(position) / maximum * 100.0;
    return static_cast<int>(std::nearbyint(exact)); // the default rounding: halves to even
}

} // namespace vemo::engine
