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
    // twice gets the same number. fd stays the caller's (it must stay open while journaled).
    int addTarget(const std::filesystem::path& file, int fd);

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

    // After either of the two below, the same object serves the next write of its files.
    // Makes the write durable: flush, each changed file synced once, the journal removed
    // and the folder synced. leaveMark keeps an empty journal instead (a sign for the next
    // open, such as index files that no longer match their table).
    void commit(bool leaveMark = false);
    // Puts every file back as it was when the journal began; the journal is then removed
    // (or kept empty with leaveMark).
    void rollBack(bool leaveMark = false);

    // Plays back a journal left by an earlier write: true when there was one (an empty one
    // too). allow, when given, must accept each file name the journal names, or nothing is
    // played back and ErrCorruptFile is thrown. The journal stays until remove(), so a
    // playback cut off is simply redone.
    static bool playBack(const std::filesystem::path& journal,
                         const std::function<bool(const std::string& name)>& allow = {});
    // Whether the file is a journal of this kind (false for a missing or empty file).
    static bool isFileSetJournal(const std::filesystem::path& journal);
    static bool exists(const std::filesystem::path& journal);
    static void remove(const std::filesystem::path& journal);

    static constexpr uint64_t PageSize = 4096;

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

    std::filesystem::path path_;
    std::filesystem::path folder_;
    std::vector<std::unique_ptr<Target>> targets_;
    int fd_ = -1;
    uint64_t end_ = 0;
    uint64_t salt_ = 0;
    uint64_t pendingBytes_ = 0;
};

} // namespace vemo::engine::standard
