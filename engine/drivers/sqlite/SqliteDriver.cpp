#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteDatabase.h"

#include <strings.h>

namespace vemo::engine {

namespace {

class SqliteDriver : public Driver {
public:
    std::string name() const override { return "SQLITE"; }
    Params defaultParams() const override {
        return {{"DATABASE", ""}, {"OPEN MODE", "READ/WRITE"}, {"BUSY TIMEOUT", "5000"}};
    }
    std::unique_ptr<Database> connect(const std::string&, const Params& params, const LoginCallback&) override {
        std::string mode = paramValue(params, "OPEN MODE");
        bool readOnly = false;
        if (strcasecmp(mode.c_str(), "READ ONLY") == 0)
            readOnly = true;
        else if (!mode.empty() && strcasecmp(mode.c_str(), "READ/WRITE") != 0)
            throw EngineError(ErrInvalidParam, "OPEN MODE には READ/WRITE か READ ONLY を指定してください: " + mode);
        std::string timeout = paramValue(params, "BUSY TIMEOUT");
        int ms = 5000;
        if (!timeout.empty()) {
            auto v = sql::parseInt(timeout);
            if (!v || *v < 0 || *v > 3600000)
                throw EngineError(ErrInvalidParam, "BUSY TIMEOUT はミリ秒の数で指定してください: " + timeout);
            ms = static_cast<int>(*v);
        }
        return std::make_unique<sql::SqliteDatabase>(paramValue(params, "DATABASE"), readOnly, ms);
    }
};

} // namespace

std::unique_ptr<Driver> makeSqliteDriver() { return std::make_unique<SqliteDriver>(); }

} // namespace vemo::engine
