// The ":NAME" scan of SQL text typed in the SQL window.
#include "engine/dataset/QueryParams.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {
std::vector<std::string> names(const std::string& sql) {
    std::vector<std::string> out;
    for (const auto& p : scanParamOccurrences(sql))
        out.push_back(p.name);
    return out;
}
using V = std::vector<std::string>;
} // namespace

TEST(QueryParams, NamesEndOnlyAtTheirDelimiters) {
    EXPECT_EQ(names("SELECT * FROM T WHERE A = :A"), V{"A"});
    EXPECT_EQ(names("WHERE X IN (:A,:B;:C)"), (V{"A", "B", "C"}));
    EXPECT_EQ(names(":A\r\nAND :B\n"), (V{"A", "B"}));
    // tab, "=" and "(" belong to the name
    EXPECT_EQ(names("WHERE X=:A=1"), V{"A=1"});
    EXPECT_EQ(names("WHERE X=:A\tAND"), V{"A\tAND"});
    EXPECT_EQ(names(":F(1) "), V{"F(1"});
    // letter case is kept
    EXPECT_EQ(names(":Name :nAME"), (V{"Name", "nAME"}));
    // a colon right after a word still starts a parameter
    EXPECT_EQ(names("x:A"), V{"A"});
}

TEST(QueryParams, QuotesCastsAndCommentsAsTheWindowTakesThem) {
    EXPECT_TRUE(names("WHERE S = ':A'").empty());
    EXPECT_TRUE(names("WHERE \"col:A\" = 1").empty());
    EXPECT_TRUE(names("SELECT x::int FROM t").empty());
    EXPECT_EQ(names("SELECT ':A', :B, 'it''s :C'"), V{"B"});
    // a quoted name keeps its delimiters; the quotes are not part of it
    EXPECT_EQ(names("WHERE X = :\"my name, (1)\" AND Y = :Z"), (V{"my name, (1)", "Z"}));
    // comments are not recognised
    EXPECT_EQ(names("-- :A\nSELECT 1 /* :B */"), (V{"A", "B"}));
    // a colon with no name is text
    EXPECT_TRUE(names("a : b :").empty());
}

TEST(QueryParams, MultiByteCharactersAreTakenWhole) {
    // "表" is E8 A1 A8 and "：" (full width colon) EF BC 9A: no byte of them is a delimiter.
    EXPECT_EQ(names("WHERE 名前 = :顧客名 AND X = :表"), (V{"顧客名", "表"}));
    EXPECT_EQ(names("'：:A' :B"), V{"B"});
    EXPECT_EQ(names(":名前；:C"), V{"名前；:C"}); // a full-width semicolon does not end a name
}

TEST(QueryParams, DistinctNamesInFirstOccurrenceOrder) {
    EXPECT_EQ(distinctParamNames(":A :B :A"), (V{"A", "B"}));
    EXPECT_EQ(distinctParamNames(":AB :A"), (V{"AB", "A"}));
    EXPECT_EQ(distinctParamNames(":a :A"), (V{"a", "A"}));
    EXPECT_TRUE(distinctParamNames("SELECT 1").empty());
}

TEST(QueryParams, EveryOccurrenceIsReplaced) {
    const std::string sql = "SELECT * FROM T WHERE A = :A OR B = :\"B b\" OR C = ':A' OR D = :A";
    const auto occ = scanParamOccurrences(sql);
    ASSERT_EQ(occ.size(), 3u);
    EXPECT_EQ(replaceParamOccurrences(sql, occ, [](size_t) { return std::string("?"); }),
              "SELECT * FROM T WHERE A = ? OR B = ? OR C = ':A' OR D = ?");
    EXPECT_EQ(replaceParamOccurrences("x:A)", scanParamOccurrences("x:A)"),
                                      [](size_t k) { return " :p" + std::to_string(k); }),
              "x :p0)");
}
