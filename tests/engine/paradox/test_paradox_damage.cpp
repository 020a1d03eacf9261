// Damaged files: a clear engine error or the readable records, never a crash or a hang,
// and the damaged file is never written to.
#include "TestDir.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/paradox/PxCodec.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace vemo::engine;
using namespace vemo::engine::paradox;

namespace {

std::vector<uint8_t> slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void spit(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A keyed table of 400 records over several blocks, with memos in the .MB.
void makeTable(const std::filesystem::path& db) {
    IndexDef pk;
    pk.primary = true;
    pk.fields = "K";
    createParadoxTable(db, {field("K", FieldType::Integer), field("S", FieldType::String, 100), field("M", FieldType::Memo, 10)}, {pk});
    PxCursor c(db, OpenOptions{});
    for (int i = 0; i < 400; ++i)
        c.insert({int64_t(i), std::string("行") + std::to_string(i), std::string(size_t(i % 7) * 700 + 1, 'm')});
}

struct Outcome {
    bool opened = false;
    int64_t rowsRead = 0;
    int error = 0;
};

// Opens (writable, as a user would) and reads everything, then tries one insert.
Outcome openAndRead(const std::filesystem::path& db) {
    Outcome o;
    try {
        PxCursor c(db, OpenOptions{});
        o.opened = true;
        Row r;
        RowId id;
        for (int64_t i = 0; c.read(i, r, id); ++i) ++o.rowsRead;
        if (!c.readOnlyReason().empty()) {
            try {
                c.insert({int64_t(100000), std::string("x"), Value{}});
                ADD_FAILURE() << "a damaged table accepted a write";
            } catch (const EngineError& e) {
                EXPECT_EQ(e.code(), ErrReadOnly);
            }
        }
    } catch (const EngineError& e) {
        o.error = e.code();
        EXPECT_NE(std::string(e.what()), "");
    }
    return o;
}

} // namespace

TEST(ParadoxDamage, DamagedHeadersAndChainsGiveAnErrorOrTheReadableRecords) {
    TestDir dir;
    const auto good = dir / "GOOD.DB";
    makeTable(good);
    const auto original = slurp(good);
    const int headerSize = original[2] | (original[3] << 8);
    const int bs = original[5] * 1024;
    const int firstBlock = original[0x0E] | (original[0x0F] << 8);

    const std::vector<std::pair<std::string, std::function<void(std::vector<uint8_t>&)>>> damages = {
        {"cut inside the header", [](auto& b) { b.resize(0x40); }},
        {"cut after the header", [&](auto& b) { b.resize(size_t(headerSize)); }},
        {"cut inside a block", [&](auto& b) { b.resize(size_t(headerSize) + size_t(bs) + 100); }},
        {"cut in half", [](auto& b) { b.resize(b.size() / 2); }},
        {"chain loops", [&](auto& b) { size_t at = size_t(headerSize) + size_t(firstBlock - 1) * bs; b[at] = uint8_t(firstBlock); b[at + 1] = 0; }},
        {"chain leaves the file", [&](auto& b) { size_t at = size_t(headerSize) + size_t(firstBlock - 1) * bs; b[at] = 0x60; b[at + 1] = 0xEA; }},
        {"first block outside", [](auto& b) { b[0x0E] = 0xFF; b[0x0F] = 0x7F; }},
        {"record size zero", [](auto& b) { b[0] = 0; b[1] = 0; }},
        {"record size larger than a block", [](auto& b) { b[0] = 0xFF; b[1] = 0xFF; }},
        {"header size huge", [](auto& b) { b[2] = 0xFF; b[3] = 0xFF; }},
        {"header size tiny", [](auto& b) { b[2] = 0x10; b[3] = 0; }},
        {"block size zero", [](auto& b) { b[5] = 0; }},
        {"no fields", [](auto& b) { b[0x21] = 0; b[0x22] = 0; }},
        {"too many fields", [](auto& b) { b[0x21] = 0xFF; b[0x22] = 0x7F; }},
        {"unknown field type", [](auto& b) { b[0x78] = 0x42; }},
        {"record count wrong", [](auto& b) { b[0x06] = 0x01; }},
        {"block count impossible", [&](auto& b) { size_t at = size_t(headerSize) + size_t(firstBlock - 1) * bs; b[at + 4] = 0xFF; b[at + 5] = 0x7F; }},
        {"unknown file type", [](auto& b) { b[4] = 0x33; }},
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        const auto db = dir / "BAD.DB";
        std::filesystem::remove(db);
        std::filesystem::copy_file(dir / "GOOD.MB", dir / "BAD.MB", std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(dir / "GOOD.PX", dir / "BAD.PX", std::filesystem::copy_options::overwrite_existing);
        auto bytes = original;
        damage(bytes);
        spit(db, bytes);
        const Outcome o = openAndRead(db);
        EXPECT_TRUE(o.opened || o.error == ErrCorruptFile || o.error == ErrNotSupported) << o.error;
        if (o.opened) {
            EXPECT_LE(o.rowsRead, 400);
        }
        EXPECT_EQ(slurp(db), bytes) << "the damaged file was written to";
    }
}

TEST(ParadoxDamage, InconsistentCountsMakeTheTableReadOnly) {
    TestDir dir;
    const auto db = dir / "COUNTS.DB";
    makeTable(db);
    const auto original = slurp(db);
    for (const auto& [offset, value] : std::vector<std::pair<size_t, uint8_t>>{{0x0C, 1}, {0x06, 3}}) {
        auto bytes = original;
        bytes[offset] = value;
        bytes[offset + 1] = 0;
        spit(db, bytes);
        PxCursor c(db, OpenOptions{});
        EXPECT_FALSE(c.readOnlyReason().empty()) << offset;
        EXPECT_EQ(c.count(), 400) << "the records themselves are all readable";
    }
}

TEST(ParadoxDamage, MissingOrDamagedBlobFileKeepsTheOtherFieldsReadable) {
    TestDir dir;
    const auto db = dir / "MEMO.DB";
    makeTable(db);
    const auto mb = slurp(dir / "MEMO.MB");
    std::filesystem::remove(dir / "MEMO.MB");
    {
        PxCursor c(db, OpenOptions{});
        EXPECT_NE(c.readOnlyReason().find(".MB"), std::string::npos);
        Row r;
        RowId id;
        ASSERT_TRUE(c.read(1, r, id));
        EXPECT_EQ(r[1], Value(std::string("行1")));
        EXPECT_TRUE(isNull(r[2])); // 701 bytes: it lived in the missing file
        ASSERT_TRUE(c.read(0, r, id));
        EXPECT_EQ(r[2], Value(std::string("m"))); // short enough for the record itself
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "MEMO.MB")) << "opening must not recreate the blob file";
    // Blob blocks overwritten with garbage: values that cannot be found are blank, and the
    // table will not take writes.
    auto broken = mb;
    for (size_t i = 4096; i < broken.size(); ++i) broken[i] = uint8_t(i * 31);
    spit(dir / "MEMO.MB", broken);
    const Outcome o = openAndRead(db);
    EXPECT_TRUE(o.opened);
    EXPECT_EQ(o.rowsRead, 400);
    EXPECT_EQ(slurp(dir / "MEMO.MB"), broken);
}

TEST(ParadoxDamage, AKeyedTableOutOfOrderIsReadButNotWritten) {
    // As a table sorted by another collation would look: two records swapped.
    TestDir dir;
    const auto db = dir / "ORDER.DB";
    IndexDef pk;
    pk.primary = true;
    pk.fields = "K";
    createParadoxTable(db, {field("K", FieldType::String, 4)}, {pk});
    {
        PxCursor c(db, OpenOptions{});
        for (const char* k : {"a", "b", "c", "d"}) c.insert({std::string(k)});
    }
    auto bytes = slurp(db);
    const size_t first = size_t(bytes[2] | (bytes[3] << 8)) + 6;
    std::swap_ranges(bytes.begin() + long(first), bytes.begin() + long(first + 4), bytes.begin() + long(first + 4));
    spit(db, bytes);
    PxCursor c(db, OpenOptions{});
    Row r;
    RowId id;
    ASSERT_TRUE(c.read(0, r, id));
    EXPECT_EQ(r[0], Value(std::string("b")));
    try {
        c.insert({std::string("bb")});
        ADD_FAILURE() << "written although out of order";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrReadOnly);
    }
    EXPECT_FALSE(c.readOnlyReason().empty());
    EXPECT_EQ(slurp(db), bytes);
}

