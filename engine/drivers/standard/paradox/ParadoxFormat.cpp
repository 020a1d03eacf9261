// Placeholder until this part of the engine lands; it reports itself as unavailable.
#include "engine/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"
#include "engine/SampleData.h"
namespace vemo::engine {
namespace standard { std::unique_ptr<TableFormat> makeParadoxFormat() { throw EngineError(ErrNotSupported, "Paradox not available"); } }
void writeParadoxSample(const std::filesystem::path&) { throw EngineError(ErrNotSupported, "Paradox not available"); }
}
