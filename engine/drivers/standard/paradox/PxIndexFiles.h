#pragma once
// Writers of the index files: the primary index (.PX) of a keyed table and the
// secondary index pairs (.Xnn/.Ynn, .XGn/.YGn). Each file is written whole to a temporary
// name and renamed over the old one, so a failure never leaves a half-written index.
#include "PxHeader.h"

#include <cstdint>
#include <filesystem>
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
                                    const IndexEntries& entries);

// The bytes of the .PX of a keyed table from its current blocks.
std::vector<uint8_t> buildPrimaryIndex(PxTable& table);
void writePrimaryIndex(const std::filesystem::path& path, PxTable& table);

// An index file this process wrote: each new version replaces the file (a temporary file
// and a rename), and a version equal to the last one written is not written again.
class IndexFileImage {
public:
    explicit IndexFileImage(std::filesystem::path path) : path_(std::move(path)) {}
    void update(std::vector<uint8_t> bytes);
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::vector<uint8_t> bytes_;
};

struct SecondaryIndexSpec {
    std::string name;
    std::vector<int> fields; // 0-based table field numbers
    bool composite = false;  // .XGn/.YGn (named) rather than .Xnn/.Ynn
    bool caseInsensitive = false;
    bool descending = false; // read only: such files are not rewritten here
    std::filesystem::path xPath, yPath;
};

// The bytes of a secondary index pair (.X, .Y) from every record of the table.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> buildSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table);
void writeSecondaryIndex(const SecondaryIndexSpec& ix, PxTable& table);

// Replaces `path` by `bytes` through a temporary file and a rename.
void replaceFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

} // namespace vemo::engine::paradox
