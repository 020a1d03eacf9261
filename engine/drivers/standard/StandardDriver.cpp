#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/StandardDatabase.h"

#include <strings.h>

namespace vemo::engine {
namespace {

class StandardDriver : public Driver {
public:
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
        return std::make_unique<standard::StandardDatabase>(path, def);
    }
};

} // namespace

std::unique_ptr<Driver> makeStandardDriver() { return std::make_unique<StandardDriver>(); }

} // namespace vemo::engine
