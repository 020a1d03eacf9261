// The VEMO32SQLITE sample database: customers and their orders with Japanese text, a few
// indexes and a stored view, generated rather than shipped.
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"

#include <memory>
#include <sqlite3.h>
#include <string>
#include <system_error>

namespace vemo::engine {

namespace {

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

const char* kSchema = R"SQL(
CREATE TABLE CUSTOMER (
  CUST_NO INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(40) NOT NULL,
  KANA VARCHAR(40),
  PREF VARCHAR(10),
  ADDRESS VARCHAR(80),
  TEL CHAR(13),
  CREDIT NUMERIC(10,0),
  REGISTERED DATE
);
CREATE INDEX IDX_KANA ON CUSTOMER (KANA);
CREATE INDEX IDX_PREF ON CUSTOMER (PREF, CUST_NO);
CREATE TABLE ORDERS (
  ORDER_NO INTEGER NOT NULL PRIMARY KEY,
  CUST_NO INTEGER NOT NULL REFERENCES CUSTOMER (CUST_NO),
  ORDER_DATE DATE NOT NULL,
  ITEM VARCHAR(40),
  QTY SMALLINT,
  PRICE NUMERIC(10,2),
  SHIPPED BOOLEAN,
  ORDERED_AT DATETIME,
  NOTE TEXT
);
CREATE INDEX IDX_ORDER_CUST ON ORDERS (CUST_NO, ORDER_DATE);
CREATE VIEW ORDER_SUMMARY AS
  SELECT c.CUST_NO, c.NAME, count(o.ORDER_NO) AS ORDERS, sum(o.QTY * o.PRICE) AS AMOUNT
  FROM CUSTOMER c LEFT JOIN ORDERS o ON o.CUST_NO = c.CUST_NO
  GROUP BY c.CUST_NO, c.NAME;
)SQL";

const char* kData = R"SQL(
INSERT INTO CUSTOMER VALUES
 (1001, '山田商事株式会社', 'ﾔﾏﾀﾞｼｮｳｼﾞ', '東京都', '千代田区丸の内1-1-1', '03-1234-5678', 5000000, '1998-04-01'),
 (1002, '有限会社佐藤工業', 'ｻﾄｳｺｳｷﾞｮｳ', '大阪府', '大阪市北区梅田2-2-2', '06-2345-6789', 1200000, '1999-10-15'),
 (1003, '鈴木電機', 'ｽｽﾞｷﾃﾞﾝｷ', '愛知県', '名古屋市中区栄3-3-3', '052-345-6789', 800000, '2000-01-20'),
 (1004, '高橋書店', 'ﾀｶﾊｼｼｮﾃﾝ', '北海道', '札幌市中央区大通4-4', '011-456-7890', NULL, '2001-04-01'),
 (1005, '田中ソフトウェア', 'ﾀﾅｶｿﾌﾄｳｪｱ', '福岡県', '福岡市博多区5-5-5', '092-567-8901', 3000000, '2002-07-07'),
 (1006, '伊藤食品', 'ｲﾄｳｼｮｸﾋﾝ', '東京都', '世田谷区6-6-6', NULL, 450000, NULL);
INSERT INTO ORDERS VALUES
 (1, 1001, '2001-04-02', 'ノートパソコン', 3, 198000.00, 1, '2001-04-02 09:15:00', '至急'),
 (2, 1001, '2001-04-10', 'プリンター', 1, 45800.00, 1, '2001-04-10 14:30:00', NULL),
 (3, 1002, '2001-05-01', 'モニター 17型', 5, 39800.00, 0, '2001-05-01 11:00:00', '納品先：第二工場'),
 (4, 1003, '2001-05-12', 'ＬＡＮケーブル', 20, 980.00, 1, '2001-05-12 16:45:30', NULL),
 (5, 1005, '2001-06-03', 'サーバー', 1, 850000.00, 0, '2001-06-03 10:00:00', '分割納品可'),
 (6, 1004, '2001-06-20', '表計算ソフト', 10, 29800.00, 1, '2001-06-20 13:20:00', NULL),
 (7, 1002, '2001-07-01', 'キーボード', 8, 3980.00, NULL, NULL, NULL);
)SQL";

void run(sqlite3* db, const char* sql, const std::string& file) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw EngineError(ErrIO, "サンプルデータベース " + file + " を作れません: " + msg);
    }
}

} // namespace

void writeSqliteSample(const std::filesystem::path& databaseFile) {
    // Built beside the target and renamed over it, so a failure leaves no half database.
    std::filesystem::path temp = databaseFile;
    temp += ".tmp";
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    {
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(temp.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        std::unique_ptr<sqlite3, Closer> db(raw);
        if (rc != SQLITE_OK)
            throw EngineError(ErrIO, "サンプルデータベース " + databaseFile.string() + " を作れません: " +
                                         (raw ? sqlite3_errmsg(raw) : "out of memory"));
        try {
            run(raw, "BEGIN", databaseFile.string());
            run(raw, kSchema, databaseFile.string());
            run(raw, kData, databaseFile.string());
            run(raw, "COMMIT", databaseFile.string());
        } catch (...) {
            db.reset();
            std::filesystem::remove(temp, ec);
            throw;
        }
    }
    std::filesystem::rename(temp, databaseFile, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        throw EngineError(ErrIO, "サンプルデータベース " + databaseFile.string() + " を作れません: " + ec.message());
    }
}

} // namespace vemo::engine
