#include "engine/contract/Database.h"
#include "engine/contract/Driver.h"
#include "engine/contract/EngineError.h"

#include <strings.h>

namespace vemo::engine {

std::vector<ProcParam> Database::procedureParams(const std::string& name) {
    throw EngineError(ErrNotFound, "ストアドプロシージャ " + name + " が見つかりません。");
}

std::unique_ptr<Cursor> Database::openQuery(const std::string&, const std::vector<QueryParam>&) {
    throw EngineError(ErrNotSupported, "このドライバは SQL を実行できません。");
}

RepairReport Database::repairTable(const std::string& name, bool) {
    throw EngineError(ErrNotSupported, "このデータベースのテーブル " + name + " は修復の対象ではありません。");
}

int64_t Database::executeSql(const std::string&, const std::vector<QueryParam>&) {
    throw EngineError(ErrNotSupported, "このドライバは SQL を実行できません。");
}

std::vector<QueryParam> Database::executeProcedure(const std::string& name, const std::vector<QueryParam>&, bool*) {
    throw EngineError(ErrNotFound, "ストアドプロシージャ " + name + " が見つかりません。");
}

std::string paramValue(const Params& params, const std::string& name) {
    for (const auto& [key, value] : params)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

} // namespace vemo::engine
