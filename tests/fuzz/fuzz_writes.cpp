// Arbitrary bytes as a table with its companions, opened for writing, then a short random
// mix of inserts, updates, deletes and a repair: every step must end in a result or an
// engine error, never a crash or a hang.
//
// Input: one byte for the format (even: dBASE, odd: Paradox), then up to five files, each a
// 3-byte little-endian length and its bytes (the table, its memo or blob file, its main
// index, a second index file and its pair), then the writes, four bytes each.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFormat.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& workDir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-writes-XXXXXX").string();
        return std::filesystem::path(mkdtemp(tmpl.data()));
    }();
    return dir;
}

using namespace vemo::engine;

// A value for a field from a seed: sometimes null, otherwise of the field's kind.
Value valueFor(const FieldDef& f, uint16_t seed) {
    if (seed % 11 == 0)
        return Value();
    switch (f.type) {
    case FieldType::Boolean: return bool(seed & 1);
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word: case FieldType::AutoInc:
    case FieldType::LargeInt:
        return int64_t(seed) - 30000;
    case FieldType::Float: case FieldType::Currency: return double(seed) / 7.0;
    case FieldType::BCD: return Decimal{std::to_string(seed) + ".25"};
    case FieldType::Date: return Date{1990 + seed % 40, 1 + seed % 12, 1 + seed % 28};
    case FieldType::Time: return Time{int32_t(seed) * 1000};
    case FieldType::DateTime: return DateTime{Date{2000, 1 + seed % 12, 1 + seed % 28}, Time{int32_t(seed)}};
    case FieldType::Blob: case FieldType::Graphic: case FieldType::Bytes: case FieldType::VarBytes:
    case FieldType::TypedBinary: case FieldType::ParadoxOle: case FieldType::DBaseOle:
        return Bytes(size_t(seed % 700), uint8_t(seed));
    case FieldType::Memo: case FieldType::FmtMemo:
        return std::string(size_t(seed % 900), char('a' + seed % 26));
    default:
        return std::string("v") + std::to_string(seed);
    }
}

} // namespace

// Syncing to disk proves nothing here and costs most of the time.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("VEMO32_SYNC", "0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool dbase = (data[0] & 1) == 0;
    const char* names[5] = {"FUZZ.DBF", "FUZZ.DBT", "FUZZ.MDX", "FUZZ.NDX", "FUZZ.CDX"};
    const char* pxNames[5] = {"FUZZ.DB", "FUZZ.MB", "FUZZ.PX", "FUZZ.X02", "FUZZ.Y02"};
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(workDir(), ec))
        std::filesystem::remove_all(e.path(), ec);
    size_t at = 1;
    for (int i = 0; i < 5 && at + 3 <= size; ++i) {
        const size_t n = size_t(data[at]) | size_t(data[at + 1]) << 8 | size_t(data[at + 2]) << 16;
        at += 3;
        if (n == 0)
            continue;
        const size_t take = std::min(n, size - at);
        std::ofstream out(workDir() / (dbase ? names[i] : pxNames[i]), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + at), std::streamsize(take));
        at += take;
    }
    const auto table = workDir() / (dbase ? names[0] : pxNames[0]);
    if (!std::filesystem::exists(table, ec))
        return 0;
    auto format = dbase ? standard::makeDbaseFormat() : standard::makeParadoxFormat();
    try {
        auto cursor = format->open(table, OpenOptions{});
        std::vector<FieldDef> fields = cursor->fields();
        for (int op = 0; cursor && op < 12 && at + 4 <= size; ++op, at += 4) {
            const uint8_t kind = data[at] % 5, pos = data[at + 1];
            const uint16_t seed = uint16_t(data[at + 2] | data[at + 3] << 8);
            try {
                Row row(fields.size()), before;
                for (size_t f = 0; f < fields.size(); ++f)
                    row[f] = valueFor(fields[f], uint16_t(seed + f * 131));
                RowId id;
                if (kind == 0) {
                    cursor->insert(row);
                } else if (kind == 1 || kind == 2) {
                    if (!cursor->read(pos % (cursor->count() + 1), before, id))
                        continue;
                    if (kind == 1)
                        cursor->update(id, before, row);
                    else
                        cursor->remove(id, before);
                } else if (kind == 3) {
                    cursor->refresh();
                    for (int64_t i = 0; i < 2000 && cursor->read(i, before, id); ++i) {
                    }
                } else {
                    cursor.reset();
                    (void)format->repair(table, standard::RepairMode::Full);
                    cursor = format->open(table, OpenOptions{});
                    fields = cursor->fields();
                }
            } catch (const EngineError&) {
            }
        }
    } catch (const EngineError&) {
    }
    return 0;
}
