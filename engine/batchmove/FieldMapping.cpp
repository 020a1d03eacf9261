#include "engine/batchmove/FieldMapping.h"

#include "engine/contract/EngineError.h"
#include "engine/values/NameCompare.h"

namespace vemo::engine {
namespace {

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

} // namespace

std::vector<FieldPair> parseMappings(const std::vector<std::string>& lines) {
    std::vector<FieldPair> pairs;
    for (const auto& line : lines) {
        if (trimmed(line).empty())
            continue;
        const size_t eq = line.find('=');
        FieldPair p;
        if (eq == std::string::npos) {
            p.destination = p.source = trimmed(line);
        } else {
            p.destination = trimmed(line.substr(0, eq));
            p.source = trimmed(line.substr(eq + 1));
        }
        if (p.destination.empty() || p.source.empty())
            throw EngineError(ErrInvalidParam, "フィールドの対応付けが不正です: " + line);
        pairs.push_back(std::move(p));
    }
    return pairs;
}

int fieldIndexOf(const std::vector<FieldDef>& fields, const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (sameName(fields[i].name, name))
            return static_cast<int>(i);
    return -1;
}

std::vector<int> resolveMappings(const std::vector<FieldPair>& pairs, const std::vector<FieldDef>& source,
                                 const std::vector<FieldDef>& destination) {
    std::vector<int> sourceOf(destination.size(), -1);
    bool any = false;
    if (pairs.empty()) {
        for (size_t i = 0; i < destination.size(); ++i) {
            sourceOf[i] = fieldIndexOf(source, destination[i].name);
            any = any || sourceOf[i] >= 0;
        }
    } else {
        for (const auto& p : pairs) {
            const int s = fieldIndexOf(source, p.source);
            if (s < 0)
                throw EngineError(ErrNotFound, "転送元にフィールド " + p.source + " がありません。");
            const int d = fieldIndexOf(destination, p.destination);
            if (d < 0)
                throw EngineError(ErrNotFound, "転送先にフィールド " + p.destination + " がありません。");
            if (sourceOf[d] >= 0)
                throw EngineError(ErrInvalidParam, "転送先のフィールド " + p.destination + " が二度対応付けられています。");
            sourceOf[d] = s;
            any = true;
        }
    }
    if (!any)
        throw EngineError(ErrInvalidParam, "転送元と転送先に対応するフィールドがありません。");
    return sourceOf;
}

std::vector<std::string> splitIndexFields(const std::string& fields) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= fields.size()) {
        size_t end = fields.find(';', start);
        if (end == std::string::npos)
            end = fields.size();
        std::string part = fields.substr(start, end - start);
        while (!part.empty() && part.front() == ' ') part.erase(0, 1);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (!part.empty())
            out.push_back(part);
        start = end + 1;
    }
    return out;
}

} // namespace vemo::engine
