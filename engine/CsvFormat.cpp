#include "engine/CsvFormat.h"

namespace vemo::engine {

std::string csvLine(const std::vector<std::string>& texts, const std::vector<FieldDef>& fields) {
    std::string line;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i)
            line += ',';
        const bool bare = i < fields.size() && isBareIntegerType(fields[i].type);
        if (bare) {
            line += texts[i];
        } else {
            line += '"';
            line += texts[i];
            line += '"';
        }
    }
    return line;
}

} // namespace vemo::engine
