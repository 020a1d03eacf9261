// Secondary indexes kept in another order than their bytes': descending ones (the indexed
// fields descending, the table's key after them ascending) and case-insensitive ones (ASCII
// letters folded, both bytes of a Shift-JIS character left as they are). The expected orders
// are worked out here from the values' parts, not by the engine's comparison.
#include "IndexWalk.h"
#include "PxlibPeer.h"
#include "TestDir.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"
#include "engine/drivers/standard/paradox/PxKeyOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <tuple>

using namespace vemo::engine;
using namespace enginetest;
using namespace vemo::engine::paradox;

namespace {

// A piece of text: as the cursor takes it, its Shift-JIS bytes, those bytes with ASCII
// letters upper-cased, and the piece of the other case. ヂ and ッ end in the bytes of 'a'
// and 'b'.
struct Piece {
    const char* utf8;
    const char* sjis;
    const char* folded;
    int otherCase;
};
const Piece pieces[] = {
    {"a", "a", "A", 1}, {"A", "A", "A", 0}, {"b", "b", "B", 3}, {"B", "B", "B", 2}, {"z", "z", "Z", 5}, {"Z", "Z", "Z", 4},
    {"1", "1", "1", 6}, {"ヂ", "\x83\x61", "\x83\x61", 7}, {"ア", "\x83\x41", "\x83\x41", 8},
    {"ッ", "\x83\x62", "\x83\x62", 9}, {"漢", "\x8a\xbf", "\x8a\xbf", 10},
};

struct Text {
    std::vector<int> parts;
    std::string utf8, sjis, folded;
};

Text textOf(std::vector<int> parts) {
    Text t;
    for (int i : parts) {
        t.utf8 += pieces[i].utf8;
        t.sjis += pieces[i].sjis;
        t.folded += pieces[i].folded;
    }
    t.parts = std::move(parts);
    return t;
}

Text randomText(std::mt19937& rng, int maxPieces) {
    std::vector<int> parts(1 + rng() % uint32_t(maxPieces));
    for (int& i : parts) i = int(rng() % std::size(pieces));
    return textOf(parts);
}

// The same text with the case of one letter or more changed.
Text otherCase(const Text& t, std::mt19937& rng) {
    std::vector<int> parts = t.parts;
    for (int& i : parts)
        if (rng() % 2) i = pieces[i].otherCase;
    return textOf(parts);
}

struct Rec {
    int64_t k = 0;
    Text name, city;
    double n = 0;
    Row row() const { return {k, name.utf8, city.utf8, n}; }
};
using Model = std::map<int64_t, Rec>;

IndexDef ix(const std::string& name, const std::string& fields, bool descending, bool caseInsensitive) {
    IndexDef i;
    i.name = name;
    i.fields = fields;
    i.descending = descending;
    i.caseInsensitive = caseInsensitive;
    return i;
}

// NAME descending (.X02), NOCASE on NAME (.XG0), PLACE on CITY;NAME descending (.XG1).
void createTable(const std::filesystem::path& db) {
    IndexDef primary;
    primary.primary = true;
    primary.fields = "K";
    createParadoxTable(db, {field("K", FieldType::Integer), field("NAME", FieldType::String, 12),
                            field("CITY", FieldType::String, 8), field("N", FieldType::Float)},
                       {primary, ix("NAME", "NAME", true, false), ix("NOCASE", "NAME", false, true),
                        ix("PLACE", "CITY;NAME", true, false)});
}

// The keys of the model in the order of an index ("" for the primary key).
std::vector<int64_t> expectedOrder(const Model& m, const std::string& order) {
    std::vector<const Rec*> v;
    for (const auto& [k, r] : m) v.push_back(&r);
    std::sort(v.begin(), v.end(), [&](const Rec* a, const Rec* b) {
        if (order == "NAME") {
            if (a->name.sjis != b->name.sjis) return a->name.sjis > b->name.sjis;
        } else if (order == "NOCASE") {
            if (a->name.folded != b->name.folded) return a->name.folded < b->name.folded;
        } else if (order == "PLACE") {
            if (a->city.sjis != b->city.sjis) return a->city.sjis > b->city.sjis;
            if (a->name.sjis != b->name.sjis) return a->name.sjis > b->name.sjis;
        }
        return a->k < b->k;
    });
    std::vector<int64_t> out;
    for (const Rec* r : v) out.push_back(r->k);
    return out;
}

std::vector<int64_t> cursorOrder(PxCursor& c, const std::string& order) {
    c.setOrder(order);
    std::vector<int64_t> out;
    Row r;
    RowId id;
    for (int64_t i = 0; c.read(i, r, id); ++i) out.push_back(std::get<int64_t>(r[0]));
    c.setOrder("");
    return out;
}

int64_t keyOf(const uint8_t* p) {
    const uint32_t v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return int32_t(v ^ 0x80000000u);
}

std::string alpha(const uint8_t* p, int len) {
    std::string s(reinterpret_cast<const char*>(p), size_t(len));
    return s.substr(0, s.find('\0'));
}

// One .X file read along its chain: the table keys in block order, and each entry's text
// as the model says it is stored (folded for a case-insensitive index).
std::string entryProblems(const std::filesystem::path& x, const Model& m, const std::string& order) {
    const auto bytes = slurp(x);
    std::vector<int64_t> keys;
    std::string out;
    out += indexwalk::walkChain(bytes, [&](int, const uint8_t* e) {
        const bool place = order == "PLACE";
        const int64_t k = keyOf(e + (place ? 20 : 12));
        keys.push_back(k);
        auto it = m.find(k);
        if (it == m.end()) { out += "entry of a key not in the table; "; return; }
        const Rec& r = it->second;
        if (place && (alpha(e, 8) != r.city.sjis || alpha(e + 8, 12) != r.name.sjis)) out += "PLACE entry holds other text; ";
        if (order == "NAME" && alpha(e, 12) != r.name.sjis) out += "NAME entry holds other text; ";
        if (order == "NOCASE" && alpha(e, 12) != r.name.folded) out += "NOCASE entry holds other text; ";
    });
    if (keys != expectedOrder(m, order)) out += order + ": blocks not in the index's order; ";
    return out.size() > 300 ? out.substr(0, 300) : out;
}

// A reader's comparison of two .X keys of PLACE or NAME: the text fields descending (stored
// folded where the index folds), the table key after them ascending.
int descendingThenKey(const uint8_t* a, const uint8_t* b, int len, const std::vector<int>& fieldLengths) {
    int at = 0;
    for (int fl : fieldLengths) {
        const int n = std::min(fl, len - at);
        if (n <= 0) return 0;
        if (int c = std::memcmp(a + at, b + at, size_t(n))) return -c;
        at += n;
    }
    return at < len ? std::memcmp(a + at, b + at, size_t(len - at)) : 0;
}

std::string indexProblems(const TestDir& dir, const Model& m) {
    std::string out = indexwalk::primaryProblems(dir / "O.DB", dir / "O.PX", 4);
    out += indexwalk::secondaryProblems(dir / "O.DB", dir / "O.X02", dir / "O.Y02", 12, 4,
                                        [](const uint8_t* a, const uint8_t* b, int len) { return descendingThenKey(a, b, len, {12}); });
    out += indexwalk::secondaryProblems(dir / "O.DB", dir / "O.XG0", dir / "O.YG0", 12, 4);
    out += indexwalk::secondaryProblems(dir / "O.DB", dir / "O.XG1", dir / "O.YG1", 20, 4,
                                        [](const uint8_t* a, const uint8_t* b, int len) { return descendingThenKey(a, b, len, {8, 12}); });
    out += entryProblems(dir / "O.X02", m, "NAME");
    out += entryProblems(dir / "O.XG0", m, "NOCASE");
    out += entryProblems(dir / "O.XG1", m, "PLACE");
    return out;
}

RowId idOf(int64_t k) {
    RowId id;
    id.key = {k};
    return id;
}

void randomWrite(PxCursor& c, Model& m, std::mt19937& rng, int64_t keys) {
    const int64_t k = int64_t(rng() % uint64_t(keys));
    const int kind = int(rng() % 100);
    auto it = m.find(k);
    if (it == m.end() || kind < 35) {
        Rec r{k, randomText(rng, 4), randomText(rng, 3), double(rng() % 100)};
        if (it != m.end()) {
            EXPECT_EQ(errorCodeOf([&] { c.insert(r.row()); }), ErrKeyViolation);
            return;
        }
        c.insert(r.row());
        m[k] = r;
    } else if (kind < 60) { // text of an indexed field, often one differing only in case
        Rec after = it->second;
        const bool name = rng() % 2;
        Text& t = name ? after.name : after.city;
        t = rng() % 2 ? otherCase(t, rng) : randomText(rng, name ? 4 : 3);
        c.update(idOf(k), it->second.row(), after.row());
        it->second = after;
    } else if (kind < 80) { // a key change, to a free key
        const int64_t nk = int64_t(rng() % uint64_t(keys));
        Rec after = it->second;
        after.k = nk;
        if (m.count(nk)) {
            EXPECT_EQ(errorCodeOf([&] { c.update(idOf(k), it->second.row(), after.row()); }), nk == k ? 0 : ErrKeyViolation);
            return;
        }
        c.update(idOf(k), it->second.row(), after.row());
        m.erase(it);
        m[nk] = after;
    } else {
        c.remove(idOf(k), it->second.row());
        m.erase(it);
    }
}

} // namespace

