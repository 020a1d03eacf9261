// SQL text typed by a user and column text sent by a server: the ":NAME" parameter scan
// finds every name it later binds, the rewritten statement either prepares or raises the
// engine's error, the live-result shape test holds, and server text converts to a value of any field type without faulting.
#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlParams.h"
#include "engine/drivers/sqlcommon/SqlShape.h"
#include "engine/drivers/sqlite/SqliteConnection.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

using namespace vemo::engine;
using namespace vemo::engine::sql;

namespace {

// A real database file, made once, so that statements are prepared as a user's would be.
SqliteConnection& connection() {
    static std::unique_ptr<SqliteConnection> conn = [] {
        const std::string path = (std::filesystem::temp_directory_path() / ("fuzz-sqltext-" + std::to_string(::getpid()) + ".db")).string();
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT, \"顧客\" DATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        auto c = std::make_unique<SqliteConnection>(path, true, 100);
        std::atexit([] { std::filesystem::remove(std::filesystem::temp_directory_path() / ("fuzz-sqltext-" + std::to_string(::getpid()) + ".db")); });
        return c;
    }();
    return *conn;
}

const FieldType kTypes[] = {FieldType::String, FieldType::Integer, FieldType::LargeInt, FieldType::Float,
                            FieldType::Currency, FieldType::BCD, FieldType::Boolean, FieldType::Date,
                            FieldType::Time, FieldType::DateTime, FieldType::Blob, FieldType::Unknown};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    for (FieldType type : kTypes) {
        FieldDef field;
        field.type = type;
        Value slot = std::string("previous");
        assignFromText(slot, text, field);
        (void)valueToText(slot, type);
    }

    const std::vector<std::string> names = namedParams(text);
    std::vector<QueryParam> params;
    for (const auto& name : names) {
        if (name.empty())
            __builtin_trap();
        params.push_back({name, FieldType::Integer, int64_t{1}});
    }
    std::vector<Value> values;
    std::string bound;
    try {
        bound = bindNamedParams(text, params, connection(), values);
    } catch (const EngineError&) {
        __builtin_trap(); // every name was given a value
    }
    if (values.size() < names.size())
        __builtin_trap();
    try {
        connection().describe(bound, values);
    } catch (const EngineError&) {
    }
    // The shape test of live results: the select list starts inside the text, a table is
    // named, and the sources of the columns are asked without faulting.
    if (const auto shape = oneTableSelect(bound)) {
        if (shape->listStart > bound.size() || shape->table.empty() || shape->table.size() > 2)
            __builtin_trap();
        try {
            for (const auto& source : connection().columnSources(bound, values))
                if (source.table.empty() != source.column.empty())
                    __builtin_trap();
        } catch (const EngineError&) {
        }
    }
    return 0;
}
