#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

FieldDef def(std::string name, FieldType type, int size = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.size = size;
    return f;
}

std::vector<FieldDef> fields() {
    return {
        def("NAME", FieldType::String, 20), def("STATE", FieldType::String, 2), def("CUSTNO", FieldType::Integer),
        def("AMOUNT", FieldType::Float), def("HIDUKE", FieldType::Date), def("STAMP", FieldType::DateTime),
        def("PAID", FieldType::Boolean), def("顧客名", FieldType::String, 20), def("First Name", FieldType::String, 10),
        def("AND", FieldType::Integer), def("PIC", FieldType::Blob), def("DUE", FieldType::Date),
    };
}

Row row(std::string name, Value state, int64_t custno, double amount, Date hiduke = {2001, 4, 1}) {
    return Row{std::move(name), std::move(state), custno, amount, hiduke,
               DateTime{hiduke, Time{12 * 3600 * 1000}}, true, std::string("山田"), std::string("Ann"),
               int64_t{1}, Bytes{1}, Date{2001, 5, 15}};
}

bool match(const std::string& text, const Row& r, FilterOptions o = {}) { return Filter(text, fields(), o).matches(r); }

int errorPosition(const std::string& text) {
    try {
        Filter f(text, fields());
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrFilter) << text;
        const std::string m = e.what();
        const size_t at = m.find(" 文字目");
        EXPECT_NE(at, std::string::npos) << m;
        return std::stoi(m.substr(m.rfind(' ', at - 1) + 1));
    }
    ADD_FAILURE() << "accepted: " << text;
    return -1;
}

} // namespace

TEST(Filter, ComparisonsLogicAndPrecedence) {
    const Row ca = row("Smith", std::string("CA"), 1351, 120.5);
    EXPECT_TRUE(match("CUSTNO = 1351", ca));
    EXPECT_TRUE(match("CUSTNO = '1351'", ca));
    EXPECT_TRUE(match("CUSTNO = 1351.0", ca));
    EXPECT_TRUE(match("state = 'CA' Or STATE = 'MA'", ca));
    EXPECT_TRUE(match("(CustNo > 1350) aNd (CustNo < 1400)", ca));
    EXPECT_FALSE(match("nOt (STATE = 'CA')", ca));
    EXPECT_TRUE(match("STATE = 'CA'\r\nor\tSTATE = 'MA'", ca));
    // AND binds tighter than OR, comparisons tighter than NOT.
    EXPECT_TRUE(match("CUSTNO = 1 or STATE = 'CA' and AMOUNT > 100", ca));
    EXPECT_FALSE(match("(CUSTNO = 1 or STATE = 'CA') and AMOUNT > 200", ca));
    EXPECT_TRUE(match("not CUSTNO = 1 or STATE = 'MA'", ca));
    EXPECT_TRUE(match("AMOUNT + 5 > 125 and AMOUNT * 2 = 241 and -AMOUNT < -120 and CUSTNO / 2 = 675.5", ca));
    EXPECT_TRUE(match("CUSTNO - 7 * 2 = 1337", ca));
    EXPECT_FALSE(match("AMOUNT / 0 > 0", ca));
    EXPECT_FALSE(match("not (AMOUNT / 0 > 0)", ca));
    EXPECT_TRUE(match("[First Name] = 'Ann' and [顧客名] = '山田' and 顧客名 = '山田' and [AND] = 1", ca));
    EXPECT_TRUE(match("NAME + STATE = 'SmithCA'", ca));
    EXPECT_TRUE(match("AMOUNT > CUSTNO / 20", ca));
}

TEST(Filter, PartialMatchCaseAndPadding) {
    const Row r = row("Smith     ", std::string("CA"), 1, 0);
    EXPECT_TRUE(match("NAME = 'Smith'", r));
    EXPECT_TRUE(match("NAME = 'Smith '", r));
    EXPECT_TRUE(match("NAME = 'Sm*'", r));
    EXPECT_FALSE(match("NAME <> 'Sm*'", r));
    EXPECT_TRUE(match("NAME = '*'", r));
    EXPECT_FALSE(match("NAME = 'S*th'", r)); // only a trailing * is a wildcard
    EXPECT_FALSE(match("NAME = 'smith'", r));
    EXPECT_TRUE(match("NAME = 'smith'", r, {.caseInsensitive = true}));
    EXPECT_TRUE(match("NAME = 'sm*'", r, {.caseInsensitive = true}));
    EXPECT_FALSE(match("NAME = 'Sm*'", r, {.noPartialCompare = true}));
    EXPECT_TRUE(match("NAME = 'Sm*'", row("Sm*", {}, 1, 0), {.noPartialCompare = true}));
    EXPECT_TRUE(match("顧客名 = '山*'", r));
    EXPECT_FALSE(match("顧客名 = '屋*'", r)); // same first byte in UTF-8, another character
    EXPECT_TRUE(match("NAME = 'O''Brien'", row("O'Brien", {}, 1, 0)));
    EXPECT_TRUE(match("NAME > 'S*'", row("Smith", {}, 1, 0))); // literal '*' with <, >
}