TEST(ParadoxIndexOrders, RandomWritesKeepDescendingAndCaseInsensitiveIndexesInTheirOrder) {
    TestDir dir;
    createTable(dir / "O.DB");
    Model m;
    std::mt19937 rng(7);
    auto c = std::make_unique<PxCursor>(dir / "O.DB", OpenOptions{});
    for (int step = 1; step <= 6000; ++step) {
        randomWrite(*c, m, rng, 900);
        if (step % 1000 == 0) {
            ASSERT_EQ(indexProblems(dir, m), "") << "step " << step;
            for (const std::string order : {"", "NAME", "NOCASE", "PLACE"})
                ASSERT_EQ(cursorOrder(*c, order), expectedOrder(m, order)) << order << " at step " << step;
        }
        if (step % 1500 == 0) {
            // From the files: the kinds of index are told again from them.
            c = std::make_unique<PxCursor>(dir / "O.DB", OpenOptions{});
            ASSERT_EQ(c->readOnlyReason(), "");
            std::map<std::string, std::pair<bool, bool>> kinds;
            for (const auto& d : c->indexes())
                if (!d.primary) kinds[d.name] = {d.descending, d.caseInsensitive};
            EXPECT_EQ(kinds["NAME"], std::make_pair(true, false));
            EXPECT_EQ(kinds["NOCASE"], std::make_pair(false, true));
            EXPECT_EQ(kinds["PLACE"], std::make_pair(true, false));
        }
    }
    EXPECT_GT(m.size(), 250u);
    // Equal keys and keys differing only in case are there to be ordered.
    std::map<std::string, int> folded;
    for (const auto& [k, r] : m) ++folded[r.name.folded];
    EXPECT_TRUE(std::any_of(folded.begin(), folded.end(), [](const auto& f) { return f.second > 2; }));
    // The independent reader takes the table and every .X as the tables they are.
    EXPECT_EQ(pxpeer::read(dir / "O.DB").rows.size(), m.size());
    for (const char* x : {"O.X02", "O.XG0", "O.XG1"}) EXPECT_EQ(pxpeer::read(dir / x).rows.size(), m.size()) << x;
    // A rebuild from the records (the repair entry point) writes the same orders.
    c->rebuildIndexFiles();
    EXPECT_EQ(indexProblems(dir, m), "");
}

