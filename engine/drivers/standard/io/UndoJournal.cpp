#include "engine/drivers/standard/io/UndoJournal.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vemo::engine::standard {
namespace {

constexpr char Magic[8] = {'V', 'E', 'M', 'O', 'J', 'N', 'L', '1'};

[[noreturn]] void fail(const std::filesystem::path& p, int err) {
    throw EngineError(ErrIO, "ジャーナルを書き込めません: " + p.string() + " (" + std::strerror(err) + ")");
}

void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint64_t get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// A check word over an entry's position, length and bytes: an entry cut short by a kill
// (or left over from a torn append) is not played back.
uint64_t checkOf(uint64_t offset, uint64_t n, const uint8_t* bytes) {
    uint64_t h = 1469598103934665603ull ^ offset ^ (n << 32);
    for (uint64_t i = 0; i < n; ++i)
        h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

bool readFully(int fd, uint64_t at, void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, n - done, off_t(at + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        done += size_t(r);
    }
    return true;
}

} // namespace

UndoJournal::UndoJournal(std::filesystem::path journal, int targetFd, std::filesystem::path target)
    : path_(std::move(journal)), target_(std::move(target)), targetFd_(targetFd) {}

UndoJournal::~UndoJournal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void UndoJournal::save(uint64_t offset, size_t n, bool durable) {
    if (fd_ < 0) {
        struct stat st {};
        if (::fstat(targetFd_, &st) != 0)
            fail(path_, errno);
        baseSize_ = uint64_t(st.st_size);
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            fail(path_, errno);
        uint8_t head[16];
        std::memcpy(head, Magic, 8);
        put64(head + 8, baseSize_);
        if (int e = writeFully(fd_, 0, head, sizeof head))
            fail(path_, e);
        end_ = sizeof head;
        if (int e = syncData(fd_))
            fail(path_, e);
        if (int e = syncDirectoryOf(path_))
            fail(path_, e);
    }
    if (offset >= baseSize_)
        return;
    n = size_t(std::min<uint64_t>(n, baseSize_ - offset));
    if (!saved_.insert({offset, n}).second)
        return;
    std::vector<uint8_t> entry(16 + n + 8);
    put64(entry.data(), offset);
    put64(entry.data() + 8, n);
    if (!readFully(targetFd_, offset, entry.data() + 16, n))
        fail(target_, EIO);
    put64(entry.data() + 16 + n, checkOf(offset, n, entry.data() + 16));
    if (int e = writeFully(fd_, end_, entry.data(), entry.size())) {
        saved_.erase({offset, n});
        fail(path_, e);
    }
    end_ += entry.size();
    if (durable)
        flush();
}

void UndoJournal::flush() {
    if (fd_ < 0)
        return;
    if (int e = syncData(fd_))
        fail(path_, e);
}

void UndoJournal::commit() {
    if (fd_ < 0)
        return;
    if (int e = syncData(targetFd_))
        throw EngineError(ErrIO, "ファイルを書き出せません: " + target_.string() + " (" + std::strerror(e) + ")");
    removeJournal(path_);
    ::close(fd_);
    fd_ = -1;
    saved_.clear();
}

bool UndoJournal::playBack(const std::filesystem::path& journal, int targetFd, const std::filesystem::path& target) {
    const int fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return false;
        fail(journal, errno);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    uint8_t head[16];
    if (!readFully(fd, 0, head, sizeof head) || std::memcmp(head, Magic, 8) != 0)
        return true; // cut off before its header was down: nothing in the target was touched yet
    const uint64_t baseSize = get64(head + 8);
    struct Entry {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<Entry> entries;
    uint64_t at = sizeof head;
    for (;;) {
        uint8_t eh[16];
        if (!readFully(fd, at, eh, sizeof eh))
            break;
        const uint64_t offset = get64(eh), n = get64(eh + 8);
        if (n > (64u << 20))
            break;
        Entry e{offset, std::vector<uint8_t>(n)};
        uint8_t check[8];
        if (!readFully(fd, at + 16, e.bytes.data(), n) || !readFully(fd, at + 16 + n, check, 8) ||
            get64(check) != checkOf(offset, n, e.bytes.data()))
            break; // the entry being written when the writer stopped: its range was never touched
        entries.push_back(std::move(e));
        at += 16 + n + 8;
    }
    // Oldest image last, so each range ends as it was before the transaction.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (int e = writeFully(targetFd, it->offset, it->bytes.data(), it->bytes.size()))
            throw EngineError(ErrIO, "ファイルを元に戻せません: " + target.string() + " (" + std::strerror(e) + ")");
    struct stat st {};
    if (::fstat(targetFd, &st) == 0 && uint64_t(st.st_size) > baseSize)
        if (int e = truncateFile(targetFd, baseSize))
            throw EngineError(ErrIO, "ファイルを元に戻せません: " + target.string() + " (" + std::strerror(e) + ")");
    if (int e = syncData(targetFd))
        throw EngineError(ErrIO, "ファイルを元に戻せません: " + target.string() + " (" + std::strerror(e) + ")");
    return true;
}

std::filesystem::path UndoJournal::pathFor(const std::filesystem::path& target) {
    std::filesystem::path p = target;
    p += "-journal";
    return p;
}

bool UndoJournal::exists(const std::filesystem::path& journal) {
    std::error_code ec;
    return std::filesystem::exists(journal, ec);
}

void UndoJournal::removeJournal(const std::filesystem::path& journal) {
    if (::unlink(journal.c_str()) != 0 && errno != ENOENT)
        fail(journal, errno);
    syncDirectoryOf(journal);
}

} // namespace vemo::engine::standard
