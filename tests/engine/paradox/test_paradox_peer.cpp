// Round trips with an independent implementation: tables it writes read back here with the
// same values, and tables written and edited here read back through it unchanged, with a
// primary index that still leads to every record.
#include "PxlibPeer.h"
#include "IndexWalk.h"
#include "TestDir.h"
#include "engine/values/Codepage.h"
#include "engine/drivers/standard/paradox/PxCodec.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"
#include "engine/drivers/standard/paradox/PxHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

using namespace vemo::engine;
using namespace vemo::engine::paradox;

namespace {

std::string sjis(const std::string& s) { return encodeText(s, 932); }

pxpeer::Val num(double d) { pxpeer::Val v; v.null = false; v.d = d; return v; }
pxpeer::Val lng(long l) { pxpeer::Val v; v.null = false; v.l = l; return v; }
pxpeer::Val str(const std::string& s) { pxpeer::Val v; v.null = false; v.s = s; return v; }


} // namespace

TEST(ParadoxPeer, TablesWrittenByThePeerReadBackWithTheSameValues) {
    TestDir dir;
    const auto db = dir / "PEER.DB";
    const auto mb = dir / "PEER.MB";
    const std::string longMemo = std::string(5000, 'x') + "末尾";
    const std::string midMemo = "中くらいの長さのメモ: " + std::string(300, 'm');
    pxpeer::write(db,
                  {{sjis("名前"), 0x01, 20}, {"S", 0x03, 2}, {"I", 0x04, 4}, {"N", 0x06, 8}, {"M", 0x05, 8},
                   {"D", 0x02, 4}, {"T", 0x14, 4}, {"TS", 0x15, 8}, {"L", 0x09, 1}, {"MEMO", 0x0C, 20}},
                  {{str(sjis("山田太郎")), lng(-5), lng(123456), num(3.25), num(-99.5), lng(pxDayNumber({2024, 2, 29})),
                    lng(45296789), num(730120.0 * 86400000.0 + 43200000.0), lng(1), str(sjis(longMemo))},
                   {str("ABC"), lng(7), lng(-1), num(0.0), num(1e9), lng(pxDayNumber({1899, 12, 31})), lng(0),
                    num(1.0 * 86400000.0), lng(0), str(sjis(midMemo))},
                   {str(sjis("ﾃｰﾌﾞﾙ")), lng(1), lng(2), num(1.5), num(2.5), lng(1), lng(1), num(86400001.0), lng(1),
                    str(sjis("短い"))}},
                  mb);
    PxCursor c(db, OpenOptions{});
    ASSERT_EQ(c.count(), 3);
    ASSERT_EQ(c.fields().size(), 10u);
    EXPECT_EQ(c.fields()[0].name, "名前");
    EXPECT_EQ(c.fields()[9].type, FieldType::Memo);
    Row row;
    RowId id;
    ASSERT_TRUE(c.read(0, row, id));
    EXPECT_EQ(row[0], Value(std::string("山田太郎")));
    EXPECT_EQ(row[1], Value(int64_t(-5)));
    EXPECT_EQ(row[2], Value(int64_t(123456)));
    EXPECT_EQ(row[3], Value(3.25));
    EXPECT_EQ(row[4], Value(-99.5));
    EXPECT_EQ(row[5], Value(Date{2024, 2, 29}));
    EXPECT_EQ(row[6], Value(Time{45296789}));
    EXPECT_EQ(row[7], Value(DateTime{{2000, 1, 1}, {43200000}}));
    EXPECT_EQ(row[8], Value(true));
    EXPECT_EQ(row[9], Value(longMemo));
    ASSERT_TRUE(c.read(1, row, id));
    EXPECT_EQ(row[0], Value(std::string("ABC")));
    EXPECT_EQ(row[5], Value(Date{1899, 12, 31}));
    EXPECT_EQ(row[6], Value(Time{0}));
    EXPECT_EQ(row[8], Value(false));
    EXPECT_EQ(row[9], Value(midMemo));
    ASSERT_TRUE(c.read(2, row, id));
    EXPECT_EQ(row[0], Value(std::string("ﾃｰﾌﾞﾙ")));
    EXPECT_EQ(row[9], Value(std::string("短い")));
    EXPECT_FALSE(c.read(3, row, id));
}

