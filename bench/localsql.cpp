// Local SQL benchmark: one statement over the generated dBASE tables of a folder, through the
// STANDARD driver's embedded SQL. Prints "NAME MS ms rows R" for the statement (and, for
// lookup, a second lookup on the warm connection).
// Usage: bench_localsql DIR setup | bench_localsql DIR groupby|lookup|join|update|open
#include "BenchTiming.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/localsql/LocalSql.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <iostream>

using namespace vemo::engine;

namespace {

using bench::msSince;

// The process's processor time so far, in ms: on a busy machine it varies far less than the
// elapsed time.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

int64_t rowsOf(Cursor& c) {
    int64_t n = 0;
    c.scan([&](const Row&) { ++n; return true; });
    return n;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bench_localsql DIR setup|groupby|lookup|join|update|open\n";
        return 2;
    }
    const std::string dir = argv[1], op = argv[2];
    try {
        auto db = makeStandardDriver(localsql::LocalSql::factory())
                      ->connect("B", {{"PATH", dir}, {"DEFAULT DRIVER", "DBASE"}}, {});
        if (op == "setup") {
            // An index on BENCH.ID and a 100,000-record SMALL table keyed the same way.
            IndexDef byId;
            byId.name = "ID";
            byId.fields = "ID";
            dbase::addProductionIndex(std::filesystem::path(dir) / "BENCH.DBF", {byId});
            // Filled first and indexed after, as one would load a table.
            db->createTable("SMALL", {dbase::dbaseField("ID", "N", 8), dbase::dbaseField("LABEL", "C", 20)}, {});
            auto c = db->openTable("SMALL", {});
            FILE* csv = std::fopen((std::filesystem::path(dir) / "small.csv").c_str(), "wb");
            std::fprintf(csv, "ID,LABEL\n");
            for (int64_t i = 1; i <= 100000; ++i) {
                const int64_t id = i * 10;
                c->insert({id, "ラベル" + std::to_string(i % 97)});
                std::fprintf(csv, "%lld,ラベル%lld\n", static_cast<long long>(id), static_cast<long long>(i % 97));
            }
            std::fclose(csv);
            c.reset();
            dbase::addProductionIndex(std::filesystem::path(dir) / "SMALL.DBF", {byId});
            return 0;
        }
        auto t = std::chrono::steady_clock::now();
        double cpu = cpuMs();
        int64_t rows = 0;
        if (op == "groupby") {
            auto c = db->openQuery("SELECT PREF, COUNT(*), SUM(AMOUNT) FROM BENCH GROUP BY PREF", {});
            rows = rowsOf(*c);
        } else if (op == "lookup") {
            auto c = db->openQuery("SELECT * FROM BENCH WHERE ID = 123456", {});
            rows = rowsOf(*c);
            std::printf("lookup %.3f ms rows %lld cpu %.3f ms (first, opening the table and its index)\n", msSince(t),
                        static_cast<long long>(rows), cpuMs() - cpu);
            t = std::chrono::steady_clock::now();
            cpu = cpuMs();
            c = db->openQuery("SELECT * FROM BENCH WHERE ID = 654321", {});
            rows = rowsOf(*c);
            std::printf("lookup2 %.3f ms rows %lld cpu %.3f ms\n", msSince(t), static_cast<long long>(rows), cpuMs() - cpu);
            return 0;

        } else if (op == "join") {
            auto c = db->openQuery("SELECT COUNT(*), SUM(b.AMOUNT) FROM BENCH b JOIN SMALL s ON s.ID = b.ID", {});
            rows = rowsOf(*c);
        } else if (op == "update") {
            rows = db->executeSql("UPDATE BENCH SET AMOUNT = AMOUNT + 1 WHERE ID % 50 = 0", {});
        } else if (op == "open") {
            auto c = db->openQuery("SELECT * FROM BENCH", {});
            Row row;
            RowId id;
            for (int64_t i = 0; i < 50 && c->read(i, row, id); ++i)
                ++rows;
            rusage ru{};
            getrusage(RUSAGE_SELF, &ru);
            std::printf("open_max_rss %ld kB\n", ru.ru_maxrss);
        } else {
            std::cerr << "unknown operation " << op << "\n";
            return 2;
        }
        std::printf("%s %.3f ms rows %lld cpu %.3f ms\n", op.c_str(), msSince(t), static_cast<long long>(rows), cpuMs() - cpu);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
