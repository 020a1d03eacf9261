#pragma once
// .MDX (multiple tags, production index) and .NDX (one key) files: their tag definitions,
// and writing a complete, balanced B-tree for a set of keys.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

struct IndexTag {
    std::string name;        // MDX tag name, or the NDX file's base name
    std::string expression;  // key expression
    std::string forExpression;
    char keyType = 'C';      // 'C', 'N', 'D'
    int keyLength = 0;
    bool unique = false;
    bool descending = false;
    std::filesystem::path file;
    bool ndx = false;
};

// One key of an index as stored: the encoded key bytes and the 1-based record number.
struct IndexEntry {
    std::string key;
    uint32_t recno = 0;
};

// Throws EngineError(ErrCorruptFile) for a file that is not a readable index.
std::vector<IndexTag> readMdxTags(const std::filesystem::path& file);
IndexTag readNdxTag(const std::filesystem::path& file);

// Writes a whole index file: entries of each tag are already sorted in the tag's order.
// The file is written under a temporary name and renamed over the old one, so a reader
// never sees half an index.
void writeMdx(const std::filesystem::path& file, const std::string& tableStem, const std::vector<IndexTag>& tags,
              const std::vector<std::vector<IndexEntry>>& entries);
void writeNdx(const std::filesystem::path& file, const IndexTag& tag, const std::vector<IndexEntry>& entries);

// Key encodings: MDX numbers and dates are 12-byte packed decimals, NDX ones 8-byte doubles
// (dates as Julian day numbers in both).
std::string mdxNumberKey(double value);
std::string ndxNumberKey(double value);

// Every (key, record) pair of a tag in file order, for checking an index against its table.
std::vector<IndexEntry> readIndexEntries(const IndexTag& tag);

} // namespace vemo::engine::dbase
