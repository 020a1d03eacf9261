#include "engine/drivers/standard/io/FileOps.h"
#include "engine/contract/EngineError.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine::standard {
namespace {

std::atomic<long> counted{0};
std::atomic<long> failAtOp{0};
std::atomic<int> failErr{0};
std::atomic<bool> failSticky{false};
std::atomic<bool> failKills{false};

// The errno value injected for the next operation, 0 when it is to run.
int injected() {
    if (failAtOp.load(std::memory_order_relaxed) == 0)
        return 0;
    const long n = ++counted;
    const long k = failAtOp.load();
    if (n == k && failKills.load())
        ::raise(SIGKILL);
    if (n == k || (failSticky.load() && n > k))
        return failErr.load();
    return 0;
}

} // namespace

void FaultPlan::failAt(long k, int err, bool sticky) {
    counted = 0;
    failErr = err;
    failSticky = sticky;
    failKills = false;
    failAtOp = k;
}

void FaultPlan::killAt(long k) {
    counted = 0;
    failErr = EIO;
    failSticky = false;
    failKills = true;
    failAtOp = k;
}

void FaultPlan::clear() {
    failAtOp = 0;
    failKills = false;
    counted = 0;
}

long FaultPlan::operations() { return counted.load(); }

int faultPoint() { return injected(); }

int writeFully(int fd, uint64_t offset, const void* buffer, size_t n) {
    if (int e = injected()) {
        // A failing write may still have put part of its bytes down, as a full disk does.
        if (n > 1)
            (void)::pwrite(fd, buffer, n / 2, static_cast<off_t>(offset));
        return e;
    }
    size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < n) {
        const ssize_t r = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(r);
    }
    return 0;
}

int truncateFile(int fd, uint64_t size) {
    if (int e = injected())
        return e;
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

bool syncOnPost() {
    static const bool on = [] {
        const char* v = std::getenv("VEMO32_SYNC");
        return !(v && std::strcmp(v, "0") == 0);
    }();
    return on;
}

int syncData(int fd) {
    if (int e = injected())
        return e;
    if (!syncOnPost())
        return 0;
    return ::fdatasync(fd) == 0 ? 0 : errno;
}

namespace {

int setLock(int fd, int64_t at, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(at);
    fl.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

} // namespace

int lockByte(int fd, int64_t at) { return setLock(fd, at, F_WRLCK, true); }
int unlockByte(int fd, int64_t at) { return setLock(fd, at, F_UNLCK, false); }
int tryLockByte(int fd, int64_t at) { return setLock(fd, at, F_WRLCK, false); }

int syncDirectoryOf(const std::filesystem::path& file) {
    if (!syncOnPost())
        return 0;
    const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int r = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return r == EINVAL ? 0 : r; // some filesystems cannot sync a folder
}

int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (int e = injected())
        return e;
    // A hard link never replaces an existing name; the old name goes after it.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0)
        return errno;
    return 0;
}

std::filesystem::path moveAside(const std::filesystem::path& file, bool apply) {
    for (int n = 1;; ++n) {
        std::filesystem::path to = file;
        to += n == 1 ? std::string(".broken") : ".broken" + std::to_string(n);
        std::error_code ec;
        if (std::filesystem::exists(to, ec) || std::filesystem::is_symlink(to, ec))
            continue;
        if (apply)
            if (int e = renameNoReplace(file, to))
                throw EngineError(ErrIO, "ファイルを移せません: " + file.string() + " (" + std::strerror(e) + ")");
        return to;
    }
}

void replaceFile(const std::filesystem::path& target, const std::function<void(int fd)>& write, const char* what) {
    std::filesystem::path real = target;
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        real = std::filesystem::weakly_canonical(target, ec);
        if (ec)
            real = target;
    }
    struct stat old {};
    const bool existed = ::stat(real.c_str(), &old) == 0;
    std::filesystem::path tmp = real;
    tmp += ".tmp" + std::to_string(::getpid()) + "~";
    ::unlink(tmp.c_str());
    auto fail = [&](int err) {
        ::unlink(tmp.c_str());
        throw EngineError(err == EACCES || err == EROFS || err == EPERM ? ErrReadOnly : ErrIO,
                          std::string(what) + ": " + target.string() + " (" + std::strerror(err) + ")");
    };
    const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, existed ? (old.st_mode & 07777) : 0644);
    if (fd < 0)
        fail(errno);
    try {
        write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
    int err = 0;
    if (existed) {
        // The umask may have narrowed the mode; the owner can be kept only by root.
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            err = errno;
        if (!err && ::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
            err = errno;
    }
    if (!err)
        err = syncData(fd);
    ::close(fd);
    if (err)
        fail(err);
    if (int e = injected())
        fail(e);
    if (::rename(tmp.c_str(), real.c_str()) != 0)
        fail(errno);
    if (int e = syncDirectoryOf(real))
        throw EngineError(ErrIO, std::string(what) + ": " + target.string() + " (" + std::strerror(e) + ")");
}

} // namespace vemo::engine::standard
