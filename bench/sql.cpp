// Times the SQL drivers on one large table: open and first rows, jump to the last row,
// record count, a server-side filter, export to CSV. Prints "name seconds" lines and the
// peak resident memory, for bench/sql.sh to compare with the databases' own tools.
//   bench_sql SQLITE FILE TABLE CSVFILE
//   bench_sql POSTGRESQL SOCKETDIR PORT TABLE CSVFILE
#include "engine/export/CsvExport.h"
#include "engine/drivers/Drivers.h"
#include "engine/filter/Filter.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

using namespace vemo::engine;

namespace {

template <typename F> double timed(const char* name, F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %.4f\n", name, s);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_sql SQLITE FILE TABLE CSV | POSTGRESQL SOCKETDIR PORT TABLE CSV\n");
        return 2;
    }
    try {
        const std::string driverName = argv[1];
        std::unique_ptr<Driver> driver;
        Params params;
        std::string table, csv;
        if (driverName == "SQLITE") {
            driver = makeSqliteDriver();
            params = {{"DATABASE", argv[2]}};
            table = argv[3];
            csv = argv[4];
        } else {
            if (argc < 6)
                return 2;
            driver = makePostgresDriver();
            params = {{"SERVER NAME", argv[2]}, {"PORT", argv[3]}, {"DATABASE NAME", "postgres"},
                      {"USER NAME", "postgres"}, {"SSLMODE", "disable"}};
            table = argv[4];
            csv = argv[5];
        }
        std::unique_ptr<Database> db;
        std::unique_ptr<Cursor> cursor;
        Row row;
        RowId id;
        // A result of the SQL window: SELECT * over the whole table, first rows, count, last row.
        {
            db = driver->connect("BENCH", params, {});
            std::unique_ptr<Cursor> q;
            int64_t n = 0;
            timed("query_open_first50", [&] {
                q = db->openQuery("SELECT * FROM " + table, {});
                for (int i = 0; i < 50; ++i)
                    q->read(i, row, id);
            });
            timed("query_count", [&] { n = q->count(); });
            timed("query_jump_last", [&] { q->read(n - 1, row, id); });
            q.reset();
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            std::printf("query_max_rss_kb %ld\n", usage.ru_maxrss);
            // The same inside open work, where results are paged with LIMIT and OFFSET.
            if (db->beginWork()) {
                timed("query_paged_jump_last", [&] {
                    q = db->openQuery("SELECT * FROM " + table, {});
                    q->read(n - 1, row, id);
                });
                q.reset();
                db->rollbackWork();
            }
            db.reset();
        }
        timed("open_first50", [&] {
            db = driver->connect("BENCH", params, {});
            cursor = db->openTable(table, {});
            for (int i = 0; i < 50; ++i)
                cursor->read(i, row, id);
        });
        int64_t total = 0;
        timed("count", [&] { total = cursor->count(); });
        timed("jump_last", [&] {
            cursor->refresh();
            cursor->read(total - 1, row, id);
        });
        timed("filter", [&] {
            Filter filter("QTY > 900 and NAME >= 'name 5'", cursor->fields());
            if (!cursor->setFilter(&filter))
                std::fprintf(stderr, "filter not taken by the server\n");
            cursor->count();
            for (int i = 0; i < 50; ++i)
                cursor->read(i, row, id);
            cursor->setFilter(nullptr);
        });
        // The export as the table window and the tool run it: a dataset of a session alias.
        cursor.reset();
        db.reset();
        const auto config = std::filesystem::temp_directory_path() / ("bench-sql-" + std::to_string(::getpid()) + ".cfg");
        Session session(config);
        registerBuiltinDrivers(session);
        std::vector<std::string> lines;
        for (const auto& [name, value] : params)
            lines.push_back(name + "=" + value);
        session.addAlias("BENCH", driverName, lines);
        Table dataset(session);
        dataset.setDatabaseName("BENCH");
        dataset.setTableName(table);
        dataset.open();
        timed("export_csv", [&] { exportCsv(dataset, csv); });
        // A filter no server can take as it stands (case-insensitive): the dataset's own.
        timed("filter_nocase", [&] {
            dataset.setFilterOptions({true, false});
            dataset.setFilter("QTY > 900 and NAME >= 'NAME 5'");
            dataset.setFiltered(true);
            Row shown;
            for (int i = 0; i < 50; ++i)
                dataset.rowAt(i, shown);
            std::printf("filter_nocase_rows %lld\n", static_cast<long long>(dataset.recordCount()));
            dataset.setFiltered(false);
        });
        dataset.close();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("rows %lld\nmax_rss_kb %ld\n", static_cast<long long>(total), usage.ru_maxrss);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sql: %s\n", e.what());
        return 1;
    }
}
