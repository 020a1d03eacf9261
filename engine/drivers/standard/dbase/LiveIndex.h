#pragma once
// Maps positions of the visible (not deleted) records to record numbers in natural order.
// Deletion flags are scanned lazily, block by block, only as far as a caller needs: opening
// a table and showing its first records touches only the first block, and the memory is a
// bit per record plus a counter per block.
#include <cstdint>
#include <functional>
#include <vector>

namespace vemo::engine::dbase {

class LiveIndex {
public:
    // isDeleted(recno) reads a record's flag; called in ascending record order.
    using FlagReader = std::function<bool(uint32_t)>;

    void reset(uint32_t records);
    uint32_t records() const { return records_; }

    // Record number of the visible record at pos; -1 past the end.
    int64_t recnoAt(int64_t pos, const FlagReader& isDeleted);
    // Position of a record among the visible ones; -1 when deleted or missing.
    int64_t positionOf(uint32_t recno, const FlagReader& isDeleted);
    int64_t liveCount(const FlagReader& isDeleted);
    // Whether a record is visible (scanning as far as it when needed).
    bool isLive(uint32_t recno, const FlagReader& isDeleted);

    // Keeps the map right after this program's own writes.
    void markDeleted(uint32_t recno);
    void appended(uint32_t recno); // a new live record at the end (recno == records())

    static constexpr uint32_t Block = 4096;

private:
    bool scanNext(const FlagReader& isDeleted); // false when everything is scanned
    bool deleted(uint32_t recno) const { return (bits_[recno / 64] >> (recno % 64)) & 1u; }

    uint32_t records_ = 0;
    uint32_t scanned_ = 0;             // records whose flag is known (whole blocks, or all)
    std::vector<uint64_t> bits_;        // deletion flags of scanned records
    std::vector<int64_t> liveBefore_;   // visible records before each scanned block; one extra at the end
};

} // namespace vemo::engine::dbase
