// Arbitrary bytes as a Paradox table (and, from a split point, as its blob file): opening
// and reading every record must end in records or an engine error, nothing else. Tables
// protected by the password "fuzz" are read through it.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& workDir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-paradox-XXXXXX").string();
        return std::filesystem::path(mkdtemp(tmpl.data()));
    }();
    return dir;
}

void writeFile(const std::filesystem::path& p, const uint8_t* data, size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vemo::engine;
    const auto db = workDir() / "FUZZ.DB";
    const auto mb = workDir() / "FUZZ.MB";
    // The last two bytes say where the blob file starts, when there is one.
    size_t split = size;
    if (size > 2) {
        const size_t at = (size_t(data[size - 2]) << 8 | data[size - 1]) * 16;
        if (at < size - 2) split = at;
    }
    writeFile(db, data, split);
    std::error_code ec;
    std::filesystem::remove(mb, ec);
    if (split < size) writeFile(mb, data + split, size - 2 - split);
    try {
        // Protected seeds use this password, so the scrambled blocks are read too.
        standard::TableSettings settings;
        settings.password = "fuzz";
        auto format = standard::makeParadoxFormat(settings);
        OpenOptions options;
        options.readOnly = true;
        auto cursor = format->open(db, options);
        (void)cursor->indexes();
        Row row;
        RowId id;
        const int64_t n = cursor->count();
        for (int64_t i = 0; i < n && i < 100000 && cursor->read(i, row, id); ++i) {
        }
        (void)cursor->readOnlyReason();
    } catch (const EngineError&) {
    }
    return 0;
}
