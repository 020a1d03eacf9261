#pragma once
// One undo journal for a write that changes several files of one table (the table, its blob
// or memo file, its index files). Writes made through it are held in memory; flush() first
// puts the old bytes of every page they change into the journal and syncs it once, then
// writes them to the files. commit() flushes, syncs each changed file once and removes the
// journal. A journal found later (the writer was killed, or a step failed) is played back,
// which puts every file back as it was before the write. Each record of the journal carries
// a check word, so a journal cut off anywhere plays back only what is whole: a record still
// being written when the writer stopped belongs to pages that were not yet touched.
//
// The files are named in the journal by their names alone, relative to the journal's own
// folder; playback never opens anything outside that folder and never follows a link.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vemo::engine::standard {

class FileSetJournal {
public:
    explicit FileSetJournal(std::filesystem::path journal);
    // Drops the writes not yet flushed; a journal already on disk stays for rollBack() or
    // the next open to play back.
    ~FileSetJournal();
    FileSetJournal(const FileSetJournal&) = delete;
    FileSetJournal& operator=(const FileSetJournal&) = delete;

    // A file the write may change: it must lie in the journal's folder. The same file given
    // twice gets the same number (a new fd replaces one given up by release()). fd stays the
    // caller's: it must stay open until the write ends or release() is called.
    int addTarget(const std::filesystem::path& file, int fd);
    // Before a caller closes a target's fd in the middle of a write: what is held is put on
    // the files (journal first) and this one is synced; its pages stay journaled.
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
    // Whether anything was written (the journal exists or writes are held).
    bool started() const { return fd_ >= 0 || pendingBytes_ > 0; }

    // After either of the two below, the same object serves the next write (its files added
    // again).
    // Makes the write durable: flush, each changed file synced once, the journal removed
    // and the folder synced. leaveMark keeps an empty journal instead (a sign for the next
    // open, such as index files that no longer match their table).
    void commit(bool leaveMark = false);
    // Puts every file back as it was when the journal began; the journal is then removed
    // (or kept empty with leaveMark).
    void rollBack(bool leaveMark = false);

    // Starts afresh without touching any file: held writes dropped, files to be added again.
    // For the start of a write, in case the last one ended without commit or rollBack (a
    // journal it left on disk is the caller's to play back).
    void discard();

    // Plays back a journal left by an earlier write: true when there was one (an empty one
    // too). allow, when given, must accept each file name the journal names, or nothing is
    // played back and ErrCorruptFile is thrown. The journal stays until remove(), so a
    // playback cut off is simply redone.
    // openFd, when given, may hand over an fd the caller already holds for a name (-1: none),
    // so a file the caller reached through a link is put back too; the fd stays the caller's.
    static bool playBack(const std::filesystem::path& journal,
                         const std::function<bool(const std::string& name)>& allow = {},
                         const std::function<int(const std::string& name)>& openFd = {});
    // Whether the file is a journal of this kind (false for a missing or empty file).
    static bool isFileSetJournal(const std::filesystem::path& journal);
    static bool exists(const std::filesystem::path& journal);
    static void remove(const std::filesystem::path& journal);

    static constexpr uint64_t PageSize = 4096;
    static constexpr uint64_t MaxHeld = 32u << 20;

private:
    struct Target {
        std::string name;
        int fd = -1;
        uint64_t baseSize = 0;   // size when the journal began
        uint64_t size = 0;       // size with the held writes
        bool announced = false;  // its name record is in the journal
        bool dirty = false;      // written since the last sync
        std::set<uint64_t> saved;                         // pages whose old bytes are journaled
        std::map<uint64_t, std::vector<uint8_t>> pages;   // held writes, whole pages
    };
    std::vector<uint8_t>& pageOf(Target& t, uint64_t page);
    void appendRecords();
    void openJournal();
    void restart();
    void newSalt();
    void syncTargets();

    std::filesystem::path path_;
    std::filesystem::path folder_;
    std::vector<std::unique_ptr<Target>> targets_;
    int fd_ = -1;
    uint64_t end_ = 0;
    uint64_t salt_ = 0;
    uint64_t pendingBytes_ = 0;
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
    FileSetJournal* route(const std::filesystem::path& file, int fileFd) {
        FileSetJournal* j = slot ? *slot : nullptr;
        if (!j || fileFd < 0)
            return nullptr;
        if (generation != j->generation() || fd != fileFd) {
            target = j->addTarget(file, fileFd);
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
