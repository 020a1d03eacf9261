#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/StandardDatabase.h"
#include "engine/drivers/standard/StandardSql.h"

#include "engine/values/Codepage.h"

#include <strings.h>

namespace vemo::engine {

standard::TableSettings tableSettingsFromParams(const Params& params, const std::string& label, const LoginCallback& login) {
    standard::TableSettings s;
    const std::string driver = paramValue(params, "LANGDRIVER");
    if (!driver.empty()) {
        const int cp = languageDriverCodepage(driver);
        if (cp == 0)
            throw EngineError(ErrInvalidParam, "LANGDRIVER はコードページ番号か言語ドライバ名です: " + driver);
        if (!codepageConvertible(cp))
            throw EngineError(ErrInvalidParam, "LANGDRIVER のコードページ " + std::to_string(cp) + " はこのシステムで変換できません");
        s.defaultCodepage = cp;
    }
    const std::string force = paramValue(params, "FORCE LANGDRIVER");
    if (strcasecmp(force.c_str(), "TRUE") == 0) {
        if (driver.empty())
            throw EngineError(ErrInvalidParam, "FORCE LANGDRIVER には LANGDRIVER の指定が必要です");
        s.forcedCodepage = s.defaultCodepage;
    } else if (!force.empty() && strcasecmp(force.c_str(), "FALSE") != 0) {
        throw EngineError(ErrInvalidParam, "FORCE LANGDRIVER は TRUE か FALSE です: " + force);
    }
    s.password = paramValue(params, "PASSWORD");
    if (login)
        s.askPassword = [login, label](const std::string& table, std::string& password) {
            std::string user = table;
            return login(label, user, password);
        };
    return s;
}

namespace {

class StandardDriver : public Driver {
public:
    explicit StandardDriver(standard::StandardSqlFactory sql) : sql_(std::move(sql)) {}
    std::string name() const override { return "STANDARD"; }
    Params defaultParams() const override {
        return {{"PATH", ""}, {"DEFAULT DRIVER", "PARADOX"}, {"LANGDRIVER", "932"}};
    }

    std::unique_ptr<Database> connect(const std::string& alias, const Params& params, const LoginCallback& login) override {
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
        return std::make_unique<standard::StandardDatabase>(path, def, sql_, tableSettingsFromParams(params, label, login));
    }

private:
    standard::StandardSqlFactory sql_;
};

} // namespace

std::unique_ptr<Driver> makeStandardDriver(standard::StandardSqlFactory sql) {
    return std::make_unique<StandardDriver>(std::move(sql));
}

} // namespace vemo::engine
