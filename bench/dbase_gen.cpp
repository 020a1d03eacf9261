// Generates the benchmark table: DIR/BENCH.DBF with N records of ten mixed fields and
// Japanese text (code page 932), and DIR/bench.csv with the same data for loading into SQLite.
// Usage: bench_dbase_gen DIR [N] [tags]
// With "tags" the table gets three index tags (ID unique, NAME, JOINED) before the records.
// The records go in as one batch of writes (one sync and one build of each index at its end).
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/contract/EngineError.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace vemo::engine;

namespace {

using dbase::dbaseField;

IndexDef tag(const std::string& name, const std::string& fields, bool unique = false) {
    IndexDef d;
    d.name = name;
    d.fields = fields;
    d.unique = unique;
    return d;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_dbase_gen DIR [N]\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const long n = argc > 2 ? std::atol(argv[2]) : 1000000;
    const char* family[] = {"山田", "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "中村", "小林", "加藤"};
    const char* given[] = {"太郎", "花子", "一郎", "美咲", "健太", "陽子", "翔", "さくら"};
    const char* kana[] = {"ﾔﾏﾀﾞ", "ｻﾄｳ", "ｽｽﾞｷ", "ﾀｶﾊｼ", "ﾀﾅｶ", "ｲﾄｳ", "ﾜﾀﾅﾍﾞ", "ﾅｶﾑﾗ", "ｺﾊﾞﾔｼ", "ｶﾄｳ"};
    const char* pref[] = {"東京都", "大阪府", "愛知県", "北海道", "福岡県", "神奈川県", "宮城県"};
    const char* city[] = {"中央区", "北区", "港区", "西区", "南区", "青葉区", "博多区", "栄町"};
    try {
        std::filesystem::create_directories(dir);
        std::error_code ec;
        std::filesystem::remove(dir / "BENCH.DBF", ec);
        std::filesystem::remove(dir / "BENCH.MDX", ec);
        auto db = makeStandardDriver()->connect("B", {{"PATH", dir.string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        db->createTable("BENCH", {dbaseField("ID", "N", 8), dbaseField("NAME", "C", 20), dbaseField("KANA", "C", 20),
                                  dbaseField("PREF", "C", 10), dbaseField("CITY", "C", 12), dbaseField("AGE", "N", 3),
                                  dbaseField("AMOUNT", "N", 12, 2), dbaseField("JOINED", "D", 8),
                                  dbaseField("ACTIVE", "L", 1), dbaseField("CODE", "C", 10)},
                        argc > 3 && std::string(argv[3]) == "tags"
                            ? std::vector<IndexDef>{tag("ID", "ID", true), tag("NAME", "NAME"), tag("JOINED", "JOINED")}
                            : std::vector<IndexDef>{});
        auto c = db->openTable("BENCH", {});
        c->beginBatch();
        std::ofstream csv(dir / "bench.csv", std::ios::binary | std::ios::trunc);
        csv << "ID,NAME,KANA,PREF,CITY,AGE,AMOUNT,JOINED,ACTIVE,CODE\n";
        uint64_t seed = 12345;
        auto rnd = [&](uint64_t m) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            return (seed >> 33) % m;
        };
        char buf[64];
        for (long i = 1; i <= n; ++i) {
            const auto f = rnd(10), g = rnd(8);
            std::string name = std::string(family[f]) + given[g];
            std::string k = kana[f];
            std::string p = pref[rnd(7)];
            std::string ct = city[rnd(8)];
            const int64_t age = static_cast<int64_t>(rnd(100));
            const double amount = static_cast<double>(rnd(100000000)) / 100.0;
            Date joined{static_cast<int32_t>(1990 + rnd(35)), static_cast<int32_t>(1 + rnd(12)), static_cast<int32_t>(1 + rnd(28))};
            const bool active = rnd(4) != 0;
            std::snprintf(buf, sizeof buf, "C%08lu", static_cast<unsigned long>(rnd(100000000)));
            std::string code = buf;
            c->insert({int64_t(i), name, k, p, ct, age, amount, joined, active, code});
            std::snprintf(buf, sizeof buf, "%.2f", amount);
            csv << i << ',' << name << ',' << k << ',' << p << ',' << ct << ',' << age << ',' << buf << ',';
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", joined.year, joined.month, joined.day);
            csv << buf << ',' << (active ? 1 : 0) << ',' << code << '\n';
        }
        c->commitBatch();
    } catch (const EngineError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
