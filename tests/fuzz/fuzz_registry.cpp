// Fuzzes the settings store's file parser: any input either fails cleanly or parses into
// data that writes back and re-parses to exactly the same data.
#include "shell/RegistryFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const auto parsed = vemo::shell::parseRegistryText(bytes, &error);
    if (!parsed) {
        if (error.isEmpty())
            std::abort(); // a rejection always says why
        return 0;
    }
    const auto again = vemo::shell::parseRegistryText(vemo::shell::serializeRegistry(*parsed), &error);
    if (!again || !(*again == *parsed))
        std::abort();
    return 0;
}
