#pragma once
// The indexes of one table: the production .MDX (its tags) and a .NDX of the same name.
// Orders for browsing are built by evaluating each tag's key expression over the table and
// sorting; a search reads the index tree. A write changes the trees in place, through the
// journal of the table's write scope, which holds the records and the pages of every file
// until the write commits; a batch leaves the files alone and rebuilds each once at its end.
#include "engine/contract/Definitions.h"
#include "engine/drivers/standard/dbase/IndexFiles.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"
#include "engine/drivers/standard/dbase/RecordOrder.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

class DbfTable;

class IndexSet {
public:
    // Reads the definitions. Problems that keep the files from being maintained (an
    // unreadable file, an expression this program cannot evaluate, a FoxPro .CDX) do not
    // fail the open: problem() says what they are and the table is opened read-only.
    explicit IndexSet(DbfTable& table);
    ~IndexSet();

    std::vector<IndexDef> definitions() const;
    const std::string& problem() const { return problem_; }
    bool empty() const { return tags_.empty(); }

    // Visible record numbers (0-based) in the order of the named tag; ErrNotFound for an
    // unknown name, ErrNotSupported for a tag whose expression cannot be evaluated.
    std::vector<uint32_t> order(const std::string& name);
    // The same order with the first keyBytes of each record's sortable key kept beside it.
    RecordOrder keyedOrder(const std::string& name, size_t keyBytes);

    // Whether the record belongs in the named tag: always, but for a tag with a FOR
    // condition, whose index holds only the records meeting it.
    bool inTag(const std::string& name, const uint8_t* record, uint32_t recno) const;

    // Throws ErrKeyViolation when record (0-based recno, bytes) would repeat the key of
    // another live record in a unique tag (among the records of the tag). before: the
    // record as it was, for an edit; a tag in which the edit leaves its key as it was is
    // not looked at (the edit brings no key there that was not there).
    void checkUnique(const uint8_t* record, uint32_t recno, const uint8_t* before = nullptr);

    // True when some tag's key differs between the two versions of a record.
    bool keysDiffer(const uint8_t* before, const uint8_t* after, uint32_t recno) const;

    // Rewrites every index file from the table (also the repair of a stale index).
    void rebuild();

    // Sortable form of a record's key in the named order: memcmp order is the key order
    // (reversed for a descending tag, see descending()).
    std::string sortKey(const std::string& name, const uint8_t* record, uint32_t recno) const;
    bool descending(const std::string& name) const;
    // Bytes of the sortable key of the named order.
    size_t sortWidth(const std::string& name) const;
    // Throws as order() does for a name that cannot give an order.
    void requireUsable(const std::string& name) const;
    // Field names of the tag's key when it is plain fields joined by "+"; else empty.
    std::vector<std::string> plainFields(const std::string& name) const;
    // Width of the sortable form of the leading `fields` plain fields of the named tag, 0 when
    // the tag is not made of plain character fields joined by "+".
    size_t leadingWidth(const std::string& name, size_t fields) const;
    // Visible record numbers of the named tag, read from its index tree (no sort).
    // isLive tells a visible record.
    std::vector<uint32_t> orderFromIndex(const std::string& name, const std::function<bool(uint32_t)>& isLive);

    // Whether the named tag's tree holds every visible record in the order's direction (no
    // FOR condition, ascending), so that walking it misses none.
    bool treeWalkable(const std::string& name) const;
    // The key a record gives in the named tag, in the form its tree stores.
    std::string treeKey(const std::string& name, const uint8_t* record, uint32_t recno) const;
    // Up to `limit` entries of the named tag's tree from the first not less than (key,
    // recno1), as (stored key, 1-based record number), appended to out; none whose key is
    // above *last when last is given. False when the entries ended before the limit. The
    // tree file stays open for the next call until dropReaders(), so that many lookups cost
    // no opens.
    bool treeEntries(const std::string& name, const std::string& key, uint32_t recno1, size_t limit,
                     std::vector<std::pair<std::string, uint32_t>>& out, const std::string* last = nullptr);
    // Forgets the open trees (the files may have been replaced).
    void dropReaders();

    // One logical write, inside the table's write scope: beginWrite opens the files for
    // in-place changes; inserted/changed keep every tree right (or, in a batch, remember the
    // new keys of unique tags); endWrite lets the files go once the scope has committed or
    // rolled back (the scope's journal writes them). A file found not to match the table
    // in the middle of a write throws Stale: the caller rolls the write back, calls
    // rebuild() and tries the write again.
    // After a committed post (endWrite(true), still under the writers' lock) the files stay
    // open with the upper pages of their trees in memory, each with its stamp; the next
    // beginWrite, under the lock again, keeps a file only when its stamp is unchanged, that
    // is when nobody else wrote it since. Anything else (a rollback, a batch, a rebuild)
    // lets them go.
    struct Stale {};
    void beginWrite();
    void inserted(const uint8_t* record, uint32_t recno);
    void changed(const uint8_t* before, const uint8_t* after, uint32_t recno);
    // A record marked deleted keeps its entries, but a condition may read the mark
    // (DELETED()): the tags whose condition it changes gain or lose the record.
    void deleted(const uint8_t* before, const uint8_t* after, uint32_t recno);
    void endWrite(bool committed = false) noexcept;

    // Batch: the files are left as they are until endBatch, which rebuilds each one once.
    void beginBatch();
    void endBatch(bool rebuildFiles);
    bool inBatch() const { return batch_; }

    // Creates the production index of a new table.
    static void create(DbfTable& table, const std::vector<IndexDef>& indexes);

private:
    struct Tag {
        IndexTag def;
        std::unique_ptr<KeyExpression> expr; // null when it cannot be evaluated
        std::unique_ptr<KeyExpression> condition; // the FOR condition, null for none
        std::string error;
        bool holds(const uint8_t* record, uint32_t recno) const {
            return !condition || condition->evaluate(record, recno).flag;
        }
    };
    const Tag& find(const std::string& name) const;
    struct SortedKeys {
        size_t width = 0;
        std::string keys;             // width bytes a record, in order
        std::vector<uint32_t> recnos; // 0-based, in order
    };
    SortedKeys sortedKeys(const Tag& tag, bool liveOnly);
    std::vector<IndexEntry> entriesOf(const Tag& tag);
    std::string storedKey(const Tag& tag, const uint8_t* record, uint32_t recno) const;
    // The tree of a tag in its file opened for this write (opened on first use).
    class IndexTree& treeOf(const Tag& tag);
    struct OpenFile;
    OpenFile& fileOf(const Tag& tag);             // opened, not yet in the journal
    class IndexTree& treeIn(OpenFile& of, const Tag& tag);
    void checkUniqueByScan(const Tag& tag, const std::string& mine, uint32_t recno);

    DbfTable& table_;
    std::vector<Tag> tags_;
    std::filesystem::path mdx_;
    std::string problem_;

    std::map<std::filesystem::path, std::unique_ptr<OpenFile>> open_; // during a write, and kept after a post
    struct Reader;
    std::map<std::string, std::unique_ptr<Reader>> readers_; // trees open for treeEntries, by tag
    bool writing_ = false;
    bool verified_ = false; // the files were found to hold one entry a record
    bool batch_ = false;
    bool batchOnEmpty_ = false; // the table had no records when the batch began
    bool batchMoved_ = false; // a record of the batch was added or got another key
    // Keys that records got inside the batch, per unique tag: stored key -> record numbers.
    std::map<size_t, std::multimap<std::string, uint32_t>> batchKeys_;
};

} // namespace vemo::engine::dbase
