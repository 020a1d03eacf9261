// Posts on a large keyed Paradox table with a primary and two secondary indexes, side by
// side with SQLite holding the same rows and the same three indexes.
//   bench_paradox_post make FILE N [plain]   a table of N records appended in one batch
//                                            ("plain": without the secondary indexes)
//   bench_paradox_post rebuild FILE          one rebuild of every index of the table
//   bench_paradox_post post FILE POSTS       median ms of an insert, a key change, a delete
//   bench_paradox_post sqlite FILE N POSTS   the same on SQLite (FILE is created anew)
//   bench_paradox_post killed FILE           ms to open the table after a post killed half
//                                            way (its journal down, files partly written)
//   bench_paradox_post thin FILE EVERY       every EVERY-th record deleted, post by post
// Each prints "name value" lines. VEMO32_SYNC=0 turns syncing off for both.
#include "BenchTiming.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

using namespace vemo::engine;

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;

FieldDef field(const std::string& name, FieldType type, int size = 0) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

// Keys are even; the benchmark inserts odd ones, so new records land all over the table.
Row rowFor(int64_t i) {
    static const char* cities[] = {"Tokyo", "Osaka", "Nagoya", "Sapporo", "Fukuoka", "Sendai", "Hiroshima", "Kyoto"};
    return {int64_t(2 * i), "N" + std::to_string((i * 7919) % 1000003), std::string(cities[i % 8]), double(i) * 1.25,
            int64_t(i % 100)};
}

int make(const std::filesystem::path& file, int64_t n, bool plain) {
    IndexDef pk;
    pk.primary = true;
    pk.fields = "ID";
    std::vector<IndexDef> idx{pk};
    if (!plain) {
        IndexDef a, b;
        a.name = "NAME";
        a.fields = "NAME";
        b.name = "BYCITY";
        b.fields = "CITY;NAME";
        idx.push_back(a);
        idx.push_back(b);
    }
    paradox::createParadoxTable(file, {field("ID", FieldType::Integer), field("NAME", FieldType::String, 16),
                                       field("CITY", FieldType::String, 12), field("AMOUNT", FieldType::Currency),
                                       field("QTY", FieldType::Smallint)},
                                idx);
    // Appended in key order, as a copy from another keyed table would.
    const auto t = Clock::now();
    paradox::PxCursor c(file, OpenOptions{});
    c.beginBatch();
    for (int64_t i = 0; i < n; ++i) c.insert(rowFor(i));
    c.commitBatch();
    std::printf("bulk_append_ms %.1f\n", msSince(t));
    return 0;
}

int rebuild(const std::filesystem::path& file) {
    paradox::PxCursor c(file, OpenOptions{});
    const auto t = Clock::now();
    c.rebuildIndexFiles();
    std::printf("rebuild_ms %.1f\n", msSince(t));
    return 0;
}

// Every `every`-th record deleted one post at a time, so that the blocks of a table appended
// in key order (all full, its .X files' too) have room again and the posts after it measure
// inserts that split no block.
int thin(const std::filesystem::path& file, int every) {
    paradox::PxCursor c(file, OpenOptions{});
    const auto t = Clock::now();
    Row row;
    RowId id;
    for (int64_t p = c.count() - 1; p >= 0; p -= every) {
        c.read(p, row, id);
        c.remove(id, row);
    }
    std::printf("thin_ms %.1f\nrecords %lld\n", msSince(t), static_cast<long long>(c.count()));
    return 0;
}

// Odd keys not handed out before: inserts and key changes never collide.
struct FreshKeys {
    std::mt19937 rng{42};
    std::vector<bool> used;
    int64_t n;
    explicit FreshKeys(int64_t records) : used(size_t(4 * records + 8), false), n(records) {}
    int64_t next(int64_t base) {
        for (;;) {
            const int64_t k = int64_t(rng() % uint64_t(n)) * 2 + 1 + base;
            if (!used[size_t(k)]) {
                used[size_t(k)] = true;
                return k;
            }
        }
    }
};

int post(const std::filesystem::path& file, int posts) {
    const auto opened = Clock::now();
    paradox::PxCursor c(file, OpenOptions{});
    const int64_t n = c.count();
    std::mt19937 rng(42);
    FreshKeys fresh(n);
    std::vector<double> ins, edit, del;
    Row row;
    RowId id;
    // The first write of an open pays for reading the index files once; not a post's cost.
    c.read(0, row, id);
    c.update(id, row, row);
    std::printf("open_and_first_write_ms %.1f\n", msSince(opened));
    for (int i = 0; i < posts; ++i) {
        const int64_t k = fresh.next(0);
        Row r = rowFor(k / 2);
        r[0] = k;
        auto t = Clock::now();
        c.insert(r);
        ins.push_back(msSince(t));
        // A key change: a random record takes another free odd key.
        c.read(int64_t(rng() % uint64_t(c.count())), row, id);
        Row after = row;
        after[0] = fresh.next(2 * n);
        t = Clock::now();
        c.update(id, row, after);
        edit.push_back(msSince(t));
        c.read(int64_t(rng() % uint64_t(c.count())), row, id);
        t = Clock::now();
        c.remove(id, row);
        del.push_back(msSince(t));
    }
    std::printf("insert_ms %.3f\nkey_edit_ms %.3f\ndelete_ms %.3f\nrecords %lld\n", median(ins), median(edit),
                median(del), static_cast<long long>(c.count()));
    return 0;
}

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string m = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(m);
    }
}

