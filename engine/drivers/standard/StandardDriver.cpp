#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/StandardDatabase.h"
#include "engine/drivers/standard/StandardSql.h"

#include <strings.h>

namespace vemo::engine {
namespace {

class StandardDriver : public Driver {
public:
    explicit StandardDriver(standard::StandardSqlFactory sql) : sql_(std::move(sql)) {}
    std::string name() const override { return "STANDARD"; }
    Params defaultParams() const override { return {{"PATH", ""}, {"DEFAULT DRIVER", "PARADOX"}}; }

    std::unique_ptr<Database> connect(const std::string& alias, const Params& params, const LoginCallback&) override {
        const std::string path = paramValue(params, "PATH");
        const std::string label = alias.empty() ? path : alias;
        if (path.empty())
            throw EngineError(ErrInvalidParam, "エイリアス " + label + " のパス (PATH) が設定されていません。");
        std::error_code ec;
        if (!std::filesystem::is_directory(path, ec))
            throw EngineError(ErrNotFound, "ディレクトリが見つかりません: " + path);
        std::string def = paramValue(params, "DEFAULT DRIVER");
        if (def.empty())
            def = "PARADOX";
        if (strcasecmp(def.c_str(), "PARADOX") != 0 && strcasecmp(def.c_str(), "DBASE") != 0)
            throw EngineError(ErrInvalidParam, "DEFAULT DRIVER は PARADOX か DBASE です: " + def);
        return std::make_unique<standard::StandardDatabase>(path, def, sql_);
    }

private:
    standard::StandardSqlFactory sql_;
};

} // namespace

std::unique_ptr<Driver> makeStandardDriver(standard::StandardSqlFactory sql) {
    return std::make_unique<StandardDriver>(std::move(sql));
}

} // namespace vemo::engine
