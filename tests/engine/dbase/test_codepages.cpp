// Real-world dBASE files: tables in code pages other than 932 (written by python3-dbf and
// compared with what python3-dbfread reads), the alias's LANGDRIVER for tables whose header
// names none, its override, tables missing their memo file or records, dBASE II tables and
// Visual FoxPro tables without memo fields.
#include "DbaseTestUtil.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/Drivers.h"
#include "engine/values/Codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

using namespace vemo::engine;

namespace {

std::string text(const Value& v) {
    if (isNull(v)) return "<null>";
    return valueToText(v, FieldType::Unknown);
}

// What python3-dbfread reads from each table, by file: one "a|b|c" line per record.
std::map<std::string, std::vector<std::string>> peerRows(const std::string& out) {
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t bar = line.find('|');
        rows[line.substr(0, bar)].push_back(line.substr(bar + 1));
    }
    return rows;
}

std::vector<std::string> ourRows(Cursor& c) {
    std::vector<std::string> lines;
    for (const Row& r : dbtest::readAll(c)) {
        std::string line;
        for (size_t i = 0; i < r.size(); ++i) line += (i ? "|" : "") + text(r[i]);
        lines.push_back(line);
    }
    return lines;
}

class CodepageTest : public ::testing::Test {
protected:
    void SetUp() override {
        peer_ = peerRows(dbtest::runPython("make_codepage_tables.py",
                                           dir_.path().string() + " CP437.DBF CP850.DBF CP1251.DBF CP1252.DBF V7.DBF FOX1252.DBF"));
    }
    std::unique_ptr<Database> connect(Params extra = {}) {
        Params p{{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}};
        p.insert(p.end(), extra.begin(), extra.end());
        return makeStandardDriver()->connect("CP", p, {});
    }
    void patch(const std::string& file, size_t at, char byte) {
        std::string b = dbtest::bytesOf(dir_ / file);
        b[at] = byte;
        dbtest::writeBytes(dir_ / file, b);
    }

    dbtest::TempDir dir_;
    std::map<std::string, std::vector<std::string>> peer_;
};

} // namespace

TEST_F(CodepageTest, TablesNamingTheirCodePageReadAsThePeerReadsThem) {
    auto db = connect();
    for (const char* file : {"CP437.DBF", "CP850.DBF", "CP1251.DBF", "CP1252.DBF", "V7.DBF", "FOX1252.DBF"}) {
        SCOPED_TRACE(file);
        auto c = db->openTable(file, {});
        EXPECT_EQ(ourRows(*c), peer_[file]);
    }
}

TEST_F(CodepageTest, LanguageDriverOfTheAliasReadsTablesWhoseHeaderNamesNone) {
    patch("CP1251.DBF", 29, 0); // no language driver byte
    auto plain = connect();
    auto c = plain->openTable("CP1251.DBF", {});
    EXPECT_NE(ourRows(*c), peer_["CP1251.DBF"]) << "read as code page 932, Cyrillic cannot come out right";
    c.reset();

    for (const char* name : {"1251", "CP1251", "WINDOWS-1251", "ancyrr"}) {
        SCOPED_TRACE(name);
        auto db = connect({{"LANGDRIVER", name}});
        auto t = db->openTable("CP1251.DBF", {});
        EXPECT_EQ(ourRows(*t), peer_["CP1251.DBF"]);
        // A header that names its code page keeps it.
        EXPECT_EQ(ourRows(*db->openTable("CP437.DBF", {})), peer_["CP437.DBF"]);
    }
}

TEST_F(CodepageTest, ForcedLanguageDriverOverridesAWrongHeader) {
    patch("CP1251.DBF", 29, char(0x01)); // claims code page 437
    auto wrong = connect({{"LANGDRIVER", "1251"}});
    EXPECT_NE(ourRows(*wrong->openTable("CP1251.DBF", {})), peer_["CP1251.DBF"]);
    auto forced = connect({{"LANGDRIVER", "1251"}, {"FORCE LANGDRIVER", "TRUE"}});
    EXPECT_EQ(ourRows(*forced->openTable("CP1251.DBF", {})), peer_["CP1251.DBF"]);
}

