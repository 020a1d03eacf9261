#pragma once
// SQL over the tables of a STANDARD database. The driver itself has no SQL: the engine that
// runs it (engine/localsql/) sits above the drivers and is handed to the driver when the
// built-in drivers are registered.
#include "engine/contract/Database.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::standard {

class StandardSql {
public:
    virtual ~StandardSql() = default;
    virtual std::unique_ptr<Cursor> openQuery(const std::string& sql, const std::vector<QueryParam>& params) = 0;
    virtual int64_t executeSql(const std::string& sql, const std::vector<QueryParam>& params) = 0;
};

// Makes the SQL engine of one database; the database outlives it.
using StandardSqlFactory = std::function<std::unique_ptr<StandardSql>(Database& tables)>;

} // namespace vemo::engine::standard
