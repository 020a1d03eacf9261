#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"
#include "engine/drivers/standard/dbase/MemoFile.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <set>

namespace vemo::engine::dbase {

FieldDef dbaseField(const char* name, const char* type, int size, int decimals) {
    FieldDef f;
    f.name = name;
    f.nativeType = type;
    f.size = size;
    f.precision = size;
    f.scale = decimals;
    return f;
}
namespace {

struct Column {
    std::string name;
    char type;
    int length;
    int decimals;
};

[[noreturn]] void invalid(const std::string& msg) { throw EngineError(ErrInvalidParam, msg); }

Column columnOf(const FieldDef& f) {
    Column c{f.name, 'C', 0, 0};
    for (char& ch : c.name)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const char native = f.nativeType.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(f.nativeType[0]))) : 0;
    if (native && std::strchr("CNFDLMBG", native)) {
        c.type = native;
        c.length = native == 'C' ? f.size : f.precision;
        c.decimals = f.scale;
    } else {
        switch (f.type) {
        case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
            c.type = 'C'; c.length = f.size; break;
        case FieldType::Smallint: case FieldType::Word: c.type = 'N'; c.length = 6; break;
        case FieldType::Integer: case FieldType::AutoInc: c.type = 'N'; c.length = 11; break;
        case FieldType::LargeInt: c.type = 'N'; c.length = 20; break;
        case FieldType::Float: case FieldType::Currency: case FieldType::BCD:
            c.type = 'N';
            c.length = f.precision > 0 ? f.precision : 20;
            c.decimals = f.precision > 0 ? f.scale : 4;
            break;
        case FieldType::Date: c.type = 'D'; break;
        case FieldType::Boolean: c.type = 'L'; break;
        case FieldType::Memo: case FieldType::FmtMemo: c.type = 'M'; break;
        case FieldType::DBaseOle: case FieldType::ParadoxOle: c.type = 'G'; break;
        case FieldType::Blob: case FieldType::Graphic: case FieldType::Bytes: case FieldType::VarBytes:
        case FieldType::TypedBinary:
            c.type = 'B'; break;
        default:
            invalid("フィールド " + f.name + " の型は dBASE テーブルに作成できません。");
        }
    }
    switch (c.type) {
    case 'D': c.length = 8; c.decimals = 0; break;
    case 'L': c.length = 1; c.decimals = 0; break;
    case 'M': case 'B': case 'G': c.length = 10; c.decimals = 0; break;
    case 'C':
        c.decimals = 0;
        if (c.length < 1 || c.length > 254)
            invalid("フィールド " + f.name + " の長さは 1 から 254 までです。");
        break;
    default:
        if (c.length < 1 || c.length > 20)
            invalid("フィールド " + f.name + " の桁数は 1 から 20 までです。");
        if (c.decimals < 0 || (c.decimals > 0 && c.decimals > c.length - 2))
            invalid("フィールド " + f.name + " の小数桁数が不正です。");
    }
    if (c.name.empty() || c.name.size() > 10 || !std::isalpha(static_cast<unsigned char>(c.name[0])))
        invalid("フィールド名 \"" + f.name + "\" は英字で始まる 10 文字以内にしてください。");
    for (char ch : c.name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_')
            invalid("フィールド名 \"" + f.name + "\" に使えない文字があります。");
    return c;
}

std::filesystem::path sibling(const std::filesystem::path& file, const char* upperExt) {
    std::filesystem::path p = file;
    std::string ext = upperExt;
    const std::string own = file.extension().string();
    if (!own.empty() && std::islower(static_cast<unsigned char>(own.back())))
        for (char& ch : ext)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    p.replace_extension(ext);
    return p;
}

} // namespace

void createDbf(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
               const std::vector<IndexDef>& indexes, int codepage) {
    if (fields.empty())
        invalid("フィールドがありません。");
    if (fields.size() > 255)
        invalid("dBASE テーブルのフィールドは 255 個までです。");
    std::vector<Column> cols;
    std::set<std::string> names;
    bool memo = false;
    int recordLength = 1;
    for (const FieldDef& f : fields) {
        Column c = columnOf(f);
        if (!names.insert(c.name).second)
            invalid("フィールド名 " + c.name + " が重複しています。");
        memo = memo || c.type == 'M' || c.type == 'B' || c.type == 'G';
        recordLength += c.length;
        cols.push_back(c);
    }
    if (recordLength > 4000)
        invalid("レコード長が 4000 バイトを超えています。");

    const size_t headerLength = 32 + 32 * cols.size() + 1;
    std::vector<uint8_t> h(headerLength + 1, 0);
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    h[0] = memo ? 0x8B : 0x03;
    h[1] = static_cast<uint8_t>(tm.tm_year);
    h[2] = static_cast<uint8_t>(tm.tm_mon + 1);
    h[3] = static_cast<uint8_t>(tm.tm_mday);
    putLe16(h.data() + 8, static_cast<uint32_t>(headerLength));
    putLe16(h.data() + 10, static_cast<uint32_t>(recordLength));
    h[28] = indexes.empty() ? 0 : 1;
    h[29] = ldidForCodepage(codepage);
    for (size_t i = 0; i < cols.size(); ++i) {
        uint8_t* d = h.data() + 32 + 32 * i;
        std::memcpy(d, cols[i].name.data(), cols[i].name.size());
        d[11] = static_cast<uint8_t>(cols[i].type);
        d[16] = static_cast<uint8_t>(cols[i].length);
        d[17] = static_cast<uint8_t>(cols[i].decimals);
        for (const IndexDef& x : indexes)
            if (x.expression.empty() && (x.fields == cols[i].name || x.fields == fields[i].name))
                d[31] = 1;
    }
    h[headerLength - 1] = 0x0D;
    h[headerLength] = 0x1A;

    const auto memoPath = sibling(file, ".DBT");
    const auto mdxPath = sibling(file, ".MDX");
    std::error_code ec;
    if (memo && std::filesystem::exists(memoPath, ec))
        throw EngineError(ErrInvalidParam, "メモファイルが既にあります: " + memoPath.string());
    if (!indexes.empty() && std::filesystem::exists(mdxPath, ec))
        throw EngineError(ErrInvalidParam, "インデックスファイルが既にあります: " + mdxPath.string());
    {
        File out = File::create(file);
        out.writeAt(0, h.data(), h.size());
    }
    try {
        if (memo)
            MemoFile::create(memoPath, MemoKind::Dbt4, file.stem().string());
        if (!indexes.empty()) {
            DbfTable table(file, false);
            IndexSet::create(table, indexes);
        }
    } catch (...) {
        std::filesystem::remove(file, ec);
        if (memo)
            std::filesystem::remove(memoPath, ec);
        std::filesystem::remove(mdxPath, ec);
        throw;
    }
}

void addProductionIndex(const std::filesystem::path& file, const std::vector<IndexDef>& indexes) {
    if (indexes.empty())
        return;
    if (!findCompanion(file, ".MDX").empty())
        throw EngineError(ErrInvalidParam, "インデックスファイルが既にあります: " + file.stem().string() + ".MDX");
    {
        DbfTable table(file, false);
        IndexSet::create(table, indexes);
    }
    File f(file, true);
    const uint8_t flag = 1;
    f.writeAt(28, &flag, 1);
}

} // namespace vemo::engine::dbase
