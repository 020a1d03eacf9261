#include "tests/engine/EngineTestSupport.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Result {
    int status = -1;
    std::string out, err;
};

FieldDef def(std::string name, FieldType type, int size = 0, int precision = 0, int scale = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.size = size;
    f.precision = precision;
    f.scale = scale;
    return f;
}

// Every test runs the tool with a configuration and data folder of its own.
class ToolTest : public ::testing::Test {
protected:
    Result run(const std::vector<std::string>& args) {
        std::string cmd = "XDG_CONFIG_HOME=" + quote((dir.path() / "config").string()) +
                          " XDG_DATA_HOME=" + quote((dir.path() / "data").string()) + " " + quote(VEMO_TOOL_PATH);
        for (const auto& a : args)
            cmd += " " + quote(a);
        const auto out = dir.path() / "stdout", err = dir.path() / "stderr";
        cmd += " >" + quote(out.string()) + " 2>" + quote(err.string()) + " </dev/null";
        const int rc = std::system(cmd.c_str());
        return Result{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(out), readFile(err)};
    }

    // A dBASE table of three records with every kind of value the CSV distinguishes.
    std::string makeTable() {
        const auto file = (dir.path() / "ITEMS.DBF").string();
        Session session(dir.path() / "unused.cfg");
        registerBuiltinDrivers(session);
        Table t(session);
        t.setTableName(file);
        IndexDef byName;
        byName.name = "BYNAME";
        byName.fields = "NAME";
        FieldDef id = def("ID", FieldType::Integer, 0, 9, 0);
        id.nativeType = "N";
        t.createTable({id, def("NAME", FieldType::String, 20),
                       def("PRICE", FieldType::Float, 0, 10, 2), def("DAY", FieldType::Date),
                       def("OK", FieldType::Boolean)},
                      {byName});
        t.open();
        const std::vector<std::vector<std::string>> rows = {{"1", "りんご", "120.5", "2001/04/01", "True"},
                                                            {"2", "Banana \"B\"", "", "", "False"},
                                                            {"-3", "Apple", "0.25", "1999/12/31", ""}};
        for (const auto& r : rows) {
            t.append();
            for (int f = 0; f < 5; ++f)
                t.setFieldText(f, r[f]);
            t.post();
        }
        return file;
    }

    TempDir dir;
};

} // namespace

TEST_F(ToolTest, ExportWritesTheTableWindowsCsvByteForByte) {
    const std::string table = makeTable();
    const auto csv = (dir.path() / "out.csv").string();
    Result r = run({"export", "", table, csv});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(csv), "1,\"りんご\",\"120.5\",\"2001/04/01\",\"True\"\r\n"
                             "2,\"Banana \"B\"\",\"\",\"\",\"False\"\r\n"
                             "-3,\"Apple\",\"0.25\",\"1999/12/31\",\"\"\r\n");

    r = run({"export", "", table, "--index", "BYNAME", "--filter", "PRICE > 0 or NAME = 'B*'"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-3,\"Apple\",\"0.25\",\"1999/12/31\",\"\"\r\n"
                     "2,\"Banana \"B\"\",\"\",\"\",\"False\"\r\n"
                     "1,\"りんご\",\"120.5\",\"2001/04/01\",\"True\"\r\n");
}

