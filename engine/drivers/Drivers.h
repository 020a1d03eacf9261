#pragma once
#include "engine/contract/Driver.h"
#include "engine/drivers/standard/StandardSql.h"
#include "engine/drivers/standard/TableSettings.h"

#include <memory>

namespace vemo::engine {

class Session;

// engine/drivers/standard; without sql its databases run no SQL (registerBuiltinDrivers
// hands it the local SQL engine).
std::unique_ptr<Driver> makeStandardDriver(standard::StandardSqlFactory sql = {});
// The STANDARD alias parameters LANGDRIVER (code page of tables whose header names none),
// FORCE LANGDRIVER (TRUE: of every table) and PASSWORD (of protected Paradox tables; without
// it, or when it is wrong, login is asked with the table's file name as the user name).
// Throws ErrInvalidParam for a code page this system cannot convert.
standard::TableSettings tableSettingsFromParams(const Params& params, const std::string& label, const LoginCallback& login);
std::unique_ptr<Driver> makeSqliteDriver();     // engine/drivers/sqlite
std::unique_ptr<Driver> makePostgresDriver();   // engine/drivers/postgres

// Registers STANDARD, SQLITE and POSTGRESQL with a session, in that order.
void registerBuiltinDrivers(Session& session);

} // namespace vemo::engine
