// The dBASE part of the sample directory a newcomer sees: customers with a memo field and
// their orders, Japanese text in code page 932, production indexes.
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/drivers/standard/dbase/DbfCursor.h"

#include <cstdio>

namespace vemo::engine {
namespace {

using dbase::dbaseField;

IndexDef tag(const char* name, const char* fields, const char* expression = "", bool unique = false) {
    IndexDef d;
    d.name = name;
    d.fields = fields;
    d.expression = expression;
    d.unique = unique;
    return d;
}

// Loads the rows, then indexes them once.
void fill(const std::filesystem::path& file, const std::vector<Row>& rows, const std::vector<IndexDef>& indexes) {
    {
        dbase::DbfCursor cursor(file, OpenOptions{});
        for (const Row& r : rows)
            cursor.insert(r);
    }
    dbase::addProductionIndex(file, indexes);
}

} // namespace

void writeDbaseSample(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const auto customers = dir / "CUSTOMER.DBF";
    const auto orders = dir / "ORDERS.DBF";
    const auto items = dir / "ITEMS.DBF";
    // Tables already there (a user's edited copy from an earlier start) are left alone.
    std::error_code ec;
    auto missing = [&](const std::filesystem::path& p) { return !std::filesystem::exists(p, ec); };

    if (missing(customers)) {
        dbase::createDbf(customers,
                         {dbaseField("CUST_NO", "N", 6), dbaseField("NAME", "C", 40), dbaseField("KANA", "C", 40),
                          dbaseField("ZIP", "C", 8), dbaseField("PREF", "C", 10), dbaseField("ADDRESS", "C", 60),
                          dbaseField("TEL", "C", 14), dbaseField("SINCE", "D", 8), dbaseField("ACTIVE", "L", 1),
                          dbaseField("CREDIT", "N", 12, 0), dbaseField("NOTE", "M", 10)},
                         {});
        struct C {
            const char* name, *kana, *zip, *pref, *addr, *tel;
            Date since;
            bool active;
            int64_t credit;
            const char* note;
        };
        const C cs[] = {
            {"株式会社山田商事",
             "ﾔﾏﾀﾞｼｮｳｼﾞ",
             "100-0001",
             "東京都",
             "千代田区千代田1-1",
             "03-1234-5678",
             {1998, 4, 1},
             true,
             5000000,
             "創業以来の取引先。\r\n毎月末締め、翌月末払い。"},
            {"有限会社佐藤製作所",
             "ｻﾄｳｾｲｻｸｼｮ",
             "460-0008",
             "愛知県",
             "名古屋市中区栄3-4-5",
             "052-111-2222",
             {2003, 10, 15},
             true,
             2000000,
             "精密部品の加工。納期厳守をお願いされている。"},
            {"鈴木電機株式会社",
             "ｽｽﾞｷﾃﾞﾝｷ",
             "530-0001",
             "大阪府",
             "大阪市北区梅田2-2-2",
             "06-3333-4444",
             {2010, 1, 20},
             true,
             8000000,
             ""},
            {"高橋食品株式会社",
             "ﾀｶﾊｼｼｮｸﾋﾝ",
             "060-0001",
             "北海道",
             "札幌市中央区北一条西1",
             "011-555-6666",
             {2015, 6, 30},
             false,
             0,
             "2020年に取引停止。"},
            {"田中建設株式会社",
             "ﾀﾅｶｹﾝｾﾂ",
             "812-0011",
             "福岡県",
             "福岡市博多区博多駅前4-1",
             "092-777-8888",
             {2018, 9, 1},
             true,
             12000000,
             "大型案件あり。担当：営業二課"},
            {"伊藤印刷有限会社",
             "ｲﾄｳｲﾝｻﾂ",
             "980-0021",
             "宮城県",
             "仙台市青葉区中央1-2-3",
             "022-999-0000",
             {2021, 3, 10},
             true,
             1500000,
             ""},
            {"渡辺物産株式会社",
             "ﾜﾀﾅﾍﾞﾌﾞｯｻﾝ",
             "730-0011",
             "広島県",
             "広島市中区基町5-6",
             "082-123-4567",
             {2022, 11, 25},
             true,
             3000000,
             "海外輸入品を扱う。"},
            {"中村ソフトウェア株式会社",
             "ﾅｶﾑﾗｿﾌﾄｳｪｱ",
             "220-0012",
             "神奈川県",
             "横浜市西区みなとみらい2-3",
             "045-222-3333",
             {2024, 2, 29},
             true,
             6000000,
             "保守契約：年額。\r\n契約更新は毎年4月。"},
        };
        std::vector<Row> rows;
        int64_t no = 1001;
        for (const C& c : cs) {
            rows.push_back({no++, std::string(c.name), std::string(c.kana), std::string(c.zip), std::string(c.pref),
                            std::string(c.addr), std::string(c.tel), c.since, c.active, c.credit,
                            *c.note ? Value(std::string(c.note)) : Value()});
        }
        fill(customers, rows,
             {tag("CUST_NO", "CUST_NO", "", true), tag("KANA", "KANA"), tag("PREF_NAME", "", "PREF+NAME")});
    }

    const char* itemData[][4] = {
        {"A-0001", "ボールペン（黒）", "本", "120"}, {"A-0002", "ボールペン（赤）", "本", "120"},
        {"B-0010", "Ａ４コピー用紙", "箱", "3200"},  {"C-0100", "ﾌｧｲﾙ ﾎﾞｯｸｽ", "個", "850"},
        {"D-2000", "事務用いす", "脚", "24800"},     {"E-0500", "ホワイトボード", "台", "15800"}};
    if (missing(items)) {
        dbase::createDbf(
            items,
            {dbaseField("ITEM_NO", "C", 6), dbaseField("NAME", "C", 30), dbaseField("UNIT", "C", 4),
             dbaseField("PRICE", "N", 10, 0)},
            {});
        std::vector<Row> rows;
        for (const auto& i : itemData)
            rows.push_back({std::string(i[0]), std::string(i[1]), std::string(i[2]), int64_t(std::stoll(i[3]))});
        fill(items, rows, {tag("ITEM_NO", "ITEM_NO", "", true), tag("NAME", "NAME")});
    }

    if (missing(orders)) {
        dbase::createDbf(orders,
                         {dbaseField("ORDER_NO", "N", 8), dbaseField("CUST_NO", "N", 6), dbaseField("ORDER_DATE", "D", 8),
                          dbaseField("ITEM_NO", "C", 6), dbaseField("QTY", "N", 6), dbaseField("AMOUNT", "N", 12, 0),
                          dbaseField("SHIPPED", "L", 1), dbaseField("REMARK", "C", 40)},
                         {});
        const int prices[] = {120, 120, 3200, 850, 24800, 15800};
        std::vector<Row> rows;
        for (int i = 0; i < 40; ++i) {
            const int item = (i * 7) % 6;
            const int64_t qty = 1 + (i * 13) % 20;
            Date d{2025, 1 + (i % 12), 1 + (i * 11) % 28};
            rows.push_back({int64_t(20250001 + i), int64_t(1001 + (i * 5) % 8), d, std::string(itemData[item][0]), qty,
                            qty * prices[item], i % 3 != 0, i % 4 == 0 ? Value(std::string("至急")) : Value()});
        }
        fill(orders, rows,
             {tag("ORDER_NO", "ORDER_NO", "", true), tag("CUST_DATE", "", "STR(CUST_NO,6)+DTOS(ORDER_DATE)"),
              tag("ORDER_DATE", "ORDER_DATE")});
    }
}

} // namespace vemo::engine
