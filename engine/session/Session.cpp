#include "engine/session/Session.h"
#include "engine/session/EngineConfig.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <set>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vemo::engine {

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c -= 32;
    return s;
}

std::filesystem::path xdgDir(const char* variable, const char* fallback) {
    if (const char* v = std::getenv(variable); v && *v == '/')
        return v;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / fallback;
}

Params parseParamLines(const std::vector<std::string>& lines) {
    Params params;
    for (const auto& line : lines) {
        if (line.empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            throw EngineError(ErrInvalidParam, "パラメータは NAME=value の形で指定してください: " + line);
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        while (!value.empty() && value.back() == ' ') value.pop_back();
        params.emplace_back(std::move(key), std::move(value));
    }
    return params;
}

// Sets or adds each of `changes` in `params`, keeping the order of the existing ones.
void mergeParams(Params& params, const Params& changes) {
    for (const auto& change : changes) {
        auto it = std::find_if(params.begin(), params.end(),
                               [&](const auto& p) { return sameName(p.first, change.first); });
        if (it != params.end())
            it->second = change.second;
        else
            params.push_back(change);
    }
}

std::vector<std::string> paramLines(const Params& params) {
    std::vector<std::string> lines;
    for (const auto& [key, value] : params)
        lines.push_back(key + "=" + value);
    return lines;
}

// Holds an advisory lock beside the configuration file while it is re-read and replaced,
// so that two programs saving at once do not lose each other's aliases.
class ConfigLock {
public:
    explicit ConfigLock(const std::filesystem::path& file) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        fd_ = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~ConfigLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

struct Session::Impl {
    enum class ChangeKind { Add, Modify, Delete };
    struct Change {
        ChangeKind kind;
        AliasConfig alias;
        // Left unsaved when the session was restarted: the user chose not to save it, so a
        // later save of another change does not write it either.
        bool held = false;
    };

    std::filesystem::path configFile;
    std::vector<std::unique_ptr<Driver>> drivers;
    LoginCallback login;
    Params fileParams;
    std::function<void(const std::filesystem::path&)> sampleWriter;
    bool open = false;
    NoticeCallback notice;
    std::vector<std::string> unheard;   // notices given before anyone listened
    std::set<std::string> told;         // each notice once in the life of the session
    std::vector<AliasConfig> aliases;  // as the session sees them
    std::vector<Change> pending;        // not yet saved; re-applied by every open()
    std::map<std::string, std::shared_ptr<Database>> connections;
    // Connections dropped by close() or an alias change stay alive while datasets opened
    // through them may still use them.
    std::vector<std::shared_ptr<Database>> retired;

    AliasConfig* find(const std::string& name) {
        for (auto& a : aliases)
            if (sameName(a.name, name))
                return &a;
        return nullptr;
    }
    AliasConfig& require(const std::string& name) {
        if (AliasConfig* a = find(name))
            return *a;
        throw EngineError(ErrNoSuchAlias, "エイリアス " + name + " が見つかりません。");
    }
    Driver& driver(const std::string& name) {
        for (auto& d : drivers)
            if (sameName(d->name(), name))
                return *d;
        throw EngineError(ErrUnknownDriver, "ドライバ " + name + " がありません。");
    }
    void drop(const std::string& alias) {
        auto it = connections.find(upper(alias));
        if (it != connections.end()) {
            retired.push_back(std::move(it->second));
            connections.erase(it);
        }
    }

    static void apply(std::vector<AliasConfig>& list, const Change& c) {
        auto it = std::find_if(list.begin(), list.end(), [&](const AliasConfig& a) { return sameName(a.name, c.alias.name); });
        switch (c.kind) {
        case ChangeKind::Add:
            if (it != list.end()) *it = c.alias;
            else list.push_back(c.alias);
            break;
        case ChangeKind::Modify:
            if (it != list.end()) mergeParams(it->params, c.alias.params);
            break;
        case ChangeKind::Delete:
            if (it != list.end()) list.erase(it);
            break;
        }
    }

    std::vector<AliasConfig> sampleAliases() const {
        const auto data = defaultDataDir();
        return {
            AliasConfig{"VEMO32DEMO", "STANDARD", {{"PATH", (data / "demo").string()}, {"DEFAULT DRIVER", "PARADOX"}}},
            AliasConfig{"VEMO32SQLITE", "SQLITE", {{"DATABASE", (data / "demo.sqlite").string()}}},
        };
    }

    void writeSamples() {
        const auto data = defaultDataDir();
        std::error_code ec;
        std::filesystem::create_directories(data / "demo", ec);
        if (!sampleWriter)
            return;
        try {
            sampleWriter(data);
        } catch (const std::exception&) {
            // A driver that cannot write its sample yet leaves its alias empty, nothing more.
        }
    }

    void load() {
        ConfigLock lock(configFile);
        bool existed = false;
        std::vector<AliasConfig> list = readEngineConfig(configFile, existed);
        if (!existed) {
            list = sampleAliases();
            writeEngineConfig(configFile, list);
            writeSamples();
        }
        if (const std::string exposed = configExposure(configFile, list); !exposed.empty())
            tell(exposed);
        for (const auto& c : pending)
            apply(list, c);
        aliases = std::move(list);
    }

    void tell(const std::string& text) {
        if (!told.insert(text).second)
            return;
        if (notice)
            notice(text);
        else
            unheard.push_back(text);
    }
};

Session::Session(std::filesystem::path configFile) : d(std::make_unique<Impl>()) {
    d->configFile = std::move(configFile);
}

Session::~Session() = default;

std::filesystem::path Session::defaultConfigPath() { return xdgDir("XDG_CONFIG_HOME", ".config") / "vemo32" / "engine.cfg"; }
std::filesystem::path Session::defaultDataDir() { return xdgDir("XDG_DATA_HOME", ".local/share") / "vemo32"; }

void Session::registerDriver(std::unique_ptr<Driver> driver) { d->drivers.push_back(std::move(driver)); }
void Session::setLoginCallback(LoginCallback callback) { d->login = std::move(callback); }

void Session::setFileTableParams(Params params) {
    d->fileParams = std::move(params);
    for (auto it = d->connections.begin(); it != d->connections.end();) {
        if (!it->first.empty() && it->first[0] == '\x01') {
            d->retired.push_back(it->second);
            it = d->connections.erase(it);
        } else {
            ++it;
        }
    }
}

void Session::setNoticeCallback(NoticeCallback callback) {
    d->notice = std::move(callback);
    if (!d->notice)
        return;
    auto waiting = std::move(d->unheard);
    d->unheard.clear();
    for (const auto& text : waiting)
        d->notice(text);
}
void Session::setSampleWriter(std::function<void(const std::filesystem::path&)> writer) { d->sampleWriter = std::move(writer); }

void Session::open() {
    if (d->open)
        return;
    d->load();
    d->open = true;
}

void Session::close() {
    for (auto& c : d->pending)
        c.held = true;
    for (auto& [name, db] : d->connections)
        d->retired.push_back(std::move(db));
    d->connections.clear();
    d->aliases.clear();
    d->open = false;
}

bool Session::isOpen() const { return d->open; }

std::vector<std::string> Session::aliasNames() {
    open();
    std::vector<std::string> names;
    for (const auto& a : d->aliases)
        names.push_back(a.name);
    return names;
}

std::vector<std::string> Session::driverNames() {
    std::vector<std::string> names;
    for (const auto& drv : d->drivers)
        names.push_back(drv->name());
    std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return sameName(n, "STANDARD"); });
    return names;
}