TEST(ParadoxDamage, ASecondaryIndexInAnotherOrderIsNotRewritten) {
    TestDir dir;
    const auto db = dir / "SEC.DB";
    IndexDef pk, byName;
    pk.primary = true;
    pk.fields = "K";
    byName.name = "S";
    byName.fields = "S";
    createParadoxTable(db, {field("K", FieldType::Integer), field("S", FieldType::String, 8)}, {pk, byName});
    {
        PxCursor c(db, OpenOptions{});
        for (const char* s : {"b", "A", "a", "B"}) c.insert({int64_t(s[0]), std::string(s)});
    }
    // As a case-insensitive index would store them: "A" "a" "B" "b" is not byte order.
    auto x = slurp(dir / "SEC.X02");
    const size_t first = size_t(x[2] | (x[3] << 8)) + 6, rs = size_t(x[0] | (x[1] << 8));
    std::vector<uint8_t> recs(x.begin() + long(first), x.begin() + long(first + 4 * rs));
    std::swap_ranges(recs.begin() + long(rs), recs.begin() + long(2 * rs), recs.begin() + long(2 * rs)); // A B a b -> A a B b
    std::copy(recs.begin(), recs.end(), x.begin() + long(first));
    spit(dir / "SEC.X02", x);
    PxCursor c(db, OpenOptions{});
    try {
        c.insert({int64_t(1), std::string("c")});
        ADD_FAILURE() << "written although the index could not be kept";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrReadOnly);
    }
    EXPECT_NE(c.readOnlyReason().find("S"), std::string::npos);
    EXPECT_EQ(slurp(dir / "SEC.X02"), x);
    EXPECT_EQ(c.count(), 4);
}
