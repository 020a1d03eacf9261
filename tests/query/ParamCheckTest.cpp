// Binding the SQL window's parameter rows, and the statement test of its run command.
#include "query/ParamCheck.h"

#include "engine/dataset/Query.h"
#include "engine/session/Session.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace vemo;
using engine::Value;

namespace {

struct Bind : ::testing::Test {
    engine::Session session{std::filesystem::temp_directory_path() / "vemo-paramcheck-unused.cfg"};
    engine::Query q{session};
    // Binds one row named P of the type to ":P" and gives the bound value.
    Value bound(const QString& type, const QString& value, int year = 2026, bool* ok = nullptr)
    {
        q.setSql("SELECT :P");
        q.clearParamValues();
        const bool result = query::ParamCheck({{"P", type, value}}, q, year);
        if (ok)
            *ok = result;
        return q.param(0).value;
    }
};

const QString kInt = QStringLiteral("整数型"), kReal = QStringLiteral("実数型"), kMoney = QStringLiteral("金額型"),
              kText = QStringLiteral("文字型"), kDate = QStringLiteral("日付型"), kBool = QStringLiteral("論理型");

} // namespace

TEST_F(Bind, IntegersPassTheDigitsFilter)
{
    EXPECT_EQ(bound(kInt, "1,234"), Value(int64_t(1234)));
    EXPECT_EQ(bound(kInt, QStringLiteral("￥1,000")), Value(int64_t(1000)));
    EXPECT_EQ(bound(kInt, "abc"), Value(int64_t(0)));
    EXPECT_EQ(bound(kInt, "-42"), Value(int64_t(-42)));
    // A minus between digits does not convert: the error reaches the user.
    EXPECT_THROW(bound(kInt, "1-2"), std::exception);
}

TEST_F(Bind, RealsAndCurrencyKeepTheirDecimalPoint)
{
    EXPECT_EQ(bound(kReal, "1.5"), Value(1.5));
    EXPECT_EQ(bound(kMoney, QStringLiteral("￥1,234.50")), Value(1234.5));
    EXPECT_EQ(q.param(0).type, engine::FieldType::Currency);
    EXPECT_EQ(bound(kReal, "x"), Value(0.0));
    EXPECT_THROW(bound(kReal, "1.2.3"), std::exception);
}

TEST_F(Bind, TextAndBoolean)
{
    EXPECT_EQ(bound(kText, " a,b "), Value(std::string(" a,b ")));
    EXPECT_EQ(bound(kText, ""), Value(std::string()));
    EXPECT_EQ(bound(kBool, "true"), Value(true));
    EXPECT_EQ(bound(kBool, "T"), Value(true));
    EXPECT_EQ(bound(kBool, "yes"), Value(false));
    EXPECT_EQ(bound(kBool, ""), Value(false));
}

TEST_F(Bind, DatesTakeTheirCentury)
{
    bool ok = false;
    EXPECT_EQ(bound(kDate, "99/01/02", 2026, &ok), Value(engine::Date{2099, 1, 2}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(bound(kDate, "2001/04/01", 2026, &ok), Value(engine::Date{2001, 4, 1}));
    EXPECT_TRUE(ok);
    // Before 2000 the first two digits choose the century.
    EXPECT_EQ(bound(kDate, "49/12/31", 1998, &ok), Value(engine::Date{2049, 12, 31}));
    EXPECT_EQ(bound(kDate, "50/01/01", 1998, &ok), Value(engine::Date{1950, 1, 1}));
    // A full date of 8 characters gets "20" too and is no date then.
    bound(kDate, "2001/1/1", 2026, &ok);
    EXPECT_FALSE(ok);
    bound(kDate, "", 2026, &ok);
    EXPECT_FALSE(ok);
    bound(kDate, "2001/02/30", 2026, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(Bind, EveryRowIsTriedAndAnEmptyTypeFails)
{
    q.setSql("SELECT :A, :B, :A");
    EXPECT_FALSE(query::ParamCheck({{"A", "", "1"}, {"B", kInt, "7"}}, q, 2026));
    EXPECT_EQ(q.param(1).value, Value(int64_t(7)));
    EXPECT_TRUE(query::ParamCheck({{"A", kText, "x"}, {"B", kInt, "7"}}, q, 2026));
    // Both occurrences of A receive the value.
    EXPECT_EQ(q.param(0).value, Value(std::string("x")));
    EXPECT_EQ(q.param(2).value, Value(std::string("x")));
    EXPECT_TRUE(query::ParamCheck({}, q, 2026));
}

TEST(SelectTest, FirstWordAfterLeadingBlanks)
{
    EXPECT_TRUE(query::isSelectText(" \r\n\t select * from t"));
    EXPECT_TRUE(query::isSelectText("SeLeCt 1"));
    EXPECT_TRUE(query::isSelectText("SELECT")); // the six characters alone
    EXPECT_FALSE(query::isSelectText("WITH x AS (SELECT 1) SELECT * FROM x"));
    EXPECT_FALSE(query::isSelectText("(SELECT 1)"));
    EXPECT_FALSE(query::isSelectText("-- c\nSELECT 1"));
    EXPECT_FALSE(query::isSelectText("SELEC"));
    EXPECT_EQ(query::trimmedStatement(QStringLiteral("\n\n  SELECT 1\n")), QStringLiteral("SELECT 1\n"));
}