std::vector<std::string> Session::tableNames(const std::string& alias, const std::string& pattern, bool extensions,
                                             bool systemTables) {
    return database(alias).tableNames(pattern, extensions, systemTables);
}

std::vector<std::string> Session::procedureNames(const std::string& alias) { return database(alias).procedureNames(); }

std::string Session::aliasDriver(const std::string& alias) {
    open();
    return d->require(alias).driver;
}

std::vector<std::string> Session::aliasParams(const std::string& alias) {
    open();
    return paramLines(d->require(alias).params);
}

std::vector<std::string> Session::driverDefaults(const std::string& driver) {
    return paramLines(d->driver(driver).defaultParams());
}

void Session::addAlias(const std::string& name, const std::string& driver, const std::vector<std::string>& params) {
    open();
    if (d->find(name))
        throw EngineError(ErrAliasExists, "エイリアス " + name + " はすでにあります。");
    Driver& drv = d->driver(driver);
    AliasConfig alias{name, drv.name(), drv.defaultParams()};
    mergeParams(alias.params, parseParamLines(params));
    validateAlias(alias);
    d->pending.push_back({Impl::ChangeKind::Add, alias});
    d->aliases.push_back(std::move(alias));
}

void Session::modifyAlias(const std::string& name, const std::vector<std::string>& params) {
    open();
    AliasConfig& alias = d->require(name);
    AliasConfig changed = alias;
    const Params changes = parseParamLines(params);
    mergeParams(changed.params, changes);
    validateAlias(changed);
    d->pending.push_back({Impl::ChangeKind::Modify, AliasConfig{alias.name, alias.driver, changes}});
    alias = std::move(changed);
    d->drop(name);
}

