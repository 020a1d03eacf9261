#include "engine/drivers/postgres/PgConnection.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/postgres/PgTypes.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <strings.h>

namespace vemo::engine::sql {

namespace {

struct ResultCloser {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;

int codeForState(const std::string& state) {
    if (state == "23505")
        return ErrKeyViolation;
    if (state == "23502")
        return ErrRequiredField;
    if (state == "28P01" || state == "28000")
        return ErrLogin;
    if (state == "42P01")
        return ErrNotFound;
    if (state == "55P03" || state == "40P01")
        return ErrLocked;
    if (state.rfind("22", 0) == 0)
        return ErrConvert;
    return ErrServer;
}

std::string trimmed(const char* s) {
    std::string m = s ? s : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    return m;
}

PGconn* open(const PgLogin& l) {
    std::vector<const char*> keys, values;
    auto add = [&](const char* k, const std::string& v) {
        if (!v.empty()) {
            keys.push_back(k);
            values.push_back(v.c_str());
        }
    };
    const std::string utf8 = "UTF8", application = "vemo32", timeout = "10";
    // Kept in the connection options so that a reconnect sets it again. Blanks and
    // backslashes are escaped for the options syntax; the schema is a quoted identifier.
    std::string options;
    if (!l.schema.empty()) {
        std::string path = "\"";
        for (char c : l.schema)
            path += c == '"' ? std::string("\"\"") : std::string(1, c);
        path += "\",public";
        options = "-c search_path=";
        for (char c : path) {
            if (c == ' ' || c == '\\')
                options += '\\';
            options += c;
        }
    }
    add("host", l.host);
    add("port", l.port);
    add("dbname", l.database);
    add("user", l.user);
    add("password", l.password);
    add("sslmode", l.sslmode);
    add("sslrootcert", l.sslrootcert);
    add("client_encoding", utf8);
    add("application_name", application);
    add("connect_timeout", timeout);
    add("options", options);
    keys.push_back(nullptr);
    values.push_back(nullptr);
    return PQconnectdbParams(keys.data(), values.data(), 0);
}

} // namespace

PgConnection::PgConnection(const std::string& alias, PgLogin login, const LoginCallback& ask) {
    conn_ = open(login);
    if (PQstatus(conn_) != CONNECTION_OK && PQconnectionNeedsPassword(conn_) && login.password.empty()) {
        std::string error = trimmed(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        if (!ask)
            throw EngineError(ErrLogin, "サーバーがパスワードを求めています: " + error);
        std::string user = login.user, password;
        if (!ask(alias, user, password))
            throw EngineError(ErrLoginCancelled, "ログインが取り消されました。");
        login.user = user;
        login.password = password;
        conn_ = open(login);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string error = trimmed(PQerrorMessage(conn_));
        bool auth = PQconnectionNeedsPassword(conn_) || error.find("password") != std::string::npos ||
                    error.find("authentication") != std::string::npos;
        PQfinish(conn_);
        conn_ = nullptr;
        throw EngineError(auth ? ErrLogin : ErrServer, "サーバーに接続できません: " + error);
    }
    try {
        exec("SET DateStyle = ISO, YMD");
    } catch (...) {
        PQfinish(conn_);
        throw;
    }
}

PgConnection::~PgConnection() { PQfinish(conn_); }

std::string PgConnection::transportNotice(const std::string& alias) const {
    if (PQsslInUse(conn_))
        return {};
    const char* host = PQhost(conn_);
    if (!host || !*host || *host == '/' || *host == '@') // a Unix-domain socket stays on this machine
        return {};
    return "エイリアス " + alias + " のサーバー (" + host +
           ") との接続は暗号化されていません。パスワードとデータは平文で送られます。暗号化を必須にするには SSLMODE=require、"
           "サーバーの証明書も確かめるには SSLMODE=verify-full と SSLROOTCERT を設定してください。";
}

// A connection lost earlier (server restarted) is tried once more before giving up.
void PgConnection::ensureConnected() {
    takeInFlight(); // libpq would otherwise drop it unseen
    dropAhead();
    if (PQstatus(conn_) == CONNECTION_OK)
        return;
    PQreset(conn_);
    kept_.clear(); // a new session knows none of them
    if (PQstatus(conn_) != CONNECTION_OK)
        throw EngineError(ErrServer, "サーバーとの接続が切れています: " + trimmed(PQerrorMessage(conn_)));
    PQclear(PQexec(conn_, "SET DateStyle = ISO, YMD"));
}

std::string PgConnection::nullSafeEquals(const std::string& column, const std::string& param, const FieldDef& field) const {
    // Types without an equality operator are compared in their text form.
    static const char* const textOnly[] = {"json", "xml", "point", "line", "lseg", "box", "path", "polygon", "circle"};
    for (const char* t : textOnly)
        if (field.nativeType == t)
            return "CAST(" + column + " AS text) IS NOT DISTINCT FROM CAST(" + param + " AS text)";
    return column + " IS NOT DISTINCT FROM " + param;
}

namespace {

// Parameters in the form libpq takes them: bytes in binary, everything else as text.
struct PgParams {
    explicit PgParams(const std::vector<Value>& params)
        : texts(params.size()), values(params.size()), lengths(params.size()), formats(params.size()) {
        for (size_t i = 0; i < params.size(); ++i) {
            if (const auto* b = std::get_if<Bytes>(&params[i])) {
                values[i] = reinterpret_cast<const char*>(b->data());
                lengths[i] = static_cast<int>(b->size());
                formats[i] = 1;
                if (b->empty())
                    values[i] = "";
                continue;
            }
            auto t = paramText(params[i]);
            if (!t)
                continue;
            texts[i] = std::move(*t);
            values[i] = texts[i].c_str();
        }
    }
    int count() const { return static_cast<int>(values.size()); }

    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
};

bool succeeded(const Result& r) {
    const auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

Result checked(PGconn* conn, Result r) {
    if (succeeded(r))
        return r;
    if (PQstatus(conn) != CONNECTION_OK)
        throw EngineError(ErrServer, "サーバーとの接続が切れました: " + trimmed(PQerrorMessage(conn)));
    const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    throw EngineError(codeForState(state ? state : ""), trimmed(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn)));
}

Result run(PGconn* conn, const std::string& sql, const std::vector<Value>& params) {
    PgParams p(params);
    return checked(conn, Result(PQexecParams(conn, sql.c_str(), p.count(), nullptr, p.values.data(),
                                             p.lengths.data(), p.formats.data(), 0)));
}

// The first result of a statement sent earlier, the rest (there are none for one SELECT)
// read and dropped so that the connection is free again.
Result collect(PGconn* conn) {
    Result first;
    while (PGresult* r = PQgetResult(conn)) {
        if (first)
            PQclear(r);
        else
            first.reset(r);
    }
    return first;
}

bool startsWith(const std::string& sql, const char* word) {
    size_t i = 0;
    while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\n' || sql[i] == '\t' || sql[i] == '('))
        ++i;
    return strncasecmp(sql.c_str() + i, word, std::strlen(word)) == 0;
}

constexpr size_t kKeptStatements = 64;

} // namespace

void PgConnection::forgetKept(const std::string& sql) {
    if (kept_.empty() || !(startsWith(sql, "CREATE") || startsWith(sql, "DROP") || startsWith(sql, "ALTER")))
        return;
    if (PQtransactionStatus(conn_) == PQTRANS_INERROR)
        return; // the statement fails anyway; the plans go when the names are reused or the session ends
    PQclear(PQexec(conn_, "DEALLOCATE ALL"));
    kept_.clear();
}

PGresult* PgConnection::runKept(const std::string& sql, const std::vector<Value>& params) {
    const bool worth = !params.empty() && (startsWith(sql, "SELECT") || startsWith(sql, "INSERT") ||
                                           startsWith(sql, "UPDATE") || startsWith(sql, "DELETE") ||
                                           startsWith(sql, "WITH"));
    if (!worth) {
        forgetKept(sql);
        return run(conn_, sql, params).release();
    }
    auto it = kept_.find(sql);
    if (it == kept_.end()) {
        if (kept_.size() >= kKeptStatements)
            return run(conn_, sql, params).release();
        const std::string name = "vemo_kept_" + std::to_string(++keptNames_);
        checked(conn_, Result(PQprepare(conn_, name.c_str(), sql.c_str(), static_cast<int>(params.size()), nullptr)));
        it = kept_.emplace(sql, name).first;
    }
    PgParams p(params);
    Result r(PQexecPrepared(conn_, it->second.c_str(), p.count(), p.values.data(), p.lengths.data(),
                            p.formats.data(), 0));
    if (!succeeded(r)) {
        // A plan made for a table whose columns have changed since is not used again.
        const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
        if (state && std::strcmp(state, "0A000") == 0) {
            kept_.erase(it);
            if (PQtransactionStatus(conn_) == PQTRANS_IDLE)
                return run(conn_, sql, params).release();
        }
    }
    return checked(conn_, std::move(r)).release();
}

void PgConnection::queryAhead(const std::string& sql, const std::vector<Value>& params) {
    // Only outside a transaction: a failing early statement must not abort the caller's.
    if (ahead_ || inFlight_ || PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE)
        return;
    PgParams p(params);
    if (!PQsendQueryParams(conn_, sql.c_str(), p.count(), nullptr, p.values.data(), p.lengths.data(),
                           p.formats.data(), 0)) {
        dropAhead();
        return;
    }
    ahead_ = Ahead{sql, params};
}

void PgConnection::dropAhead() noexcept {
    if (!ahead_)
        return;
    ahead_.reset();
    while (PGresult* r = PQgetResult(conn_))
        PQclear(r);
}

void PgConnection::query(const std::string& sql, const std::vector<Value>& params, const std::function<void(Row&&)>& onRow) {
    Result r;
    if (ahead_ && ahead_->sql == sql && ahead_->params == params) {
        ahead_.reset();
        r = collect(conn_);
        // Anything but rows (a lost connection...) is left to the ordinary path below.
        if (!succeeded(r))
            r.reset();
    }
    if (!r) {
        ensureConnected();
        r.reset(runKept(sql, params));
    }
    const int rows = PQntuples(r.get()), cols = PQnfields(r.get());
    for (int i = 0; i < rows; ++i) {
        Row row(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c)
            if (!PQgetisnull(r.get(), i, c))
                row[c] = std::string(PQgetvalue(r.get(), i, c), static_cast<size_t>(PQgetlength(r.get(), i, c)));
        onRow(std::move(row));
    }
}

void PgConnection::takeInFlight() noexcept {
    if (!inFlight_)
        return;
    *inFlight_ = collect(conn_).release();
    inFlight_ = nullptr;
}

// A cursor read in batches keeps memory bounded whatever the size of the result; the next
// batch is asked for before the current one is handed on, so the server works meanwhile.
// Outside a transaction the pass runs in a read-only one of its own: one snapshot, nothing
// held afterwards. Statements run by onRow on this connection see that snapshot.
bool PgConnection::stream(const std::string& sql, const std::vector<Value>& params, const std::vector<FieldDef>& fields,
                          const std::function<bool(const Row&)>& onRow) {
    ensureConnected();
    const bool ownTransaction = PQtransactionStatus(conn_) == PQTRANS_IDLE;
    if (ownTransaction)
        exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    const std::string cursor = "vemo_stream_" + std::to_string(++streams_);
    PGresult* early = nullptr; // our batch, when another statement took it in first
    struct Finish {
        PgConnection& c;
        PGresult*& early;
        bool ownTransaction;
        std::string close;
        ~Finish() {
            if (c.inFlight_ == &early)
                c.takeInFlight();
            PQclear(early);
            if (PQstatus(c.conn_) != CONNECTION_OK)
                return;
            if (ownTransaction)
                PQclear(PQexec(c.conn_, "ROLLBACK"));
            else if (!close.empty() && PQtransactionStatus(c.conn_) == PQTRANS_INTRANS)
                PQclear(PQexec(c.conn_, close.c_str()));
        }
    } finish{*this, early, ownTransaction, {}};
    run(conn_, "DECLARE " + cursor + " NO SCROLL CURSOR FOR " + sql, params);
    finish.close = "CLOSE " + cursor;

    // Types the generic text conversion does not know.
    std::vector<bool> special(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        special[i] = fields[i].nativeType == "bytea" || fields[i].nativeType == "money";
    const std::string fetch = "FETCH 8192 FROM " + cursor;
    auto ask = [&] {
        if (!PQsendQuery(conn_, fetch.c_str()))
            throw EngineError(ErrServer, "サーバーとの接続が切れました: " + trimmed(PQerrorMessage(conn_)));
        inFlight_ = &early;
    };
    auto receive = [&] {
        if (inFlight_ == &early)
            takeInFlight();
        Result batch(early);
        early = nullptr;
        return checked(conn_, std::move(batch));
    };
    ask();
    Row row(fields.size());
    for (;;) {
        const Result batch = receive();
        const int rows = PQntuples(batch.get());
        if (rows == 0)
            return true;
        ask();
        const int cols = std::min(PQnfields(batch.get()), static_cast<int>(fields.size()));
        for (int i = 0; i < rows; ++i) {
            for (int c = 0; c < cols; ++c) {
                if (PQgetisnull(batch.get(), i, c)) {
                    row[c] = std::monostate{};
                    continue;
                }
                const std::string_view text(PQgetvalue(batch.get(), i, c), static_cast<size_t>(PQgetlength(batch.get(), i, c)));
                if (special[c])
                    row[c] = toTyped(std::string(text), fields[c]);
                else
                    assignFromText(row[c], text, fields[c]);
            }
            if (!onRow(row))
                return false;
        }
    }
}

int64_t PgConnection::execute(const std::string& sql, const std::vector<Value>& params) {
    ensureConnected();
    Result r(runKept(sql, params));
    return parseInt(PQcmdTuples(r.get())).value_or(0);
}

void PgConnection::begin() { execute("BEGIN", {}); }
void PgConnection::commit() { execute("COMMIT", {}); }
bool PgConnection::inTransaction() const {
    return conn_ && PQtransactionStatus(conn_) != PQTRANS_IDLE && PQtransactionStatus(conn_) != PQTRANS_UNKNOWN;
}
void PgConnection::rollback() noexcept {
    takeInFlight();
    dropAhead();
    if (PQstatus(conn_) == CONNECTION_OK)
        PQclear(PQexec(conn_, "ROLLBACK"));
}

std::vector<FieldDef> PgConnection::describe(const std::string& sql, const std::vector<Value>& params) {
    ensureConnected();
    Result r(runKept("SELECT * FROM (" + sql + "\n) vemo_q LIMIT 0", params));
    std::vector<FieldDef> fields;
    for (int i = 0, n = PQnfields(r.get()); i < n; ++i) {
        const unsigned oid = PQftype(r.get(), i);
        if (!typeNames_.count(oid)) {
            std::string name;
            query("SELECT typname FROM pg_type WHERE oid = $1::oid", {static_cast<int64_t>(oid)},
                  [&](Row&& t) { name = paramText(t.at(0)).value_or(""); });
            typeNames_[oid] = name;
        }
        fields.push_back(pgField(PQfname(r.get(), i), typeNames_[oid], PQfmod(r.get(), i), false, false));
    }
    return fields;
}

std::vector<SqlConnection::ColumnSource> PgConnection::columnSources(const std::string& sql,
                                                                    const std::vector<Value>& params) {
    ensureConnected();
    Result r = run(conn_, "SELECT * FROM (" + sql + "\n) vemo_q LIMIT 0", params);
    std::vector<ColumnSource> out;
    for (int i = 0, n = PQnfields(r.get()); i < n; ++i) {
        const unsigned table = PQftable(r.get(), i);
        const int column = PQftablecol(r.get(), i);
        ColumnSource source;
        if (table != 0 && column > 0)
            query("SELECT n.nspname || '.' || c.relname, a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = "
                  "a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace WHERE a.attrelid = $1::oid AND a.attnum = "
                  "$2::int2",
                  {static_cast<int64_t>(table), static_cast<int64_t>(column)}, [&](Row&& t) {
                      source = {paramText(t.at(0)).value_or(""), paramText(t.at(1)).value_or("")};
                  });
        out.push_back(std::move(source));
    }
    return out;
}

Value PgConnection::toTyped(const Value& raw, const FieldDef& field) const {
    const auto* text = std::get_if<std::string>(&raw);
    if (text && isBinaryType(field.type) && field.nativeType == "bytea") {
        size_t n = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text->c_str()), &n);
        if (!bytes)
            return raw;
        Bytes out(bytes, bytes + n);
        PQfreemem(bytes);
        return out;
    }
    if (text && field.nativeType == "money") {
        std::string digits;
        for (char c : *text)
            if ((c >= '0' && c <= '9') || c == '.' || c == '-')
                digits += c;
        if (auto d = parseDouble(digits))
            return *d;
        return raw;
    }
    return SqlConnection::toTyped(raw, field);
}

void PgConnection::copyBegin(const std::string& sql) {
    ensureConnected();
    takeInFlight();
    dropAhead();
    Result r(PQexec(conn_, sql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN)
        checked(conn_, std::move(r));
}

void PgConnection::copyData(const std::string& lines) {
    if (PQputCopyData(conn_, lines.data(), static_cast<int>(lines.size())) != 1)
        throw EngineError(ErrServer, "サーバーへの送信に失敗しました: " + trimmed(PQerrorMessage(conn_)));
}

void PgConnection::copyEnd() {
    if (PQputCopyEnd(conn_, nullptr) != 1)
        throw EngineError(ErrServer, "サーバーへの送信に失敗しました: " + trimmed(PQerrorMessage(conn_)));
    Result first = collect(conn_);
    checked(conn_, std::move(first));
}

void PgConnection::copyAbort() noexcept {
    if (PQputCopyEnd(conn_, "abandoned") == 1)
        while (PGresult* r = PQgetResult(conn_))
            PQclear(r);
}

} // namespace vemo::engine::sql
