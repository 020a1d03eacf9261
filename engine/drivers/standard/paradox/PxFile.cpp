#include "PxFile.h"
#include "PxCipher.h"

#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
    if (fd_ >= 0) {
        try {
            link_.release(); // what the journal holds for this fd lands before it closes
        } catch (const EngineError&) {
            // The journal stays on disk: the next writer puts the files back.
        }
        ::close(fd_);
    }
}

PxFile::PxFile(PxFile&& o) noexcept
    : checksum_(o.checksum_), dataStart_(o.dataStart_), cipherBlock_(o.cipherBlock_), blobCipher_(o.blobCipher_),
      fd_(o.fd_), writable_(o.writable_), path_(std::move(o.path_)), link_(o.link_) {
    o.fd_ = -1;
    o.link_ = {};
}

PxFile& PxFile::operator=(PxFile&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) {
            try {
                link_.release();
            } catch (const EngineError&) {
            }
            ::close(fd_);
        }
        fd_ = o.fd_; writable_ = o.writable_; path_ = std::move(o.path_);
        checksum_ = o.checksum_; dataStart_ = o.dataStart_; cipherBlock_ = o.cipherBlock_; blobCipher_ = o.blobCipher_;
        link_ = o.link_;
        o.fd_ = -1;
        o.link_ = {};
    }
    return *this;
}

void PxFile::putRaw(uint64_t offset, const void* buf, size_t n) {
    if (auto* j = link_.route(path_, fd_)) {
        j->write(link_.target, offset, buf, n);
        return;
    }
    if (int e = standard::writeFully(fd_, offset, buf, n)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

void PxFile::setCipher(uint32_t checksum, uint64_t dataStart, size_t blockSize, bool blobFile) {
    checksum_ = checksum;
    dataStart_ = dataStart;
    cipherBlock_ = blockSize;
    blobCipher_ = blobFile;
}

void PxFile::unscramble(uint8_t* block, size_t n, uint64_t blockIndex) const {
    if (blobCipher_) decryptBlobChunks(block, n, checksum_);
    else decryptDataBlock(block, n, checksum_, uint16_t(blockIndex + 1));
}

void PxFile::scramble(uint8_t* block, size_t n, uint64_t blockIndex) const {
    if (blobCipher_) encryptBlobChunks(block, n, checksum_);
    else encryptDataBlock(block, n, checksum_, uint16_t(blockIndex + 1));
}

// Reads the plain bytes of [offset, offset + n) in the scrambled part: every block touched
// is read whole and unscrambled (a block cut short by the end of the file keeps its whole
// 256-byte chunks).
size_t PxFile::readPlain(uint64_t offset, uint8_t* buf, size_t n) const {
    std::vector<uint8_t> block(cipherBlock_);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint64_t index = (at - dataStart_) / cipherBlock_;
        const uint64_t start = dataStart_ + index * cipherBlock_;
        size_t got = readRaw(start, block.data(), block.size());
        got -= got % 256;
        unscramble(block.data(), got, index);
        const size_t inBlock = size_t(at - start);
        if (inBlock >= got) break;
        const size_t take = std::min(n - done, got - inBlock);
        std::memcpy(buf + done, block.data() + inBlock, take);
        done += take;
        if (got < block.size()) break;
    }
    return done;
}

void PxFile::writePlain(uint64_t offset, const uint8_t* buf, size_t n) {
    std::vector<uint8_t> block(cipherBlock_);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint64_t index = (at - dataStart_) / cipherBlock_;
        const uint64_t start = dataStart_ + index * cipherBlock_;
        const size_t inBlock = size_t(at - start);
        const size_t take = std::min(n - done, block.size() - inBlock);
        if (take < block.size()) {
            // Part of a block: the rest of it as it is now.
            std::fill(block.begin(), block.end(), 0);
            readPlain(start, block.data(), block.size());
        }
        std::memcpy(block.data() + inBlock, buf + done, take);
        scramble(block.data(), block.size(), index);
        putRaw(start, block.data(), block.size());
        done += take;
    }
}

uint64_t PxFile::size() const {
    if (auto* j = link_.route(path_, fd_)) return j->size(link_.target);
    struct stat st{};
    if (::fstat(fd_, &st) != 0) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(errno));
    return uint64_t(st.st_size);
}

size_t PxFile::readSome(uint64_t offset, void* buf, size_t n) const {
    if (cipherBlock_ && offset + n > dataStart_) {
        const size_t head = offset < dataStart_ ? size_t(dataStart_ - offset) : 0;
        if (head) { // the header part is stored as it is
            const size_t got = readRaw(offset, buf, head);
            if (got < head) return got;
        }
        return head + readPlain(offset + head, static_cast<uint8_t*>(buf) + head, n - head);
    }
    return readRaw(offset, buf, n);
}

size_t PxFile::readRaw(uint64_t offset, void* buf, size_t n) const {
    if (auto* j = link_.route(path_, fd_)) return j->read(link_.target, offset, buf, n);
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
    if (cipherBlock_ && offset + n > dataStart_) {
        const size_t head = offset < dataStart_ ? size_t(dataStart_ - offset) : 0;
        if (head) putRaw(offset, buf, head);
        writePlain(offset + head, static_cast<const uint8_t*>(buf) + head, n - head);
        return;
    }
    putRaw(offset, buf, n);
}

void PxFile::truncate(uint64_t size) {
    if (auto* j = link_.route(path_, fd_)) {
        j->truncate(link_.target, size);
        return;
    }
    if (int e = standard::truncateFile(fd_, size)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

constexpr int64_t WriterLockByte = 0x7FFFFFF0;

void PxFile::lockWriters() {
    if (int e = standard::lockByte(fd_, WriterLockByte)) throw EngineError(ErrLocked, path_.string() + ": " + std::strerror(e));
}

bool PxFile::tryLockWriters() { return fd_ >= 0 && standard::tryLockByte(fd_, WriterLockByte) == 0; }

void PxFile::unlockWriters() { standard::unlockByte(fd_, WriterLockByte); }

void PxFile::sync() {
    if (link_.route(path_, fd_)) return; // the journal syncs every file of the write once
    if (int e = standard::syncData(fd_)) throw EngineError(ErrIO, path_.string() + ": " + std::strerror(e));
}

} // namespace vemo::engine::paradox
