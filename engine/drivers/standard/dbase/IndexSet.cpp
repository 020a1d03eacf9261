#include "engine/drivers/standard/dbase/IndexSet.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/drivers/standard/dbase/IndexTree.h"
#include "engine/drivers/standard/io/FileStamp.h"
#include "engine/drivers/standard/io/UndoJournal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>
#include <strings.h>

namespace vemo::engine::dbase {
namespace {

constexpr int MaxKeyLength = 100;
constexpr size_t MaxExpressionLength = 219; // the tag header's room for the key or the condition, less the zero
constexpr int MdxMaxTagsWritten = 47; // what writeMdx lays out

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
            if (defs.size() > static_cast<size_t>(MdxMaxTagsWritten))
                problem_ = "インデックス " + mdx_.filename().string() + " のタグは " + std::to_string(defs.size()) +
                           " 個あり、書き込めるのは " + std::to_string(MdxMaxTagsWritten) + " 個までです";
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
        if (!t.def.forExpression.empty() && t.expr) {
            // A condition this program cannot evaluate as true or false leaves the tag as it is:
            // it gives no order, and the table is not written.
            try {
                auto c = std::make_unique<KeyExpression>(t.def.forExpression, h);
                if (c->resultKind() == KeyValue::Kind::Bool)
                    t.condition = std::move(c);
            } catch (const EngineError&) {
            }
            if (!t.condition) {
                t.expr.reset();
                t.error = "条件付きインデックス " + t.def.name + " は保守できません";
                if (problem_.empty())
                    problem_ = t.error;
            }
        }
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
        d.condition = t.def.forExpression;
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

RecordOrder IndexSet::keyedOrder(const std::string& name, size_t keyBytes) {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
    const SortedKeys sorted = sortedKeys(tag, true);
    return RecordOrder(sorted.recnos, sorted.keys, sorted.width, keyBytes);
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
        if ((liveOnly && rec[0] == '*') || !tag.holds(rec, r))
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

struct IndexSet::OpenFile {
    File file;
    std::map<std::string, std::unique_ptr<IndexTree>> trees; // by tag name
    standard::FileStamp stamp; // after the last committed post
};

std::string IndexSet::storedKey(const Tag& tag, const uint8_t* record, uint32_t recno) const {
    const KeyValue k = tag.expr->evaluate(record, recno);
    const size_t w = keyWidth(tag.def);
    if (tag.def.keyType == 'C') {
        std::string key = k.kind == KeyValue::Kind::String ? k.text : sortable(k, w);
        key.resize(w, ' ');
        return key;
    }
    double v = k.kind == KeyValue::Kind::Bool ? (k.flag ? 1 : 0) : k.number;
    if (tag.def.keyType == 'D')
        v = julian(v);
    return tag.def.ndx ? ndxNumberKey(v) : mdxNumberKey(v);
}

IndexTree& IndexSet::treeOf(const Tag& tag) {
    if (!writing_)
        throw EngineError(ErrGeneral, "インデックスの変更が書き込みの外で行われました");
    OpenFile& of = fileOf(tag);
    // A file kept from an earlier post joins this post's journal on first use.
    if (auto* journal = table_.fileJournal(); journal && !of.file.attached())
        of.file.attach(journal, journal->addTarget(tag.def.file, of.file.fd()));
    return treeIn(of, tag);
}

IndexSet::OpenFile& IndexSet::fileOf(const Tag& tag) {
    auto& slot = open_[tag.def.file];
    if (!slot) {
        slot = std::make_unique<OpenFile>();
        slot->file = File(tag.def.file, table_.writable());
    }
    return *slot;
}

IndexTree& IndexSet::treeIn(OpenFile& of, const Tag& tag) {
    auto& tree = of.trees[tag.def.name];
    if (!tree) {
        OpenFile* file = &of;
        tree = std::make_unique<IndexTree>(of.file, tag.def, [file](uint64_t, size_t) {
            if (!file->file.attached())
                throw EngineError(ErrGeneral, "インデックスの変更がジャーナルの外で行われました");
        });
        tree->keepBranches();
    }
    return *tree;
}

void IndexSet::beginWrite() {
    // Under the writers' lock: a file kept from the last post is still what this program
    // left only when nobody has written it since (the table's journal is as that post left
    // it) nor put another file in its place.
    const bool own = table_.ownCommitStands();
    for (auto it = open_.begin(); it != open_.end();) {
        if (batch_ || !own || !(standard::FileStamp::of(it->first) == it->second->stamp))
            it = open_.erase(it);
        else
            ++it;
    }
    writing_ = true;
    // A journal of its own beside an index file was left by an older version of this
    // program, whose index pages were journaled file by file: it belongs to a write that
    // either committed (the table's journal is gone, the pages are the new ones) or is being
    // undone, and then the files are rebuilt from the records. It is never played back.
    for (size_t i = 0; i < tags_.size(); ++i) {
        const auto& file = tags_[i].def.file;
        if (std::any_of(tags_.begin(), tags_.begin() + static_cast<std::ptrdiff_t>(i),
                        [&](const Tag& earlier) { return earlier.def.file == file; }))
            continue; // the tags of one .MDX share its journal name
        const auto j = standard::UndoJournal::pathFor(file);
        if (standard::UndoJournal::exists(j))
            standard::UndoJournal::removeJournal(j);
    }
    // Once a session, before the first change in place: a file that does not hold one entry
    // a record (written by a program that did not keep it, or damaged) is rebuilt first.
    if (verified_ || batch_ || tags_.empty() || !problem_.empty())
        return;
    // The trees are walked as the post will keep them (outside the journal: nothing is
    // written yet), so that their branch pages and each leaf's last entry are in memory
    // from the first post on.
    bool stale = false;
    for (const Tag& t : tags_) {
        try {
            IndexTree& tree = treeIn(fileOf(t), t);
            std::vector<uint32_t> recnos;
            recnos.reserve(table_.recordCount());
            tree.recordNumbers(recnos);
            uint32_t expected = table_.recordCount();
            if (t.condition) {
                expected = 0;
                for (uint32_t r = 0; r < table_.recordCount(); ++r)
                    expected += t.holds(table_.record(r), r) ? 1 : 0;
            }
            stale = recnos.size() != expected ||
                    std::any_of(recnos.begin(), recnos.end(), [&](uint32_t r1) { return r1 < 1 || r1 > table_.recordCount(); });
        } catch (const EngineError& e) {
            if (e.code() != ErrCorruptFile)
                throw;
            stale = true;
        }
        if (stale)
            break;
    }
    if (stale) {
        open_.clear(); // none of them is in the journal yet
        rebuild();
    }
    verified_ = true;
}

void IndexSet::endWrite(bool committed) noexcept {
    // The scope's journal has committed or rolled back by now: the files are only let go.
    for (auto& [path, of] : open_) {
        of->file.detach();
        if (committed && !batch_)
            of->stamp = standard::FileStamp::of(path);
    }
    if (!committed || batch_)
        open_.clear();
    writing_ = false;
}

void IndexSet::inserted(const uint8_t* record, uint32_t recno) {
    if (tags_.empty())
        return;
    if (batch_) {
        batchMoved_ = true;
        for (size_t i = 0; i < tags_.size(); ++i)
            if (tags_[i].def.unique && tags_[i].holds(record, recno))
                batchKeys_[i].emplace(storedKey(tags_[i], record, recno), recno);
        return;
    }
    try {
        for (const Tag& t : tags_)
            if (t.holds(record, recno))
                treeOf(t).insert(storedKey(t, record, recno), recno + 1);
    } catch (const EngineError& e) {
        if (e.code() != ErrCorruptFile)
            throw;
        throw Stale{};
    }
}

void IndexSet::changed(const uint8_t* before, const uint8_t* after, uint32_t recno) {
    if (tags_.empty())
        return;
    if (batch_) {
        for (size_t i = 0; i < tags_.size(); ++i) {
            if (!tags_[i].expr) {
                batchMoved_ = true;
                continue;
            }
            const Tag& t = tags_[i];
            const bool wasIn = t.holds(before, recno), isIn = t.holds(after, recno);
            const std::string now = storedKey(t, after, recno);
            if (!batchMoved_ && (wasIn != isIn || (isIn && now != storedKey(t, before, recno))))
                batchMoved_ = true;
            if (t.def.unique && isIn)
                batchKeys_[i].emplace(now, recno);
        }
        return;
    }
    try {
        for (const Tag& t : tags_) {
            const bool wasIn = t.holds(before, recno), isIn = t.holds(after, recno);
            if (!wasIn && !isIn)
                continue;
            const std::string was = wasIn ? storedKey(t, before, recno) : std::string();
            const std::string now = isIn ? storedKey(t, after, recno) : std::string();
            if (wasIn && isIn && was == now)
                continue;
            IndexTree& tree = treeOf(t);
            // The new entry goes in before the old one leaves.
            if (isIn)
                tree.insert(now, recno + 1);
            if (wasIn && !tree.remove(was, recno + 1))
                throw Stale{}; // the file did not hold the old key
        }
    } catch (const EngineError& e) {
        if (e.code() != ErrCorruptFile)
            throw;
        throw Stale{};
    }
}

void IndexSet::deleted(const uint8_t* before, const uint8_t* after, uint32_t recno) {
    try {
        for (const Tag& t : tags_) {
            if (!t.condition)
                continue;
            const bool wasIn = t.holds(before, recno), isIn = t.holds(after, recno);
            if (wasIn == isIn)
                continue;
            if (batch_) {
                batchMoved_ = true;
                continue;
            }
            IndexTree& tree = treeOf(t);
            if (isIn)
                tree.insert(storedKey(t, after, recno), recno + 1);
            else if (!tree.remove(storedKey(t, before, recno), recno + 1))
                throw Stale{};
        }
    } catch (const EngineError& e) {
        if (e.code() != ErrCorruptFile)
            throw;
        throw Stale{};
    }
}

void IndexSet::beginBatch() {
    batch_ = true;
    batchOnEmpty_ = table_.recordCount() == 0;
    batchMoved_ = false;
    batchKeys_.clear();
}

void IndexSet::endBatch(bool rebuildFiles) {
    batch_ = false;
    batchKeys_.clear();
    // A batch that changed no key (nor added a record) leaves every tree as it is: a deleted
    // record keeps its entries, as outside a batch.
    if (rebuildFiles && batchMoved_ && !tags_.empty())
        rebuild();
    batchMoved_ = false;
}

void IndexSet::checkUniqueByScan(const Tag& t, const std::string& mine, uint32_t recno) {
    for (uint32_t r = 0; r < table_.recordCount(); ++r) {
        if (r == recno)
            continue;
        const uint8_t* rec = table_.record(r);
        if (rec[0] != '*' && t.holds(rec, r) && storedKey(t, rec, r) == mine)
            throw EngineError(ErrKeyViolation, "キーが重複しています (インデックス " + t.def.name + "): " + table_.tableName());
    }
}

void IndexSet::checkUnique(const uint8_t* record, uint32_t recno, const uint8_t* before) {
    std::vector<uint8_t> other(table_.header().recordLength);
    for (size_t i = 0; i < tags_.size(); ++i) {
        const Tag& t = tags_[i];
        if (!t.def.unique || !t.expr || !t.holds(record, recno))
            continue;
        const std::string mine = storedKey(t, record, recno);
        if (before && t.holds(before, recno) && storedKey(t, before, recno) == mine)
            continue;
        // A candidate counts only when the record is live and still has that key (inside a
        // batch the tree lags behind the records).
        auto clash = [&](uint32_t r) {
            if (r == recno || r >= table_.recordCount())
                return false;
            table_.readRecordInto(r, other.data());
            return other[0] != '*' && t.holds(other.data(), r) && storedKey(t, other.data(), r) == mine;
        };
        auto fail = [&] {
            throw EngineError(ErrKeyViolation, "キーが重複しています (インデックス " + t.def.name + "): " + table_.tableName());
        };
        if (batch_) {
            auto range = batchKeys_[i].equal_range(mine);
            for (auto it = range.first; it != range.second; ++it)
                if (clash(it->second))
                    fail();
        }
        if (!writing_) {
            checkUniqueByScan(t, mine, recno);
            continue;
        }
        // A batch into a table that was empty when it began: every key is one of the batch's.
        if (batch_ && batchOnEmpty_)
            continue;
        try {
            IndexTree& tree = treeOf(t);
            bool found = false;
            tree.scanFrom(mine, 0, [&](const std::string& key, uint32_t r1) {
                if (tree.compare(key, mine) != 0)
                    return false;
                found = r1 >= 1 && clash(r1 - 1);
                return !found;
            });
            if (found)
                fail();
        } catch (const EngineError& e) {
            if (e.code() != ErrCorruptFile)
                throw;
            checkUniqueByScan(t, mine, recno);
        }
    }
}

std::string IndexSet::sortKey(const std::string& name, const uint8_t* record, uint32_t recno) const {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
    std::string k = sortable(tag.expr->evaluate(record, recno), keyWidth(tag.def));
    k.resize(keyWidth(tag.def), ' ');
    return k;
}

bool IndexSet::descending(const std::string& name) const { return find(name).def.descending; }

size_t IndexSet::sortWidth(const std::string& name) const { return keyWidth(find(name).def); }

bool IndexSet::inTag(const std::string& name, const uint8_t* record, uint32_t recno) const {
    return find(name).holds(record, recno);
}

void IndexSet::requireUsable(const std::string& name) const {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
}

std::vector<std::string> IndexSet::plainFields(const std::string& name) const {
    const Tag& tag = find(name);
    return tag.expr ? tag.expr->plainFields() : std::vector<std::string>{};
}

size_t IndexSet::leadingWidth(const std::string& name, size_t fields) const {
    const Tag& tag = find(name);
    if (!tag.expr || tag.def.keyType != 'C' || tag.expr->plainFields().size() < fields)
        return 0;
    size_t w = 0;
    const auto& plain = tag.expr->plainFields();
    for (size_t i = 0; i < fields; ++i) {
        auto it = std::find_if(table_.header().fields.begin(), table_.header().fields.end(),
                               [&](const DbfField& f) { return strcasecmp(f.name.c_str(), plain[i].c_str()) == 0; });
        if (it == table_.header().fields.end() || it->type != 'C')
            return 0;
        w += static_cast<size_t>(it->length);
    }
    return std::min(w, keyWidth(tag.def));
}

std::vector<uint32_t> IndexSet::orderFromIndex(const std::string& name, const std::function<bool(uint32_t)>& isLive) {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
    File f(tag.def.file, false);
    IndexTree tree(f, tag.def, [](uint64_t, size_t) {
        throw EngineError(ErrGeneral, "読み取り中のインデックスへの書き込み");
    });
    std::vector<uint32_t> all;
    const uint32_t n = table_.recordCount();
    all.reserve(n);
    tree.recordNumbers(all);
    std::vector<uint32_t> out;
    out.reserve(all.size());
    bool bad = false;
    for (uint32_t r1 : all) {
        if (r1 < 1 || r1 > n) {
            bad = true;
            break;
        }
        if (isLive(r1 - 1))
            out.push_back(r1 - 1);
    }
    if (bad)
        throw EngineError(ErrCorruptFile, "インデックス " + tag.def.file.filename().string() + " がテーブルと合いません");
    return out;
}

struct IndexSet::Reader {
    File file;
    std::unique_ptr<IndexTree> tree;
};

bool IndexSet::treeWalkable(const std::string& name) const {
    const Tag& tag = find(name);
    return tag.expr && tag.def.forExpression.empty() && !tag.def.descending;
}

std::string IndexSet::treeKey(const std::string& name, const uint8_t* record, uint32_t recno) const {
    const Tag& tag = find(name);
    if (!tag.expr)
        throw EngineError(ErrNotSupported, tag.error);
    return storedKey(tag, record, recno);
}

bool IndexSet::treeEntries(const std::string& name, const std::string& key, uint32_t recno1, size_t limit,
                           std::vector<std::pair<std::string, uint32_t>>& out, const std::string* last) {
    const Tag& tag = find(name);
    auto& reader = readers_[name];
    if (!reader) {
        auto r = std::make_unique<Reader>();
        r->file = File(tag.def.file, false);
        r->tree = std::make_unique<IndexTree>(r->file, tag.def, [](uint64_t, size_t) {
            throw EngineError(ErrGeneral, "読み取り中のインデックスへの書き込み");
        });
        r->tree->keepPages();
        reader = std::move(r);
    }
    const size_t start = out.size();
    bool past = false;
    const IndexTree& tree = *reader->tree;
    tree.scanFrom(key, recno1, [&](const std::string& k, uint32_t r) {
        if (last && tree.compare(k, *last) > 0) {
            past = true;
            return false;
        }
        out.emplace_back(k, r);
        return out.size() - start < limit;
    });
    return !past && out.size() - start == limit;
}

void IndexSet::dropReaders() {
    readers_.clear();
    if (!writing_)
        open_.clear();
}

bool IndexSet::keysDiffer(const uint8_t* before, const uint8_t* after, uint32_t recno) const {
    for (const Tag& t : tags_) {
        if (!t.expr || t.holds(before, recno) != t.holds(after, recno))
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
    dropReaders();
    open_.clear(); // every file is replaced (never while a post has one in its journal)
    if (!problem_.empty())
        throw EngineError(ErrReadOnly, problem_);
    verified_ = true;
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
        if (expr.size() > MaxExpressionLength)
            throw EngineError(ErrInvalidParam, "インデックス " + t.name + " のキー式は " +
                                                   std::to_string(MaxExpressionLength) + " バイトまでです。");
        if (!d.condition.empty()) {
            // Kept after the key expression in the tag header, where a reader tells it from
            // flag bytes by its letters and length: a shorter one goes in parentheses.
            const KeyExpression c(d.condition, table.header());
            if (c.resultKind() != KeyValue::Kind::Bool)
                throw EngineError(ErrInvalidParam, "インデックス " + t.name + " の条件 " + d.condition + " は論理式ではありません。");
            t.forExpression = d.condition.size() < 3 ? "(" + d.condition + ")" : d.condition;
            if (t.forExpression.size() > MaxExpressionLength ||
                std::none_of(t.forExpression.begin(), t.forExpression.end(), [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)); }))
                throw EngineError(ErrInvalidParam, "インデックス " + t.name + " の条件 " + d.condition + " は書き込めません (" +
                                                       std::to_string(MaxExpressionLength) + " バイトまでの、フィールドか関数を含む式)。");
        }
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
