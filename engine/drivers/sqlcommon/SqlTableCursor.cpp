#include "engine/drivers/sqlcommon/SqlTableCursor.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <strings.h>

namespace vemo::engine::sql {

namespace {
constexpr int64_t kJumpPage = 200;      // rows fetched around a random position
constexpr int64_t kFirstStreamPage = 256;
constexpr int64_t kNoCountBelow = 10000;   // positions reached by OFFSET without counting first
constexpr int64_t kMaxStreamPage = 8192; // bounds memory however long the table

} // namespace

SqlTableCursor::SqlTableCursor(SqlConnection& connection, SqlTableInfo info)
    : conn_(connection), info_(std::move(info)) {
    for (const auto& f : info_.fields)
        columns_.push_back(quoteIdent(f.name));
    setOrder("");
}

void SqlTableCursor::invalidate() {
    window_.clear();
    windowStart_ = 0;
    count_.reset();
    streamPage_ = 0;
}

void SqlTableCursor::setOrder(const std::string& indexName) {
    std::vector<OrderKey> keys;
    auto addField = [&](int i, bool desc) {
        for (const auto& k : keys)
            if (k.rawIndex == i)
                return;
        keys.push_back({i, columns_[i], desc, !info_.fields[i].required});
    };
    if (!indexName.empty()) {
        auto it = std::find_if(info_.indexes.begin(), info_.indexes.end(), [&](const IndexDef& d) {
            return strcasecmp(d.name.c_str(), indexName.c_str()) == 0;
        });
        if (it == info_.indexes.end())
            throw EngineError(ErrNotFound, "インデックス " + indexName + " が見つかりません。");
        for (const auto& name : splitFieldList(it->fields)) {
            auto f = std::find_if(info_.fields.begin(), info_.fields.end(),
                                  [&](const FieldDef& d) { return strcasecmp(d.name.c_str(), name.c_str()) == 0; });
            if (f == info_.fields.end())
                throw EngineError(ErrNotSupported, "インデックス " + indexName + " は式のインデックスなので順序に使えません。");
            addField(static_cast<int>(f - info_.fields.begin()), it->descending);
        }
    }
    // The primary key (or the row identity) ends every order so that it is total and a
    // page can continue exactly after the last row read.
    for (int k : info_.keyColumns)
        addField(k, false);
    if (info_.keyColumns.empty() && !info_.rowIdentity.empty())
        keys.push_back({static_cast<int>(info_.fields.size()), info_.rowIdentity, false, false});
    orderUnique_ = !info_.keyColumns.empty() || !info_.rowIdentity.empty();
    order_ = std::move(keys);
    invalidate();
}

bool SqlTableCursor::setFilter(const Filter* filter) {
    filter_.reset();
    if (filter)
        filter_ = translateFilter(filter->root(), info_.fields, filter->options(), columns_);
    invalidate();
    return filter_.has_value();
}

std::string SqlTableCursor::selectList() const {
    std::string s;
    for (size_t i = 0; i < columns_.size(); ++i)
        s += (i ? ", " : "") + columns_[i];
    if (!info_.rowIdentity.empty())
        s += (columns_.empty() ? "" : ", ") + info_.rowIdentity;
    return s;
}

void SqlTableCursor::appendFilter(SqlBuilder& b, bool& where) const {
    if (!filter_)
        return;
    b << (where ? " AND " : " WHERE ");
    where = true;
    filter_->emit(b);
}

// Rows strictly after `raw` in the order (or before it when reverse).
void SqlTableCursor::appendSeek(SqlBuilder& b, const Row& raw, bool reverse) const {
    auto ascending = [&](const OrderKey& k) { return k.desc == reverse; };
    auto nullsFirst = [&](const OrderKey& k) { return ascending(k) == conn_.nullsFirstAscending(); };
    bool simple = !order_.empty();
    for (const auto& k : order_)
        simple = simple && !isNull(raw[k.rawIndex]) && ascending(k) == ascending(order_[0]) && (nullsFirst(k) || !k.nullable);
    if (simple) {
        std::string lhs, rhs;
        for (size_t i = 0; i < order_.size(); ++i) {
            lhs += (i ? ", " : "") + order_[i].expr;
            rhs += (i ? ", " : "") + b.placeholderFor(raw[order_[i].rawIndex]);
        }
        const char* cmp = ascending(order_[0]) ? " > " : " < ";
        if (order_.size() > 1)
            b << "(" << lhs << ")" << cmp << "(" << rhs << ")";
        else
            b << lhs << cmp << rhs;
        return;
    }
    b << "(";
    for (size_t i = 0; i < order_.size(); ++i) {
        b << (i ? " OR (" : "(");
        for (size_t j = 0; j < i; ++j) {
            const Value& v = raw[order_[j].rawIndex];
            if (isNull(v))
                b << order_[j].expr << " IS NULL AND ";
            else
                b << order_[j].expr << " = " << b.placeholderFor(v) << " AND ";
        }
        const OrderKey& k = order_[i];
        const Value& v = raw[k.rawIndex];
        if (isNull(v)) {
            b << (nullsFirst(k) ? k.expr + " IS NOT NULL" : std::string("1 = 0"));
        } else {
            std::string cond = k.expr + (ascending(k) ? " > " : " < ") + b.placeholderFor(v);
            if (!nullsFirst(k) && k.nullable)
                cond = "(" + cond + " OR " + k.expr + " IS NULL)";
            b << cond;
        }
        b << ")";
    }
    b << ")";
}

void SqlTableCursor::appendOrderBy(SqlBuilder& b, bool reverse) const {
    for (size_t i = 0; i < order_.size(); ++i)
        b << (i ? ", " : " ORDER BY ") << order_[i].expr << (order_[i].desc != reverse ? " DESC" : " ASC");
}

std::vector<SqlTableCursor::CachedRow> SqlTableCursor::runSelect(const SqlBuilder& b) {
    std::vector<CachedRow> rows;
    conn_.query(b.sql(), b.params(), [&](Row&& raw) {
        CachedRow r;
        r.typed.reserve(info_.fields.size());
        for (size_t i = 0; i < info_.fields.size() && i < raw.size(); ++i)
            r.typed.push_back(conn_.toTyped(raw[i], info_.fields[i]));
        r.raw = std::move(raw);
        rows.push_back(std::move(r));
    });
    return rows;
}

SqlBuilder SqlTableCursor::fetchStatement(const Row* after, bool reverse, int64_t offset, int64_t limit) const {
    SqlBuilder b(conn_);
    b << "SELECT " << selectList() << " FROM " << info_.qualifiedName;
    bool where = false;
    appendFilter(b, where);
    if (after) {
        b << (where ? " AND " : " WHERE ");
        appendSeek(b, *after, reverse);
    }
    appendOrderBy(b, reverse);
    b << " LIMIT ";
    b.bind(limit);
    if (offset > 0) {
        b << " OFFSET ";
        b.bind(offset);
    }
    return b;
}

std::vector<SqlTableCursor::CachedRow> SqlTableCursor::fetch(const Row* after, bool reverse, int64_t offset, int64_t limit) {
    auto rows = runSelect(fetchStatement(after, reverse, offset, limit));
    if (reverse)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

int64_t SqlTableCursor::count() {
    if (!count_) {
        SqlBuilder b(conn_);
        b << "SELECT count(*) FROM " << info_.qualifiedName;
        bool where = false;
        appendFilter(b, where);
        int64_t n = 0;
        conn_.query(b.sql(), b.params(), [&](Row&& r) {
            if (!r.empty())
                if (auto v = parseInt(paramText(r[0]).value_or("0")))
                    n = *v;
        });
        count_ = n;
    }
    return *count_;
}

bool SqlTableCursor::readWindow(int64_t pos, Row& row, RowId& id) const {
    if (pos < windowStart_ || pos >= windowStart_ + static_cast<int64_t>(window_.size()))
        return false;
    const CachedRow& r = window_[static_cast<size_t>(pos - windowStart_)];
    row = r.typed;
    assignRowId(r.raw, id);
    return true;
}

bool SqlTableCursor::read(int64_t pos, Row& row, RowId& id) {
    if (pos < 0)
        return false;
    if (readWindow(pos, row, id))
        return true;
    const int64_t windowEnd = windowStart_ + static_cast<int64_t>(window_.size());
    if (orderUnique_ && !window_.empty() && pos == windowEnd) {
        // Reading on: continue after the last row, in growing pages.
        streamPage_ = std::clamp(streamPage_ * 2, kFirstStreamPage, kMaxStreamPage);
        Row last = window_.back().raw;
        window_ = fetch(&last, false, 0, streamPage_);
        windowStart_ = pos;
        if (static_cast<int64_t>(window_.size()) == streamPage_) {
            // Probably read on to the end (an export): the server prepares the next page
            // while this one is read. The next fetch sends the same statement.
            const int64_t next = std::clamp(streamPage_ * 2, kFirstStreamPage, kMaxStreamPage);
            const SqlBuilder ahead = fetchStatement(&window_.back().raw, false, 0, next);
            conn_.queryAhead(ahead.sql(), ahead.params());
        }
        return readWindow(pos, row, id);
    }
    if (orderUnique_ && !window_.empty() && pos == windowStart_ - 1) {
        streamPage_ = std::clamp(streamPage_ * 2, kFirstStreamPage, kMaxStreamPage);
        Row first = window_.front().raw;
        window_ = fetch(&first, true, 0, streamPage_);
        windowStart_ = pos + 1 - static_cast<int64_t>(window_.size());
        return readWindow(pos, row, id);
    }
    streamPage_ = 0;
    int64_t start = std::max<int64_t>(0, pos - kJumpPage / 4);
    // Near the start no count is needed: opening a big table costs one small query.
    if (pos < kNoCountBelow) {
        window_ = fetch(nullptr, false, start, kJumpPage);
        windowStart_ = start;
        return readWindow(pos, row, id);
    }
    int64_t total = count();
    if (pos >= total)
        return false;
    if (pos <= total / 2) {
        window_ = fetch(nullptr, false, start, kJumpPage);
        windowStart_ = start;
    } else {
        // Near the end it is cheaper to count from the end.
        int64_t end = std::min(total, start + kJumpPage);
        window_ = fetch(nullptr, true, total - end, kJumpPage);
        windowStart_ = end - static_cast<int64_t>(window_.size());
    }
    return readWindow(pos, row, id);
}

// One statement for the whole order, read as the server sends it, instead of pages.
bool SqlTableCursor::scan(const std::function<bool(const Row&)>& onRow) {
    SqlBuilder b(conn_);
    b << "SELECT " << selectList() << " FROM " << info_.qualifiedName;
    bool where = false;
    appendFilter(b, where);
    appendOrderBy(b, false);
    return conn_.stream(b.sql(), b.params(), info_.fields, onRow);
}

RowId SqlTableCursor::rowIdOf(const Row& raw) const {
    RowId id;
    assignRowId(raw, id);
    return id;
}

// In place, so that reading on reuses the caller's storage rather than allocating.
void SqlTableCursor::assignRowId(const Row& raw, RowId& id) const {
    id.recno = -1;
    if (!info_.rowIdentity.empty() && raw.size() > info_.fields.size())
        if (const auto* n = std::get_if<int64_t>(&raw[info_.fields.size()]))
            id.recno = *n;
    id.key = raw;
}


int64_t SqlTableCursor::positionOf(const RowId& id) {
    if (!orderUnique_)
        return -1;
    for (size_t i = 0; i < window_.size(); ++i) {
        bool same = true;
        if (id.key.size() == rawWidth()) {
            if (!info_.keyColumns.empty()) {
                for (int k : info_.keyColumns)
                    same = same && window_[i].raw[k] == id.key[k];
            } else {
                same = window_[i].raw.back() == id.key.back();
            }
            if (same)
                return windowStart_ + static_cast<int64_t>(i);
        }
    }
    Row raw = id.key.size() == rawWidth() ? id.key : fullRaw(id, Row(info_.fields.size()));
    if (id.key.size() != rawWidth()) {
        // Only the key is known: read the row's order values first.
        SqlBuilder b(conn_);
        b << "SELECT " << selectList() << " FROM " << info_.qualifiedName << " WHERE ";
        appendIdentity(b, raw);
        auto rows = runSelect(b);
        if (rows.empty())
            return -1;
        raw = rows.front().raw;
    }
    auto countWhere = [&](bool before) {
        SqlBuilder b(conn_);
        b << "SELECT count(*) FROM " << info_.qualifiedName << " WHERE ";
        if (before)
            appendSeek(b, raw, true);
        else
            appendIdentity(b, raw);
        bool where = true;
        appendFilter(b, where);
        int64_t n = 0;
        conn_.query(b.sql(), b.params(), [&](Row&& r) { n = parseInt(paramText(r.at(0)).value_or("0")).value_or(0); });
        return n;
    };
    if (countWhere(false) == 0)
        return -1;
    return countWhere(true);
}

} // namespace vemo::engine::sql
