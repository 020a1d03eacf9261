#pragma once
// Writers of the index files: the primary index (.PX) of a keyed table and the
// secondary index pairs (.Xnn/.Ynn, .XGn/.YGn). A tree file (.PX, .Y) is rebuilt in memory
// from the first keys of its table's blocks, which costs a pass over the blocks, never
// over the records, and only the bytes that changed are written to the file in place; an
// .X file is a keyed table of its own and is changed record by record through PxTable.
// In-place writes happen only inside a table's write scope: a write cut off leaves the
// table's undo journal behind, and the next writer puts the table and these files back. A
// file replaced whole is noted in the journal before the rename, and the files are then
// rebuilt from the records instead.
#include "PxHeader.h"
#include "PxIndexTree.h"
#include "PxKeyOrder.h"
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

namespace vemo::engine::paradox {

class PxTable;

// One entry per referenced block: the key of its first record, its number and its count.
struct IndexEntries {
    int keyLength = 0;
    std::vector<uint8_t> keys;
    std::vector<uint16_t> blocks;
    std::vector<int> counts;
    void add(const uint8_t* key, uint16_t block, int count);
    size_t size() const { return blocks.size(); }
};

// The bytes of an index tree file (.PX or .Y) over entries; keyFields are the indexed fields.
std::vector<uint8_t> buildIndexTree(const PxHeader& owner, const std::vector<PxField>& keyFields, uint8_t fileType,
                                    IndexEntries entries);

// The bytes of the .PX of a keyed table from its current blocks.
std::vector<uint8_t> buildPrimaryIndex(PxTable& table);
void writePrimaryIndex(const std::filesystem::path& path, PxTable& table);
// The bytes of the tree over any keyed file's blocks: the .PX of a table (fileType
// FtPrimaryIndex) or the .Y of an .X file (FtSecondaryY, FtCompositeY).
std::vector<uint8_t> buildTreeOver(PxTable& keyed, uint8_t fileType);
// The level-1 entries of that tree: one a block of the keyed file.
IndexEntries treeEntriesOf(PxTable& keyed);

// The bytes of an index file as last written or read. A new version of the same size is
// written in place, only the runs of bytes that differ; one of another size replaces the
// file (a temporary file and a rename). sync() makes in-place writes durable.
class IndexFileImage {
public:
    explicit IndexFileImage(std::filesystem::path path) : path_(std::move(path)) {}
    IndexFileImage(IndexFileImage&&) noexcept = default;
    IndexFileImage& operator=(IndexFileImage&&) noexcept = default;
    ~IndexFileImage();
    void update(std::vector<uint8_t> bytes);
    // For a tree file over the blocks of `keyed` (.PX over the table, .Y over an .X): brings
    // it up to date with what changed in keyed's chain since the last call, writing only the
    // blocks that change; `build` makes the whole file when the one there cannot be followed.
    void updateTree(PxTable& keyed, const std::function<std::vector<uint8_t>()>& build);
    // Replaces the file whatever it holds now.
    void replace(std::vector<uint8_t> bytes);
    void sync();
    // Forgets the bytes known, so that the next update reads the file again.
    void forget();
    // In-place writes go through the journal of the table's write (see PxFile).
    void journalThrough(standard::FileSetJournal* const* slot) { link_.slot = slot; }
    const std::filesystem::path& path() const { return path_; }

private:
    void close();
    bool readExisting();
    void writeChanges(std::vector<uint8_t> bytes);
    // Writes the header and the blocks given of bytes_ (changed in place), and what lies past
    // the file's old size.
    void writeBlocks(const std::vector<uint16_t>& blocks, size_t oldSize);
    void writeAt(size_t at, const uint8_t* data, size_t len);
    std::filesystem::path path_;
    PxIndexTree tree_;
    bool treeLoaded_ = false;
    std::vector<uint8_t> bytes_;
    bool known_ = false;
    int fd_ = -1;         // open for in-place writes
    bool unsynced_ = false;
    standard::JournalLink link_;
};

struct SecondaryIndexSpec {
    std::string name;
    std::vector<int> fields; // 0-based table field numbers
    bool composite = false;  // .XGn/.YGn (named) rather than .Xnn/.Ynn
    bool caseInsensitive = false; // alpha fields compared with ASCII letters folded (and stored so)
    bool descending = false;      // the indexed fields descending; the table's key after them ascending
    std::filesystem::path xPath, yPath;
};

// The order of an index's .X records (see PxKeyOrder).
PxKeyOrder secondaryKeyOrder(const SecondaryIndexSpec& ix, const PxHeader& table);

// The .X record of a table record: the indexed fields (ASCII letters upper-cased for a
// case-insensitive index), the table's key and the hint (the number of the table block holding it). `out`
// holds the .X file's record size.
void secondaryRecord(const SecondaryIndexSpec& ix, const PxHeader& table, int tableKeyLength, const uint8_t* rec,
                     uint16_t block, uint8_t* out);
// Bytes of the indexed fields alone (the leading part of secondaryRecord).
int secondaryFieldsLength(const SecondaryIndexSpec& ix, const PxHeader& table);

// The bytes of a secondary index pair (.X, .Y) from every record of the table.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> buildSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table);
void writeSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table);

// Replaces `path` by `bytes` through a temporary file and a rename.
void replaceFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

} // namespace vemo::engine::paradox
