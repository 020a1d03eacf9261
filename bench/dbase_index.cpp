// The cost of one post on an indexed dBASE table, and of a bulk append with indexes.
// Usage: bench_dbase_index posts DIR POSTS    (DIR/BENCH.DBF from bench_dbase_gen ... tags)
//        prints the median ms of an insert, a key-changing edit and a delete
//        bench_dbase_index bulk DIR N
//        prints the seconds of N appends in one batch into a table with three tags, and of
//        the same appends without indexes followed by one build of the three tags
#include "BenchTiming.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace vemo::engine;

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;

IndexDef tag(const std::string& name, const std::string& fields, bool unique = false) {
    IndexDef d;
    d.name = name;
    d.fields = fields;
    d.unique = unique;
    return d;
}

std::vector<IndexDef> threeTags() { return {tag("ID", "ID", true), tag("NAME", "NAME"), tag("JOINED", "JOINED")}; }

Row record(long i) {
    static const char* family[] = {"山田", "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "中村"};
    uint64_t s = uint64_t(i) * 6364136223846793005ull + 1442695040888963407ull;
    auto rnd = [&](uint64_t m) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return (s >> 33) % m;
    };
    return {int64_t(i), std::string(family[rnd(8)]) + std::to_string(rnd(100000)), std::string("ｶﾅ"), std::string("東京都"),
            std::string("港区"), int64_t(rnd(100)), double(rnd(100000)) / 100.0,
            Date{int32_t(1990 + rnd(35)), int32_t(1 + rnd(12)), int32_t(1 + rnd(28))}, true, std::string("C0001")};
}

std::vector<FieldDef> benchFields() {
    using dbase::dbaseField;
    return {dbaseField("ID", "N", 8), dbaseField("NAME", "C", 20), dbaseField("KANA", "C", 20),
            dbaseField("PREF", "C", 10), dbaseField("CITY", "C", 12), dbaseField("AGE", "N", 3),
            dbaseField("AMOUNT", "N", 12, 2), dbaseField("JOINED", "D", 8), dbaseField("ACTIVE", "L", 1),
            dbaseField("CODE", "C", 10)};
}

int posts(const std::string& dir, int n) {
    auto db = makeStandardDriver()->connect("B", {{"PATH", dir}, {"DEFAULT DRIVER", "DBASE"}}, {});
    auto c = db->openTable("BENCH", {});
    {
        // A search on a freshly opened table: answered from the index tree, no sort first.
        c->setOrder("ID");
        const auto t = Clock::now();
        const int64_t at = c->seek({int64_t(123)});
        std::printf("first seek %.2f ms (position %lld)\n", msSince(t), static_cast<long long>(at));
    }
    // Keys no earlier run has used: above the largest one in the table.
    long base = 10000000;
    {
        Row last;
        RowId lastId;
        if (c->count() > 0 && c->read(c->count() - 1, last, lastId) && std::holds_alternative<int64_t>(last[0]))
            base = std::max<long>(base, long(std::get<int64_t>(last[0])) + 1);
    }
    c->setOrder("NAME"); // the grid shows an index order, which follows every post
    const int64_t records = c->count();
    {
        // The first write of a session checks each index file once against the table.
        const auto t = Clock::now();
        c->insert(record(base + n));
        std::printf("first post %.2f ms (checks the index files once)\n", msSince(t));
    }
    std::vector<double> ins, edit, del;
    Row row;
    RowId id;
    for (int i = 0; i < n; ++i) {
        auto t = Clock::now();
        c->insert(record(base + i));
        ins.push_back(msSince(t));
        c->read(int64_t(i * 7919) % c->count(), row, id);
        Row after = row;
        after[1] = std::string("変更") + std::to_string(i);
        t = Clock::now();
        c->update(id, row, after);
        edit.push_back(msSince(t));
        c->read(int64_t(i * 104729) % c->count(), row, id);
        t = Clock::now();
        c->remove(id, row);
        del.push_back(msSince(t));
    }
    std::printf("records %lld: insert %.3f ms, key edit %.3f ms, delete %.3f ms (median of %d)\n",
                static_cast<long long>(records), median(ins), median(edit), median(del), n);
    return 0;
}

int bulk(const std::string& dir, long n) {
    auto db = makeStandardDriver()->connect("B", {{"PATH", dir}, {"DEFAULT DRIVER", "DBASE"}}, {});
    auto fill = [&](const std::string& name, const std::vector<IndexDef>& tags) {
        std::error_code ec;
        for (const char* ext : {".DBF", ".MDX"})
            std::filesystem::remove(std::filesystem::path(dir) / (name + ext), ec);
        db->createTable(name, benchFields(), tags);
        auto c = db->openTable(name, {});
        c->beginBatch();
        for (long i = 1; i <= n; ++i)
            c->insert(record(i));
        c->commitBatch();
    };
    auto t = Clock::now();
    fill("BULKIDX", threeTags());
    const double withTags = msSince(t) / 1000;
    t = Clock::now();
    fill("BULKRAW", {});
    const double plain = msSince(t) / 1000;
    t = Clock::now();
    dbase::addProductionIndex(std::filesystem::path(dir) / "BULKRAW.DBF", threeTags());
    const double build = msSince(t) / 1000;
    std::printf("bulk %ld: with three tags %.2f s; without %.2f s + one build %.2f s = %.2f s; ratio %.2f\n", n,
                withTags, plain, build, plain + build, withTags / (plain + build));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: bench_dbase_index posts DIR POSTS | bulk DIR N\n";
        return 2;
    }
    try {
        const std::string what = argv[1];
        return what == "bulk" ? bulk(argv[2], std::atol(argv[3])) : posts(argv[2], std::atoi(argv[3]));
    } catch (const EngineError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
