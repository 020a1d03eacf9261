#pragma once
#include "engine/contract/Driver.h"

#include <memory>

namespace vemo::engine {

class Session;

std::unique_ptr<Driver> makeStandardDriver();   // engine/drivers/standard
std::unique_ptr<Driver> makeSqliteDriver();     // engine/drivers/sqlite
std::unique_ptr<Driver> makePostgresDriver();   // engine/drivers/postgres

// Registers STANDARD, SQLITE and POSTGRESQL with a session, in that order.
void registerBuiltinDrivers(Session& session);

} // namespace vemo::engine
