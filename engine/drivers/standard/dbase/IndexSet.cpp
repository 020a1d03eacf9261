#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfTable.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>
#include <strings.h>

namespace vemo::engine::dbase {
namespace {

constexpr int MaxKeyLength = 100;

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Keys as byte strings whose memcmp order is the key order.
std::string sortable(const KeyValue& k, size_t width) {
    if (k.kind == KeyValue::Kind::String) {
        std::string s = k.text;
        if (s.size() < width)
            s.append(width - s.size(), ' ');
        return s;
    }
    double d = k.kind == KeyValue::Kind::Bool ? (k.flag ? 1 : 0) : k.number;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    bits = (bits & 0x8000000000000000ull) ? ~bits : (bits | 0x8000000000000000ull);
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(bits >> (56 - 8 * i));
    return s;
}

// Julian day number of a day number since 0001-01-01; 0 for a blank date.
double julian(double dayNumber) { return dayNumber < 0 ? 0 : dayNumber + 1721426; }

// The number behind an 8-byte sortable key.
double unsortable(const char* p) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | static_cast<unsigned char>(p[i]);
    bits = (bits & 0x8000000000000000ull) ? (bits & ~0x8000000000000000ull) : ~bits;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

size_t keyWidth(const IndexTag& t) { return t.keyType == 'C' ? static_cast<size_t>(std::max(1, t.keyLength)) : 8; }

} // namespace

IndexSet::IndexSet(DbfTable& table) : table_(table) {
    const DbfHeader& h = table.header();
    const bool foxpro = h.variant == Variant::FoxPro || h.variant == Variant::VisualFoxPro;
    if (!findCompanion(table.path(), ".CDX").empty())
        problem_ = "FoxPro のインデックス (.CDX) は保守できません";
    std::vector<IndexTag> defs;
    mdx_ = findCompanion(table.path(), ".MDX");
    if (!mdx_.empty()) {
        try {
            defs = readMdxTags(mdx_);
        } catch (const EngineError& e) {
            problem_ = e.what();
        }
    } else if ((h.tableFlags & 0x01) && !foxpro) {
        problem_ = "インデックス " + table.path().stem().string() + ".MDX が見つかりません";
    }
    const auto ndx = findCompanion(table.path(), ".NDX");
    if (!ndx.empty()) {
        try {
            defs.push_back(readNdxTag(ndx));
        } catch (const EngineError& e) {
            problem_ = e.what();
        }
    }
    for (auto& d : defs) {
        Tag t;
        t.def = std::move(d);
        try {
            t.expr = std::make_unique<KeyExpression>(t.def.expression, h);
        } catch (const EngineError& e) {
            t.error = e.what();
            if (problem_.empty())
                problem_ = e.what();
        }
        if (!t.def.forExpression.empty() && problem_.empty())
            problem_ = "条件付きインデックス " + t.def.name + " は保守できません";
        tags_.push_back(std::move(t));
    }
}

IndexSet::~IndexSet() = default;

std::vector<IndexDef> IndexSet::definitions() const {
    std::vector<IndexDef> out;
    for (const Tag& t : tags_) {
        IndexDef d;
        d.name = t.def.name;
        d.unique = t.def.unique;
        d.descending = t.def.descending;
        std::string fields;
        if (t.expr)
            for (const auto& f : t.expr->plainFields())
                fields += (fields.empty() ? "" : ";") + f;
        if (fields.empty()) {
            d.fields = t.def.expression;
            d.expression = t.def.expression;
        } else {
            d.fields = fields;
        }
        d.caseInsensitive = upper(t.def.expression).rfind("UPPER(", 0) == 0;
        out.push_back(std::move(d));
    }
    return out;
}

const IndexSet::Tag& IndexSet::find(const std::string& name) const {
    for (const Tag& t : tags_)
        if (strcasecmp(t.def.name.c_str(), name.c_str()) == 0)
            return t;
    throw EngineError(ErrNotFound, "インデックス " + name + " が見つかりません: " + table_.tableName());
}

std::vector<uint32_t> IndexSet::order(const std::string& name) {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
    return sortedKeys(tag, true).recnos;
}

// Keys of one tag for every record in one flat buffer of fixed-width sortable keys: a few
// bytes a record instead of a string each, which matters on tables of a million records.
IndexSet::SortedKeys IndexSet::sortedKeys(const Tag& tag, bool liveOnly) {
    SortedKeys out;
    out.width = keyWidth(tag.def);
    const uint32_t n = table_.recordCount();
    std::string keys;
    std::vector<uint32_t> recs;
    keys.reserve(static_cast<size_t>(n) * out.width);
    recs.reserve(n);
    for (uint32_t r = 0; r < n; ++r) {
        const uint8_t* rec = table_.record(r);
        if (liveOnly && rec[0] == '*')
            continue;
        std::string k = sortable(tag.expr->evaluate(rec, r), out.width);
        k.resize(out.width, ' ');
        keys += k;
        recs.push_back(r);
    }
    std::vector<uint32_t> idx(recs.size());
    std::iota(idx.begin(), idx.end(), 0u);
    const size_t w = out.width;
    const bool down = tag.def.descending;
    std::stable_sort(idx.begin(), idx.end(), [&](uint32_t a, uint32_t b) {
        const int c = std::memcmp(keys.data() + a * w, keys.data() + b * w, w);
        return down ? c > 0 : c < 0;
    });
    out.keys.resize(keys.size());
    out.recnos.resize(idx.size());
    for (size_t i = 0; i < idx.size(); ++i) {
        std::memcpy(out.keys.data() + i * w, keys.data() + static_cast<size_t>(idx[i]) * w, w);
        out.recnos[i] = recs[idx[i]];
    }
    return out;
}

void IndexSet::checkUnique(const uint8_t* record, uint32_t recno) {
    for (const Tag& t : tags_) {
        if (!t.def.unique || !t.expr)
            continue;
        const size_t width = static_cast<size_t>(std::max(0, t.def.keyLength));
        const std::string mine = sortable(t.expr->evaluate(record, recno), width);
        for (uint32_t r = 0; r < table_.recordCount(); ++r) {
            if (r == recno)
                continue;
            const uint8_t* rec = table_.record(r);
            if (rec[0] != '*' && sortable(t.expr->evaluate(rec, r), width) == mine)
                throw EngineError(ErrKeyViolation, "キーが重複しています (インデックス " + t.def.name + "): " +
                                                       table_.tableName());
        }
    }
}

bool IndexSet::keysDiffer(const uint8_t* before, const uint8_t* after, uint32_t recno) const {
    for (const Tag& t : tags_) {
        if (!t.expr)
            return true;
        if (compareKeys(t.expr->evaluate(before, recno), t.expr->evaluate(after, recno)) != 0)
            return true;
    }
    return false;
}

std::vector<IndexEntry> IndexSet::entriesOf(const Tag& tag) {
    SortedKeys sorted = sortedKeys(tag, false);
    std::vector<IndexEntry> out;
    out.reserve(sorted.recnos.size());
    const size_t w = sorted.width;
    for (size_t i = 0; i < sorted.recnos.size(); ++i) {
        const char* k = sorted.keys.data() + i * w;
        std::string key;
        if (tag.def.keyType == 'C') {
            key.assign(k, w);
        } else {
            const double v = tag.def.keyType == 'D' ? julian(unsortable(k)) : unsortable(k);
            key = tag.def.ndx ? ndxNumberKey(v) : mdxNumberKey(v);
        }
        out.push_back(IndexEntry{std::move(key), sorted.recnos[i] + 1});
    }
    return out;
}

void IndexSet::rebuild() {
    if (!problem_.empty())
        throw EngineError(ErrReadOnly, problem_);
    std::vector<IndexTag> mdxTags;
    std::vector<std::vector<IndexEntry>> mdxEntries;
    for (const Tag& t : tags_) {
        if (t.def.ndx) {
            writeNdx(t.def.file, t.def, entriesOf(t));
        } else {
            mdxTags.push_back(t.def);
            mdxEntries.push_back(entriesOf(t));
        }
    }
    if (!mdx_.empty())
        writeMdx(mdx_, upper(table_.path().stem().string()), mdxTags, mdxEntries);
}

void IndexSet::create(DbfTable& table, const std::vector<IndexDef>& indexes) {
    std::vector<IndexTag> tags;
    std::vector<std::vector<IndexEntry>> entries;
    for (const IndexDef& d : indexes) {
        IndexTag t;
        std::string expr = d.expression;
        if (expr.empty()) {
            std::string fields = d.fields;
            std::replace(fields.begin(), fields.end(), ';', '+');
            expr = fields;
        }
        if (expr.empty())
            throw EngineError(ErrInvalidParam, "インデックス " + d.name + " のキーがありません。");
        KeyExpression k(expr, table.header());
        t.name = upper(d.name.empty() ? k.plainFields().empty() ? "TAG" : k.plainFields().front() : d.name);
        if (t.name.size() > 10)
            throw EngineError(ErrInvalidParam, "タグ名 " + t.name + " は 10 文字までです。");
        for (const auto& other : tags)
            if (other.name == t.name)
                throw EngineError(ErrInvalidParam, "タグ名 " + t.name + " が重複しています。");
        t.expression = expr;
        t.unique = d.unique;
        t.descending = d.descending;
        switch (k.resultKind()) {
        case KeyValue::Kind::String:
            t.keyType = 'C';
            t.keyLength = k.resultWidth();
            if (t.keyLength <= 0 || t.keyLength > MaxKeyLength)
                throw EngineError(ErrInvalidParam, "インデックス " + t.name + " のキー長 (" +
                                                       std::to_string(t.keyLength) + ") は 1 から 100 までです。");
            break;
        case KeyValue::Kind::Date: t.keyType = 'D'; t.keyLength = 12; break;
        case KeyValue::Kind::Number: t.keyType = 'N'; t.keyLength = 12; break;
        default:
            throw EngineError(ErrInvalidParam, "論理値のインデックスは作成できません: " + t.name);
        }
        tags.push_back(std::move(t));
        entries.emplace_back();
    }
    if (tags.empty())
        return;
    std::filesystem::path mdx = table.path();
    mdx.replace_extension(table.path().extension().string() == ".dbf" ? ".mdx" : ".MDX");
    for (auto& t : tags)
        t.file = mdx;
    writeMdx(mdx, upper(table.path().stem().string()), tags, entries);
    if (table.recordCount() > 0)
        IndexSet(table).rebuild();
}

} // namespace vemo::engine::dbase
