#include "PxFile.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine::paradox {

PxFile::PxFile(const std::filesystem::path& path, Mode mode) : path_(path) {
    int flags = O_CLOEXEC;
    if (mode == ReadOnly) flags |= O_RDONLY;
    else if (mode == ReadWrite) flags |= O_RDWR;
    else flags |= O_RDWR | O_CREAT | O_EXCL;
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        const int e = errno;
        throw EngineError(e == ENOENT ? ErrNotFound : (e == EEXIST ? ErrInvalidParam : ErrIO),
                          path.string() + ": " + std::strerror(e));
    }
    writable_ = mode != ReadOnly;
}

PxFile::~PxFile() {
    if (fd_ >= 0) ::close(fd_);
}

PxFile::PxFile(PxFile&& o) noexcept : fd_(o.fd_), writable_(o.writable_), path_(std::move(o.path_)) { o.fd_ = -1; }

PxFile& PxFile::operator=(PxFile&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.fd_; writable_ = o.writable_; path_ = std::move(o.path_);
        o.fd_ = -1;
    }
    return *this;
}

uint64_t PxFile::size() const {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
    return uint64_t(st.st_size);
}

size_t PxFile::readSome(uint64_t offset, void* buf, size_t n) const {
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
        }
        if (r == 0) break;
        done += size_t(r);
    }
    return done;
}

bool PxFile::readAt(uint64_t offset, void* buf, size_t n) const { return readSome(offset, buf, n) == n; }

void PxFile::writeAt(uint64_t offset, const void* buf, size_t n) {
    if (!writable_) throw EngineError(ErrReadOnly, path_.string() + ": 読み取り専用で開かれています");
    if (int e = standard::writeFully(fd_, offset, buf, n)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

void PxFile::truncate(uint64_t size) {
    if (int e = standard::truncateFile(fd_, size)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

constexpr int64_t WriterLockByte = 0x7FFFFFF0;

void PxFile::lockWriters() {
    if (int e = standard::lockByte(fd_, WriterLockByte)) throw EngineError(ErrLocked, path_.string() + ": " + std::strerror(e));
}

void PxFile::unlockWriters() { standard::unlockByte(fd_, WriterLockByte); }

void PxFile::sync() {
    if (int e = standard::syncData(fd_)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

} // namespace vemo::engine::paradox