TEST_F(CodepageTest, DoubleByteCodePagesBeyondTheJapaneseOneDecodeWholeCharacters) {
    // Korean Johab (1361): its trail bytes start lower than Shift-JIS's.
    std::string b = dbtest::bytesOf(dir_ / "CP1251.DBF");
    const size_t header = static_cast<unsigned char>(b[8]) | static_cast<unsigned char>(b[9]) << 8;
    const std::string korean = encodeText("한국어 자료", 1361);
    ASSERT_LE(korean.size(), 30u);
    b.replace(header + 1, 30, korean + std::string(30 - korean.size(), ' '));
    dbtest::writeBytes(dir_ / "CP1251.DBF", b);
    auto c = connect({{"LANGDRIVER", "1361"}, {"FORCE LANGDRIVER", "TRUE"}})->openTable("CP1251.DBF", {});
    EXPECT_EQ(text(dbtest::readAll(*c)[0][0]), "한국어 자료");
}

TEST_F(CodepageTest, BadLanguageDriverSettingsAreClearErrors) {
    EXPECT_EQ(dbtest::errorCodeOf([&] { connect({{"LANGDRIVER", "KLINGON"}}); }), ErrInvalidParam);
    EXPECT_EQ(dbtest::errorCodeOf([&] { connect({{"LANGDRIVER", "99999"}}); }), ErrInvalidParam);
    EXPECT_EQ(dbtest::errorCodeOf([&] { connect({{"FORCE LANGDRIVER", "TRUE"}}); }), ErrInvalidParam);
    EXPECT_EQ(dbtest::errorCodeOf([&] { connect({{"LANGDRIVER", "1251"}, {"FORCE LANGDRIVER", "YES"}}); }), ErrInvalidParam);
}

TEST_F(CodepageTest, UnconvertibleCodePageKeepsTheBytesAndSaysSo) {
    // Code page 895 (Kamenicky) has a FoxPro mark but no converter here.
    patch("CP1251.DBF", 29, char(0x68));
    const std::string before = dbtest::bytesOf(dir_ / "CP1251.DBF");
    auto db = connect();
    auto c = db->openTable("CP1251.DBF", {});
    EXPECT_NE(c->readOnlyReason().find("895"), std::string::npos) << c->readOnlyReason();
    const auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 3u);
    // Byte for byte: each byte of "Привет" in code page 1251 is one character.
    const std::string name = text(rows[0][0]);
    EXPECT_EQ(name.rfind("\xC3\x8F", 0), 0u) << name; // 0xCF as U+00CF
    EXPECT_THROW(c->insert(rows[0]), EngineError);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "CP1251.DBF"), before);
}

TEST_F(CodepageTest, NewTablesRecordTheirCodePageForThePeer) {
    auto db = connect({{"LANGDRIVER", "1251"}});
    FieldDef name;
    name.name = "NAME";
    name.type = FieldType::String;
    name.size = 20;
    db->createTable("NEW.DBF", {name}, {});
    {
        auto c = db->openTable("NEW.DBF", {});
        c->insert({std::string("Съешь же ещё")});
    }
    EXPECT_EQ(static_cast<unsigned char>(dbtest::bytesOf(dir_ / "NEW.DBF")[29]), 0xC9u);
    const auto peer = peerRows(dbtest::runPython("make_codepage_tables.py", dir_.path().string() + " NEW.DBF"));
    ASSERT_EQ(peer.at("NEW.DBF").size(), 1u);
    EXPECT_EQ(peer.at("NEW.DBF")[0], "Съешь же ещё");
    // Read back through an alias that knows nothing of 1251.
    EXPECT_EQ(ourRows(*connect()->openTable("NEW.DBF", {})), peer.at("NEW.DBF"));
}