void Session::deleteAlias(const std::string& name) {
    open();
    AliasConfig& alias = d->require(name);
    d->pending.push_back({Impl::ChangeKind::Delete, AliasConfig{alias.name, alias.driver, {}}});
    d->aliases.erase(d->aliases.begin() + (&alias - d->aliases.data()));
    d->drop(name);
}

void Session::saveConfig() {
    open();
    ConfigLock lock(d->configFile);
    // Re-read so that aliases another program saved meanwhile survive our save.
    bool existed = false;
    std::vector<AliasConfig> list = readEngineConfig(d->configFile, existed);
    for (const auto& c : d->pending)
        if (!c.held)
            Impl::apply(list, c);
    writeEngineConfig(d->configFile, list);
    std::erase_if(d->pending, [](const Impl::Change& c) { return !c.held; });
    for (const auto& c : d->pending)
        Impl::apply(list, c);
    d->aliases = std::move(list);
}

Database& Session::database(const std::string& alias) {
    open();
    if (alias.empty())
        throw EngineError(ErrNoSuchAlias, "エイリアスが指定されていません。");
    const AliasConfig& config = d->require(alias);
    auto& slot = d->connections[upper(alias)];
    if (!slot) {
        try {
            slot = d->driver(config.driver).connect(config.name, config.params, d->login);
        } catch (...) {
            d->connections.erase(upper(alias));
            throw;
        }
        if (const std::string note = slot->connectionNotice(); !note.empty())
            d->tell(note);
    }
    return *slot;
}

Database& Session::databaseFor(const std::string& alias, const std::string& tableName, std::string& nameInDatabase) {
    if (!alias.empty()) {
        nameInDatabase = tableName;
        return database(alias);
    }
    open();
    if (tableName.empty())
        throw EngineError(ErrNotFound, "テーブル名が指定されていません。");
    const std::filesystem::path file = std::filesystem::absolute(tableName).lexically_normal();
    const std::string dir = file.parent_path().string();
    nameInDatabase = file.filename().string();
    // File connections are keyed by folder; the prefix cannot start an alias name.
    auto& slot = d->connections["\x01" + dir];
    if (!slot) {
        try {
            Params params{{"PATH", dir}};
            params.insert(params.end(), d->fileParams.begin(), d->fileParams.end());
            slot = d->driver("STANDARD").connect("", params, d->login);
        } catch (...) {
            d->connections.erase("\x01" + dir);
            throw;
        }
    }
    return *slot;
}

std::unique_ptr<Cursor> Session::openTable(const std::string& alias, const std::string& tableName,
                                           const OpenOptions& options) {
    std::string name;
    Database& db = databaseFor(alias, tableName, name);
    return db.openTable(name, options);
}

} // namespace vemo::engine
