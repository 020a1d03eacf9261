// Placeholder until this part of the engine lands; it reports itself as unavailable.
#include "engine/EngineError.h"
#include "engine/Drivers.h"
namespace vemo::engine {
std::unique_ptr<Driver> makePostgresDriver() { throw EngineError(ErrNotSupported, "POSTGRESQL driver not available"); }
}