TEST_F(CodepageTest, MissingMemoFileOpensReadOnlyWithEmptyMemos) {
    std::filesystem::remove(dir_ / "CP1252.DBT");
    auto db = connect();
    auto c = db->openTable("CP1252.DBF", {});
    EXPECT_NE(c->readOnlyReason().find("CP1252.DBT"), std::string::npos) << c->readOnlyReason();
    const auto rows = dbtest::readAll(*c);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(text(rows[1][0]), "€ 12,50");
    EXPECT_TRUE(isNull(rows[1][2]));
    EXPECT_THROW(c->insert(rows[0]), EngineError);
}

TEST_F(CodepageTest, VisualFoxProWithoutMemoFieldsNeedsNoMemoFile) {
    ASSERT_FALSE(std::filesystem::exists(dir_ / "V7.FPT"));
    auto c = connect()->openTable("V7.DBF", {});
    EXPECT_EQ(c->readOnlyReason().find("メモ"), std::string::npos) << c->readOnlyReason();
    EXPECT_EQ(ourRows(*c), peer_["V7.DBF"]);
}

TEST_F(CodepageTest, VersionByteOfTheOtherFamilyFindsTheMemoFileThatIsThere) {
    patch("FOX1252.DBF", 0, char(0x8B)); // claims a dBASE IV memo file (.DBT); the .FPT is there
    auto c = connect()->openTable("FOX1252.DBF", {});
    EXPECT_EQ(ourRows(*c), peer_["FOX1252.DBF"]);
}

TEST_F(CodepageTest, ShortTableSaysHowManyRecordsAreMissing) {
    std::string b = dbtest::bytesOf(dir_ / "CP850.DBF");
    const size_t header = static_cast<unsigned char>(b[8]) | static_cast<unsigned char>(b[9]) << 8;
    const size_t record = static_cast<unsigned char>(b[10]) | static_cast<unsigned char>(b[11]) << 8;
    dbtest::writeBytes(dir_ / "CP850.DBF", b.substr(0, header + record + record / 2)); // one and a half
    auto c = connect()->openTable("CP850.DBF", {});
    EXPECT_EQ(c->count(), 1);
    EXPECT_NE(c->readOnlyReason().find("2 件を読めません"), std::string::npos) << c->readOnlyReason();
    EXPECT_EQ(ourRows(*c), std::vector<std::string>{peer_["CP850.DBF"][0]});
}

namespace {

// A dBASE II table: a fixed 521-byte header, 16-byte field descriptors from byte 8. Writers
// disagree on whether the stored record length counts the deletion flag.
std::string dbase2Table(bool lengthCountsFlag) {
    std::string h(521, '\0');
    h[0] = 0x02;
    h[1] = 2; // records
    h[3] = 7; h[4] = 14; h[5] = 85;
    h[6] = char(lengthCountsFlag ? 15 : 14);
    auto field = [&](int i, const char* name, char type, int len, int dec) {
        char* d = h.data() + 8 + 16 * i;
        std::memcpy(d, name, std::strlen(name));
        d[11] = type;
        d[12] = char(len);
        d[15] = char(dec);
    };
    field(0, "NAME", 'C', 8, 0);
    field(1, "AMOUNT", 'N', 5, 1);
    field(2, "PAID", 'L', 1, 0);
    h[8 + 16 * 3] = 0x0D;
    return h + " ALPHA    12.5T" + "*BETA     -3.0F" + "\x1A";
}

} // namespace

TEST_F(CodepageTest, DbaseTwoTablesAreReadAndNeverWritten) {
    for (bool counts : {true, false}) {
        SCOPED_TRACE(counts);
        dbtest::writeBytes(dir_ / "OLD.DBF", dbase2Table(counts));
        auto c = connect()->openTable("OLD.DBF", {});
        ASSERT_EQ(c->fields().size(), 3u);
        EXPECT_EQ(c->fields()[1].name, "AMOUNT");
        EXPECT_NE(c->readOnlyReason(), "");
        const auto rows = ourRows(*c);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], "ALPHA|12.5|True");
        EXPECT_THROW(c->insert(dbtest::readAll(*c)[0]), EngineError);
    }
}
