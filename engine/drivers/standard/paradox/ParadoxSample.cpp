// The Paradox part of the sample data: keyed tables with Japanese text, secondary
// indexes and a memo field, written through the same code that edits user tables.
#include "PxCreate.h"
#include "PxCursor.h"
#include "engine/drivers/SampleData.h"

namespace vemo::engine {
namespace {

FieldDef field(const std::string& name, FieldType type, int size = 0) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

IndexDef index(const std::string& name, const std::string& fields, bool primary = false) {
    IndexDef i;
    i.name = name;
    i.fields = fields;
    i.primary = primary;
    i.unique = primary;
    return i;
}

void fill(const std::filesystem::path& file, const std::vector<Row>& rows) {
    paradox::PxCursor c(file, OpenOptions{});
    for (const auto& r : rows) c.insert(r);
}

} // namespace

void writeParadoxSample(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const auto customers = dir / "TOKUISAKI.DB";
    if (!std::filesystem::exists(customers)) {
        paradox::createParadoxTable(customers,
            {field("得意先コード", FieldType::Integer), field("得意先名", FieldType::String, 40),
             field("フリガナ", FieldType::String, 40), field("都道府県", FieldType::String, 10),
             field("電話番号", FieldType::String, 15), field("与信限度額", FieldType::Currency),
             field("取引開始日", FieldType::Date), field("備考", FieldType::Memo, 20)},
            {index("", "得意先コード", true), index("フリガナ", "フリガナ"),
             index("都道府県別", "都道府県;得意先名")});
        fill(customers, {
            {int64_t(1001), std::string("株式会社山田商事"), std::string("ﾔﾏﾀﾞｼｮｳｼﾞ"), std::string("東京都"),
             std::string("03-1234-5678"), 5000000.0, Date{1998, 4, 1},
             std::string("創業以来のお得意様。月末締め翌月末払い。")},
            {int64_t(1002), std::string("有限会社佐藤工業"), std::string("ｻﾄｳｺｳｷﾞｮｳ"), std::string("大阪府"),
             std::string("06-2345-6789"), 2000000.0, Date{2001, 10, 15}, std::monostate{}},
            {int64_t(1003), std::string("鈴木電機株式会社"), std::string("ｽｽﾞｷﾃﾞﾝｷ"), std::string("愛知県"),
             std::string("052-345-6789"), 8000000.0, Date{1995, 1, 20},
             std::string("担当: 営業二課。納品は午前中指定。\r\n請求書は本社経理部宛て。")},
            {int64_t(1004), std::string("高橋ﾌｰｽﾞ"), std::string("ﾀｶﾊｼﾌｰｽﾞ"), std::string("北海道"),
             std::string("011-456-7890"), 1500000.0, Date{2005, 7, 7}, std::monostate{}},
            {int64_t(1005), std::string("田中印刷所"), std::string("ﾀﾅｶｲﾝｻﾂｼｮ"), std::string("東京都"),
             std::string("03-9876-5432"), 800000.0, Date{2010, 3, 31}, std::string("年賀状印刷の繁忙期は 11 月～12 月。")},
        });
    }
    const auto items = dir / "SHOHIN.DB";
    if (!std::filesystem::exists(items)) {
        paradox::createParadoxTable(items,
            {field("商品コード", FieldType::String, 8), field("商品名", FieldType::String, 40),
             field("単価", FieldType::Currency), field("在庫数", FieldType::Smallint),
             field("販売中", FieldType::Boolean), field("更新日時", FieldType::DateTime)},
            {index("", "商品コード", true), index("商品名", "商品名")});
        fill(items, {
            {std::string("A-001"), std::string("ボールペン（黒）"), 120.0, int64_t(350), true,
             DateTime{{2024, 4, 1}, {9 * 3600000}}},
            {std::string("A-002"), std::string("ボールペン（赤）"), 120.0, int64_t(180), true,
             DateTime{{2024, 4, 1}, {9 * 3600000 + 60000}}},
            {std::string("B-010"), std::string("ﾉｰﾄ A4 5冊ﾊﾟｯｸ"), 980.0, int64_t(42), true,
             DateTime{{2024, 5, 12}, {14 * 3600000 + 30 * 60000}}},
            {std::string("C-100"), std::string("電卓（12桁）"), 2480.0, int64_t(0), false,
             DateTime{{2023, 11, 30}, {17 * 3600000}}},
        });
    }
    const auto orders = dir / "JUCHU.DB";
    if (!std::filesystem::exists(orders)) {
        FieldDef amount = field("金額", FieldType::BCD, 2);
        paradox::createParadoxTable(orders,
            {field("受注番号", FieldType::AutoInc), field("得意先コード", FieldType::Integer),
             field("商品コード", FieldType::String, 8), field("数量", FieldType::Smallint),
             field("受注日", FieldType::Date), amount},
            {index("", "受注番号", true), index("得意先コード", "得意先コード")});
        fill(orders, {
            {std::monostate{}, int64_t(1001), std::string("A-001"), int64_t(100), Date{2024, 6, 3}, Decimal{"12000.00"}},
            {std::monostate{}, int64_t(1003), std::string("C-100"), int64_t(5), Date{2024, 6, 4}, Decimal{"12400.00"}},
            {std::monostate{}, int64_t(1001), std::string("B-010"), int64_t(20), Date{2024, 6, 10}, Decimal{"19600.00"}},
            {std::monostate{}, int64_t(1005), std::string("A-002"), int64_t(60), Date{2024, 6, 11}, Decimal{"7200.00"}},
        });
    }
}

} // namespace vemo::engine
