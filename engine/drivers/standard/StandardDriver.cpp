// Placeholder until this part of the engine lands; it reports itself as unavailable.
#include "engine/EngineError.h"
#include "engine/Drivers.h"
namespace vemo::engine {
std::unique_ptr<Driver> makeStandardDriver() { throw EngineError(ErrNotSupported, "STANDARD driver not available"); }
}
