// SQL text typed by a user on a STANDARD alias: the table-name scan returns only pieces of
// the text, and any statement run over the folder's tables (reads and writes through the
// virtual tables) either works or raises the engine's error, never faults.
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"
#include "engine/localsql/LocalSql.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

using namespace vemo::engine;

namespace {

Database& folder() {
    static std::unique_ptr<Database> db = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("fuzz-localsql-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::atexit([] {
            std::filesystem::remove_all(std::filesystem::temp_directory_path() / ("fuzz-localsql-" + std::to_string(::getpid())));
        });
        auto d = makeStandardDriver(localsql::LocalSql::factory())
                     ->connect("F", {{"PATH", dir.string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        FieldDef id{"ID", FieldType::Integer, 0, false, 6, 0, "N"};
        FieldDef name{"NAME", FieldType::String, 10, false, 0, 0, "C"};
        IndexDef byId{"ID", "ID", false, false, false, false, "", ""};
        d->createTable("T.DBF", {id, name}, {byId});
        auto c = d->openTable("T.DBF", {});
        for (int64_t i = 0; i < 20; ++i)
            c->insert({i, std::string("名前") + std::to_string(i)});
        return d;
    }();
    return *db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& name : localsql::tableNameCandidates(text))
        if (name.empty() || name.size() > text.size())
            __builtin_trap();
    try {
        auto c = folder().openQuery(text, {});
        Row row;
        RowId id;
        for (int64_t i = 0; i < 50 && c->read(i, row, id); ++i) {
        }
    } catch (const EngineError&) {
    }
    return 0;
}
