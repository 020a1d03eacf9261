// Real-world Paradox files: tables in code pages other than 932 (written by pxlib, whose
// text bytes come from iconv), tables whose header names no code page, a file cut short in
// its last block, and password-protected tables written and read back by pxlib.
#include "PxlibPeer.h"
#include "TestDir.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/paradox/PxBlobStore.h"
#include "engine/drivers/standard/paradox/PxCipher.h"
#include "engine/drivers/standard/paradox/PxCreate.h"
#include "engine/drivers/standard/paradox/PxCursor.h"
#include "engine/values/Codepage.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace vemo::engine;
using namespace vemo::engine::paradox;
using vemo::engine::standard::TableSettings;

namespace {

pxpeer::Val lng(long l) { pxpeer::Val v; v.null = false; v.l = l; return v; }
pxpeer::Val str(const std::string& s) { pxpeer::Val v; v.null = false; v.s = s; return v; }

std::string bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeBytes(const std::filesystem::path& p, const std::string& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(b.data(), std::streamsize(b.size()));
}

std::vector<Row> readAll(PxCursor& c) {
    std::vector<Row> rows;
    Row r;
    RowId id;
    for (int64_t i = 0; c.read(i, r, id); ++i) rows.push_back(r);
    return rows;
}

std::string textOf(const Value& v) { return isNull(v) ? "<null>" : valueToText(v, FieldType::Unknown); }

struct Sample {
    int codepage;
    std::string fieldName;
    std::vector<std::string> texts;
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> s = {
        {437, "Größe", {"Über straße", "café ñandú", "½ ° ±"}},
        {850, "Bør", {"Ærøskøbing", "Ångström", "façade ÿ"}},
        {1251, "Имя", {"Привет мир", "Ёжик в тумане", "щука, №5"}},
        {1252, "Café", {"naïve café", "€ 12,50", "Œuvre — “quoted”"}},
    };
    return s;
}

// A table of the sample written by pxlib with `headerCodepage` in its header (0: none).
void writeSample(const std::filesystem::path& db, const Sample& s, int headerCodepage, const std::string& password = {}) {
    std::vector<std::vector<pxpeer::Val>> rows;
    for (size_t i = 0; i < s.texts.size(); ++i) rows.push_back({lng(long(i) + 1), str(encodeText(s.texts[i], s.codepage))});
    pxpeer::write(db, {{"K", 0x04, 4}, {encodeText(s.fieldName, s.codepage), 0x01, 40}}, rows, {}, headerCodepage, password);
}

} // namespace

TEST(ParadoxRealWorld, TablesInWesternAndCyrillicCodePagesReadAsWritten) {
    TestDir dir;
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.codepage);
        const auto db = dir / ("CP" + std::to_string(s.codepage) + ".DB");
        writeSample(db, s, s.codepage);
        PxCursor c(db, OpenOptions{});
        EXPECT_EQ(c.fields()[1].name, s.fieldName);
        const auto rows = readAll(c);
        ASSERT_EQ(rows.size(), s.texts.size());
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(textOf(rows[i][1]), s.texts[i]);
        EXPECT_EQ(c.readOnlyReason(), "");
    }
}

TEST(ParadoxRealWorld, HeaderWithoutCodePageTakesTheLanguageDriverAndAnOverrideWins) {
    TestDir dir;
    const Sample& cyr = samples()[2];
    const auto none = dir / "NONE.DB";
    const auto wrong = dir / "WRONG.DB";
    writeSample(none, cyr, 1251);
    std::string header = bytesOf(none);
    header[0x6A] = header[0x6B] = 0; // no code page in the header (pxlib always writes one)
    writeBytes(none, header);
    writeSample(wrong, cyr, 437);

    TableSettings s1251;
    s1251.defaultCodepage = 1251;
    {
        PxCursor c(none, OpenOptions{}, s1251);
        EXPECT_EQ(textOf(readAll(c)[0][1]), cyr.texts[0]);
        EXPECT_EQ(c.fields()[1].name, cyr.fieldName);
    }
    {
        PxCursor plain(none, OpenOptions{});
        EXPECT_NE(textOf(readAll(plain)[0][1]), cyr.texts[0]) << "the default (932) cannot read Cyrillic";
    }
    {
        PxCursor c(wrong, OpenOptions{}, s1251);
        EXPECT_NE(textOf(readAll(c)[0][1]), cyr.texts[0]) << "the header's own code page comes first";
    }
    TableSettings forced = s1251;
    forced.forcedCodepage = 1251;
    PxCursor c(wrong, OpenOptions{}, forced);
    EXPECT_EQ(textOf(readAll(c)[2][1]), cyr.texts[2]);
}

