// SQL text typed in the SQL window: the parameter scan stays inside the text, occurrences
// come in order without overlapping, every one is bound, and the text rewritten for the
// driver goes through the driver's own scan without faulting.
#include "engine/dataset/Query.h"
#include "engine/dataset/QueryParams.h"
#include "engine/drivers/sqlcommon/SqlParams.h"
#include "engine/session/Session.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace vemo::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string sql(reinterpret_cast<const char*>(data), size);
    const auto occ = scanParamOccurrences(sql);
    size_t at = 0;
    for (const auto& p : occ) {
        if (p.begin < at || p.end <= p.begin || p.end > sql.size() || sql[p.begin] != ':' || p.name.empty())
            std::abort();
        at = p.end;
    }
    const auto names = distinctParamNames(sql);
    if (names.size() > occ.size())
        std::abort();
    (void)isSelectStatement(sql);

    static Session session(std::filesystem::temp_directory_path() / "fuzz-queryparams-unused.cfg");
    Query q(session);
    q.setSql(sql);
    if (q.paramCount() != static_cast<int>(occ.size()))
        std::abort();
    for (const auto& n : names)
        q.setParamText(n, "v");
    if (q.driverParams().size() != occ.size())
        std::abort();
    (void)sql::namedParams(q.driverSql());
    return 0;
}
