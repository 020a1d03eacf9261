#include "engine/localsql/TableModule.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"
#include "engine/drivers/sqlcommon/SqlText.h"
#include "engine/drivers/sqlite/SqliteTypes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <filesystem>
#include <limits>
#include <unordered_map>

namespace vemo::engine::localsql {

namespace {

// toTyped of the SQL drivers turns SQLite's storage classes into field values.
class Conversions final : public sql::SqlConnection {
public:
    std::string placeholder(int n) const override { return "?" + std::to_string(n); }
    bool nullsFirstAscending() const override { return true; }
    std::string nullSafeEquals(const std::string& c, const std::string& p, const FieldDef&) const override {
        return c + " IS " + p;
    }
    void query(const std::string&, const std::vector<Value>&, const std::function<void(Row&&)>&) override {}
    bool stream(const std::string&, const std::vector<Value>&, const std::vector<FieldDef>&,
                const std::function<bool(const Row&)>&) override { return true; }
    int64_t execute(const std::string&, const std::vector<Value>&) override { return 0; }
    void begin() override {}
    void commit() override {}
    void rollback() noexcept override {}
    std::vector<FieldDef> describe(const std::string&, const std::vector<Value>&) override { return {}; }
};
const Conversions& conversions() {
    static const Conversions c;
    return c;
}

Value rawValue(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_TEXT:
        return std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)), static_cast<size_t>(sqlite3_value_bytes(v)));
    case SQLITE_BLOB: {
        const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
        return Bytes(p, p + sqlite3_value_bytes(v));
    }
    default: return {};
    }
}

Value typedValue(sqlite3_value* v, const FieldDef& field) { return conversions().toTyped(rawValue(v), field); }

