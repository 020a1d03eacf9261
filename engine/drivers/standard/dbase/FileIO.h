#pragma once
// A file descriptor that closes itself, with whole-buffer positioned reads and writes that
// turn every failure into an EngineError naming the file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vemo::engine::standard {
class FileSetJournal;
}

namespace vemo::engine::dbase {

class File {
public:
    File() = default;
    // Opens an existing file; for writing when writable. Throws ErrNotFound / ErrIO.
    File(const std::filesystem::path& path, bool writable);
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Creates a new file; fails when it exists.
    static File create(const std::filesystem::path& path);

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    uint64_t size() const;

    // Reads up to n bytes at offset; returns how many were there (short at end of file).
    size_t readAt(uint64_t offset, void* buffer, size_t n) const;
    // Writes all n bytes at offset.
    void writeAt(uint64_t offset, const void* buffer, size_t n);
    void truncate(uint64_t size);
    void sync();

    // While a write is journaled, the journal holds what is written and reads see it; a
    // sync is left to the journal's commit. detach() goes back to the file itself.
    void attach(standard::FileSetJournal* journal, int target) {
        journal_ = journal;
        target_ = target;
    }
    void detach() { journal_ = nullptr; }
    bool attached() const { return journal_ != nullptr; }

private:
    standard::FileSetJournal* journal_ = nullptr;
    int target_ = -1;
    int fd_ = -1;
    bool writable_ = false;
    std::filesystem::path path_;
};

} // namespace vemo::engine::dbase
