#pragma once
// A dBASE table with tags of several kinds (unique number, character with many equal keys,
// descending number, date, an expression, a key of 100 bytes that splits pages often) and a
// same-name .NDX, and a check of every index file against the table: each tree walked by
// the engine's reader must hold one entry a record, and its live entries must come in the
// order the cursor gets by evaluating and sorting the keys.
#include "DbaseTestUtil.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"
#include "engine/drivers/standard/dbase/IndexFiles.h"

#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace maint {

using namespace vemo::engine;

inline std::unique_ptr<Database> connect(const std::filesystem::path& dir) {
    return makeStandardDriver()->connect("M", {{"PATH", dir.string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
}

inline IndexDef tag(const std::string& name, const std::string& fields, bool unique = false, bool descending = false,
                    const std::string& expression = {}) {
    IndexDef d;
    d.name = name;
    d.fields = fields;
    d.unique = unique;
    d.descending = descending;
    d.expression = expression;
    return d;
}

// T.DBF: ID, NAME, AMT, BORN, LONGK; T.MDX with six tags; T.NDX on NAME (written empty, so
// the first write finds it stale and rebuilds it).
inline void createTable(Database& db, const std::filesystem::path& dir) {
    using enginetest::field;
    db.createTable("T", {field("ID", FieldType::Integer), field("NAME", FieldType::String, 12),
                         field("AMT", FieldType::Integer), field("BORN", FieldType::Date),
                         field("LONGK", FieldType::String, 100)},
                   {tag("ID", "ID", true), tag("NAME", "NAME"), tag("AMTD", "AMT", false, true), tag("BORN", "BORN"),
                    tag("UPNAME", "", false, false, "UPPER(NAME)+STR(ID,6)"), tag("LONGK", "LONGK")});
    dbase::IndexTag t;
    t.name = "T";
    t.expression = "NAME";
    t.keyType = 'C';
    t.keyLength = 12;
    t.ndx = true;
    dbase::writeNdx(dir / "T.NDX", t, {});
}

inline int64_t asInt(const Value& v) {
    if (auto i = std::get_if<int64_t>(&v))
        return *i;
    if (auto d = std::get_if<double>(&v))
        return int64_t(*d);
    return -1;
}

inline Row row(int64_t id, const std::string& name, int64_t amt, int day) {
    Date d{2000 + day % 30, 1 + day % 12, 1 + day % 28};
    return {id, name, amt, d, name + std::string(80, '-') + std::to_string(id % 97)};
}

inline std::vector<dbase::IndexTag> tagsOf(const std::filesystem::path& dir) {
    auto tags = dbase::readMdxTags(dir / "T.MDX");
    if (std::filesystem::exists(dir / "T.NDX"))
        tags.push_back(dbase::readNdxTag(dir / "T.NDX"));
    return tags;
}

inline uint32_t recordsInFile(const std::filesystem::path& dbf) {
    const std::string b = dbtest::bytesOf(dbf);
    return uint32_t(uint8_t(b[4])) | uint32_t(uint8_t(b[5])) << 8 | uint32_t(uint8_t(b[6])) << 16 |
           uint32_t(uint8_t(b[7])) << 24;
}

// What is wrong with the index files of T; empty when nothing.
inline std::string indexProblems(const std::filesystem::path& dir) {
    std::string out;
    const uint32_t n = recordsInFile(dir / "T.DBF");
    auto c = connect(dir)->openTable("T", {OpenOptions{false, true}});
    std::vector<bool> live(n + 1, false);
    {
        Row r;
        RowId id;
        for (int64_t p = 0; c->read(p, r, id); ++p)
            live[size_t(id.recno)] = true;
    }
    for (const auto& t : tagsOf(dir)) {
        const auto entries = dbase::readIndexEntries(t);
        if (entries.size() != n)
            out += t.name + ": " + std::to_string(entries.size()) + " entries for " + std::to_string(n) + " records; ";
        std::vector<int64_t> fromTree, sorted;
        std::vector<bool> seen(n + 1, false);
        for (const auto& e : entries) {
            if (e.recno < 1 || e.recno > n || seen[e.recno]) {
                out += t.name + ": bad or repeated record " + std::to_string(e.recno) + "; ";
                continue;
            }
            seen[e.recno] = true;
            if (live[e.recno])
                fromTree.push_back(e.recno);
        }
        c->setOrder(t.name);
        Row r;
        RowId id;
        for (int64_t p = 0; c->read(p, r, id); ++p)
            sorted.push_back(id.recno);
        if (fromTree != sorted)
            out += t.name + ": the tree's order differs from the sorted keys; ";
    }
    return out;
}

inline std::vector<int64_t> lines(const std::string& text) {
    std::vector<int64_t> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(std::stoll(line));
    return out;
}

inline std::string run(const std::string& cmd) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    size_t k;
    while ((k = fread(buf, 1, sizeof buf, pipe.get())) > 0)
        out.append(buf, k);
    if (pclose(pipe.release()) != 0)
        throw std::runtime_error("failed: " + cmd + "\n" + out.substr(0, 500));
    return out;
}

// Record numbers of a tag as Perl's XBase walks the file.
inline std::vector<int64_t> perlWalk(const std::filesystem::path& file, const std::string& tagName = {}) {
    return lines(run("perl " + std::string(DBASE_TEST_DIR) + "/dump_index.pl " + file.string() +
                     (tagName.empty() ? "" : " " + tagName)));
}

} // namespace maint
