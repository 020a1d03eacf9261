#pragma once
// A file descriptor with whole reads and writes that report failures as engine errors.
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
    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool writable_ = false;
    std::filesystem::path path_;
};

} // namespace vemo::engine::paradox
