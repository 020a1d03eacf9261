// New records streamed to the server with COPY, for moves of many records.
#include "engine/drivers/postgres/PgDatabase.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <charconv>
#include <string_view>

namespace vemo::engine::sql {
namespace {

// Lines go to the server in pieces this large: small enough that the server parses one
// while the next is being written, which larger pieces did less well in a 1,000,000-record
// copy.
constexpr size_t kSendAt = 32 * 1024;

// Text in COPY's text format: backslash, tab and line ends escaped, the runs between them
// appended whole.
void appendEscaped(std::string& out, std::string_view text) {
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* escaped = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (!escaped)
            continue;
        out.append(text.data() + from, i - from);
        out += escaped;
        from = i + 1;
    }
    out.append(text.data() + from, text.size() - from);
}

// A value in COPY's text format, null as \N. Text, numbers and decimals are written
// straight into the line; the rest through their parameter text.
void appendCopyText(std::string& out, const Value& v) {
    if (isNull(v)) {
        out += "\\N";
        return;
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        appendEscaped(out, *s);
        return;
    }
    if (const auto* i = std::get_if<int64_t>(&v)) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, *i).ptr;
        out.append(digits, end);
        return;
    }
    if (const auto* d = std::get_if<Decimal>(&v)) {
        appendEscaped(out, d->text);
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
    appendEscaped(out, *text);
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
