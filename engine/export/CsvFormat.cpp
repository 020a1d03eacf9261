#include "engine/export/CsvFormat.h"

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

void appendCsvLine(std::string& out, const Row& row, const std::vector<FieldDef>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        static const Value none;
        const Value& v = i < row.size() ? row[i] : none;
        if (isBareIntegerType(fields[i].type)) {
            appendValueText(out, v, fields[i].type);
        } else {
            out += '"';
            appendValueText(out, v, fields[i].type);
            out += '"';
        }
    }
}

} // namespace vemo::engine