TEST(ParadoxRealWorld, NewTablesRecordTheirCodePageAndThePeerReadsTheirText) {
    TestDir dir;
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.codepage);
        const auto db = dir / ("N" + std::to_string(s.codepage) + ".DB");
        createParadoxTable(db, {field("K", FieldType::Integer), field(s.fieldName, FieldType::String, 40)}, {}, s.codepage);
        {
            PxCursor c(db, OpenOptions{});
            for (size_t i = 0; i < s.texts.size(); ++i) c.insert({int64_t(i), s.texts[i]});
        }
        const pxpeer::Table t = pxpeer::read(db);
        ASSERT_EQ(t.rows.size(), s.texts.size());
        EXPECT_EQ(t.fields[1].name, encodeText(s.fieldName, s.codepage));
        for (size_t i = 0; i < s.texts.size(); ++i) EXPECT_EQ(t.rows[i][1].s, encodeText(s.texts[i], s.codepage));
        // Read back by settings that would say otherwise for a table naming none.
        TableSettings other;
        other.defaultCodepage = 866;
        PxCursor c(db, OpenOptions{}, other);
        EXPECT_EQ(textOf(readAll(c)[1][1]), s.texts[1]);
    }
}

TEST(ParadoxRealWorld, UnconvertibleCodePageKeepsTheBytesReadOnly) {
    TestDir dir;
    const auto db = dir / "KAM.DB";
    writeSample(db, samples()[2], 895);
    const std::string before = bytesOf(db);
    PxCursor c(db, OpenOptions{});
    EXPECT_NE(c.readOnlyReason().find("895"), std::string::npos) << c.readOnlyReason();
    const std::string raw = encodeText(samples()[2].texts[0], 1251);
    EXPECT_EQ(encodeText(textOf(readAll(c)[0][1]), RawBytesCodepage), raw);
    EXPECT_THROW(c.insert({int64_t(9), std::string("x")}), EngineError);
    EXPECT_EQ(bytesOf(db), before);
}

TEST(ParadoxRealWorld, FileCutInsideItsLastBlockKeepsTheWholeRecordsThere) {
    TestDir dir;
    const auto db = dir / "CUT.DB";
    std::vector<std::vector<pxpeer::Val>> rows;
    for (int i = 0; i < 400; ++i) rows.push_back({lng(i), str("record " + std::to_string(i))});
    pxpeer::write(db, {{"K", 0x04, 4}, {"S", 0x01, 40}}, rows, {}, 1252);
    const pxpeer::Table whole = pxpeer::read(db);
    std::string b = bytesOf(db);
    writeBytes(db, b.substr(0, b.size() - 1024));

    PxCursor c(db, OpenOptions{});
    const auto ours = readAll(c);
    ASSERT_GT(ours.size(), 300u);
    ASSERT_LT(ours.size(), 400u);
    // Every record before the cut, as the peer reads them before the file was cut.
    for (size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(std::get<int64_t>(ours[i][0]), whole.rows[i][0].l);
        EXPECT_EQ(std::get<std::string>(ours[i][1]), whole.rows[i][1].s);
    }
    // Only the records in the lost kilobyte (of 44 bytes each) are missing.
    EXPECT_LE(400 - ours.size(), 1024 / 44 + 1);
    const std::string missing = std::to_string(400 - ours.size()) + " 件を読めません";
    EXPECT_NE(c.readOnlyReason().find(missing), std::string::npos) << c.readOnlyReason();
    EXPECT_THROW(c.insert({int64_t(1000), std::string("x")}), EngineError);
}

