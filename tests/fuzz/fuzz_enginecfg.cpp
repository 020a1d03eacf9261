// The alias configuration file from anywhere: it parses or raises the engine's error, and
// what parses formats back to text that parses to the same aliases.
#include "engine/session/EngineConfig.h"
#include "engine/contract/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace vemo::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<AliasConfig> aliases;
    try {
        aliases = parseEngineConfig(text);
    } catch (const EngineError& e) {
        if (e.code() != ErrCorruptFile)
            __builtin_trap();
        return 0;
    }
    const auto again = parseEngineConfig(formatEngineConfig(aliases));
    if (again.size() != aliases.size())
        __builtin_trap();
    for (size_t i = 0; i < again.size(); ++i)
        if (again[i].name != aliases[i].name || again[i].driver != aliases[i].driver || again[i].params != aliases[i].params)
            __builtin_trap();
    return 0;
}
