#pragma once
// The engine session: aliases from engine.cfg, drivers, and one connection per alias.
#include "engine/contract/Driver.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine {

class Session {
public:
    // A session over the given configuration file. No drivers yet: see registerDriver and
    // engine/Drivers.h (registerBuiltinDrivers).
    explicit Session(std::filesystem::path configFile);
    ~Session();

    // The process-wide session: $XDG_CONFIG_HOME/vemo32/engine.cfg with every built-in
    // driver; a missing file is created with the sample aliases and their data.
    static Session& global();
    static std::filesystem::path defaultConfigPath();
    static std::filesystem::path defaultDataDir(); // $XDG_DATA_HOME/vemo32

    void registerDriver(std::unique_ptr<Driver> driver);
    void setLoginCallback(LoginCallback callback);
    // Parameters of the STANDARD driver for tables opened as files (an empty alias), beside
    // the folder: LANGDRIVER, FORCE LANGDRIVER, PASSWORD. Drops the file connections made so far.
    void setFileTableParams(Params params);
    // Warnings the user should hear that are no error: the configuration file readable by
    // others while it holds a password, a server connection that is not encrypted. Each is
    // given once; those given before a callback is set are handed to it when it is.
    using NoticeCallback = std::function<void(const std::string& text)>;
    void setNoticeCallback(NoticeCallback callback);
    // Writes the sample tables into a data folder; called when open() finds no configuration
    // file and creates the sample aliases. Errors it throws leave the aliases in place.
    void setSampleWriter(std::function<void(const std::filesystem::path& dataDir)> writer);

    // Opening reads the configuration file; closing drops every connection. Aliases
    // added, changed or deleted without saving are kept for the life of this object.
    void open();
    void close();
    bool isOpen() const;

    std::vector<std::string> aliasNames();                 // in configuration order
    std::vector<std::string> driverNames();                // "STANDARD" first
    std::vector<std::string> tableNames(const std::string& alias, const std::string& pattern,
                                        bool extensions, bool systemTables);
    std::vector<std::string> procedureNames(const std::string& alias);
    std::string aliasDriver(const std::string& alias);
    std::vector<std::string> aliasParams(const std::string& alias);     // "NAME=value" lines
    std::vector<std::string> driverDefaults(const std::string& driver); // "NAME=value" lines

    // Alias editing, in the session until saveConfig writes the file (atomically).
    // Parameter lines are "NAME=value"; missing parameters take the driver's defaults.
    void addAlias(const std::string& name, const std::string& driver, const std::vector<std::string>& params);
    void modifyAlias(const std::string& name, const std::vector<std::string>& params);
    void deleteAlias(const std::string& name);
    void saveConfig();

    // The connection of an alias, made on first use. An empty alias is not valid here:
    // see openTable.
    Database& database(const std::string& alias);

    // Opens a table of an alias, or with an empty alias the table file at path tableName.
    std::unique_ptr<Cursor> openTable(const std::string& alias, const std::string& tableName,
                                      const OpenOptions& options);
    // The database a table lives in (the file's directory for an empty alias), and the
    // table's name inside it.
    Database& databaseFor(const std::string& alias, const std::string& tableName, std::string& nameInDatabase);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vemo::engine
