// The rows of a query held open on the server: a scrollable cursor on a connection of its
// own, so that a result of a million rows shows its first page at once, a jump to the end
// moves there on the server, and memory here holds one page.
#include "engine/drivers/postgres/PgConnection.h"

#include "engine/contract/EngineError.h"

#include <libpq-fe.h>

namespace vemo::engine::sql {

namespace {

class PgRowCursor final : public RowCursor {
public:
    PgRowCursor(std::unique_ptr<PgConnection> connection, std::string sql, std::vector<Value> params)
        : conn_(std::move(connection)), sql_(std::move(sql)), params_(std::move(params)) {
        declare();
    }
    ~PgRowCursor() override { conn_->rollback(); }

    int64_t count() override {
        declare();
        if (count_ < 0) {
            conn_->execute("MOVE ABSOLUTE 0 IN vemo_rows", {});
            count_ = conn_->execute("MOVE FORWARD ALL IN vemo_rows", {});
            position_ = -1; // after the last row
        }
        return count_;
    }

    void fetch(int64_t start, int64_t n, const std::function<void(Row&&)>& onRow) override {
        declare();
        if (position_ != start)
            conn_->execute("MOVE ABSOLUTE " + std::to_string(start) + " IN vemo_rows", {});
        int64_t got = 0;
        conn_->query("FETCH FORWARD " + std::to_string(n) + " FROM vemo_rows", {}, [&](Row&& r) {
            ++got;
            onRow(std::move(r));
        });
        position_ = got == n ? start + got : -1;
    }

    void reset() override {
        if (declared_)
            conn_->rollback();
        declared_ = false;
        count_ = -1;
        position_ = 0;
    }

private:
    void declare() {
        if (declared_)
            return;
        conn_->begin();
        try {
            conn_->execute("SET TRANSACTION READ ONLY", {});
            conn_->execute("DECLARE vemo_rows SCROLL CURSOR FOR " + sql_, params_);
        } catch (...) {
            conn_->rollback();
            throw;
        }
        declared_ = true;
        position_ = 0;
    }

    std::unique_ptr<PgConnection> conn_;
    std::string sql_;
    std::vector<Value> params_;
    bool declared_ = false;
    int64_t count_ = -1;
    int64_t position_ = 0; // rows before the cursor, -1 when not known
};

} // namespace

PgConnection::PgConnection(pg_conn* adopted) : conn_(adopted) {
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string error = PQerrorMessage(conn_);
        PQfinish(conn_);
        conn_ = nullptr;
        throw EngineError(ErrServer, "サーバーに接続できません: " + error);
    }
    try {
        exec("SET DateStyle = ISO, YMD");
    } catch (...) {
        PQfinish(conn_);
        throw;
    }
}

std::unique_ptr<PgConnection> PgConnection::twin() const {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK)
        throw EngineError(ErrServer, "サーバーとの接続が切れています。");
    PQconninfoOption* options = PQconninfo(conn_);
    if (!options)
        throw EngineError(ErrGeneral, "接続の設定を読めませんでした。");
    std::vector<const char*> keys, values;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && *o->val) {
            keys.push_back(o->keyword);
            values.push_back(o->val);
        }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    pg_conn* c = PQconnectdbParams(keys.data(), values.data(), 0);
    PQconninfoFree(options);
    return std::unique_ptr<PgConnection>(new PgConnection(c));
}

std::unique_ptr<RowCursor> PgConnection::openRowCursor(const std::string& sql, const std::vector<Value>& params) {
    return std::make_unique<PgRowCursor>(twin(), sql, params);
}

} // namespace vemo::engine::sql
