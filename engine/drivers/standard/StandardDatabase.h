#pragma once
// The STANDARD driver's database: a directory of Paradox (.DB) and dBASE (.DBF) tables.
#include "engine/contract/Database.h"
#include "engine/drivers/standard/StandardSql.h"
#include "engine/drivers/standard/TableFormat.h"

#include <filesystem>
#include <memory>
#include <string>

namespace vemo::engine::standard {

class StandardDatabase : public Database {
public:
    // defaultDriver: "PARADOX" or "DBASE", the type of a table named without extension.
    // sql runs the statements of openQuery and executeSql; without it they are not supported.
    // settings: the code page and password rules of the alias's table files.
    StandardDatabase(std::filesystem::path directory, std::string defaultDriver, StandardSqlFactory sql = {},
                     TableSettings settings = {});
    ~StandardDatabase() override;

    std::string driverName() const override { return "STANDARD"; }
    std::vector<std::string> tableNames(const std::string& pattern, bool extensions, bool systemTables) override;
    std::unique_ptr<Cursor> openTable(const std::string& name, const OpenOptions& options) override;
    void createTable(const std::string& name, const std::vector<FieldDef>& fields,
                     const std::vector<IndexDef>& indexes) override;
    void deleteTable(const std::string& name) override;
    void renameTable(const std::string& oldName, const std::string& newName) override;
    std::unique_ptr<Cursor> openQuery(const std::string& sql, const std::vector<QueryParam>& params) override;
    int64_t executeSql(const std::string& sql, const std::vector<QueryParam>& params) override;
    RepairReport repairTable(const std::string& name, bool apply) override;

    const std::filesystem::path& directory() const { return dir_; }

private:
    struct Resolved {
        std::filesystem::path file;
        TableFormat* format = nullptr;
    };
    TableFormat& format(bool dbase);
    StandardSql& sql();
    // The file of an existing table; ErrNotFound when there is none.
    Resolved resolveExisting(const std::string& name);
    // Where a new table of that name goes, and in which format.
    Resolved resolveNew(const std::string& name);

    std::filesystem::path dir_;
    bool defaultDbase_;
    std::unique_ptr<TableFormat> dbase_, paradox_;
    StandardSqlFactory sqlFactory_;
    TableSettings settings_;
    std::unique_ptr<StandardSql> sql_; // made on the first statement
};

// Finds a file in dir whose name equals name ignoring case; empty when none.
std::filesystem::path findFileNoCase(const std::filesystem::path& dir, const std::string& name);

} // namespace vemo::engine::standard