TEST(ParadoxRealWorld, PasswordChecksumIsTheOneThePeerWrites) {
    TestDir dir;
    for (const std::string pw : {"secret", "A", "パスワード", "a much longer password of forty characters"}) {
        SCOPED_TRACE(pw);
        const auto db = dir / "PW.DB";
        std::filesystem::remove(db);
        writeSample(db, samples()[3], 1252, pw);
        EXPECT_EQ(passwordChecksum(pw), uint32_t(pxpeer::checksumOf(db)));
    }
    EXPECT_EQ(passwordChecksum(""), 0u);
}

TEST(ParadoxRealWorld, ProtectedTableOpensWithItsPasswordAndStaysProtected) {
    TestDir dir;
    const auto db = dir / "SECRET.DB";
    std::vector<std::vector<pxpeer::Val>> rows;
    for (int i = 0; i < 300; ++i) rows.push_back({lng(i), str("Тайна " + std::to_string(i))});
    for (auto& r : rows) r[1].s = encodeText(r[1].s, 1251);
    pxpeer::write(db, {{"K", 0x04, 4}, {"S", 0x01, 40}}, rows, {}, 1251, "Sesam");
    ASSERT_EQ(bytesOf(db).find(encodeText("Тайна 1", 1251)), std::string::npos) << "the peer scrambled nothing";

    EXPECT_EQ(enginetest::errorCodeOf([&] { PxCursor c(db, OpenOptions{}); }), ErrLogin);
    TableSettings wrong;
    wrong.password = "sesam";
    EXPECT_EQ(enginetest::errorCodeOf([&] { PxCursor c(db, OpenOptions{}, wrong); }), ErrLogin);
    TableSettings cancel;
    cancel.askPassword = [](const std::string&, std::string&) { return false; };
    EXPECT_EQ(enginetest::errorCodeOf([&] { PxCursor c(db, OpenOptions{}, cancel); }), ErrLoginCancelled);

    // Asked, wrong once, then right; the question names the table.
    TableSettings asked;
    int questions = 0;
    asked.password = "nope";
    asked.askPassword = [&](const std::string& table, std::string& pw) {
        EXPECT_EQ(table, "SECRET.DB");
        pw = ++questions == 1 ? "Sesame" : "Sesam";
        return true;
    };
    {
        PxCursor c(db, OpenOptions{}, asked);
        EXPECT_EQ(questions, 2);
        const auto ours = readAll(c);
        ASSERT_EQ(ours.size(), rows.size());
        for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(textOf(ours[i][1]), "Тайна " + std::to_string(i));
        EXPECT_EQ(c.readOnlyReason(), "");
        // Edits keep the protection: the peer still reads the table, through its password.
        c.insert({int64_t(1000), std::string("Новая запись")});
        Row r;
        RowId id;
        ASSERT_TRUE(c.read(5, r, id));
        c.update(id, r, {int64_t(5), std::string("Изменено")});
    }
    const std::string stored = bytesOf(db);
    EXPECT_EQ(stored.find(encodeText("Новая запись", 1251)), std::string::npos);
    EXPECT_EQ(stored.find(encodeText("Изменено", 1251)), std::string::npos);
    const pxpeer::Table peer = pxpeer::read(db);
    ASSERT_EQ(peer.rows.size(), rows.size() + 1);
    EXPECT_EQ(pxpeer::checksumOf(db), passwordChecksum("Sesam"));
    bool inserted = false, updated = false;
    for (const auto& row : peer.rows) {
        inserted |= row[0].l == 1000 && row[1].s == encodeText("Новая запись", 1251);
        updated |= row[0].l == 5 && row[1].s == encodeText("Изменено", 1251);
    }
    EXPECT_TRUE(inserted);
    EXPECT_TRUE(updated);
}

