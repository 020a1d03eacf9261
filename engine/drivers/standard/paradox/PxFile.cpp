#include "PxFile.h"

#include "engine/contract/EngineError.h"

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
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
        }
        done += size_t(r);
    }
}

void PxFile::truncate(uint64_t size) {
    if (::ftruncate(fd_, off_t(size)) != 0) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
}

void PxFile::lockWriters() {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x7FFFFFF0;
    fl.l_len = 1;
    while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
        if (errno != EINTR) throw EngineError(ErrLocked, path_.string() + ": " + std::strerror(errno));
    }
}

void PxFile::unlockWriters() {
    struct flock fl{};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x7FFFFFF0;
    fl.l_len = 1;
    ::fcntl(fd_, F_OFD_SETLK, &fl);
}

void PxFile::sync() {
    if (::fdatasync(fd_) != 0) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
}

} // namespace vemo::engine::paradox
