#pragma once
// The indexes of one table: the production .MDX (its tags) and a .NDX of the same name.
// Orders are built by evaluating each tag's key expression over the table and sorting, so
// browsing never depends on the state of the file; after a write the files are rewritten
// from the table, so they always match it.
#include "engine/contract/Definitions.h"
#include "engine/drivers/standard/dbase/IndexFiles.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"

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

    // Throws ErrKeyViolation when record (0-based recno, bytes) would repeat the key of
    // another live record in a unique tag.
    void checkUnique(const uint8_t* record, uint32_t recno);

    // True when some tag's key differs between the two versions of a record.
    bool keysDiffer(const uint8_t* before, const uint8_t* after, uint32_t recno) const;

    // Rewrites every index file from the table.
    void rebuild();

    // Creates the production index of a new table.
    static void create(DbfTable& table, const std::vector<IndexDef>& indexes);

private:
    struct Tag {
        IndexTag def;
        std::unique_ptr<KeyExpression> expr; // null when it cannot be evaluated
        std::string error;
    };
    const Tag& find(const std::string& name) const;
    struct SortedKeys {
        size_t width = 0;
        std::string keys;             // width bytes a record, in order
        std::vector<uint32_t> recnos; // 0-based, in order
    };
    SortedKeys sortedKeys(const Tag& tag, bool liveOnly);
    std::vector<IndexEntry> entriesOf(const Tag& tag);

    DbfTable& table_;
    std::vector<Tag> tags_;
    std::filesystem::path mdx_;
    std::string problem_;
};

} // namespace vemo::engine::dbase