TEST(ParadoxRealWorld, ProtectedTableKeepsItsMemosScrambledForThePeer) {
    TestDir dir;
    const auto db = dir / "MEMO.DB";
    const auto mb = dir / "MEMO.MB";
    // pxlib reads a protected table's .MB through the key but writes it plain: the table
    // comes from it without one, and the .MB is this engine's.
    pxpeer::Val none;
    pxpeer::write(db, {{"K", 0x04, 4}, {"M", 0x0C, 11}}, {{lng(1), none}}, {}, 1252, "key");
    ASSERT_FALSE(std::filesystem::exists(mb));
    PxBlobStore::create(mb);
    std::string header = bytesOf(mb);
    encryptBlobChunks(reinterpret_cast<uint8_t*>(header.data()), header.size(), passwordChecksum("key"));
    writeBytes(mb, header);
    TableSettings s;
    s.password = "key";
    const std::string longMemo = "Geheimnis " + std::string(3000, 'g') + " Ende";
    {
        PxCursor c(db, OpenOptions{}, s);
        EXPECT_EQ(textOf(readAll(c)[0][1]), "<null>");
        c.insert({int64_t(2), longMemo});
    }
    EXPECT_EQ(bytesOf(mb).find("Geheimnis"), std::string::npos) << "the memo went down plain";
    {
        PxCursor c(db, OpenOptions{}, s);
        const auto rows = readAll(c);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(textOf(rows[1][1]), longMemo);
    }
    const pxpeer::Table peer = pxpeer::read(db, mb);
    ASSERT_EQ(peer.rows.size(), 2u);
    EXPECT_EQ(peer.rows[1][1].s, longMemo);
}

TEST(ParadoxRealWorld, KeyedProtectedTableStaysWritableAndSorted) {
    TestDir dir;
    const auto db = dir / "KEYS.DB";
    IndexDef pk;
    pk.primary = true;
    pk.fields = "K";
    createParadoxTable(db, {field("K", FieldType::Integer), field("S", FieldType::String, 30)}, {pk}, 1252);
    {
        PxCursor c(db, OpenOptions{});
        for (int i = 0; i < 500; i += 2) c.insert({int64_t(i), "value " + std::to_string(i)});
    }
    // Protect it as the format does: the checksum in the header, every block scrambled.
    std::string b = bytesOf(db);
    const size_t headerSize = uint8_t(b[2]) | uint8_t(b[3]) << 8, blockSize = uint8_t(b[5]) * 0x400u;
    const uint32_t sum = passwordChecksum("k3y");
    for (int i = 0; i < 4; ++i) b[0x5C + i] = char(sum >> (8 * i));
    for (size_t at = headerSize, n = 1; at + blockSize <= b.size(); at += blockSize, ++n)
        encryptDataBlock(reinterpret_cast<uint8_t*>(b.data() + at), blockSize, sum, uint16_t(n));
    writeBytes(db, b);
    ASSERT_EQ(pxpeer::read(db).rows.size(), 250u) << "the peer reads the protected table";

    TableSettings s;
    s.password = "k3y";
    {
        PxCursor c(db, OpenOptions{}, s);
        EXPECT_EQ(c.readOnlyReason(), "");
        for (int i = 1; i < 500; i += 2) c.insert({int64_t(i), "odd " + std::to_string(i)});
        const auto rows = readAll(c);
        ASSERT_EQ(rows.size(), 500u);
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(std::get<int64_t>(rows[i][0]), int64_t(i));
    }
    const pxpeer::Table peer = pxpeer::read(db);
    ASSERT_EQ(peer.rows.size(), 500u);
    for (size_t i = 0; i < peer.rows.size(); ++i) EXPECT_EQ(peer.rows[i][0].l, long(i));
    EXPECT_EQ(bytesOf(db).find("odd 1"), std::string::npos);
    // Opened again, through its rebuilt primary index.
    PxCursor again(db, OpenOptions{}, s);
    EXPECT_EQ(again.readOnlyReason(), "");
    EXPECT_EQ(again.count(), 500);
}
