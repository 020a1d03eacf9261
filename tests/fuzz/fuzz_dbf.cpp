// Fuzzes the dBASE reader: the input becomes a table file (and its memo files), which is
// opened and read completely, in natural and in every index order.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& scratch() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-dbf-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        return std::filesystem::path(tmpl);
    }();
    return dir;
}

void put(const std::filesystem::path& p, const uint8_t* data, size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vemo::engine;
    const auto dir = scratch();
    // The same bytes serve as table, memo and index files, so their parsers (and the key
    // expressions found in them) see arbitrary data too.
    for (const char* name : {"F.DBF", "F.DBT", "F.FPT", "F.MDX", "F.NDX"})
        put(dir / name, data, size);
    try {
        auto format = standard::makeDbaseFormat();
        auto cursor = format->open(dir / "F.DBF", OpenOptions{false, true});
        Row row;
        RowId id;
        const int64_t n = cursor->count();
        for (int64_t i = 0; i < n + 1; ++i) {
            try {
                cursor->read(i, row, id);
            } catch (const EngineError&) {
            }
        }
        for (const auto& index : cursor->indexes()) {
            try {
                cursor->setOrder(index.name);
                for (int64_t i = 0; cursor->read(i, row, id); ++i) {
                }
            } catch (const EngineError&) {
            }
        }
    } catch (const EngineError&) {
    }
    return 0;
}