TEST(ParadoxIndexOrders, SeekFindsTheFirstRecordNotBeforeTheKeyInADescendingOrCaseInsensitiveOrder) {
    TestDir dir;
    createTable(dir / "O.DB");
    Model m;
    std::mt19937 rng(12);
    PxCursor c(dir / "O.DB", OpenOptions{});
    for (int i = 0; i < 1500; ++i) randomWrite(c, m, rng, 700);
    for (int round = 0; round < 40; ++round) {
        const Text key = randomText(rng, 3);
        for (const std::string order : {"NAME", "NOCASE"}) {
            const auto keys = expectedOrder(m, order);
            const auto want = std::partition_point(keys.begin(), keys.end(), [&](int64_t k) {
                const Text& t = m.at(k).name;
                return order == "NAME" ? t.sjis > key.sjis : t.folded < key.folded;
            });
            c.setOrder(order);
            EXPECT_EQ(c.seek({key.utf8}), int64_t(want - keys.begin())) << order << " " << key.utf8;
            // Inside a batch the order comes from a sort in memory: the same answer.
            c.beginBatch();
            c.insert({int64_t(100000 + round), std::string("ヂヂヂヂヂ"), std::string("a"), 0.0});
            c.rollbackBatch();
            c.beginBatch();
            const int64_t inMemory = c.seek({key.utf8});
            c.rollbackBatch();
            EXPECT_EQ(inMemory, int64_t(want - keys.begin())) << order << " " << key.utf8;
        }
    }
}

