// Fuzzes the index trees that writes change in place: a valid table with three tags is made
// once; each input patches bytes of its .MDX (five bytes a patch: a little-endian offset and
// a value), then the table is opened for writing, searched and written. Damage must end in
// an engine error, a read-only open or a rebuilt index, never a crash or a hang.
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using namespace vemo::engine;

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Template {
    std::filesystem::path dir;
    std::string dbf, mdx;
};

const Template& original() {
    static const Template t = [] {
        Template out;
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-dbfindex-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        out.dir = tmpl;
        auto db = makeStandardDriver()->connect("F", {{"PATH", out.dir.string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        FieldDef id, name;
        id.name = "ID";
        id.type = FieldType::Integer;
        name.name = "NAME";
        name.type = FieldType::String;
        name.size = 40;
        IndexDef byId, byName, down;
        byId.name = "ID";
        byId.fields = "ID";
        byId.unique = true;
        byName.name = "NAME";
        byName.fields = "NAME";
        down.name = "DOWN";
        down.fields = "NAME";
        down.descending = true;
        db->createTable("T", {id, name}, {byId, byName, down});
        auto c = db->openTable("T", {});
        c->beginBatch();
        for (int i = 0; i < 400; ++i)
            c->insert({int64_t(i * 3), std::string("N") + std::to_string(i % 37)});
        c->commitBatch();
        c.reset();
        out.dbf = slurp(out.dir / "T.DBF");
        out.mdx = slurp(out.dir / "T.MDX");
        return out;
    }();
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Template& t = original();
    std::string mdx = t.mdx;
    for (size_t i = 0; i + 5 <= size; i += 5) {
        const uint32_t at = uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
                            uint32_t(data[i + 3]) << 24;
        mdx[at % mdx.size()] = static_cast<char>(data[i + 4]);
    }
    put(t.dir / "T.DBF", t.dbf);
    put(t.dir / "T.MDX", mdx);
    std::error_code ec;
    for (const char* j : {"T.DBF-journal", "T.MDX-journal"})
        std::filesystem::remove(t.dir / j, ec);
    try {
        auto db = makeStandardDriver()->connect("F", {{"PATH", t.dir.string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
        auto c = db->openTable("T", {});
        for (const std::string order : {"ID", "NAME", "DOWN"}) {
            try {
                c->setOrder(order);
                c->seek({order == "ID" ? Value(int64_t(size % 1300)) : Value(std::string("N1"))});
            } catch (const EngineError&) {
            }
        }
        c->setOrder("NAME");
        const int writes = int(size % 7) + 3;
        for (int k = 0; k < writes; ++k) {
            try {
                Row row;
                RowId id;
                if (k % 3 == 0) {
                    c->insert({int64_t(5000 + k), std::string("M") + std::to_string(k)});
                } else if (c->read(int64_t(k * 37) % std::max<int64_t>(1, c->count()), row, id)) {
                    Row after = row;
                    after[1] = std::string("E") + std::to_string(k);
                    if (k % 3 == 1)
                        c->update(id, row, after);
                    else
                        c->remove(id, row);
                }
            } catch (const EngineError&) {
            }
        }
    } catch (const EngineError&) {
    }
    return 0;
}