TEST_F(ToolTest, FailedExportLeavesTheOldFileAndExitsOne) {
    const std::string table = makeTable();
    const auto csv = dir.path() / "out.csv";
    std::ofstream(csv) << "previous";
    Result r = run({"export", "", table, csv.string(), "--filter", "NAME = 'x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("フィルタ式"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(csv), "previous");
    r = run({"export", "", (dir.path() / "NONE.DBF").string(), csv.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(readFile(csv), "previous");
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(run({"export", "", table, (dir.path() / "no" / "dir.csv").string()}).status, 1);
    size_t after = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++after;
    EXPECT_EQ(after, files); // no stray temporary
}

TEST_F(ToolTest, UsageErrorsExitTwoEngineErrorsOne) {
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({"fields", "ONLYALIAS"}).status, 2);
    EXPECT_EQ(run({"export", "A", "T", "--index"}).status, 2);
    EXPECT_EQ(run({"tables", "A", "--bogus"}).status, 2);
    EXPECT_EQ(run({"alias", "rename", "A"}).status, 2);
    const Result r = run({"tables", "NOSUCH"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("NOSUCH"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("export ALIAS TABLE"), std::string::npos);
    EXPECT_EQ(run({"--version"}).out.rfind("vemo32-tool ", 0), 0u);
}

TEST_F(ToolTest, AliasCommandsPersistUnlessNoSave) {
    makeTable();
    EXPECT_EQ(run({"aliases"}).out, "VEMO32DEMO\nVEMO32SQLITE\n");
    ASSERT_EQ(run({"alias", "add", "MINE", "STANDARD", "PATH=" + dir.path().string(), "DEFAULT DRIVER=DBASE"}).status, 0);
    EXPECT_EQ(run({"alias", "add", "GONE", "STANDARD", "PATH=/x", "--no-save"}).status, 0);
    EXPECT_EQ(run({"aliases"}).out, "VEMO32DEMO\nVEMO32SQLITE\nMINE\n");
    EXPECT_EQ(run({"alias", "show", "mine"}).out,
              "DRIVER=STANDARD\nPATH=" + dir.path().string() + "\nDEFAULT DRIVER=DBASE\nLANGDRIVER=932\n");
    EXPECT_EQ(run({"alias", "add", "MINE", "STANDARD"}).status, 1);

    EXPECT_EQ(run({"tables", "MINE"}).out, "ITEMS\n");
    EXPECT_EQ(run({"tables", "MINE", "--ext"}).out, "ITEMS.DBF\n");
    EXPECT_EQ(run({"indexes", "MINE", "ITEMS"}).out, "BYNAME\tNAME\n");
    EXPECT_EQ(run({"fields", "MINE", "ITEMS.DBF"}).out,
              "NO.\tﾌｨｰﾙﾄﾞ名\t変数型\tTField型\t幅\t\n"
              "001\tID\t倍長整数型\tftInteger\t  0\tINTEGER\n"
              "002\tNAME\t文字型\tftString\t 20\tVARCHAR(20)\n"
              "003\tPRICE\t実数型\tftFloat\t  0\tDOUBLE PRECISION\n"
              "004\tDAY\t日付型\tftDate\t  0\tDATE\n"
              "005\tOK\t論理型\tftBoolean\t  0\tCHARACTER(5)\n");

    EXPECT_EQ(run({"alias", "delete", "MINE", "--no-save"}).status, 0);
    EXPECT_EQ(run({"aliases"}).out, "VEMO32DEMO\nVEMO32SQLITE\nMINE\n");
    EXPECT_EQ(run({"alias", "delete", "MINE"}).status, 0);
    EXPECT_EQ(run({"aliases"}).out, "VEMO32DEMO\nVEMO32SQLITE\n");
}

TEST_F(ToolTest, SampleWritesTablesTheToolCanRead) {
    const auto target = dir.path() / "sample";
    const Result r = run({"sample", target.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(target / "demo.sqlite"));
    ASSERT_EQ(run({"alias", "add", "S", "STANDARD", "PATH=" + target.string()}).status, 0);
    const Result tables = run({"tables", "S", "--ext"});
    EXPECT_NE(tables.out.find(".DBF"), std::string::npos) << tables.out;
    const std::string first = tables.out.substr(0, tables.out.find('\n'));
    const Result csv = run({"export", "S", first});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("\r\n"), std::string::npos);
}

TEST_F(ToolTest, LanguageDriverOptionReadsAFileTableWhoseHeaderNamesNone) {
    const auto file = dir.path() / "CYR.DBF";
    {
        Session session(dir.path() / "unused.cfg");
        registerBuiltinDrivers(session);
        session.setFileTableParams({{"LANGDRIVER", "1251"}});
        Table t(session);
        t.setTableName(file.string());
        t.createTable({def("NAME", FieldType::String, 20)}, {});
        t.open();
        t.append();
        t.setFieldText(0, "Привет");
        t.post();
    }
    std::string bytes = readFile(file);
    ASSERT_EQ(static_cast<unsigned char>(bytes[29]), 0xC9u) << "the new table names its code page";
    bytes[29] = 0;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    Result r = run({"export", "", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Привет"), std::string::npos);
    r = run({"export", "", file.string(), "--langdriver", "1251"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\"Привет\"\r\n");
    // The option belongs to tables given as files; an alias has its own parameter.
    EXPECT_EQ(run({"export", "ALIAS", "T", "--langdriver", "1251"}).status, 2);
    EXPECT_EQ(run({"fields", "", file.string(), "--force-langdriver"}).status, 2);
    r = run({"fields", "", file.string(), "--langdriver", "KLINGON"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("LANGDRIVER"), std::string::npos) << r.err;
    EXPECT_NE(run({"export", "--help"}).out.find("--langdriver CP"), std::string::npos);
}

// repair --check says what it would mend and writes nothing; repair mends it, the table
// opens for writing with its records; what cannot be mended exits 1 and says why.
TEST_F(ToolTest, RepairMendsAMissingIndexAndReportsWhatItCannot) {
    const std::string table = makeTable();
    const auto mdx = dir.path() / "ITEMS.MDX";
    std::filesystem::remove(mdx);
    const std::string before = readFile(table);
    auto reason = [&] {
        auto db = makeStandardDriver()->connect("R", {{"PATH", dir.path().string()}}, {});
        auto c = db->openTable("ITEMS.DBF", {});
        EXPECT_EQ(c->count(), 3);
        return c->readOnlyReason();
    };
    EXPECT_NE(reason(), "");

    Result r = run({"repair", "", table, "--check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("修復できます: "), std::string::npos) << r.out;
    EXPECT_EQ(readFile(table), before);

    r = run({"repair", "", table});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("修復しました: "), std::string::npos) << r.out;
    EXPECT_EQ(reason(), "");
    EXPECT_EQ(run({"repair", "", table}).out, "修復するものはありませんでした\n");

    std::string bytes = readFile(table);
    bytes[10] = 1; // a record length no field list fits
    std::ofstream(table, std::ios::binary | std::ios::trunc) << bytes;
    r = run({"repair", "", table});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("修復できません: "), std::string::npos) << r.out;
    EXPECT_EQ(run({"repair", "", table, "extra"}).status, 2);
}
