#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine::dbase {
namespace {

[[noreturn]] void ioError(const std::filesystem::path& path, const char* what, int err) {
    int code = err == ENOENT ? ErrNotFound : (err == EACCES || err == EROFS || err == EPERM) ? ErrReadOnly : ErrIO;
    throw EngineError(code, std::string(what) + ": " + path.string() + " (" + std::strerror(err) + ")");
}

} // namespace

File::File(const std::filesystem::path& path, bool writable) : writable_(writable), path_(path) {
    fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd_ < 0)
        ioError(path, "ファイルを開けません", errno);
}

File File::create(const std::filesystem::path& path) {
    File f;
    f.path_ = path;
    f.writable_ = true;
    f.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (f.fd_ < 0)
        ioError(path, "ファイルを作成できません", errno);
    return f;
}

File::~File() {
    if (fd_ >= 0)
        ::close(fd_);
}

File::File(File&& other) noexcept
    : journal_(other.journal_), target_(other.target_), fd_(other.fd_), writable_(other.writable_),
      path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.journal_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        journal_ = other.journal_;
        target_ = other.target_;
        other.fd_ = -1;
        other.journal_ = nullptr;
    }
    return *this;
}

uint64_t File::size() const {
    if (journal_)
        return journal_->size(target_);
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        ioError(path_, "ファイルの大きさを取得できません", errno);
    return static_cast<uint64_t>(st.st_size);
}

size_t File::readAt(uint64_t offset, void* buffer, size_t n) const {
    if (journal_)
        return journal_->read(target_, offset, buffer, n);
    size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ioError(path_, "ファイルを読めません", errno);
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return done;
}

void File::writeAt(uint64_t offset, const void* buffer, size_t n) {
    if (journal_) {
        journal_->write(target_, offset, buffer, n);
        return;
    }
    if (int e = standard::writeFully(fd_, offset, buffer, n))
        ioError(path_, "ファイルに書き込めません", e);
}

void File::truncate(uint64_t size) {
    if (journal_) {
        journal_->truncate(target_, size);
        return;
    }
    if (int e = standard::truncateFile(fd_, size))
        ioError(path_, "ファイルの大きさを変更できません", e);
}

void File::sync() {
    if (journal_)
        return; // the journal's commit syncs every file it changed
    if (int e = standard::syncData(fd_))
        ioError(path_, "ファイルを書き出せません", e);
}

} // namespace vemo::engine::dbase