// A field value as SQLite sees it: numbers as numbers (a decimal as an integer or a double,
// so that sums and comparisons are numeric), dates and times as ISO text, which SQLite's
// date functions read and which sorts in time order.
void resultValue(sqlite3_context* ctx, const Value& v) {
    if (isNull(v))
        sqlite3_result_null(ctx);
    else if (const auto* b = std::get_if<bool>(&v))
        sqlite3_result_int64(ctx, *b ? 1 : 0);
    else if (const auto* i = std::get_if<int64_t>(&v))
        sqlite3_result_int64(ctx, *i);
    else if (const auto* d = std::get_if<double>(&v))
        sqlite3_result_double(ctx, *d);
    else if (const auto* dec = std::get_if<Decimal>(&v)) {
        if (dec->text.find_first_of(".eE") == std::string::npos) {
            if (auto n = sql::parseInt(dec->text)) {
                sqlite3_result_int64(ctx, *n);
                return;
            }
        }
        if (auto x = sql::parseDouble(dec->text))
            sqlite3_result_double(ctx, *x);
        else
            sqlite3_result_text(ctx, dec->text.data(), static_cast<int>(dec->text.size()), SQLITE_TRANSIENT);
    } else if (const auto* s = std::get_if<std::string>(&v))
        sqlite3_result_text64(ctx, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    else if (const auto* bytes = std::get_if<Bytes>(&v))
        sqlite3_result_blob64(ctx, bytes->data(), bytes->size(), SQLITE_TRANSIENT);
    else {
        std::string t = sql::paramText(v).value_or("");
        sqlite3_result_text64(ctx, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
}

bool isAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether an index order on a field of this type agrees with the engine's own ordering of
// values, so that a binary search in it finds every match. Text keys are compared only for
// ASCII probes: an ASCII byte sorts the same in code page 932 and in UTF-8.
bool searchableType(FieldType t) {
    switch (t) {
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word: case FieldType::LargeInt:
    case FieldType::AutoInc: case FieldType::Float: case FieldType::Currency: case FieldType::BCD:
    case FieldType::Date: case FieldType::Time: case FieldType::DateTime:
    case FieldType::String: case FieldType::FixedChar:
        return true;
    default:
        return false;
    }
}

// Orders two values of one field; numbers of different kinds compare by value.
int compareValues(const Value& a, const Value& b) {
    auto number = [](const Value& v, double& out) {
        if (const auto* i = std::get_if<int64_t>(&v)) { out = static_cast<double>(*i); return true; }
        if (const auto* d = std::get_if<double>(&v)) { out = *d; return true; }
        if (const auto* dec = std::get_if<Decimal>(&v)) {
            if (auto x = sql::parseDouble(dec->text)) { out = *x; return true; }
        }
        return false;
    };
    if (isNull(a) || isNull(b))
        return isNull(a) == isNull(b) ? 0 : isNull(a) ? -1 : 1;
    double x, y;
    if (number(a, x) && number(b, y))
        return x < y ? -1 : x > y ? 1 : 0;
    if (a.index() != b.index())
        return a.index() < b.index() ? -1 : 1;
    return a < b ? -1 : b < a ? 1 : 0;
}

struct FileStamp {
    int64_t size = -1, mtimeNs = -1;
    bool operator==(const FileStamp&) const = default;
};

struct Pooled {
    std::unique_ptr<Cursor> cursor;
    std::string order;
    bool busy = false;
    bool stale = false;
};

// A usable index: which field its order begins with.
struct SearchIndex {
    std::string order; // the name setOrder takes ("" for the primary index)
    int field = -1;
    bool textOk = false;
};

// One change of a statement, enough to reverse it.
struct Change {
    enum Kind { Inserted, Updated, Removed } kind;
    RowId id;     // the record as it is now (after the change)
    Row before;   // Updated, Removed: the values before
    Row after;    // Inserted, Updated: the values stored
};

struct Table : sqlite3_vtab {
    TableModule* module = nullptr;
    std::string name;          // as the statement named it
    std::vector<FieldDef> fields;
    std::vector<SearchIndex> searchable;
    std::vector<int> keyFields; // fields of the primary key, for records identified by key
    std::vector<std::unique_ptr<Pooled>> pool;
    std::unique_ptr<Cursor> writer;
    FileStamp stamp;
    int64_t rows = -1;
    // Records handed to SQLite by rowid during the statement, for UPDATE and DELETE.
    std::unordered_map<int64_t, std::pair<RowId, Row>> byRowid;
    int64_t nextRowid = 1;
    std::vector<Change> log;
    std::vector<size_t> savepoints;
    bool wrote = false;
    bool inTransaction = false;
    bool batching = false; // the writer's batch is open: its writes become durable at xSync

    std::filesystem::path file; // the table file, watched for other writers' changes

    std::unique_ptr<Cursor> open() { return module->open(name); }
};

struct Scan : sqlite3_vtab_cursor {
    Pooled* held = nullptr;
    int64_t pos = 0, end = 0;
    Row row;
    RowId id;
    bool have = false;
    int64_t rowid = -1; // given to the current record, -1 until asked
    // When the index was searched by seek: the scan ends at the first record whose field
    // `upperField` is greater than `upper`.
    int upperField = -1;
    Value upper;
    bool walking = false; // the records come from the cursor's walk through its index
    // A writing statement's scan by position decodes only the searched field at first and
    // the others when SQLite asks for them (most records only meet the WHERE test), the
    // whole record once it is to be changed.
    bool lazy = false;
    std::vector<int> loaded;    // the fields each record is read with
    std::vector<char> decoded;  // per field: holds this record's value
};

Table* table(sqlite3_vtab* v) { return static_cast<Table*>(v); }

int fail(sqlite3_vtab* v, const std::exception& e, int code = SQLITE_ERROR) {
    sqlite3_free(v->zErrMsg);
    v->zErrMsg = sqlite3_mprintf("%s", e.what());
    if (const auto* ee = dynamic_cast<const EngineError*>(&e)) {
        if (ee->code() == ErrKeyViolation || ee->code() == ErrRequiredField)
            return SQLITE_CONSTRAINT;
        if (ee->code() == ErrReadOnly)
            return SQLITE_READONLY;
        if (ee->code() == ErrLocked)
            return SQLITE_BUSY;
    }
    return code;
}

FileStamp stampOf(const std::filesystem::path& file) {
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return {};
    return {static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace


namespace {

std::string unquoteArg(std::string s) {
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
        const char q = s.front();
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            out += s[i];
            if (s[i] == q && s[i + 1] == q)
                ++i;
        }
        return out;
    }
    return s;
}

} // namespace

int64_t estimatedRows(int64_t fileBytes, const std::vector<FieldDef>& fields) {
    int64_t width = 1;
    for (const FieldDef& f : fields)
        width += f.size > 0 ? f.size : f.precision > 0 ? f.precision : 8;
    return std::max<int64_t>(1, fileBytes / width);
}

namespace {

int fieldIndex(const std::vector<FieldDef>& fields, const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (strcasecmp(fields[i].name.c_str(), name.c_str()) == 0)
            return static_cast<int>(i);
    return -1;
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    auto t = std::make_unique<Table>();
    std::memset(static_cast<sqlite3_vtab*>(t.get()), 0, sizeof(sqlite3_vtab));
    t->module = static_cast<TableModule*>(aux);
    t->name = argc > 3 ? unquoteArg(argv[3]) : std::string(argv[2]);
    try {
        auto first = std::make_unique<Pooled>();
        first->cursor = t->open();
        t->fields = first->cursor->fields();
        for (const auto& idx : first->cursor->indexes()) {
            const auto names = sql::splitFieldList(idx.fields);
            if (idx.primary)
                for (const auto& n : names)
                    t->keyFields.push_back(fieldIndex(t->fields, n));
            // An index with a condition holds only some records: no search through it.
            if (!idx.expression.empty() || !idx.condition.empty() || idx.descending || names.empty())
                continue;
            const int f = fieldIndex(t->fields, names.front());
            if (f < 0 || !searchableType(t->fields[f].type))
                continue;
            t->searchable.push_back({idx.primary ? std::string() : idx.name, f, !idx.caseInsensitive});
        }
        if (std::find(t->keyFields.begin(), t->keyFields.end(), -1) != t->keyFields.end())
            t->keyFields.clear();
        t->file = t->module->fileOf(t->name);
        t->stamp = stampOf(t->file);
        // Counting the records of a large table would read all of it (deletion flags, an
        // index order): the planner's estimate comes from the file's size instead.
        t->rows = t->file.empty() ? first->cursor->count() : estimatedRows(t->stamp.size, t->fields);
        t->pool.push_back(std::move(first));
        std::string ddl = "CREATE TABLE x(";
        for (size_t i = 0; i < t->fields.size(); ++i) {
            if (i)
                ddl += ", ";
            ddl += sql::quoteIdent(t->fields[i].name) + " " + sql::sqliteDeclaredType(t->fields[i]);
        }
        ddl += ")";
        if (int rc = sqlite3_declare_vtab(db, ddl.c_str()); rc != SQLITE_OK) {
            *err = sqlite3_mprintf("%s: %s", t->name.c_str(), sqlite3_errmsg(db));
            return rc;
        }
    } catch (const std::exception& e) {
        *err = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
    *out = t.release();
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* v) {
    delete table(v);
    return SQLITE_OK;
}

enum : int { UseEq = 1, UseLower = 2, UseUpper = 4 };

int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info) {
    Table* t = table(v);
    const double rows = std::max<double>(1, static_cast<double>(t->rows));
    int bestSlot = 0, bestFlags = 0;
    double bestCost = rows;
    int bestEq = -1, bestLo = -1, bestHi = -1;
    for (size_t s = 0; s < t->searchable.size(); ++s) {
        int eq = -1, lo = -1, hi = -1;
        for (int c = 0; c < info->nConstraint; ++c) {
            const auto& k = info->aConstraint[c];
            if (!k.usable || k.iColumn != t->searchable[s].field)
                continue;
            switch (k.op) {
            case SQLITE_INDEX_CONSTRAINT_EQ: eq = c; break;
            case SQLITE_INDEX_CONSTRAINT_GT: case SQLITE_INDEX_CONSTRAINT_GE: lo = c; break;
            case SQLITE_INDEX_CONSTRAINT_LT: case SQLITE_INDEX_CONSTRAINT_LE: hi = c; break;
            default: break;
            }
        }
        const double search = 2 * (std::log2(rows) + 1);
        double cost = rows;
        int flags = 0;
        if (eq >= 0) {
            cost = search;
            flags = UseEq;
        } else if (lo >= 0 || hi >= 0) {
            cost = search + rows / (lo >= 0 && hi >= 0 ? 10 : 3);
            flags = (lo >= 0 ? UseLower : 0) | (hi >= 0 ? UseUpper : 0);
        }
        if (flags && cost < bestCost) {
            bestCost = cost;
            bestSlot = static_cast<int>(s) + 1;
            bestFlags = flags;
            bestEq = flags & UseEq ? eq : -1;
            bestLo = flags & UseLower ? lo : -1;
            bestHi = flags & UseUpper ? hi : -1;
        }
    }
    // SQLite still checks every constraint itself (omit stays 0): the index only narrows
    // the records read. No plan is marked unique, so an UPDATE or DELETE collects its
    // records before it changes any, and never meets a record it has already changed.
    int arg = 1;
    for (int c : {bestEq, bestLo, bestHi})
        if (c >= 0)
            info->aConstraintUsage[c].argvIndex = arg++;
    info->idxNum = bestSlot << 3 | bestFlags;
    // The columns the statement reads, so that a scan decodes only those.
    info->idxStr = sqlite3_mprintf("%llx", static_cast<unsigned long long>(info->colUsed));
    info->needToFreeIdxStr = 1;
    info->estimatedCost = bestCost;
    info->estimatedRows = static_cast<sqlite3_int64>(bestFlags & UseEq ? 4 : bestFlags ? rows / 4 : rows);
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab* v, sqlite3_vtab_cursor** out) {
    Table* t = table(v);
    // Another writer changed the file since it was last read: every cursor reads it again.
    // A table of another alias has no file here and is read again at every statement.
    if (const FileStamp now = stampOf(t->file); t->file.empty() || !(now == t->stamp)) {
        t->stamp = now;
        for (auto& p : t->pool)
            p->stale = true;
        if (t->writer)
            t->writer->refresh();
    }
    auto* s = new Scan();
    *out = s;
    return SQLITE_OK;
}

void release(Scan* s) {
    if (s->held)
        s->held->busy = false;
    s->held = nullptr;
}

int xClose(sqlite3_vtab_cursor* c) {
    auto* s = static_cast<Scan*>(c);
    release(s);
    delete s;
    return SQLITE_OK;
}

Pooled& acquire(Table& t, Scan& s, const std::string& order) {
    if (!(s.held && s.held->order == order && !s.held->stale)) {
        release(&s);
        Pooled* pick = nullptr;
        for (auto& p : t.pool)
            if (!p->busy && p->order == order) { pick = p.get(); break; }
        if (!pick)
            for (auto& p : t.pool)
                if (!p->busy) { pick = p.get(); break; }
        if (!pick) {
            t.pool.push_back(std::make_unique<Pooled>());
            pick = t.pool.back().get();
            pick->cursor = t.open();
        }
        if (pick->stale) {
            pick->cursor->refresh();
            pick->stale = false;
        }
        if (pick->order != order) {
            pick->cursor->setOrder(order);
            pick->order = order;
        }
        pick->busy = true;
        s.held = pick;
    }
    return *s.held;
}

bool load(Scan& s) {
    s.rowid = -1;
    s.have = s.walking ? s.held->cursor->walkNext(s.row, s.id) : s.pos < s.end && s.held->cursor->read(s.pos, s.row, s.id);
    if (s.lazy) {
        std::fill(s.decoded.begin(), s.decoded.end(), 0);
        for (int f : s.loaded)
            s.decoded[static_cast<size_t>(f)] = 1;
    }
    if (s.have && s.upperField >= 0 && compareValues(s.row[static_cast<size_t>(s.upperField)], s.upper) > 0)
        s.have = false;
    return s.have;
}

// The rest of the current record's fields, or those in `which`, read again by position.
void decodeMore(Scan& s, const std::vector<int>& which) {
    Cursor& c = *s.held->cursor;
    c.setWantedFields(which);
    Row full;
    RowId id;
    const bool got = c.read(s.pos, full, id);
    c.setWantedFields(s.loaded);
    if (!got)
        throw EngineError(ErrUpdateConflict, "レコードを読み直せません。");
    if (s.row.size() < full.size())
        s.row.resize(full.size());
    for (size_t i = 0; i < s.decoded.size() && i < full.size(); ++i)
        if (!s.decoded[i] && (which.empty() || std::find(which.begin(), which.end(), static_cast<int>(i)) != which.end())) {
            s.row[i] = std::move(full[i]);
            s.decoded[i] = 1;
        }
}

// The fields a scan decodes: those the statement reads and the searched one. A writing
// statement needs whole records, which its updates and deletes are checked against: all
// fields here, or, for a scan by position, the rest read when needed (Scan::lazy).
std::vector<int> wantedFields(const Table& t, const char* idxStr, int searched) {
    if (t.inTransaction || !idxStr)
        return {};
    const unsigned long long used = std::strtoull(idxStr, nullptr, 16);
    std::vector<int> which;
    for (size_t i = 0; i < t.fields.size(); ++i)
        if (used & (1ULL << std::min<size_t>(i, 63)) || static_cast<int>(i) == searched)
            which.push_back(static_cast<int>(i));
    if (which.empty())
        which.push_back(0); // count(*): one field, the cheapest to skip past
    return which;
}

int xFilter(sqlite3_vtab_cursor* c, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
    auto* s = static_cast<Scan*>(c);
    Table* t = table(c->pVtab);
    try {
        const int slot = idxNum >> 3;
        const int flags = idxNum & 7;
        const SearchIndex* ix = slot > 0 && slot <= static_cast<int>(t->searchable.size()) ? &t->searchable[slot - 1] : nullptr;
        Pooled& p = acquire(*t, *s, ix ? ix->order : std::string());
        Cursor& cur = *p.cursor;
        cur.setWantedFields(wantedFields(*t, idxStr, ix ? ix->field : -1));
        s->upperField = -1;
        s->upper = Value{};
        s->walking = false;
        s->lazy = false;
        int64_t lo = 0, hi = -1; // hi: past the last position to read, when known
        if (ix) {
            const FieldDef& field = t->fields[static_cast<size_t>(ix->field)];
            const bool text = field.type == FieldType::String || field.type == FieldType::FixedChar;
            std::vector<Value> probes;
            bool usable = true;
            for (int i = 0; i < argc; ++i) {
                Value v = typedValue(argv[i], field);
                const auto* str = std::get_if<std::string>(&v);
                if (isNull(v) || (text ? !(str && ix->textOk && isAscii(*str)) : str != nullptr))
                    usable = false;
                probes.push_back(std::move(v));
            }
            // A probe the index cannot answer exactly (text outside ASCII, a value of another
            // kind) reads every record in that order and leaves the test to SQLite.
            // The index's own search: the first record not below the lower bound, and the
            // scan stops after the last one not above the upper bound.
            // Best, a walk through the index from the lower bound: no positions, so nothing of
            // the table is read beyond the records passed. Not while this statement writes the
            // table: the index files are brought up to date only when it ends.
            const bool from = usable && (flags & (UseEq | UseLower));
            const bool walk = from && !t->batching && cur.walkFrom(Row{probes[0]}, flags & UseEq);
            const int64_t first = from && !walk ? cur.seek(Row{probes[0]}) : -1;
            if (walk) {
                s->walking = true;
                if (flags & (UseEq | UseUpper)) {
                    s->upperField = ix->field;
                    s->upper = probes[flags & UseEq ? 0 : probes.size() - 1];
                }
            } else if (first >= 0) {
                lo = first;
                if (flags & (UseEq | UseUpper)) {
                    s->upperField = ix->field;
                    s->upper = probes[flags & UseEq ? 0 : probes.size() - 1];
                }
            } else if (usable && (flags & UseUpper) && cur.seek(Row{probes.back()}) >= 0) {
                s->upperField = ix->field;
                s->upper = probes.back();
            } else if (usable) {
                Row row;
                RowId id;
                auto keyAt = [&](int64_t pos) -> const Value& {
                    cur.read(pos, row, id);
                    return row[static_cast<size_t>(ix->field)];
                };
                hi = cur.count();
                auto bound = [&](const Value& probe, bool after) {
                    int64_t a = 0, b = cur.count();
                    while (a < b) {
                        const int64_t m = a + (b - a) / 2;
                        const int cmp = compareValues(keyAt(m), probe);
                        if (cmp < 0 || (after && cmp == 0))
                            a = m + 1;
                        else
                            b = m;
                    }
                    return a;
                };
                size_t k = 0;
                if (flags & UseEq) {
                    lo = bound(probes[k], false);
                    hi = bound(probes[k], true);
                } else {
                    if (flags & UseLower)
                        lo = bound(probes[k++], false);
                    if (flags & UseUpper)
                        hi = bound(probes[k], true);
                }
            }
        }
        // Without an upper bound the scan runs until read() finds no more records: counting
        // them first would read every deletion flag of the table before the first row.
        if (hi < 0)
            hi = std::numeric_limits<int64_t>::max();
        if (t->inTransaction && !s->walking && !t->file.empty()) {
            s->lazy = true;
            s->loaded = {ix ? ix->field : 0};
            s->decoded.assign(t->fields.size(), 0);
            cur.setWantedFields(s->loaded);
        }
        s->pos = lo;
        s->end = std::max(lo, hi);
        load(*s);
    } catch (const std::exception& e) {
        return fail(c->pVtab, e);
    }
    return SQLITE_OK;
}

int xNext(sqlite3_vtab_cursor* c) {
    auto* s = static_cast<Scan*>(c);
    try {
        ++s->pos;
        load(*s);
    } catch (const std::exception& e) {
        return fail(c->pVtab, e);
    }
    return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* c) { return static_cast<Scan*>(c)->have ? 0 : 1; }

int xColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int i) {
    auto* s = static_cast<Scan*>(c);
    if (s->lazy && i >= 0 && static_cast<size_t>(i) < s->decoded.size() && !s->decoded[static_cast<size_t>(i)]) {
        try {
            decodeMore(*s, {i});
        } catch (const std::exception& e) {
            return fail(c->pVtab, e);
        }
    }
    if (i >= 0 && static_cast<size_t>(i) < s->row.size())
        resultValue(ctx, s->row[static_cast<size_t>(i)]);
    else
        sqlite3_result_null(ctx);
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
    auto* s = static_cast<Scan*>(c);
    Table* t = table(c->pVtab);
    // Within a writing statement the rowid leads back to the record and the values it held
    // when it was read, which update and remove compare against.
    if (!t->inTransaction) {
        *out = s->id.recno >= 0 ? s->id.recno : s->pos;
        return SQLITE_OK;
    }
    if (s->rowid < 0) {
        if (s->lazy && std::find(s->decoded.begin(), s->decoded.end(), 0) != s->decoded.end()) {
            try {
                decodeMore(*s, {});
            } catch (const std::exception& e) {
                return fail(c->pVtab, e);
            }
        }
        s->rowid = t->nextRowid++;
        t->byRowid[s->rowid] = {s->id, s->row};
    }
    *out = s->rowid;
    return SQLITE_OK;
}

Cursor& writer(Table& t) {
    if (!t.writer)
        t.writer = t.open();
    if (const std::string why = t.writer->readOnlyReason(); !why.empty())
        throw EngineError(ErrReadOnly, t.name + ": " + why);
    // The statement's writes go to disk together when it ends (xSync), not one by one.
    if (t.inTransaction && !t.batching) {
        t.writer->beginBatch();
        t.batching = true;
    }
    return *t.writer;
}

// The record as the table stored it (padded, rounded), and its identity.
void readBack(Cursor& w, const RowId& guess, const Row& given, RowId& id, Row& stored) {
    const int64_t pos = w.positionOf(guess);
    if (pos < 0 || !w.read(pos, stored, id)) {
        id = guess;
        stored = given;
    }
}

void changed(Table& t) {
    t.wrote = true;
    for (auto& p : t.pool)
        p->stale = true;
}

Row rowFrom(Table& t, sqlite3_value** argv) {
    Row r(t.fields.size());
    for (size_t i = 0; i < t.fields.size(); ++i)
        r[i] = typedValue(argv[i], t.fields[i]);
    return r;
}

int xUpdate(sqlite3_vtab* v, int argc, sqlite3_value** argv, sqlite3_int64* outRowid) {
    Table* t = table(v);
    try {
        Cursor& w = writer(*t);
        auto entry = [&](sqlite3_value* rid) -> std::pair<RowId, Row>& {
            auto it = t->byRowid.find(sqlite3_value_int64(rid));
            if (it == t->byRowid.end())
                throw EngineError(ErrUpdateConflict, t->name + ": 変更するレコードが見つかりません。");
            return it->second;
        };
        if (argc == 1) {
            auto& e = entry(argv[0]);
            w.remove(e.first, e.second);
            changed(*t);
            t->log.push_back({Change::Removed, e.first, e.second, {}});
            t->byRowid.erase(sqlite3_value_int64(argv[0]));
        } else if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
            Row values = rowFrom(*t, argv + 2);
            const RowId made = w.insert(values);
            changed(*t);
            Change ch{Change::Inserted, {}, {}, {}};
            readBack(w, made, values, ch.id, ch.after);
            t->log.push_back(ch);
            *outRowid = t->nextRowid++;
            t->byRowid[*outRowid] = {ch.id, ch.after};
        } else {
            if (sqlite3_value_int64(argv[0]) != sqlite3_value_int64(argv[1]))
                throw EngineError(ErrNotSupported, "rowid は変更できません。");
            auto& e = entry(argv[0]);
            Row after = rowFrom(*t, argv + 2);
            w.update(e.first, e.second, after);
            changed(*t);
            RowId guess = e.first;
            if (!guess.key.empty() && guess.key.size() == t->keyFields.size())
                for (size_t k = 0; k < t->keyFields.size(); ++k)
                    guess.key[k] = after[static_cast<size_t>(t->keyFields[k])];
            Change ch{Change::Updated, {}, e.second, {}};
            readBack(w, guess, after, ch.id, ch.after);
            t->log.push_back(ch);
            e = {ch.id, ch.after};
        }
    } catch (const std::exception& e) {
        return fail(v, e);
    }
    return SQLITE_OK;
}

bool sameRecord(const RowId& a, const RowId& b) { return a.recno == b.recno && a.key == b.key; }

// Reverses the logged changes after mark, newest first.
void undoTo(Table& t, size_t mark) {
    if (t.log.size() <= mark)
        return;
    for (size_t k = t.log.size(); k-- > mark;) {
        Change& c = t.log[k];
        try {
            Cursor& w = writer(t);
            switch (c.kind) {
            case Change::Inserted:
                w.remove(c.id, c.after);
                break;
            case Change::Updated:
                w.update(c.id, c.after, c.before);
                break;
            case Change::Removed: {
                // The record comes back as a new one: earlier entries follow it there.
                const RowId made = w.insert(c.before);
                RowId id;
                Row stored;
                readBack(w, made, c.before, id, stored);
                for (size_t j = mark; j < k; ++j)
                    if (sameRecord(t.log[j].id, c.id)) {
                        t.log[j].id = id;
                        t.log[j].after = stored;
                    }
                break;
            }
            }
        } catch (const std::exception& e) {
            t.module->addUndoFailure(t.name + ": " + e.what());
        }
    }
    t.log.resize(mark);
    changed(t);
}

// Whether the table still holds the effect of a change.
bool stillShows(Cursor& w, const Change& c) {
    const int64_t pos = w.positionOf(c.id);
    if (c.kind == Change::Removed)
        return pos < 0;
    Row stored;
    RowId id;
    return pos >= 0 && w.read(pos, stored, id) && stored == c.after && (c.kind == Change::Inserted || c.after != c.before);
}

int xBegin(sqlite3_vtab* v) {
    Table* t = table(v);
    t->inTransaction = true;
    t->log.clear();
    t->savepoints.clear();
    t->byRowid.clear();
    return SQLITE_OK;
}

// The first phase of the commit: the writer's batch is made durable. When this fails (or
// another table's sync does), SQLite rolls back every table.
int xSync(sqlite3_vtab* v) {
    Table* t = table(v);
    if (!t->batching)
        return SQLITE_OK;
    try {
        t->writer->commitBatch();
        t->batching = false;
    } catch (const std::exception& e) {
        return fail(v, e);
    }
    return SQLITE_OK;
}

int xCommit(sqlite3_vtab* v) {
    Table* t = table(v);
    const int rc = xSync(v);
    t->inTransaction = false;
    t->log.clear();
    t->savepoints.clear();
    t->byRowid.clear();
    return rc;
}

int xRollback(sqlite3_vtab* v) {
    Table* t = table(v);
    t->inTransaction = false;
    if (t->batching) {
        // A driver that batches leaves the table as it was at the statement's start; one
        // whose batch does nothing still shows the changes, and they are reversed.
        t->writer->rollbackBatch();
        t->batching = false;
        t->writer->refresh();
        if (!t->log.empty() && stillShows(*t->writer, t->log.back()))
            undoTo(*t, 0);
        t->log.clear();
        changed(*t);
    } else {
        // Written already (no batch, or another table failed after this one's sync):
        // the changes are reversed one by one.
        undoTo(*t, 0);
    }
    t->savepoints.clear();
    t->byRowid.clear();
    return SQLITE_OK;
}

int xSavepoint(sqlite3_vtab* v, int i) {
    Table* t = table(v);
    t->savepoints.resize(static_cast<size_t>(i) + 1, t->log.size());
    t->savepoints[static_cast<size_t>(i)] = t->log.size();
    return SQLITE_OK;
}

int xRelease(sqlite3_vtab* v, int i) {
    Table* t = table(v);
    if (static_cast<size_t>(i) < t->savepoints.size())
        t->savepoints.resize(static_cast<size_t>(i));
    return SQLITE_OK;
}

int xRollbackTo(sqlite3_vtab* v, int i) {
    Table* t = table(v);
    if (static_cast<size_t>(i) < t->savepoints.size()) {
        undoTo(*t, t->savepoints[static_cast<size_t>(i)]);
        t->savepoints.resize(static_cast<size_t>(i) + 1);
    }
    return SQLITE_OK;
}

sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 2;
    m.xCreate = xConnect;
    m.xConnect = xConnect;
    m.xBestIndex = xBestIndex;
    m.xDisconnect = xDisconnect;
    m.xDestroy = xDisconnect;
    m.xOpen = xOpen;
    m.xClose = xClose;
    m.xFilter = xFilter;
    m.xNext = xNext;
    m.xEof = xEof;
    m.xColumn = xColumn;
    m.xRowid = xRowid;
    m.xUpdate = xUpdate;
    m.xBegin = xBegin;
    m.xSync = xSync;
    m.xCommit = xCommit;
    m.xRollback = xRollback;
    m.xSavepoint = xSavepoint;
    m.xRelease = xRelease;
    m.xRollbackTo = xRollbackTo;
    return m;
}

} // namespace

bool splitAliasTable(const std::string& name, std::string& alias, std::string& table) {
    if (name.size() < 4 || name[0] != ':')
        return false;
    const size_t second = name.find(':', 1);
    if (second == std::string::npos || second == 1 || second + 1 >= name.size())
        return false;
    alias = name.substr(1, second - 1);
    table = name.substr(second + 1);
    return true;
}

std::unique_ptr<Cursor> TableModule::open(const std::string& name) {
    std::string alias, table;
    if (!splitAliasTable(name, alias, table))
        return tables_.openTable(name, OpenOptions{});
    if (!other_)
        throw EngineError(ErrNotSupported, "ここでは他の別名のテーブル " + name + " を使えません。");
    return other_(alias, table);
}

void TableModule::registerOn(sqlite3* db) {
    static const sqlite3_module module = makeModule();
    if (sqlite3_create_module(db, "vemo_table", &module, this) != SQLITE_OK)
        throw EngineError(ErrGeneral, sqlite3_errmsg(db));
}

} // namespace vemo::engine::localsql
