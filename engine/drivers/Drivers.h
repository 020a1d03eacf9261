#pragma once
#include "engine/contract/Driver.h"
#include "engine/drivers/standard/StandardSql.h"

#include <memory>

namespace vemo::engine {

class Session;

// engine/drivers/standard; without sql its databases run no SQL (registerBuiltinDrivers
// hands it the local SQL engine).
std::unique_ptr<Driver> makeStandardDriver(standard::StandardSqlFactory sql = {});
std::unique_ptr<Driver> makeSqliteDriver();     // engine/drivers/sqlite
std::unique_ptr<Driver> makePostgresDriver();   // engine/drivers/postgres

// Registers STANDARD, SQLITE and POSTGRESQL with a session, in that order.
void registerBuiltinDrivers(Session& session);

} // namespace vemo::engine
