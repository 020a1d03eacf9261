// The cost of a post on an existing dBASE or Paradox table: timed inserts and edits through
// the STANDARD driver, one post each, as the table window posts them.
// Usage: bench_post DIR TABLE POSTS   (TABLE: BENCH.DBF or a .DB; prints ms per post)
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

using namespace vemo::engine;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: bench_post DIR TABLE POSTS\n";
        return 2;
    }
    const std::string table = argv[2];
    const int posts = std::stoi(argv[3]);
    try {
        const bool dbase = table.size() > 4 && (table.substr(table.size() - 4) == ".DBF" || table.substr(table.size() - 4) == ".dbf");
        auto db = makeStandardDriver()->connect("B", {{"PATH", argv[1]}, {"DEFAULT DRIVER", dbase ? "DBASE" : "PARADOX"}}, {});
        auto c = db->openTable(table, {});
        Row row, first;
        RowId id;
        c->read(0, first, id);
        auto time = [&](const char* what, auto&& body) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < posts; ++i)
                body(i);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("%s %.3f ms per post (%d posts, %lld records)\n", what, ms / posts, posts,
                        static_cast<long long>(c->count()));
        };
        time("update", [&](int i) {
            c->read(i, row, id);
            Row after = row;
            // A non-key field: the last one that holds a number or text.
            for (size_t k = after.size(); k-- > 1;) {
                if (std::holds_alternative<int64_t>(after[k])) { after[k] = std::get<int64_t>(after[k]) + 1; break; }
                if (std::holds_alternative<double>(after[k])) { after[k] = std::get<double>(after[k]) + 1; break; }
            }
            c->update(id, row, after);
        });
        time("insert", [&](int i) {
            Row r = first;
            if (!r.empty() && std::holds_alternative<int64_t>(r[0]))
                r[0] = int64_t(50000000 + i); // a new key for keyed tables
            c->insert(r);
        });
    } catch (const EngineError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
