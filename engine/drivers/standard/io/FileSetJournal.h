#pragma once
// One undo journal for a write that changes several files of one table (the table, its blob
// or memo file, its index files). Writes made through it are held in memory; flush() first
// puts the old bytes of every range they change into the journal and syncs it once, then
// writes them to the files. commit() flushes, syncs each changed file once and turns the
// journal idle. A journal found later in force (the writer was killed, or a step failed) is
// played back, which puts every file back as it was before the write. Each record of the
// journal carries a check word over its own bytes, seeded with a salt of that write, so a
// journal cut off anywhere plays back only what is whole (a record still being written when
// the writer stopped belongs to ranges that were not yet touched), and a record left behind
// by an earlier write never passes for one of this write.
//
// The journal file is kept from one write to the next while its object lives: a write
// overwrites its header in place, a commit overwrites it with an idle one (synced when
// syncing is on, so that no committed write is ever undone by a journal left over after a
// power loss). The owner removes an idle journal when it closes the table (retire()).
//
// The files are named in the journal by their names alone, relative to the journal's own
// folder; playback never opens anything outside that folder and never follows a link.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::standard {

class FileSetJournal {
public:
    explicit FileSetJournal(std::filesystem::path journal);
    // Drops the writes not yet flushed and closes the journal file, which stays on disk
    // (one in force for rollBack() or the next open to play back).
    ~FileSetJournal();
    FileSetJournal(const FileSetJournal&) = delete;
    FileSetJournal& operator=(const FileSetJournal&) = delete;

    // What a journal's path holds.
    enum class Found {
        None,    // nothing, or an idle journal: no write to undo, no mark
        Empty,   // an empty file (what an earlier version left as its mark)
        Mark,    // a mark: nothing to undo, but its owner has something to mend
        Journal, // a journal of this kind in force (or one whose header cannot be read)
        Other,   // a file of another kind
    };
    static Found inspect(const std::filesystem::path& journal);
    // Starts a write: held writes dropped, files to be added again (as discard()), and what
    // the journal's path holds now (read through the kept file while it is still the one
    // there). Called under the owner's writers' lock; anything but None is the owner's to
    // play back or clear before writing.
    Found begin();
    // After begin(): the journal is as this object's last commit left it, so no other
    // writer (of this program) has written the files since. False when this object has
    // not committed yet, or the journal was found in any other state.
    bool unchangedSinceOwnCommit() const { return committed_ != 0 && foundCommit_ == committed_; }
    bool hasCommitted() const { return committed_ != 0; }

    // A file the write may change: it must lie in the journal's folder. The same file given
    // twice gets the same number (a new fd replaces one given up by release()). fd stays the
    // caller's: it must stay open until the write ends or release() is called.
    // pagePhase: an offset the held pages of the file start at (a multiple of the page size
    // away), so a file of blocks behind a header holds each block in one page; it changes
    // nothing but how many reads and writes a change takes, and counts only when the file is
    // first added in a write.
    int addTarget(const std::filesystem::path& file, int fd, uint64_t pagePhase = 0);
    // Before a caller closes a target's fd in the middle of a write: what is held is put on
    // the files (journal first) and this one is synced; its ranges stay journaled.
    void release(int target);
    // Advances whenever a write ends (commit or rollBack): the numbers given by addTarget
    // then no longer hold, the files must be added again.
    uint64_t generation() const { return generation_; }

    // Positioned write through the journal; nothing reaches the file before flush().
    void write(int target, uint64_t offset, const void* data, size_t n);
    // Reads what the file holds after the writes so far (up to its size); returns the count.
    size_t read(int target, uint64_t offset, void* buf, size_t n) const;
    uint64_t size(int target) const;
    // Cuts the file to size (flushes first: a cut is made on the file itself).
    void truncate(int target, uint64_t size);

    // Journal synced, then the held writes put on the files (not yet synced). Called by
    // commit(); a long write may call it to bound the memory it holds.
    void flush();
    // Bytes of writes held in memory.
    uint64_t pending() const { return pendingBytes_; }
    // Whether anything was written (the journal is down or writes are held).
    bool started() const { return begun_ || pendingBytes_ > 0; }

    // What a write tells whoever plays its journal back, beyond the old bytes (bits, given
    // back by playBack()).
    static constexpr uint32_t NoteReplaced = 1; // a file of the write was replaced whole
    static constexpr uint32_t NoteMark = 2;     // after playback the mark stays (it was there before)
    // Adds bits to this write's notes. durable: in the journal and synced before the call
    // returns (before a file is replaced, say); otherwise they go with the next records.
    void note(uint32_t bits, bool durable);

    // After either of the two below, the same object serves the next write (its files added
    // again).
    // Makes the write durable: flush, each changed file synced once, the journal made idle.
    // leaveMark makes it a mark instead (a sign for the next open, such as index files that
    // no longer match their table).
    void commit(bool leaveMark = false);
    // Puts every file back as it was when the journal began; the journal is then made idle
    // (or a mark, with leaveMark or a NoteMark).
    void rollBack(bool leaveMark = false);

    // Starts afresh without touching any file: held writes dropped, files to be added again.
    // For the start of a write, in case the last one ended without commit or rollBack (a
    // journal it left on disk is the caller's to play back).
    void discard();

    // The owner closes the table, holding its writers' lock: an idle journal is removed (one
    // in force, or a mark, stays).
    void retire();
    // The same for a journal's path, by an owner that made no journal object.
    static void removeIdle(const std::filesystem::path& journal);