TEST(ParadoxPeer, EditedKeyedTableReadsBackThroughThePeerAndItsIndexFindsEveryKey) {
    TestDir dir;
    const auto db = dir / "ORDERS.DB";
    std::vector<FieldDef> defs = {
        field("CODE", FieldType::Integer), field("NAME", FieldType::String, 30), field("PRICE", FieldType::Currency),
        field("QTY", FieldType::Smallint), field("DAY", FieldType::Date), field("NOTE", FieldType::Memo, 12),
        field("DATA", FieldType::Blob, 10), field("AMOUNT", FieldType::BCD, 2), field("OK", FieldType::Boolean),
        field("PIC", FieldType::Graphic, 10)};
    IndexDef pk;
    pk.primary = true;
    pk.fields = "CODE";
    createParadoxTable(db, defs, {pk});

    std::map<int64_t, Row> model;
    {
        PxCursor c(db, OpenOptions{});
        for (int i = 0; i < 600; ++i) {
            const int64_t code = (i * 7919) % 1000; // a scattered insert order
            Row r = {code, std::string("品名") + std::to_string(code), double(code) * 1.25, int64_t(i % 300),
                     Date{2020, 1 + i % 12, 1 + i % 28},
                     i % 3 == 0 ? Value(std::string("メモ ") + std::string(size_t(i % 5) * 900, 'a')) : Value{},
                     i % 4 == 0 ? Value(Bytes(size_t(20 + i % 3000), uint8_t(i))) : Value{},
                     Decimal{std::to_string(code) + ".50"}, bool(i % 2),
                     i % 5 == 0 ? Value(Bytes(size_t(5 + (i * 37) % 6000), uint8_t(i * 3))) : Value{}};
            c.insert(r);
            model[code] = r;
        }
        // Edits: change non-key values, change keys, delete a third.
        int step = 0;
        for (auto it = model.begin(); it != model.end();) {
            RowId id;
            id.key = {it->first};
            if (step % 3 == 0) {
                c.remove(id, it->second);
                it = model.erase(it);
            } else if (step % 3 == 1) {
                Row after = it->second;
                after[1] = std::string("変更済み");
                after[5] = std::string(3000, 'z');
                c.update(id, it->second, after);
                it->second = after;
                ++it;
            } else {
                Row after = it->second;
                after[0] = it->first + 5000;
                c.update(id, it->second, after);
                model[it->first + 5000] = after;
                it = model.erase(it);
            }
            ++step;
        }
        EXPECT_EQ(c.count(), int64_t(model.size()));
    }
    const pxpeer::Table t = pxpeer::read(db, dir / "ORDERS.MB");
    EXPECT_EQ(t.fileType, 0);
    ASSERT_EQ(t.rows.size(), model.size());
    auto it = model.begin();
    for (size_t r = 0; r < t.rows.size(); ++r, ++it) {
        SCOPED_TRACE(r);
        const auto& v = t.rows[r];
        const Row& m = it->second;
        EXPECT_EQ(v[0].l, std::get<int64_t>(m[0])); // peer order = key order
        EXPECT_EQ(v[1].s, sjis(std::get<std::string>(m[1])));
        EXPECT_DOUBLE_EQ(v[2].d, std::get<double>(m[2]));
        EXPECT_EQ(v[3].l, std::get<int64_t>(m[3]));
        EXPECT_EQ(v[4].l, pxDayNumber(std::get<Date>(m[4])));
        if (isNull(m[5])) EXPECT_TRUE(v[5].null || v[5].s.empty());
        else EXPECT_EQ(v[5].s, sjis(std::get<std::string>(m[5])));
        if (isNull(m[6])) EXPECT_TRUE(v[6].null || v[6].s.empty());
        else EXPECT_EQ(Bytes(v[6].s.begin(), v[6].s.end()), std::get<Bytes>(m[6]));
        EXPECT_EQ(v[7].s.substr(v[7].s.find_first_not_of('0')), std::get<Decimal>(m[7]).text);
        EXPECT_EQ(v[8].l != 0, std::get<bool>(m[8]));
        if (isNull(m[9])) {
            EXPECT_TRUE(v[9].null || v[9].s.empty());
        } else {
            EXPECT_EQ(Bytes(v[9].s.begin(), v[9].s.end()), std::get<Bytes>(m[9]));
        }
    }
    // Every record is in the block its .PX entry names.
    const auto px = slurp(dir / "ORDERS.PX");
    const auto data = slurp(db);
    const int headerSize = data[2] | (data[3] << 8), bs = data[5] * 1024, rs = data[0] | (data[1] << 8);
    for (const auto& [code, row] : model) {
        uint8_t key[4];
        PxField f{"CODE", PxLong, 4, 4, 0};
        encodeField(f, Value(code), key, 932);
        const int block = pxLookup(px, key, 4);
        ASSERT_GT(block, 0) << code;
        const size_t at = size_t(headerSize) + size_t(block - 1) * bs;
        const int n = int16_t(data[at + 4] | (data[at + 5] << 8)) / rs + 1;
        bool found = false;
        for (int i = 0; i < n && !found; ++i) found = std::memcmp(data.data() + at + 6 + size_t(i) * rs, key, 4) == 0;
        EXPECT_TRUE(found) << "key " << code << " not in block " << block;
    }
}

