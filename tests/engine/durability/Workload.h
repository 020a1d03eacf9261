#pragma once
// A table of each format with a unique key, a second index and a memo, the expected
// contents as a model, and random writes that keep model and table in step.
#include "tests/engine/EngineTestSupport.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/Database.h"

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace durability {

using namespace vemo::engine;

struct Rec {
    std::string name;
    int64_t amount = 0;
    uint32_t noteSeed = 0; // 0: no note
    bool operator==(const Rec&) const = default;
};
using Model = std::map<int64_t, Rec>;

inline std::string noteOf(uint32_t seed) {
    if (seed == 0)
        return {};
    return std::string(size_t(seed % 1300 + 1), char('a' + seed % 26));
}

inline std::unique_ptr<Database> connect(const std::filesystem::path& dir, const std::string& format) {
    return makeStandardDriver()->connect("D", {{"PATH", dir.string()}, {"DEFAULT DRIVER", format}}, {});
}

inline std::string tableName(const std::string& format) { return format == "DBASE" ? "T.DBF" : "T.DB"; }

inline void createTable(Database& db, const std::string& format) {
    using enginetest::field;
    IndexDef key, byName;
    key.name = format == "DBASE" ? "ID" : "";
    key.fields = "ID";
    key.primary = format != "DBASE";
    key.unique = true;
    byName.name = "NAME";
    byName.fields = "NAME";
    db.createTable(tableName(format),
                   {field("ID", FieldType::Integer), field("NAME", FieldType::String, 12), field("AMOUNT", FieldType::Integer),
                    field("NOTE", FieldType::Memo, 10)},
                   {key, byName});
}

inline int64_t asInt(const Value& v) {
    if (auto i = std::get_if<int64_t>(&v))
        return *i;
    if (auto d = std::get_if<double>(&v))
        return int64_t(*d);
    return -1;
}
inline std::string asText(const Value& v) {
    if (auto s = std::get_if<std::string>(&v))
        return *s;
    return {};
}

inline Row rowOf(int64_t id, const Rec& r) {
    const std::string note = noteOf(r.noteSeed);
    return {id, r.name, r.amount, note.empty() ? Value() : Value(note)};
}

// The table as a model; a record whose note is not one the workload writes is reported.
inline Model read(Cursor& c, std::string* problem = nullptr) {
    Model m;
    Row row;
    RowId id;
    for (int64_t p = 0; c.read(p, row, id); ++p) {
        Rec r{asText(row[1]), asInt(row[2]), 0};
        const std::string note = asText(row[3]);
        if (!note.empty())
            r.noteSeed = 0xFFFFFFFFu; // matched below
        const int64_t key = asInt(row[0]);
        if (m.count(key) && problem)
            *problem += "duplicate key " + std::to_string(key) + "; ";
        m[key] = r;
        if (!note.empty() && problem && note != std::string(note.size(), note[0]))
            *problem += "torn note in " + std::to_string(key) + "; ";
        if (!note.empty()) {
            // Seeds are logged with each write; recover the seed from the note's shape.
            m[key].noteSeed = uint32_t(note.size() - 1) | (uint32_t(note[0] - 'a') << 16) | 0x80000000u;
        }
    }
    return m;
}

// A model's notes in the shape read() gives them, so the two compare.
inline Model normalised(const Model& in) {
    Model m = in;
    for (auto& [k, r] : m) {
        const std::string note = noteOf(r.noteSeed);
        r.noteSeed = note.empty() ? 0 : (uint32_t(note.size() - 1) | (uint32_t(note[0] - 'a') << 16) | 0x80000000u);
    }
    return m;
}

inline bool findRow(Cursor& c, int64_t key, Row& row, RowId& id) {
    for (int64_t p = 0; c.read(p, row, id); ++p)
        if (asInt(row[0]) == key)
            return true;
    return false;
}

// One write: kind 'I'nsert, 'U'pdate (newId may differ: a key change), 'D'elete.
struct Op {
    char kind = 'I';
    int64_t id = 0, newId = 0;
    Rec rec;
    std::string text() const {
        std::ostringstream o;
        o << kind << ' ' << id << ' ' << newId << ' ' << rec.name << ' ' << rec.amount << ' ' << rec.noteSeed;
        return o.str();
    }
    static bool parse(const std::string& line, Op& op) {
        std::istringstream in(line);
        return bool(in >> op.kind >> op.id >> op.newId >> op.rec.name >> op.rec.amount >> op.rec.noteSeed);
    }
    void applyTo(Model& m) const {
        if (kind == 'I') {
            m[id] = rec;
        } else if (kind == 'U') {
            m.erase(id);
            m[newId] = rec;
        } else {
            m.erase(id);
        }
    }
    void applyTo(Cursor& c) const {
        if (kind == 'I') {
            c.insert(rowOf(id, rec));
            return;
        }
        Row row;
        RowId rid;
        if (!findRow(c, id, row, rid))
            throw std::runtime_error("record " + std::to_string(id) + " not found");
        if (kind == 'U')
            c.update(rid, row, rowOf(newId, rec));
        else
            c.remove(rid, row);
    }
};

inline Op randomOp(std::mt19937& rng, const Model& m) {
    Op op;
    auto pick = [&]() {
        auto it = m.begin();
        std::advance(it, long(rng() % m.size()));
        return it->first;
    };
    auto freshId = [&]() {
        int64_t id;
        do
            id = int64_t(rng() % 5000) + 1;
        while (m.count(id));
        return id;
    };
    const unsigned r = rng() % 100;
    op.rec.name = "N" + std::to_string(rng() % 400);
    op.rec.amount = int64_t(rng() % 100000);
    op.rec.noteSeed = rng() % 3 == 0 ? 0 : uint32_t(rng() % 100000 + 1);
    if (m.size() < 30 || r < 40) {
        op.kind = 'I';
        op.id = op.newId = freshId();
    } else if (r < 75) {
        op.kind = 'U';
        op.id = pick();
        op.newId = rng() % 5 == 0 ? freshId() : op.id;
    } else {
        op.kind = 'D';
        op.id = op.newId = pick();
    }
    return op;
}

// The orders of both indexes hold every record, sorted.
inline std::string orderProblems(Cursor& c, const std::string& format, size_t records) {
    std::string out;
    for (const std::string& order : {format == "DBASE" ? std::string("ID") : std::string(), std::string("NAME")}) {
        c.setOrder(order);
        Row row, prev;
        RowId id;
        int64_t n = 0;
        for (; c.read(n, row, id); ++n) {
            if (n > 0 && (order == "NAME" ? asText(prev[1]) > asText(row[1]) : asInt(prev[0]) > asInt(row[0])))
                out += "order " + order + " out of sequence; ";
            prev = row;
        }
        if (size_t(n) != records)
            out += "order " + order + " has " + std::to_string(n) + " records; ";
    }
    c.setOrder("");
    return out;
}

} // namespace durability
