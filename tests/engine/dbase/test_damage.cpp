// Damaged files: a clear error or the readable records, never a crash or a hang, and never
// a write to a file found damaged.
#include "DbaseTestUtil.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

class DamageTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeDbaseSample(dir_.path());
        original_ = dbtest::bytesOf(dir_ / "ORDERS.DBF");
        db_ = makeStandardDriver()->connect("D", {{"PATH", dir_.path().string()}, {"DEFAULT DRIVER", "DBASE"}}, {});
    }
    void put(const std::string& bytes) { dbtest::writeBytes(dir_ / "ORDERS.DBF", bytes); }
    int openError() {
        try {
            auto c = db_->openTable("ORDERS", {});
            dbtest::readAll(*c);
        } catch (const EngineError& e) {
            return e.code();
        }
        return 0;
    }
    size_t headerLength() const { return static_cast<unsigned char>(original_[8]) | (static_cast<unsigned char>(original_[9]) << 8); }
    size_t recordLength() const { return static_cast<unsigned char>(original_[10]) | (static_cast<unsigned char>(original_[11]) << 8); }

    dbtest::TempDir dir_;
    std::string original_;
    std::unique_ptr<Database> db_;
};

} // namespace

TEST_F(DamageTest, HeaderThatClaimsMoreRecordsGivesTheReadableOnesReadOnly) {
    std::string b = original_;
    b[4] = static_cast<char>(200); // 200 records claimed, 40 present
    put(b);
    auto c = db_->openTable("ORDERS", {});
    EXPECT_EQ(c->count(), 40);
    EXPECT_NE(c->readOnlyReason(), "");
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_THROW(c->insert(row), EngineError);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "ORDERS.DBF"), b) << "a damaged file is never written";
}

TEST_F(DamageTest, TruncatedFileKeepsWholeRecordsOnly) {
    put(original_.substr(0, headerLength() + 10 * recordLength() + recordLength() / 2));
    auto c = db_->openTable("ORDERS", {});
    EXPECT_EQ(c->count(), 10);
    EXPECT_EQ(dbtest::readAll(*c).size(), 10u);
    EXPECT_NE(c->readOnlyReason(), "");
}

TEST_F(DamageTest, MissingEndMarkerAndTrailingGarbageAreHarmless) {
    put(original_.substr(0, original_.size() - 1));
    EXPECT_EQ(openError(), 0);
    put(original_ + std::string(1000, '\x55'));
    auto c = db_->openTable("ORDERS", {});
    EXPECT_EQ(c->count(), 40) << "the header count wins over extra bytes";
}

TEST_F(DamageTest, BrokenHeadersAreClearErrors) {
    put(original_.substr(0, 20));
    EXPECT_EQ(openError(), ErrCorruptFile);
    put(std::string(original_.size(), '\0'));
    EXPECT_EQ(openError(), ErrCorruptFile);
    std::string b = original_;
    b[8] = 0x10; // header length shorter than the descriptors
    b[9] = 0;
    put(b);
    EXPECT_EQ(openError(), ErrCorruptFile);
    b = original_;
    b[10] = 5; // record length shorter than the fields
    b[11] = 0;
    put(b);
    EXPECT_EQ(openError(), ErrCorruptFile);
    b = original_;
    b[32 + 11] = '?'; // unknown field type
    put(b);
    EXPECT_EQ(openError(), ErrCorruptFile);
    b = original_;
    b[headerLength() - 1] = 'X'; // descriptor terminator gone
    put(b);
    EXPECT_NE(openError(), 0);
}

TEST_F(DamageTest, GarbageInFieldsReadsAsNull) {
    std::string b = original_;
    const size_t rec = headerLength();
    for (size_t i = 1; i < recordLength(); ++i)
        b[rec + i] = '*';
    put(b);
    auto c = db_->openTable("ORDERS", {});
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    EXPECT_TRUE(isNull(row[0])) << "an overflow marker is no number";
    EXPECT_TRUE(isNull(row[2])) << "no date";
    EXPECT_TRUE(isNull(row[6]));
}

TEST_F(DamageTest, MemoPointersOutsideTheMemoFileAreErrorsNotCrashes) {
    auto c = db_->openTable("CUSTOMER", {});
    c.reset();
    std::string b = dbtest::bytesOf(dir_ / "CUSTOMER.DBF");
    const size_t hl = static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8);
    const size_t rl = static_cast<unsigned char>(b[10]) | (static_cast<unsigned char>(b[11]) << 8);
    b.replace(hl + rl - 10, 10, "  99999999");
    dbtest::writeBytes(dir_ / "CUSTOMER.DBF", b);
    c = db_->openTable("CUSTOMER", {});
    Row row;
    RowId id;
    try {
        c->read(0, row, id);
        FAIL() << "a memo block past the end of the memo file";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrCorruptFile);
    }
    EXPECT_TRUE(c->read(1, row, id)) << "the other records stay readable";
}