    // What playBack() found.
    struct Outcome {
        bool found = false;   // a journal or mark was there
        bool mark = false;    // a mark, or a journal noting one
        bool known = true;    // false: a journal of an earlier version, or one whose header
                              // cannot be read, which does not tell what its write did
        uint32_t notes = 0;
        explicit operator bool() const { return found; }
    };
    // Plays back a journal left by an earlier write. allow, when given, must accept each file
    // name the journal names, or nothing is played back and ErrCorruptFile is thrown. The
    // journal stays until remove(), so a playback cut off is simply redone.
    // openFd, when given, may hand over an fd the caller already holds for a name (-1: none),
    // so a file the caller reached through a link is put back too; the fd stays the caller's.
    static Outcome playBack(const std::filesystem::path& journal,
                            const std::function<bool(const std::string& name)>& allow = {},
                            const std::function<int(const std::string& name)>& openFd = {});
    static bool exists(const std::filesystem::path& journal);
    static void remove(const std::filesystem::path& journal);

    static constexpr uint64_t PageSize = 4096;
    static constexpr uint64_t MaxHeld = 32u << 20;
    // An idle journal longer than this is cut back when a write ends.
    static constexpr uint64_t KeepBytes = 1u << 20;

private:
    // Byte ranges [first, second) of a file, disjoint and not touching.
    using Ranges = std::map<uint64_t, uint64_t>;
    struct Target {
        std::string name;
        int fd = -1;
        uint64_t baseSize = 0;   // size when the journal began
        uint64_t size = 0;       // size with the held writes
        uint64_t onDisk = 0;     // size of the file itself (grown by flushes, cut by truncate)
        uint64_t shift = 0;      // page i holds [i * PageSize - shift, (i + 1) * PageSize - shift)
        bool announced = false;  // its name record is in the journal
        bool dirty = false;      // written since the last sync
        Ranges saved;            // ranges whose old bytes are journaled
        Ranges changed;          // ranges written with other bytes since the last records went down
        std::map<uint64_t, std::vector<uint8_t>> pages;   // held writes, whole pages
        // The held pages as read from the file: what of them is not journaled yet is the
        // file's old bytes still (the file is only written after those are journaled).
        std::map<uint64_t, std::vector<uint8_t>> asRead;
    };
    std::vector<uint8_t>& pageOf(Target& t, uint64_t page);
    // The page holding a byte, and the byte's place in it.
    static uint64_t pageAt(const Target& t, uint64_t at) { return (at + t.shift) / PageSize; }
    static size_t inPage(const Target& t, uint64_t at) { return size_t((at + t.shift) % PageSize); }
    // Where a page starts in the file, and how much of it lies before the file (the first
    // page's part before offset 0).
    static size_t pageSkip(const Target& t, uint64_t page) { return page == 0 ? size_t(t.shift) : 0; }
    static uint64_t pageFrom(const Target& t, uint64_t page) { return page == 0 ? 0 : page * PageSize - t.shift; }
    void readOld(Target& t, uint64_t at, size_t n, uint8_t* dst);
    void appendRecords();
    bool keptFileCurrent();
    bool openKept(bool create);
    void writeState(uint16_t state);
    void restart();
    void settle(bool leaveMark);
    void syncKept();
    void syncTargets();

    std::filesystem::path path_;
    std::filesystem::path folder_;
    std::vector<std::unique_ptr<Target>> targets_;
    int fd_ = -1;                         // the journal file, kept between writes
    uint64_t dev_ = 0, inode_ = 0;        // ... and the file it is
    bool created_ = false;                // made by this write: the folder is synced with it
    bool begun_ = false;                  // this write's header is down
    bool touched_ = false;                // ... or was being written
    bool idling_ = false;                 // an idle header was being written over it
    Found foundAtBegin_ = Found::None;
    uint64_t end_ = 0;
    uint64_t saltBase_ = 0, writes_ = 0;  // drawn once; the salt of a write mixes in its count
    uint64_t salt_ = 0;
    uint32_t notes_ = 0, notesDown_ = 0;
    uint64_t pendingBytes_ = 0;
    uint64_t committed_ = 0;   // the salt the idle header of this object's last commit holds
    uint64_t foundCommit_ = 0; // the salt of the idle header begin() found
    uint64_t generation_ = 1;
};

// A file's way to the journal of the write in progress, if any: `slot` points to where the
// owner of the write keeps its journal (null between writes). route() gives the journal and
// the file's number in it, adding the file on first use in each write.
struct JournalLink {
    FileSetJournal* const* slot = nullptr;
    uint64_t generation = 0;
    int target = -1;
    int fd = -1;
    uint64_t pagePhase = 0; // see FileSetJournal::addTarget
    FileSetJournal* route(const std::filesystem::path& file, int fileFd) {
        FileSetJournal* j = slot ? *slot : nullptr;
        if (!j || fileFd < 0)
            return nullptr;
        if (generation != j->generation() || fd != fileFd) {
            target = j->addTarget(file, fileFd, pagePhase);
            generation = j->generation();
            fd = fileFd;
        }
        return j;
    }
    // Called before the file's fd is closed.
    void release() {
        FileSetJournal* j = slot ? *slot : nullptr;
        if (j && generation == j->generation() && target >= 0)
            j->release(target);
        generation = 0;
        fd = -1;
    }
};

} // namespace vemo::engine::standard
