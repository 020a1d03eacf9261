// Arbitrary bytes as a Paradox table with its companions: opening it, reading every record
// in every order and searching each order must end in records or an engine error, nothing
// else. An input starting "PXSET" holds several files, each as a kind byte (D table, M blob
// file, P primary index, X/Y a single-field index pair, x/y a composite pair), a 32-bit
// little-endian length and the bytes; any other input is the table, its last two bytes
// telling where a blob file starts in it. Tables protected by the password "fuzz" are
// read through it.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
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
    static const std::pair<char, const char*> companions[] = {
        {'M', "FUZZ.MB"}, {'P', "FUZZ.PX"}, {'X', "FUZZ.X02"}, {'Y', "FUZZ.Y02"}, {'x', "FUZZ.XG0"}, {'y', "FUZZ.YG0"}};
    std::error_code ec;
    for (const auto& [kind, name] : companions) std::filesystem::remove(workDir() / name, ec);
    if (size >= 5 && std::memcmp(data, "PXSET", 5) == 0) {
        std::filesystem::remove(db, ec);
        size_t at = 5;
        while (at + 5 <= size) {
            const char kind = char(data[at]);
            const size_t len = std::min<size_t>(size - at - 5, size_t(data[at + 1]) | size_t(data[at + 2]) << 8 |
                                                                   size_t(data[at + 3]) << 16 | size_t(data[at + 4]) << 24);
            const uint8_t* bytes = data + at + 5;
            at += 5 + len;
            if (kind == 'D') writeFile(db, bytes, len);
            for (const auto& [k, name] : companions)
                if (k == kind) writeFile(workDir() / name, bytes, len);
        }
        if (!std::filesystem::exists(db, ec)) return 0;
    } else {
        // The last two bytes say where the blob file starts, when there is one.
        size_t split = size;
        if (size > 2) {
            const size_t at = (size_t(data[size - 2]) << 8 | data[size - 1]) * 16;
            if (at < size - 2) split = at;
        }
        writeFile(db, data, split);
        if (split < size) writeFile(mb, data + split, size - 2 - split);
    }
    try {
        // Protected seeds use this password, so the scrambled blocks are read too.
        standard::TableSettings settings;
        settings.password = "fuzz";
        auto format = standard::makeParadoxFormat(settings);
        OpenOptions options;
        options.readOnly = true;
        auto cursor = format->open(db, options);
        Row row, first;
        RowId id;
        for (const auto& ix : cursor->indexes()) {
            cursor->setOrder(ix.name);
            const int64_t n = cursor->count();
            for (int64_t i = 0; i < n && i < 100000 && cursor->read(i, row, id); ++i) {
                if (i == 0) first = row;
                if (i == n / 2) (void)cursor->positionOf(id);
            }
            // A search by the leading field's value of the first record, and by nothing.
            try {
                Row key;
                const auto fields = cursor->fields();
                for (size_t f = 0; f < fields.size() && f < first.size(); ++f)
                    if (ix.fields.rfind(fields[f].name, 0) == 0) key = {first[f]};
                (void)cursor->seek(key);
                (void)cursor->seek({});
            } catch (const EngineError&) {
            }
        }
        (void)cursor->readOnlyReason();
    } catch (const EngineError&) {
    }
    return 0;
}