TEST(ParadoxIndexOrders, CreationMarksTheDirectionAndRefusesUniqueSecondaries) {
    TestDir dir;
    createTable(dir / "O.DB");
    const auto db = slurp(dir / "O.DB"), x02 = slurp(dir / "O.X02"), xg0 = slurp(dir / "O.XG0"), xg1 = slurp(dir / "O.XG1");
    EXPECT_EQ(db[0x39], 0x0C) << "a descending index needs a level-7 table";
    EXPECT_EQ(x02[0x39], 0x0C);
    EXPECT_EQ(x02[0x55], 0x11);
    EXPECT_EQ(xg0[0x55], 0x01);
    EXPECT_EQ(xg1[0x55], 0x11);
    // Without a descending index the table keeps the lowest level its fields need.
    IndexDef primary;
    primary.primary = true;
    primary.fields = "K";
    createParadoxTable(dir / "L.DB", {field("K", FieldType::Integer), field("NAME", FieldType::String, 12)},
                       {primary, ix("NOCASE", "NAME", false, true)});
    EXPECT_LT(slurp(dir / "L.DB")[0x39], 0x0C);
    // Where a unique secondary is marked is not known: none is made, and nothing is left.
    IndexDef unique = ix("U", "NAME", false, false);
    unique.unique = true;
    EXPECT_EQ(errorCodeOf([&] {
        createParadoxTable(dir / "U.DB", {field("K", FieldType::Integer), field("NAME", FieldType::String, 12)}, {primary, unique});
    }), ErrNotSupported);
    EXPECT_FALSE(std::filesystem::exists(dir / "U.DB"));
    EXPECT_FALSE(std::filesystem::exists(dir / "U.PX"));
    // Nor a composite one without case: reopened before it holds a lower-case letter it could
    // not be told from one with case.
    EXPECT_EQ(errorCodeOf([&] {
        createParadoxTable(dir / "V.DB", {field("K", FieldType::Integer), field("NAME", FieldType::String, 12)},
                           {primary, ix("V", "NAME;K", false, true)});
    }), ErrNotSupported);
    EXPECT_FALSE(std::filesystem::exists(dir / "V.DB"));
    // A direction byte of another meaning: the table is read, not written.
    {
        auto bytes = slurp(dir / "O.XG0");
        bytes[0x55] = 0x21;
        std::ofstream((dir / "O.XG0").c_str(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    PxCursor c(dir / "O.DB", OpenOptions{});
    EXPECT_NE(c.readOnlyReason().find("0x21"), std::string::npos) << c.readOnlyReason();
    EXPECT_EQ(errorCodeOf([&] { c.insert({int64_t(1), std::string("a"), std::string("b"), 1.0}); }), ErrReadOnly);
}

namespace {

std::map<std::string, std::vector<uint8_t>> folderBytes(const std::filesystem::path& dir) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out[e.path().filename().string()] = slurp(e.path());
    return out;
}

void putFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream(p.c_str(), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

// The records of the only block of an .X file, reordered by `less`, and the .Y's one entry
// given the new first key.
template <class Less> void reorderOnlyBlock(const std::filesystem::path& x, const std::filesystem::path& y, Less less) {
    auto xb = slurp(x), yb = slurp(y);
    const int rs = indexwalk::le16(xb, 0), hs = indexwalk::le16(xb, 2);
    ASSERT_EQ(indexwalk::le16(xb, 0x0C), 1) << "one block";
    const int n = int16_t(indexwalk::le16(xb, size_t(hs) + 4)) / rs + 1;
    std::vector<std::vector<uint8_t>> recs;
    for (int i = 0; i < n; ++i) {
        const uint8_t* p = xb.data() + hs + 6 + i * rs;
        recs.emplace_back(p, p + rs);
    }
    std::stable_sort(recs.begin(), recs.end(), less);
    for (int i = 0; i < n; ++i) std::copy(recs[size_t(i)].begin(), recs[size_t(i)].end(), xb.begin() + hs + 6 + i * rs);
    const int yhs = indexwalk::le16(yb, 2);
    std::copy(recs[0].begin(), recs[0].end() - 2, yb.begin() + yhs + 6);
    putFile(x, xb);
    putFile(y, yb);
}

std::string foldAscii(std::string s) {
    for (auto& ch : s) if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
    return s;
}

} // namespace

TEST(ParadoxIndexOrders, AnIndexFromElsewhereIsToldCaseInsensitiveByItsOrderAndKeptInIt) {
    // Entries stored as typed, in the order of their text without case: as another program
    // may write a case-insensitive index. The header does not say; the order does.
    TestDir dir;
    IndexDef primary;
    primary.primary = true;
    primary.fields = "K";
    createParadoxTable(dir / "E.DB", {field("K", FieldType::Integer), field("NAME", FieldType::String, 10)},
                       {primary, ix("BYNAME", "NAME;K", false, false)});
    std::map<int64_t, std::string> m;
    const char* names[] = {"b", "A", "a", "B", "ab", "AB", "Ba", "c", "C", "aa"};
    {
        PxCursor c(dir / "E.DB", OpenOptions{});
        for (int64_t k = 0; k < 10; ++k) {
            c.insert({k, std::string(names[k])});
            m[k] = names[k];
        }
        const auto ixs = c.indexes();
        ASSERT_FALSE(ixs.back().caseInsensitive) << "composite: case-sensitive";
    }
    reorderOnlyBlock(dir / "E.XG0", dir / "E.YG0", [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        const std::string fa = foldAscii(alpha(a.data(), 10)), fb = foldAscii(alpha(b.data(), 10));
        return fa != fb ? fa < fb : std::memcmp(a.data() + 10, b.data() + 10, 4) < 0;
    });
    PxCursor c(dir / "E.DB", OpenOptions{});
    ASSERT_EQ(c.readOnlyReason(), "");
    EXPECT_TRUE(c.indexes().back().caseInsensitive);
    std::mt19937 rng(5);
    for (int64_t k = 10; k < 400; ++k) {
        std::string s;
        for (int i = 0, n = 1 + int(rng() % 3); i < n; ++i) s += "aAbBcC"[rng() % 6];
        c.insert({k, s});
        m[k] = s;
        if (rng() % 4 == 0) {
            const int64_t gone = int64_t(rng() % uint64_t(k));
            if (m.count(gone)) {
                c.remove(idOf(gone), {gone, m[gone]});
                m.erase(gone);
            }
        }
    }
    std::vector<std::pair<std::string, int64_t>> want;
    for (const auto& [k, s] : m) want.push_back({foldAscii(s), k});
    std::sort(want.begin(), want.end());
    std::vector<std::pair<std::string, int64_t>> got;
    EXPECT_EQ(indexwalk::walkChain(slurp(dir / "E.XG0"), [&](int, const uint8_t* e) { got.push_back({foldAscii(alpha(e, 10)), keyOf(e + 14)}); }), "");
    EXPECT_EQ(got, want);
    EXPECT_EQ(indexwalk::secondaryProblems(dir / "E.DB", dir / "E.XG0", dir / "E.YG0", 14, 4,
                                           [](const uint8_t* a, const uint8_t* b, int len) {
                                               const std::string fa = foldAscii(alpha(a, 10)), fb = foldAscii(alpha(b, 10));
                                               if (fa != fb) return fa < fb ? -1 : 1;
                                               return std::memcmp(a + 10, b + 10, size_t(len - 10));
                                           }),
              "");
}

TEST(ParadoxIndexOrders, AnIndexInAnOrderThisProgramCannotProduceStaysReadOnlyAndUnchanged) {
    // Two entries of a case-insensitive index swapped: neither byte order nor the folded
    // one. A write is refused before anything lands, and the table stays read-only.
    TestDir dir;
    createTable(dir / "O.DB");
    Model m;
    std::mt19937 rng(9);
    {
        PxCursor c(dir / "O.DB", OpenOptions{});
        for (int i = 0; i < 40; ++i) randomWrite(c, m, rng, 30);
    }
    ASSERT_GT(m.size(), 5u);
    reorderOnlyBlock(dir / "O.XG0", dir / "O.YG0", [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        return std::memcmp(a.data(), b.data(), 16) > 0; // backwards
    });
    const auto before = folderBytes(dir.path());
    PxCursor c(dir / "O.DB", OpenOptions{});
    EXPECT_EQ(errorCodeOf([&] { c.insert({int64_t(500), std::string("a"), std::string("b"), 1.0}); }), ErrReadOnly);
    EXPECT_NE(c.readOnlyReason().find("NOCASE"), std::string::npos) << c.readOnlyReason();
    EXPECT_TRUE(folderBytes(dir.path()) == before) << "refused before anything was written";
    const Rec& r = m.begin()->second;
    Rec after = r;
    after.n = 12345;
    EXPECT_EQ(errorCodeOf([&] { c.update(idOf(r.k), r.row(), after.row()); }), ErrReadOnly) << "read-only from then on";
    EXPECT_TRUE(folderBytes(dir.path()) == before);
}

TEST(ParadoxIndexOrders, FoldingAndComparingLeaveDoubleByteCharactersAlone) {
    // ヂ is 0x83 0x61: its second byte is the one of 'a', never upper-cased.
    uint8_t text[] = {0x83, 0x61, 'a', 0x8A, 0x62, 'z', 0};
    PxKeyOrder::foldText(text, 7, 932);
    EXPECT_EQ(std::vector<uint8_t>(text, text + 7), (std::vector<uint8_t>{0x83, 0x61, 'A', 0x8A, 0x62, 'Z', 0}));
    uint8_t latin[] = {'a', 0x83, 'b'};
    PxKeyOrder::foldText(latin, 3, 1252);
    EXPECT_EQ(std::vector<uint8_t>(latin, latin + 3), (std::vector<uint8_t>{'A', 0x83, 'B'}));
    // One folded field descending, then an ascending tail.
    const PxKeyOrder order({{0, 3, true, true}}, 932);
    const uint8_t ya[] = {0x83, 0x61, 0, 1}, yA[] = {0x83, 0x41, 0, 1}, abc[] = {'a', 'b', 'c', 1}, ABC2[] = {'A', 'B', 'C', 2};
    EXPECT_LT(order.compare(ya, yA, 4), 0) << "ヂ (0x8361) after ア (0x8341), descending: before it";
    EXPECT_LT(order.compare(abc, ABC2, 4), 0) << "equal without case: the tail ascends";
    EXPECT_EQ(order.compare(abc, ABC2, 3), 0) << "a prefix of the key";
    EXPECT_GT(order.compare(abc, ya, 4), 0) << "0x41.. below 0x83..: after it, descending";
}
