#include "index/IndexFields.h"

namespace vemo::index {

std::vector<std::string> splitIndexFields(const std::string& fields)
{
    constexpr size_t kMaxFields = 255;
    std::vector<std::string> names;
    const std::string text = fields + ";";
    size_t start = 0;
    for (size_t i = 0; i < text.size() && names.size() < kMaxFields; ++i) {
        if (text[i] == ';') {
            names.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return names;
}

} // namespace vemo::index