TEST(ParadoxPeer, OldestTableLevelWithoutTheDataHeaderReads) {
    // The same records behind a level-3 header (no code page part, short table name):
    // both readers must agree on it.
    TestDir dir;
    const auto modern = dir / "NEW.DB";
    IndexDef pk;
    pk.primary = true;
    pk.fields = "K";
    createParadoxTable(modern, {field("K", FieldType::Smallint), field("S", FieldType::String, 12),
                                field("D", FieldType::Date), field("N", FieldType::Float)}, {pk});
    {
        PxCursor c(modern, OpenOptions{});
        for (int i = 0; i < 500; ++i)
            c.insert({int64_t(i), std::string("旧") + std::to_string(i), Date{1990, 1 + i % 12, 1 + i % 28}, i / 4.0});
    }
    const auto bytes = slurp(modern);
    const size_t headerSize = size_t(bytes[2] | (bytes[3] << 8));
    PxHeader h = parseHeader(bytes.data(), bytes.size(), "NEW.DB");
    h.version = 4; // 3.5
    h.tableName = "OLD.DB";
    std::vector<uint8_t> old = buildHeader(h);
    ASSERT_EQ(old[0x39], 4);
    old.insert(old.end(), bytes.begin() + long(headerSize), bytes.end());
    const auto oldFile = dir / "OLD.DB";
    {
        std::ofstream out(oldFile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(old.data()), std::streamsize(old.size()));
    }
    PxCursor a(modern, OpenOptions{});
    PxCursor b(oldFile, OpenOptions{});
    EXPECT_EQ(b.fields().size(), 4u);
    EXPECT_EQ(b.fields()[1].name, "S");
    ASSERT_EQ(b.count(), 500);
    Row ra, rb;
    RowId ia, ib;
    for (int64_t i = 0; i < 500; ++i) {
        a.read(i, ra, ia);
        b.read(i, rb, ib);
        ASSERT_EQ(ra, rb) << i;
    }
    const auto peer = pxpeer::read(oldFile);
    ASSERT_EQ(peer.rows.size(), 500u);
    EXPECT_EQ(peer.rows[499][1].s, sjis("旧499"));
}

TEST(ParadoxPeer, TablesEmptiedByDeletesStayReadable) {
    TestDir dir;
    const auto db = dir / "EMPTY.DB";
    IndexDef pk;
    pk.primary = true;
    pk.fields = "K";
    createParadoxTable(db, {field("K", FieldType::Integer), field("S", FieldType::String, 200)}, {pk});
    {
        PxCursor c(db, OpenOptions{});
        for (int i = 0; i < 100; ++i) c.insert({int64_t(i), std::string("x")});
        for (int i = 99; i >= 0; --i) {
            RowId id;
            id.key = {int64_t(i)};
            c.remove(id, {int64_t(i), std::string("x")});
        }
        EXPECT_EQ(c.count(), 0);
        c.insert({int64_t(7), std::string("again")});
    }
    const auto t = pxpeer::read(db);
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0][0].l, 7);
    PxCursor c(db, OpenOptions{});
    EXPECT_TRUE(c.readOnlyReason().empty()) << c.readOnlyReason();
    EXPECT_EQ(c.count(), 1);
}