TEST(Filter, BlanksFailEveryTestButTheBlankTest) {
    const Row blank = row("X", Value{}, 1, 0);
    const Row spaces = row("X", std::string("  "), 1, 0);
    EXPECT_FALSE(match("STATE <> 'CA'", blank));
    EXPECT_FALSE(match("not (STATE = 'CA')", blank));
    EXPECT_TRUE(match("STATE <> 'CA' or STATE = BLANK", blank));
    EXPECT_TRUE(match("STATE = NULL", blank));
    EXPECT_TRUE(match("NULL = STATE", spaces));
    EXPECT_FALSE(match("STATE <> NULL", spaces));
    EXPECT_TRUE(match("STATE IS NULL and NAME IS NOT NULL", blank));
    EXPECT_FALSE(match("STATE = '*'", spaces));
    Row zero = row("X", {}, 0, 0);
    zero[2] = Value{};
    EXPECT_FALSE(match("CUSTNO = 0", zero));
    EXPECT_TRUE(match("AMOUNT = 0", zero));
}

TEST(Filter, DatesTimesAndBooleans) {
    const Row r = row("X", {}, 1, 0, Date{2001, 4, 1});
    EXPECT_TRUE(match("HIDUKE = '2001/04/01' and HIDUKE >= '2001/4/1' and HIDUKE > '01/03/31'", r));
    EXPECT_TRUE(match("HIDUKE = '2001-04-01'", r));
    EXPECT_TRUE(match("STAMP >= '2001/04/01 12:00:00' and STAMP > '2001/04/01'", r));
    EXPECT_FALSE(match("STAMP = '2001/04/01'", r));
    EXPECT_TRUE(match("DUE - HIDUKE = 44 and HIDUKE + 44 = DUE and DUE - 44 = HIDUKE", r));
    EXPECT_TRUE(match("HIDUKE < STAMP", r));
    EXPECT_TRUE(match("PAID = TRUE and PAID = 'T' and PAID <> FALSE and Paid = 'true'", r));
    EXPECT_EQ(errorPosition("HIDUKE = '2001/02/30'"), 10);
    EXPECT_GT(errorPosition("PAID = 'maybe'"), 0);
}

TEST(Filter, MalformedTextNamesThePosition) {
    EXPECT_EQ(errorPosition(""), 1);
    EXPECT_EQ(errorPosition("  \r\n "), 1);
    EXPECT_EQ(errorPosition("STATE ="), 8);
    EXPECT_EQ(errorPosition("STATE = 'CA' and"), 17);
    EXPECT_EQ(errorPosition("STATE = = 'CA'"), 9);
    EXPECT_EQ(errorPosition("(STATE = 'CA'"), 14);
    EXPECT_EQ(errorPosition("STATE = 'CA')"), 13);
    EXPECT_EQ(errorPosition("STATE = 'CA"), 9);
    EXPECT_EQ(errorPosition("[Unknown] = 1"), 1);
    EXPECT_EQ(errorPosition("First Name = 'Ann'"), 1);
    EXPECT_EQ(errorPosition("顧客名 = '山田' and 不明 = 1"), 16);
    EXPECT_EQ(errorPosition("CUSTNO = '13a'"), 10);
    EXPECT_EQ(errorPosition("AMOUNT <= 100,000"), 14);
    EXPECT_EQ(errorPosition("AMOUNT > NAME"), 8);
    EXPECT_EQ(errorPosition("NAME"), 1);
    EXPECT_EQ(errorPosition("PIC = 'x'"), 1);
    EXPECT_EQ(errorPosition("NAME = 'a' and AND = 1"), 16);
    EXPECT_EQ(errorPosition("NAME LIKE 'S%'"), 6);
    EXPECT_GT(errorPosition(std::string(100000, '(') + "CUSTNO = 1" + std::string(100000, ')')), 0);
    EXPECT_GT(errorPosition(std::string(100000, '-') + "1 = CUSTNO"), 0);
}

TEST(Filter, LongChainsStayShallow) {
    std::string text = "CUSTNO = 1";
    for (int i = 0; i < 50000; ++i)
        text += " and CUSTNO = 1";
    EXPECT_TRUE(Filter(text, fields()).matches(row("X", {}, 1, 0)));
}