int sqlite(const std::filesystem::path& file, int64_t n, int posts) {
    std::filesystem::remove(file);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    exec(db, standard::syncOnPost() ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    exec(db, "CREATE TABLE t(ID INTEGER PRIMARY KEY, NAME TEXT, CITY TEXT, AMOUNT REAL, QTY INTEGER)");
    exec(db, "CREATE INDEX t_name ON t(NAME)");
    exec(db, "CREATE INDEX t_city ON t(CITY, NAME)");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?)", -1, &ins, nullptr);
    auto insert = [&](const Row& r) {
        sqlite3_bind_int64(ins, 1, std::get<int64_t>(r[0]));
        sqlite3_bind_text(ins, 2, std::get<std::string>(r[1]).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 3, std::get<std::string>(r[2]).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 4, std::get<double>(r[3]));
        sqlite3_bind_int64(ins, 5, std::get<int64_t>(r[4]));
        if (sqlite3_step(ins) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
        sqlite3_reset(ins);
    };
    auto t = Clock::now();
    exec(db, "BEGIN");
    for (int64_t i = 0; i < n; ++i) insert(rowFor(i));
    exec(db, "COMMIT");
    std::printf("bulk_append_ms %.1f\n", msSince(t));
    if (const char* pageCache = std::getenv("BENCH_PAGE_CACHE")) {
        // The file held as the script holds ours before they are posted into.
        const std::string cmd = std::string("python3 ") + pageCache + " '" + file.string() + "'";
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error(cmd);
    }
    std::mt19937 rng(42);
    FreshKeys fresh(n);
    std::vector<double> a, b, c;
    sqlite3_stmt* upd = nullptr;
    sqlite3_stmt* del = nullptr;
    sqlite3_prepare_v2(db, "UPDATE t SET ID=? WHERE ID=?", -1, &upd, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM t WHERE ID=?", -1, &del, nullptr);
    std::vector<int64_t> keys;
    for (int64_t i = 0; i < n; ++i) keys.push_back(2 * i);
    auto takeKey = [&]() {
        const size_t at = rng() % keys.size();
        const int64_t k = keys[at];
        keys[at] = keys.back();
        keys.pop_back();
        return k;
    };
    for (int i = 0; i < posts; ++i) {
        const int64_t k = fresh.next(0);
        Row r = rowFor(k / 2);
        r[0] = k;
        t = Clock::now();
        insert(r);
        a.push_back(msSince(t));
        keys.push_back(k);
        const int64_t old = takeKey();
        const int64_t key = fresh.next(2 * n);
        sqlite3_bind_int64(upd, 1, key);
        sqlite3_bind_int64(upd, 2, old);
        t = Clock::now();
        if (sqlite3_step(upd) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
        b.push_back(msSince(t));
        sqlite3_reset(upd);
        keys.push_back(key);
        sqlite3_bind_int64(del, 1, takeKey());
        t = Clock::now();
        if (sqlite3_step(del) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
        c.push_back(msSince(t));
        sqlite3_reset(del);
    }
    sqlite3_finalize(ins);
    sqlite3_finalize(upd);
    sqlite3_finalize(del);
    sqlite3_close(db);
    std::printf("insert_ms %.3f\nkey_edit_ms %.3f\ndelete_ms %.3f\n", median(a), median(b), median(c));
    return 0;
}

int killed(const std::filesystem::path& file) {
    const pid_t child = ::fork();
    if (child < 0) return 1;
    if (child == 0) {
        paradox::PxCursor c(file, OpenOptions{});
        Row r;
        RowId id;
        c.read(0, r, id);
        // The post's journal write and sync, its first file write: killed at the next.
        standard::FaultPlan::killAt(4);
        c.insert({int64_t(1000001), std::string("Nkilled"), std::string("Tokyo"), 1.0, int64_t(1)});
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFSIGNALED(status)) {
        std::fprintf(stderr, "the post was not killed\n");
        return 1;
    }
    const auto t = Clock::now();
    paradox::PxCursor c(file, OpenOptions{});
    std::printf("open_after_kill_ms %.1f\n", msSince(t));
    return c.readOnlyReason().empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string cmd = argc > 1 ? argv[1] : "";
        if (cmd == "make" && argc >= 4) return make(argv[2], std::atoll(argv[3]), argc > 4 && std::strcmp(argv[4], "plain") == 0);
        if (cmd == "rebuild" && argc == 3) return rebuild(argv[2]);
        if (cmd == "post" && argc == 4) return post(argv[2], std::atoi(argv[3]));
        if (cmd == "sqlite" && argc == 5) return sqlite(argv[2], std::atoll(argv[3]), std::atoi(argv[4]));
        if (cmd == "killed" && argc == 3) return killed(argv[2]);
        if (cmd == "thin" && argc == 4) return thin(argv[2], std::atoi(argv[3]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_paradox_post make FILE N [plain] | rebuild FILE | post FILE POSTS | sqlite FILE N POSTS | killed FILE | thin FILE EVERY\n");
    return 2;
}
