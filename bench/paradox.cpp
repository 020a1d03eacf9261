// Benchmark of Paradox tables through the engine's dataset, as the windows use them.
//   bench_paradox make FILE N     a keyed table of N records
//   bench_paradox run FILE CSV    timings (ms) and memory (kB), one "name value" a line
#include "BenchTiming.h"
#include "engine/export/CsvExport.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace vemo::engine;

namespace {

using bench::msSince;

long rssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

FieldDef field(const std::string& name, FieldType type, int size = 0) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

int make(const std::filesystem::path& file, int64_t n) {
    IndexDef pk;
    pk.primary = true;
    pk.fields = "ID";
    paradox::createParadoxTable(file, {field("ID", FieldType::Integer), field("NAME", FieldType::String, 20),
                                       field("CITY", FieldType::String, 12), field("AMOUNT", FieldType::Currency),
                                       field("DAY", FieldType::Date), field("QTY", FieldType::Smallint)},
                                {pk});
    static const char* cities[] = {"東京", "大阪", "名古屋", "札幌", "福岡", "仙台", "広島", "京都", "神戸", "横浜"};
    paradox::PxCursor c(file, OpenOptions{});
    c.setDeferIndexWrites(true);
    for (int64_t i = 0; i < n; ++i) {
        c.insert({int64_t(i + 1), std::string("顧客") + std::to_string(i), std::string(cities[i % 10]),
                  double(i) * 1.25, Date{int32_t(2000 + i % 25), int32_t(1 + i % 12), int32_t(1 + i % 28)},
                  int64_t(i % 100)});
    }
    c.flushIndexes();
    return 0;
}

int run(const std::filesystem::path& file, const std::string& csv) {
    const auto config = std::filesystem::temp_directory_path() / "bench-paradox-engine.cfg";
    Session session(config);
    registerBuiltinDrivers(session);
    Row row;
    {
        auto t = std::chrono::steady_clock::now();
        Table table(session);
        table.setTableName(file.string());
        table.open();
        for (int i = 0; i < 50; ++i) table.rowAt(i, row);
        std::printf("open_first50_ms %.2f\n", msSince(t));
        std::printf("rss_open_kb %ld\n", rssKb());
        t = std::chrono::steady_clock::now();
        table.last();
        std::string last = table.fieldText(0);
        std::printf("last_ms %.2f\n", msSince(t));
        t = std::chrono::steady_clock::now();
        const int64_t count = table.recordCount();
        std::printf("count_ms %.2f\n", msSince(t));
        std::printf("count %lld last_id %s\n", static_cast<long long>(count), last.c_str());
        t = std::chrono::steady_clock::now();
        table.setFilter("QTY = 7");
        table.setFiltered(true);
        const int64_t matched = table.recordCount();
        std::printf("filter_ms %.2f\n", msSince(t));
        std::printf("filter_count %lld\n", static_cast<long long>(matched));
        table.setFiltered(false);
        t = std::chrono::steady_clock::now();
        exportCsv(table, csv);
        std::printf("export_ms %.2f\n", msSince(t));
        std::printf("rss_end_kb %ld\n", rssKb());
    }
    std::filesystem::remove(config);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "make") == 0) return make(argv[2], std::atoll(argv[3]));
        if (argc == 4 && std::strcmp(argv[1], "run") == 0) return run(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_paradox make FILE N | run FILE CSV\n");
    return 2;
}
