// Definition listing, definition scripts and the table window's stored texts, checked
// byte for byte against texts written out by hand.
#include "tablewin/DefinitionScript.h"
#include "tablewin/StatusCopy.h"
#include "engine/values/Codepage.h"
#include "tablewin/TableText.h"

#include <gtest/gtest.h>

using namespace vemo;
using namespace vemo::tablewin;
using engine::FieldDef;
using engine::FieldType;
using engine::IndexDef;

namespace {

FieldDef fd(const std::string& name, FieldType type, int size)
{
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

const std::string kPascal =
        "procedure Create_Table(TBL1:TTable);\r\n"
        "begin\r\n"
        "  with TBL1 do\r\n"
        "    begin\r\n"
        "      Active       := False;\r\n"
        "      DatabaseName := '';\r\n"
        "      TableName    := 'C:\\DATA\\CUSTOMER.DB';\r\n"
        "      TableType    := ttParadox;\r\n"
        "\r\n"
        "      //テーブル定義\r\n"
        "      with FieldDefs do\r\n"
        "        begin\r\n"
        "          Clear;\r\n"
        "          Add('ID'                        ,ftInteger ,  0,False);\r\n"
        "          Add('NAME'                      ,ftString  , 20,False);\r\n"
        "          Add('氏名'                      ,ftString  ,100,False);\r\n"
        "          Add('PRICE'                     ,ftCurrency,  0,False);\r\n"
        "          Add('D'                         ,ftFixedChar,  5,False);\r\n"
        "        end;\r\n"
        "\r\n"
        "      //インデックス定義\r\n"
        "      with IndexDefs do\r\n"
        "        begin\r\n"
        "          Clear;\r\n"
        "          Add('','ID;NAME',[ixPrimary, ixUnique]);\r\n"
        "          Add('ByName','NAME',[ixCaseInsensitive]);\r\n"
        "        end;\r\n"
        "\r\n"
        "      //テーブル作成\r\n"
        "      CreateTable;\r\n"
        "    end;\r\n"
        "end;\r\n";

const std::string kCpp =
        "void Create_Table(TTable *TBL1)\r\n"
        "{\r\n"
        "  TIndexOptions MyIndexOptions;\r\n"
        "\r\n"
        "  TBL1->Active = false;\r\n"
        "  TBL1->DatabaseName = \"\";\r\n"
        "  TBL1->TableType = ttParadox;\r\n"
        "  TBL1->TableName = \"C:\\DATA\\CUSTOMER.DB\";\r\n"
        "\r\n"
        "  //テーブル定義\r\n"
        "  TBL1->FieldDefs->Clear();\r\n"
        "  TBL1->FieldDefs->Add(\"ID\"                        ,ftInteger ,  0,False);\r\n"
        "  TBL1->FieldDefs->Add(\"NAME\"                      ,ftString  , 20,False);\r\n"
        "  TBL1->FieldDefs->Add(\"氏名\"                      ,ftString  ,100,False);\r\n"
        "  TBL1->FieldDefs->Add(\"PRICE\"                     ,ftCurrency,  0,False);\r\n"
        "  TBL1->FieldDefs->Add(\"D\"                         ,ftFixedChar,  5,False);\r\n"
        "\r\n"
        "  //インデックス定義\r\n"
        "  TBL1->IndexDefs->Clear();\r\n"
        "  MyIndexOptions.Clear();\r\n"
        "  MyIndexOptions << ixPrimary << ixUnique;\r\n"
        "  TBL1->IndexDefs->Add(\"\",\"ID;NAME\",MyIndexOptions);\r\n"
        "  MyIndexOptions.Clear();\r\n"
        "  MyIndexOptions << ixCaseInsensitive;\r\n"
        "  TBL1->IndexDefs->Add(\"ByName\",\"NAME\",MyIndexOptions);\r\n"
        "\r\n"
        "  //テーブル作成\r\n"
        "  TBL1->CreateTable();\r\n"
        "}\r\n";

const std::string kSql =
        "CREATE TABLE CUSTOMER\r\n"
        "(\r\n"
        "  ID                          INTEGER            NOT NULL ,\r\n"
        "  NAME                        VARCHAR(20)        NOT NULL ,\r\n"
        "  氏名                        VARCHAR(100)      ,\r\n"
        "  PRICE                       DOUBLE  PRECISION ,\r\n"
        "  D                           VARCHAR(5)        ,\r\n"
        "  PRIMARY KEY (ID,NAME)\r\n"
        ");\r\n"
        "\r\n"
        "CREATE INDEX ByName ON CUSTOMER\r\n"
        "(\r\n"
        "  NAME\r\n"
        ");\r\n"
        "\r\n";

const std::string kSqlFieldNames =
        "CREATE TABLE CUSTOMER\r\n"
        "(\r\n"
        "  FIELD_01  INTEGER            NOT NULL ,\r\n"
        "  FIELD_02  VARCHAR(20)        NOT NULL ,\r\n"
        "  FIELD_03  VARCHAR(100)      ,\r\n"
        "  FIELD_04  DOUBLE  PRECISION ,\r\n"
        "  FIELD_05  VARCHAR(5)        ,\r\n"
        "  PRIMARY KEY (ID,NAME)\r\n"
        ");\r\n"
        "\r\n"
        "CREATE INDEX ByName ON CUSTOMER\r\n"
        "(\r\n"
        "  NAME\r\n"
        ");\r\n"
        "\r\n";

const std::string kSqlNoIndex =
        "CREATE TABLE EMPLOYEE\r\n"
        "(\r\n"
        "  ID                          INTEGER           ,\r\n"
        "  NAME                        VARCHAR(20)       ,\r\n"
        "  氏名                        VARCHAR(100)      ,\r\n"
        "  PRICE                       DOUBLE  PRECISION ,\r\n"
        "  D                           VARCHAR(5)        \r\n"
        ");\r\n";

std::vector<FieldDef> customerFields()
{
    return {fd("ID", FieldType::Integer, 0), fd("NAME", FieldType::String, 20), fd("氏名", FieldType::String, 100),
            fd("PRICE", FieldType::Currency, 0), fd("D", FieldType::FixedChar, 5)};
}

ScriptInput customer()
{
    ScriptInput in;
    in.tableName = "C:\\DATA\\CUSTOMER.DB";
    in.listing = definitionListing(customerFields());
    IndexDef primary;
    primary.fields = "ID;NAME";
    primary.primary = true;
    IndexDef byName;
    byName.name = "ByName";
    byName.fields = "NAME";
    in.indexes = {primary, byName};
    return in;
}

} // namespace

TEST(DefinitionScript, ParadoxPathInAllThreeKinds)
{
    const ScriptInput in = customer();
    EXPECT_EQ(definitionScript(in, ScriptKind::Pascal), kPascal);
    EXPECT_EQ(definitionScript(in, ScriptKind::Cpp), kCpp);
    EXPECT_EQ(definitionScript(in, ScriptKind::Sql), kSql);
}

TEST(DefinitionScript, FieldNamingModeKeepsRealKeyNames)
{
    ScriptInput in = customer();
    in.fieldNaming = 1;
    EXPECT_EQ(definitionScript(in, ScriptKind::Sql), kSqlFieldNames);
    // The naming mode is for the SQL script only.
    EXPECT_EQ(definitionScript(in, ScriptKind::Pascal), kPascal);
}

TEST(DefinitionScript, ServerTableWithoutIndexes)
{
    ScriptInput in = customer();
    in.tableName = "EMPLOYEE";
    in.databaseName = "SERVER";
    in.indexes.clear();
    EXPECT_EQ(definitionScript(in, ScriptKind::Sql), kSqlNoIndex);
    const std::string pas = definitionScript(in, ScriptKind::Pascal);
    EXPECT_NE(pas.find("      TableType    := ttDefault;\r\n"), std::string::npos);
    EXPECT_NE(pas.find("      DatabaseName := 'SERVER';\r\n"), std::string::npos);
    EXPECT_EQ(pas.find("IndexDefs"), std::string::npos);
    const std::string cpp = definitionScript(in, ScriptKind::Cpp);
    EXPECT_EQ(cpp.find("IndexDefs"), std::string::npos);
    EXPECT_NE(cpp.find("  TBL1->TableType = ttDefault;\r\n"), std::string::npos);
}

TEST(DefinitionScript, KeyMatchIsWholeNameNotPart)
{
    ScriptInput in;
    in.tableName = "T.DB";
    in.listing = definitionListing({fd("D", FieldType::String, 1), fd("AME", FieldType::String, 1),
                                    fd("id", FieldType::Integer, 0), fd("NAME", FieldType::String, 1)});
    IndexDef primary;
    primary.fields = "ID;NAME";
    in.indexes = {primary};
    const std::string sql = definitionScript(in, ScriptKind::Sql);
    size_t notNull = 0;
    for (size_t at = sql.find("NOT NULL"); at != std::string::npos; at = sql.find("NOT NULL", at + 1))
        ++notNull;
    EXPECT_EQ(notNull, 2u);
    EXPECT_NE(sql.find("  id                          INTEGER            NOT NULL ,\r\n"), std::string::npos);
    EXPECT_NE(sql.find("  D                           VARCHAR(1)        ,\r\n"), std::string::npos);
}

TEST(DefinitionScript, LongNamesAreWrittenWhole)
{
    const std::string name27 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0"; // 27 characters
    const std::string name30 = "長い名前のフィールド名前です"; // 28 bytes in code page 932
    ScriptInput in;
    in.tableName = "LONG.DBF";
    in.listing = definitionListing({fd(name27, FieldType::String, 1000), fd(name30, FieldType::WideString, 5)});
    IndexDef tag;
    tag.name = "TAG1";
    tag.fields = "UPPER(X)";
    in.indexes = {tag};
    const std::string pas = definitionScript(in, ScriptKind::Pascal);
    EXPECT_NE(pas.find("          Add('" + name27 + "',ftString  ,1000,False);\r\n"), std::string::npos) << pas;
    EXPECT_NE(pas.find("          Add('" + name30 + "',ftWideString,  5,False);\r\n"), std::string::npos) << pas;
    EXPECT_NE(pas.find("      TableType    := ttDBase;\r\n"), std::string::npos);
    EXPECT_NE(pas.find("          Add('TAG1','UPPER(X)',[ixExpression]);\r\n"), std::string::npos);
    const std::string cpp = definitionScript(in, ScriptKind::Cpp);
    EXPECT_NE(cpp.find("  MyIndexOptions << ixExpression;\r\n"), std::string::npos);
    const std::string sql = definitionScript(in, ScriptKind::Sql);
    EXPECT_NE(sql.find("  " + name27 + " VARCHAR(1000)     ,\r\n"), std::string::npos) << sql;
    EXPECT_NE(sql.find("  " + name30 + " VARCHAR(5)        \r\n"), std::string::npos) << sql;
    EXPECT_NE(sql.find("CREATE TABLE LONG\r\n"), std::string::npos);
}

TEST(DefinitionScript, TwelveFieldsInFieldNamingMode)
{
    std::vector<FieldDef> fields;
    for (int i = 0; i < 12; ++i)
        fields.push_back(fd("F" + std::to_string(i), FieldType::Smallint, 0));
    ScriptInput in;
    in.tableName = "/data/x/multi.part.db";
    in.listing = definitionListing(fields);
    in.fieldNaming = 1;
    const std::string sql = definitionScript(in, ScriptKind::Sql);
    EXPECT_NE(sql.find("CREATE TABLE MULTI.PART\r\n"), std::string::npos);
    EXPECT_NE(sql.find("  FIELD_01  SMALLINT          ,\r\n"), std::string::npos) << sql;
    EXPECT_NE(sql.find("  FIELD_12  SMALLINT          \r\n);\r\n"), std::string::npos) << sql;
}

TEST(DefinitionScript, VeryLongScriptIsNotCut)
{
    std::vector<FieldDef> fields;
    for (int i = 0; i < 600; ++i)
        fields.push_back(fd("FIELD_WITH_A_LONG_NAME_" + std::to_string(i), FieldType::String, 40));
    ScriptInput in;
    in.tableName = "BIG.DB";
    in.listing = definitionListing(fields);
    const std::string pas = definitionScript(in, ScriptKind::Pascal);
    EXPECT_GT(pas.size(), 16384u);
    EXPECT_NE(pas.find("FIELD_WITH_A_LONG_NAME_599"), std::string::npos);
    EXPECT_TRUE(pas.ends_with("end;\r\n"));
}

TEST(DefinitionListing, NumbersSizesAndUnknownCodes)
{
    std::vector<FieldDef> fields(100, fd("X", FieldType::String, 1000));
    fields[11] = fd("CUR", FieldType::Currency, 0);
    fields[12] = fd("ODD", static_cast<FieldType>(31), 7);
    const Listing l = definitionListing(fields);
    ASSERT_EQ(l.size(), 101u);
    EXPECT_EQ(l[0][0], "NO.");
    EXPECT_EQ(l[0][4], "幅");
    EXPECT_EQ(l[1][4], "1000");
    EXPECT_EQ(l[1][5], "VARCHAR(1000)");
    EXPECT_EQ(l[12][0], "012");
    EXPECT_EQ(l[12][5], "DOUBLE  PRECISION");
    EXPECT_EQ(l[13][1], "ODD");
    EXPECT_EQ(l[13][2], "");
    EXPECT_EQ(l[13][3], "");
    EXPECT_EQ(l[13][4], "  7");
    EXPECT_EQ(l[13][5], "");
    EXPECT_EQ(l[100][0], "100");
}

TEST(TableText, ImeModesReadAndWrite)
{
    // Every character rule at once: digits, A/B kept, 1 and C..F read as 1, others as 0,
    // short text pads with 0.
    const ImeModes m = readImeModes("0123456789ABCDEFGa全8");
    const uint8_t want[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 1, 1, 1, 0, 0, 0, 8};
    for (size_t i = 0; i < std::size(want); ++i)
        EXPECT_EQ(m[i], want[i]) << "position " << i;
    for (size_t i = std::size(want); i < m.size(); ++i)
        ASSERT_EQ(m[i], 0) << "position " << i;

    EXPECT_EQ(readImeModes(""), defaultImeModes());
    ImeModes modes = defaultImeModes();
    modes[0] = 6;
    modes[1] = 11;
    modes[2] = 10;
    modes[255] = 200;
    const std::string text = writeImeModes(modes);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(text.substr(0, 4), "6BA1");
    EXPECT_EQ(text.back(), '1');
    modes[255] = 1;
    EXPECT_EQ(readImeModes(text), modes);
}

TEST(TableText, CountsAndNames)
{
    EXPECT_EQ(thousands(0), "0");
    EXPECT_EQ(thousands(999), "999");
    EXPECT_EQ(thousands(1000), "1,000");
    EXPECT_EQ(thousands(1234567), "1,234,567");
    EXPECT_EQ(thousands(-1234), "-1,234");
    EXPECT_EQ(exportFileName("CUSTOMER.DB"), "CUSTOMER.DB.TXT");
    EXPECT_EQ(exportFileName("/data/ORDERS.DBF"), "ORDERS.DBF.TXT");
    EXPECT_EQ(tableKindOf("x.dbf"), TableKind::DBase);
    EXPECT_EQ(tableKindOf("x.Db"), TableKind::Paradox);
    EXPECT_EQ(tableKindOf("x.dbx"), TableKind::Default);
    EXPECT_EQ(sqlTableName("C:\\DATA\\customer.db"), "CUSTOMER");
    EXPECT_EQ(sqlTableName("EMPLOYEE"), "EMPLOYEE");
}

// The status window's copies, written out by hand: widths count code page 932 bytes, a
// full-width character two.
TEST(StatusCopy, ColumnFormsAndSelections)
{
    std::vector<engine::ListingRow> cells{engine::listingHeadings(),
                                          engine::listingRow(1, fd("CODE", FieldType::String, 8)),
                                          engine::listingRow(2, fd("得意先名", FieldType::Integer, 0))};
    // Column 1 alone, QUOTATION 1: the quoted name padded to 28 bytes, no comma.
    EXPECT_EQ(statusCopyText(cells, 1, 1, 1, 2, 1),
              "'CODE'                      \r\n"
              "'得意先名'                  \r\n");
    // Select all (columns 1 to 4, rows 1 on), QUOTATION 0.
    EXPECT_EQ(statusCopyText(cells, 1, 1, 4, 2, 0),
              "CODE                       ,文字型        ,ftString  ,  8\r\n"
              "得意先名                   ,倍長整数型    ,ftInteger ,  0\r\n");
    // QUOTATION 2 quotes the name and the description; the number column is padded to 3.
    EXPECT_EQ(statusCopyText(cells, 0, 2, 2, 2, 2), "002,\"得意先名\"                  ,\"倍長整数型\"   \r\n");
    // The hidden SQL type column copies empty; the headings row copies like any other.
    EXPECT_EQ(statusCopyText(cells, 4, 0, 5, 0, 0), "幅 ,\r\n");
    // A text longer than its width is written whole.
    EXPECT_EQ(statusCellText(3, "ftTypedBinary", 0), "ftTypedBinary");
    EXPECT_EQ(statusCellText(1, std::string(30, 'X'), 1), "'" + std::string(30, 'X') + "'");
}

TEST(StatusCopy, LongSelectionIsNeverCut)
{
    std::vector<engine::ListingRow> cells{engine::listingHeadings()};
    for (int i = 1; i <= 255; ++i)
        cells.push_back(engine::listingRow(i, fd("F" + std::to_string(i), FieldType::Memo, 240)));
    const std::string text = statusCopyText(cells, 0, 1, 4, 255, 1);
    // 3 + 28 + 15 + 10 + 3 bytes, four commas and CR LF a row: far past 16 384 bytes.
    EXPECT_EQ(engine::cp932Width(text), 255u * (3 + 28 + 15 + 10 + 3 + 4 + 2));
    const std::string last = "255,'F255'                      ,'メモ型'       ,ftMemo    ,240\r\n";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}
