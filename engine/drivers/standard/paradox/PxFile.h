#pragma once
// A file descriptor with whole reads and writes that report failures as engine errors.
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace vemo::engine::paradox {

class PxFile {
public:
    enum Mode { ReadOnly, ReadWrite, CreateNew };
    PxFile() = default;
    PxFile(const std::filesystem::path& path, Mode mode);
    ~PxFile();
    PxFile(PxFile&& o) noexcept;
    PxFile& operator=(PxFile&& o) noexcept;
    PxFile(const PxFile&) = delete;
    PxFile& operator=(const PxFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    uint64_t size() const;
    // Reads exactly n bytes; false when the file ends first.
    bool readAt(uint64_t offset, void* buf, size_t n) const;
    // Reads up to n bytes, returns how many.
    size_t readSome(uint64_t offset, void* buf, size_t n) const;
    void writeAt(uint64_t offset, const void* buf, size_t n);
    void truncate(uint64_t size);
    void sync();
    // An exclusive lock between writers (processes and cursors alike) on a byte past any
    // real data; blocks until it is free.
    void lockWriters();
    void unlockWriters();
    // The writers' lock if it is free now; false when another writer holds it.
    bool tryLockWriters();
    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_; }

    // A password-protected table keeps its blocks scrambled on disk; after this, reads and
    // writes at or past dataStart see them plain (whole blocks of blockSize bytes, numbered
    // from 1 at dataStart). Blob files (blobFile) use one key for every 256-byte chunk.
    void setCipher(uint32_t checksum, uint64_t dataStart, size_t blockSize, bool blobFile = false);
    bool ciphered() const { return cipherBlock_ != 0; }

    // While *slot names a journal (a write of the table in progress), reads and writes go
    // through it: writes are held until it commits, sync() is left to it.
    void journalThrough(standard::FileSetJournal* const* slot) { link_.slot = slot; }
    // Where the file's blocks start (its header's size): the journal holds each block in one
    // page.
    void setBlockStart(uint64_t at) { link_.pagePhase = at; }

private:
    size_t readRaw(uint64_t offset, void* buf, size_t n) const;
    size_t readPlain(uint64_t offset, uint8_t* buf, size_t n) const;
    void writePlain(uint64_t offset, const uint8_t* buf, size_t n);
    void putRaw(uint64_t offset, const void* buf, size_t n);
    void unscramble(uint8_t* block, size_t n, uint64_t blockIndex) const;
    void scramble(uint8_t* block, size_t n, uint64_t blockIndex) const;

    uint32_t checksum_ = 0;
    uint64_t dataStart_ = 0;
    size_t cipherBlock_ = 0;
    bool blobCipher_ = false;
    int fd_ = -1;
    bool writable_ = false;
    std::filesystem::path path_;
    mutable standard::JournalLink link_;
};

} // namespace vemo::engine::paradox
