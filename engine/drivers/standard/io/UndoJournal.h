#pragma once
// An undo journal for in-place writes to one file: before a range of the file is first
// overwritten in a transaction, its old bytes are saved (and synced) to a journal file
// beside it. Removing the journal commits; a journal found later (the writer was killed, or
// a step failed) is played back, which puts the file back exactly as it was before the
// transaction. The journal's presence also tells that files derived from the table (its
// indexes) may not match it and must be rebuilt.
#include <cstdint>
#include <filesystem>
#include <set>
#include <utility>

namespace vemo::engine::standard {

class UndoJournal {
public:
    UndoJournal(std::filesystem::path journal, int targetFd, std::filesystem::path target);
    ~UndoJournal();
    UndoJournal(const UndoJournal&) = delete;
    UndoJournal& operator=(const UndoJournal&) = delete;

    // Saves the current bytes of [offset, offset + n) unless this transaction already did;
    // bytes past the size the file had when the transaction began need no saving. With
    // durable false the entry is not synced: the caller then keeps the range's new bytes
    // from the file until flush() has returned.
    void save(uint64_t offset, size_t n, bool durable = true);
    // Makes the entries saved so far durable.
    void flush();
    bool started() const { return fd_ >= 0; }
    // The target's size when the transaction began (known once something was saved).
    uint64_t baseSize() const { return baseSize_; }
    // Syncs the target and removes the journal.
    void commit();

    // Plays back a journal left by an earlier transaction; true when there was one. The
    // journal itself stays until removeJournal(), so a playback cut off is simply redone.
    static bool playBack(const std::filesystem::path& journal, int targetFd, const std::filesystem::path& target);
    static void removeJournal(const std::filesystem::path& journal);
    // The journal of a table file: its name with "-journal" added.
    static std::filesystem::path pathFor(const std::filesystem::path& target);
    static bool exists(const std::filesystem::path& journal);

private:
    std::filesystem::path path_, target_;
    int targetFd_;
    int fd_ = -1;
    uint64_t end_ = 0;       // journal bytes written
    uint64_t baseSize_ = 0;  // target size when the transaction began
    std::set<std::pair<uint64_t, uint64_t>> saved_;
};

} // namespace vemo::engine::standard
