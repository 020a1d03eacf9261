// New records streamed to the server with COPY, for moves of many records.
#include "engine/drivers/postgres/PgDatabase.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"

namespace vemo::engine::sql {
namespace {

constexpr size_t kSendAt = 256 * 1024;

// A value in COPY's text format: backslash, tab and line ends escaped, null as \\N.
void appendCopyText(std::string& out, const Value& v) {
    if (isNull(v)) {
        out += "\\N";
        return;
    }
    if (const auto* b = std::get_if<Bytes>(&v)) {
        static const char hex[] = "0123456789abcdef";
        out += "\\\\x";
        for (uint8_t c : *b) {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        return;
    }
    const auto text = paramText(v);
    if (!text) {
        out += "\\N";
        return;
    }
    for (char c : *text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

class PgAppender : public RowAppender {
public:
    PgAppender(PgConnection& c, const std::string& sql, size_t width) : c_(c), width_(width) {
        c_.copyBegin(sql);
        open_ = true;
    }
    ~PgAppender() override {
        if (open_)
            c_.copyAbort();
    }
    void add(const Row& row) override {
        if (row.size() != width_)
            throw EngineError(ErrInvalidParam, "フィールドの数が合いません。");
        for (size_t i = 0; i < row.size(); ++i) {
            if (i)
                buffer_ += '\t';
            appendCopyText(buffer_, row[i]);
        }
        buffer_ += '\n';
        if (buffer_.size() >= kSendAt)
            send();
    }
    void finish() override {
        send();
        open_ = false;
        c_.copyEnd();
    }

private:
    void send() {
        if (buffer_.empty())
            return;
        c_.copyData(buffer_);
        buffer_.clear();
    }

    PgConnection& c_;
    size_t width_;
    std::string buffer_;
    bool open_ = false;
};

} // namespace

std::unique_ptr<RowAppender> PgDatabase::openAppender(const std::string& name) {
    const SqlTableInfo info = tableInfo(name);
    std::string sql = "COPY " + info.qualifiedName + " (";
    for (size_t i = 0; i < info.fields.size(); ++i)
        sql += (i ? ", " : "") + quoteIdent(info.fields[i].name);
    sql += ") FROM STDIN";
    return std::make_unique<PgAppender>(*conn_, sql, info.fields.size());
}

} // namespace vemo::engine::sql
