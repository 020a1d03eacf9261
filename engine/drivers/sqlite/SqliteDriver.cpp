// Placeholder until this part of the engine lands; it reports itself as unavailable.
#include "engine/EngineError.h"
#include "engine/Drivers.h"
#include "engine/SampleData.h"
namespace vemo::engine {
std::unique_ptr<Driver> makeSqliteDriver() { throw EngineError(ErrNotSupported, "SQLITE driver not available"); }
void writeSqliteSample(const std::filesystem::path&) { throw EngineError(ErrNotSupported, "SQLITE driver not available"); }
}
