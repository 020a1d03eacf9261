#include "engine/drivers/sqlcommon/SqlParams.h"

#include "engine/contract/EngineError.h"

#include <algorithm>
#include <functional>
#include <strings.h>

namespace vemo::engine::sql {

namespace {

bool nameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Calls onName for each parameter; copies every other character to out.
void scan(const std::string& sql, std::string& out, const std::function<void(const std::string&)>& onName) {
    size_t i = 0;
    const size_t n = sql.size();
    auto copyUntil = [&](size_t end) {
        out.append(sql, i, end - i);
        i = end;
    };
    while (i < n) {
        char c = sql[i];
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            copyUntil(std::min(n, j + 1));
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            size_t j = sql.find('\n', i);
            copyUntil(j == std::string::npos ? n : j);
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            size_t j = sql.find("*/", i + 2);
            copyUntil(j == std::string::npos ? n : j + 2);
        } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
            copyUntil(i + 2);
        } else if (c == ':' && i + 1 < n && nameChar(sql[i + 1]) && (i == 0 || !nameChar(sql[i - 1]))) {
            size_t j = i + 1;
            while (j < n && nameChar(sql[j]))
                ++j;
            onName(sql.substr(i + 1, j - i - 1));
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
}

} // namespace

std::string bindNamedParams(const std::string& sql, const std::vector<QueryParam>& params,
                            const SqlConnection& connection, std::vector<Value>& values) {
    std::string out;
    scan(sql, out, [&](const std::string& name) {
        auto it = std::find_if(params.begin(), params.end(),
                               [&](const QueryParam& p) { return strcasecmp(p.name.c_str(), name.c_str()) == 0; });
        if (it == params.end())
            throw EngineError(ErrInvalidParam, "パラメータ " + name + " の値がありません。");
        values.push_back(it->value);
        out += connection.placeholder(static_cast<int>(values.size()));
    });
    return out;
}

std::vector<std::string> namedParams(const std::string& sql) {
    std::vector<std::string> names;
    std::string ignored;
    scan(sql, ignored, [&](const std::string& name) {
        if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return strcasecmp(n.c_str(), name.c_str()) == 0; }))
            names.push_back(name);
    });
    return names;
}

} // namespace vemo::engine::sql
