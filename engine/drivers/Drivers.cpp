#include "engine/Drivers.h"

namespace vemo::engine {

void registerBuiltinDrivers(Session& session) {
    session.registerDriver(makeStandardDriver());
    session.registerDriver(makeSqliteDriver());
    session.registerDriver(makePostgresDriver());
}

} // namespace vemo::engine
