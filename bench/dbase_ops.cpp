// One benchmark operation on a dBASE table through the STANDARD driver, timed inside the
// process; prints "<op> <milliseconds> ms, max RSS <KiB> KiB, result <n>".
// Usage: bench_dbase_ops DIR open|last|count|filter|export [OUT.csv]
//        bench_dbase_ops DIR index|order|insert   (index: give BENCH a production index on
//        NAME; order: browse in that order; insert: one record into the indexed table)
#include "engine/values/Codepage.h"
#include "engine/export/CsvFormat.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sys/resource.h>

using namespace vemo::engine;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bench_dbase_ops DIR open|last|count|filter|export|index|order|insert [OUT.csv]\n";
        return 2;
    }
    const std::string op = argv[2];
    try {
        const auto start = std::chrono::steady_clock::now();
        if (op == "index") {
            IndexDef tag;
            tag.name = "NAME";
            tag.fields = "NAME";
            dbase::addProductionIndex(std::filesystem::path(argv[1]) / "BENCH.DBF", {tag});
        }
        auto db = makeStandardDriver()->connect("B", {{"PATH", argv[1]}, {"DEFAULT DRIVER", "DBASE"}}, {});
        auto c = db->openTable("BENCH", {});
        int64_t result = 0;
        Row row;
        RowId id;
        if (op == "open") {
            for (int64_t i = 0; i < 50 && c->read(i, row, id); ++i)
                ++result;
        } else if (op == "last") {
            result = c->read(c->count() - 1, row, id) ? id.recno : -1;
        } else if (op == "order") {
            c->setOrder("NAME");
            for (int64_t i = 0; i < 50 && c->read(i, row, id); ++i)
                ++result;
        } else if (op == "insert") {
            c->read(0, row, id);
            result = c->insert(row).recno;
        } else if (op == "index") {
            result = static_cast<int64_t>(c->indexes().size());
        } else if (op == "count") {
            result = c->count();
        } else if (op == "filter") {
            Filter f("AGE = 42", c->fields());
            c->setFilter(&f);
            for (int64_t i = 0; c->read(i, row, id); ++i)
                ++result;
        } else if (op == "export" && argc > 3) {
            FILE* out = std::fopen(argv[3], "wb");
            if (!out)
                throw EngineError(ErrIO, std::string("cannot write ") + argv[3]);
            const auto& fields = c->fields();
            std::vector<std::string> texts(fields.size());
            for (int64_t i = 0; c->read(i, row, id); ++i) {
                for (size_t k = 0; k < fields.size(); ++k)
                    texts[k] = valueToText(row[k], fields[k].type);
                std::string line = encodeForLocale(csvLine(texts, fields));
                line += "\r\n";
                std::fwrite(line.data(), 1, line.size(), out);
                ++result;
            }
            std::fclose(out);
        } else {
            std::cerr << "unknown operation " << op << "\n";
            return 2;
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("%s %.1f ms, max RSS %ld KiB, result %lld\n", op.c_str(), ms, ru.ru_maxrss,
                    static_cast<long long>(result));
    } catch (const EngineError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