TEST_F(DamageTest, AFreeBlockNumberPastTheEndOfTheMemoFileIsNotFollowed) {
    // The memo file's header names a next free block far past its end: a new memo goes at
    // the end of the file, which grows by the memo's blocks only (not to the block named,
    // hundreds of megabytes on), and reads back.
    const auto memo = dir_ / "CUSTOMER.DBT";
    std::string m = dbtest::bytesOf(memo);
    const size_t before = m.size();
    m[0] = 0; m[1] = 0; m[2] = 8; m[3] = 0; // block 524288
    dbtest::writeBytes(memo, m);
    auto c = db_->openTable("CUSTOMER", {});
    const auto fields = c->fields();
    size_t note = fields.size();
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].type == FieldType::Memo) note = i;
    ASSERT_LT(note, fields.size());
    Row row;
    RowId id;
    ASSERT_TRUE(c->read(0, row, id));
    const int64_t count = c->count();
    c->remove(id, row);
    row[note] = std::string("新しいメモ");
    c->insert(row);
    EXPECT_EQ(c->count(), count);
    EXPECT_LE(std::filesystem::file_size(memo), before + 4096);
    c = db_->openTable("CUSTOMER", {});
    bool found = false;
    for (int64_t i = 0; i < c->count() && c->read(i, row, id); ++i)
        found = found || (std::holds_alternative<std::string>(row[note]) && std::get<std::string>(row[note]) == "新しいメモ");
    EXPECT_TRUE(found);
}

TEST_F(DamageTest, ProductionIndexMissingOpensReadOnlyWithReason) {
    std::filesystem::remove(dir_ / "ORDERS.MDX");
    auto c = db_->openTable("ORDERS", {});
    EXPECT_NE(c->readOnlyReason().find("MDX"), std::string::npos);
    EXPECT_EQ(c->count(), 40);
}

// A tag with a condition this program cannot evaluate (written by another program) is kept
// as it is: the table opens read-only with the reason, and neither a write nor a repair
// rebuilds the tag without it.
TEST_F(DamageTest, TagWithAConditionNotUnderstoodKeepsTheTableReadOnlyAndItsIndexUntouched) {
    const auto mdx = dir_ / "ORDERS.MDX";
    const std::string plain = dbtest::bytesOf(mdx);
    const auto tagHeader = [&](const std::string& b) {
        const auto* e = reinterpret_cast<const unsigned char*>(b.data()) + 0x220;
        return static_cast<size_t>(e[0] | e[1] << 8 | e[2] << 16 | uint32_t(e[3]) << 24) * 512;
    };
    const size_t at = tagHeader(plain) + 24 + 220;
    ASSERT_LT(at + 32, plain.size());
    for (size_t i = at; i < tagHeader(plain) + 512; ++i)
        ASSERT_EQ(plain[i], '\0') << "tags written here leave the condition's place empty";

    std::string flagged = plain; // binary flags in that place are no condition
    flagged[at + 2] = 1;
    flagged[at + 3] = 2;
    dbtest::writeBytes(mdx, flagged);
    EXPECT_EQ(db_->openTable("ORDERS", {})->readOnlyReason(), "");

    std::string conditional = plain;
    const std::string cond = "NOSUCHFN(AMOUNT)>100";
    std::copy(cond.begin(), cond.end(), conditional.begin() + static_cast<std::ptrdiff_t>(at + 8));
    dbtest::writeBytes(mdx, conditional);
    {
        auto c = db_->openTable("ORDERS", {});
        EXPECT_NE(c->readOnlyReason().find("条件付き"), std::string::npos) << c->readOnlyReason();
        Row row;
        RowId id;
        ASSERT_TRUE(c->read(0, row, id));
        EXPECT_THROW(c->insert(row), EngineError);
    }
    const RepairReport r = db_->repairTable("ORDERS", true);
    EXPECT_FALSE(r.remaining.empty());
    EXPECT_EQ(dbtest::bytesOf(mdx), conditional);
    EXPECT_EQ(dbtest::bytesOf(dir_ / "ORDERS.DBF"), original_);
}
