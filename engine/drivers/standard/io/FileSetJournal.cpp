#include "engine/drivers/standard/io/FileSetJournal.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace vemo::engine::standard {
namespace {

constexpr char Magic[8] = {'V', 'E', 'M', 'O', 'J', 'S', 'E', 'T'};
constexpr size_t HeadSize = 32;       // magic, salt, reserved, check
constexpr size_t RecordHead = 28;     // kind, target, value, reserved, length
constexpr uint32_t KindTarget = 1;    // value: size when the journal began; bytes: the name
constexpr uint32_t KindPage = 2;      // value: offset; bytes: the old bytes there
constexpr uint32_t MaxName = 255;

[[noreturn]] void fail(const std::filesystem::path& p, int err) {
    throw EngineError(ErrIO, "ジャーナルを書き込めません: " + p.string() + " (" + std::strerror(err) + ")");
}
[[noreturn]] void failRestore(const std::string& what, int err) {
    throw EngineError(ErrIO, "ファイルを元に戻せません: " + what + " (" + std::strerror(err) + ")");
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t get64(const uint8_t* p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }

// A multiply-xorshift hash over 8-byte words, seeded with the journal's salt: a record of an
// older journal that happens to sit in the same blocks never passes for one of this journal.
uint64_t checkOf(uint64_t salt, const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull ^ salt ^ (uint64_t(n) << 40);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 31;
    }
    for (; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h ^ (h >> 29);
}

size_t readSome(int fd, uint64_t at, void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, n - done, off_t(at + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            throw EngineError(ErrIO, std::string("読み込めません: ") + std::strerror(errno));
        if (r == 0)
            break;
        done += size_t(r);
    }
    return done;
}

uint64_t fileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw EngineError(ErrIO, std::string("ファイルの大きさを調べられません: ") + std::strerror(errno));
    return uint64_t(st.st_size);
}

bool plainName(const std::string& n) {
    return !n.empty() && n.size() <= MaxName && n != "." && n != ".." && n.find('/') == std::string::npos &&
           n.find('\0') == std::string::npos;
}

void appendRecord(std::vector<uint8_t>& out, uint64_t salt, uint32_t kind, uint32_t target, uint64_t value,
                  const uint8_t* bytes, size_t n) {
    const size_t at = out.size();
    out.resize(at + RecordHead + n + 8);
    uint8_t* p = out.data() + at;
    put32(p, kind);
    put32(p + 4, target);
    put64(p + 8, value);
    put64(p + 16, 0);
    put32(p + 24, uint32_t(n));
    if (n)
        std::memcpy(p + RecordHead, bytes, n);
    put64(p + RecordHead + n, checkOf(salt, p, RecordHead + n));
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// One whole record of a journal: false at its end or at the first record that is cut off
// or fails its check word.
struct Record {
    uint32_t kind = 0, target = 0;
    uint64_t value = 0;
    std::vector<uint8_t> bytes;
};
bool readRecord(int fd, uint64_t salt, uint64_t& at, Record& r) {
    uint8_t head[RecordHead];
    if (readSome(fd, at, head, RecordHead) != RecordHead)
        return false;
    const uint32_t n = get32(head + 24);
    if (n > FileSetJournal::PageSize)
        return false;
    std::vector<uint8_t> all(RecordHead + n + 8);
    std::memcpy(all.data(), head, RecordHead);
    if (readSome(fd, at + RecordHead, all.data() + RecordHead, n + 8) != n + 8)
        return false;
    if (get64(all.data() + RecordHead + n) != checkOf(salt, all.data(), RecordHead + n))
        return false;
    r.kind = get32(head);
    r.target = get32(head + 4);
    r.value = get64(head + 8);
    r.bytes.assign(all.begin() + RecordHead, all.begin() + RecordHead + n);
    at += all.size();
    return true;
}

bool readHead(int fd, uint64_t& salt) {
    uint8_t head[HeadSize];
    if (readSome(fd, 0, head, HeadSize) != HeadSize || std::memcmp(head, Magic, 8) != 0 ||
        get64(head + 24) != checkOf(0, head, 24))
        return false;
    salt = get64(head + 8);
    return true;
}

} // namespace

FileSetJournal::FileSetJournal(std::filesystem::path journal) : path_(std::move(journal)) {
    folder_ = std::filesystem::absolute(path_).lexically_normal().parent_path();
    newSalt();
}

FileSetJournal::~FileSetJournal() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FileSetJournal::addTarget(const std::filesystem::path& file, int fd) {
    const auto abs = std::filesystem::absolute(file).lexically_normal();
    const std::string name = abs.filename().string();
    if (abs.parent_path() != folder_ || !plainName(name))
        throw EngineError(ErrInvalidParam, "ジャーナルの対象がフォルダの外です: " + file.string());
    for (size_t i = 0; i < targets_.size(); ++i)
        if (targets_[i]->name == name) {
            targets_[i]->fd = fd;
            return int(i);
        }
    auto t = std::make_unique<Target>();
    t->name = name;
    t->fd = fd;
    t->baseSize = t->size = fileSize(fd);
    targets_.push_back(std::move(t));
    return int(targets_.size() - 1);
}

std::vector<uint8_t>& FileSetJournal::pageOf(Target& t, uint64_t page) {
    auto it = t.pages.find(page);
    if (it != t.pages.end())
        return it->second;
    std::vector<uint8_t> bytes(PageSize, 0);
    readSome(t.fd, page * PageSize, bytes.data(), PageSize);
    pendingBytes_ += PageSize;
    return t.pages.emplace(page, std::move(bytes)).first->second;
}

void FileSetJournal::write(int target, uint64_t offset, const void* data, size_t n) {
    Target& t = *targets_.at(size_t(target));
    const auto* src = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint64_t page = at / PageSize;
        const size_t in = size_t(at % PageSize);
        const size_t take = std::min<size_t>(n - done, PageSize - in);
        std::memcpy(pageOf(t, page).data() + in, src + done, take);
        done += take;
    }
    t.size = std::max(t.size, offset + n);
    if (pendingBytes_ > MaxHeld)
        flush(); // a long write (a batch) holds a bounded amount
}

size_t FileSetJournal::read(int target, uint64_t offset, void* buf, size_t n) const {
    const Target& t = *targets_.at(size_t(target));
    if (offset >= t.size)
        return 0;
    n = size_t(std::min<uint64_t>(n, t.size - offset));
    auto* dst = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint64_t page = at / PageSize;
        const size_t in = size_t(at % PageSize);
        const size_t take = std::min<size_t>(n - done, PageSize - in);
        auto it = t.pages.find(page);
        if (it != t.pages.end()) {
            std::memcpy(dst + done, it->second.data() + in, take);
            done += take;
            continue;
        }
        // Not written by this journal: the file's own bytes, as far as the next page held,
        // in one read (zeros past its end, which only a write past the end can leave).
        auto next = t.pages.upper_bound(page);
        const uint64_t stop = next == t.pages.end() ? offset + n : std::min<uint64_t>(offset + n, next->first * PageSize);
        const size_t run = size_t(stop - at);
        const size_t got = readSome(t.fd, at, dst + done, run);
        std::fill(dst + done + got, dst + done + run, 0);
        done += run;
    }
    return n;
}

uint64_t FileSetJournal::size(int target) const { return targets_.at(size_t(target))->size; }

void FileSetJournal::openJournal() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        fail(path_, errno);
    end_ = 0;
}

void FileSetJournal::newSalt() {
    std::random_device rd;
    salt_ = (uint64_t(rd()) << 32 | rd()) ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

// Puts the old bytes of every held page not journaled yet into the journal, in one write
// and one sync (the folder too when the journal is new).
void FileSetJournal::appendRecords() {
    std::vector<uint8_t> out;
    const bool fresh = fd_ < 0;
    if (fresh) {
        openJournal();
        out.resize(HeadSize);
        std::memcpy(out.data(), Magic, 8);
        put64(out.data() + 8, salt_);
        put64(out.data() + 16, 0);
        put64(out.data() + 24, checkOf(0, out.data(), 24));
    }
    std::vector<uint8_t> old(PageSize);
    for (size_t i = 0; i < targets_.size(); ++i) {
        Target& t = *targets_[i];
        if (t.pages.empty())
            continue;
        if (!t.announced)
            appendRecord(out, salt_, KindTarget, uint32_t(i), t.baseSize, reinterpret_cast<const uint8_t*>(t.name.data()),
                         t.name.size());
        for (const auto& kv : t.pages) {
            const uint64_t from = kv.first * PageSize;
            if (from >= t.baseSize || t.saved.count(kv.first))
                continue;
            const size_t n = size_t(std::min<uint64_t>(PageSize, t.baseSize - from));
            const size_t got = readSome(t.fd, from, old.data(), n);
            std::fill(old.begin() + long(got), old.begin() + long(n), 0);
            appendRecord(out, salt_, KindPage, uint32_t(i), from, old.data(), n);
        }
    }
    if (out.empty())
        return;
    if (int e = writeFully(fd_, end_, out.data(), out.size()))
        fail(path_, e);
    end_ += out.size();
    if (int e = syncData(fd_))
        fail(path_, e);
    if (fresh)
        if (int e = syncDirectoryOf(path_))
            fail(path_, e);
    // Only now are the records down: a failure above leaves them to be written again.
    for (auto& tp : targets_) {
        if (tp->pages.empty())
            continue;
        tp->announced = true;
        for (const auto& kv : tp->pages)
            if (kv.first * PageSize < tp->baseSize)
                tp->saved.insert(kv.first);
    }
}

void FileSetJournal::flush() {
    if (pendingBytes_ == 0)
        return;
    appendRecords();
    for (auto& tp : targets_) {
        Target& t = *tp;
        for (auto it = t.pages.begin(); it != t.pages.end();) {
            const uint64_t from = it->first * PageSize;
            const size_t n = size_t(std::min<uint64_t>(PageSize, t.size - std::min(t.size, from)));
            if (n)
                if (int e = writeFully(t.fd, from, it->second.data(), n))
                    throw EngineError(ErrIO, "ファイルを書き込めません: " + (folder_ / t.name).string() + " (" +
                                                 std::strerror(e) + ")");
            t.dirty = true;
            pendingBytes_ -= PageSize;
            it = t.pages.erase(it);
        }
    }
}

void FileSetJournal::truncate(int target, uint64_t size) {
    flush();
    Target& t = *targets_.at(size_t(target));
    if (size < t.baseSize) {
        // The bytes the cut takes away are journaled first, page by page.
        const uint64_t upTo = std::min(t.baseSize, fileSize(t.fd));
        for (uint64_t page = size / PageSize; page * PageSize < upTo; ++page)
            if (!t.saved.count(page))
                pageOf(t, page);
        appendRecords();
        for (auto it = t.pages.begin(); it != t.pages.end(); it = t.pages.erase(it))
            pendingBytes_ -= PageSize;
    }
    if (int e = truncateFile(t.fd, size))
        throw EngineError(ErrIO, "ファイルを切り詰められません: " + (folder_ / t.name).string() + " (" + std::strerror(e) + ")");
    t.size = size;
    t.dirty = true;
}

// Every file written, synced at once: the syncs run side by side, so the file system can
// serve them with fewer flushes of the disk than one after another would take.
void FileSetJournal::syncTargets() {
    std::vector<Target*> dirty;
    for (auto& tp : targets_)
        if (tp->dirty && tp->fd >= 0)
            dirty.push_back(tp.get());
    std::vector<int> errors(dirty.size(), 0);
    if (dirty.size() > 1 && syncOnPost()) {
        std::vector<std::thread> workers;
        for (size_t i = 1; i < dirty.size(); ++i) {
            try {
                workers.emplace_back([&, i] { errors[i] = syncData(dirty[i]->fd); });
            } catch (const std::system_error&) {
                errors[i] = syncData(dirty[i]->fd); // no thread to spare: this one in turn
            }
        }
        errors[0] = syncData(dirty[0]->fd);
        for (auto& w : workers)
            w.join();
    } else {
        for (size_t i = 0; i < dirty.size(); ++i)
            if ((errors[i] = syncData(dirty[i]->fd)) != 0)
                break;
    }
    for (size_t i = 0; i < dirty.size(); ++i) {
        if (errors[i])
            throw EngineError(ErrIO, "ファイルを書き出せません: " + (folder_ / dirty[i]->name).string() + " (" +
                                         std::strerror(errors[i]) + ")");
        dirty[i]->dirty = false;
    }
}

void FileSetJournal::release(int target) {
    flush();
    Target& t = *targets_.at(size_t(target));
    if (t.dirty && t.fd >= 0)
        if (int e = syncData(t.fd))
            throw EngineError(ErrIO, "ファイルを書き出せません: " + (folder_ / t.name).string() + " (" + std::strerror(e) + ")");
    t.dirty = false;
    t.fd = -1;
}

void FileSetJournal::commit(bool leaveMark) {
    flush();
    syncTargets();
    if (leaveMark) {
        const int fd = fd_ >= 0 ? fd_ : ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            fail(path_, errno);
        int e = truncateFile(fd, 0);
        if (!e)
            e = syncData(fd);
        if (!e && fd_ < 0)
            e = syncDirectoryOf(path_);
        if (fd != fd_)
            ::close(fd);
        if (e)
            fail(path_, e);
    } else if (fd_ >= 0) {
        remove(path_);
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    restart();
}

// Ready for the next write: its files are added anew (their fds may be closed by now).
void FileSetJournal::restart() {
    targets_.clear();
    pendingBytes_ = 0;
    ++generation_;
    newSalt();
}

void FileSetJournal::discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    restart();
}

void FileSetJournal::rollBack(bool leaveMark) {
    for (auto& tp : targets_) {
        pendingBytes_ -= tp->pages.size() * PageSize;
        tp->pages.clear();
        tp->size = tp->baseSize;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        // Through the fds held (a file reached through a link included).
        playBack(path_, {}, [&](const std::string& name) {
            for (const auto& t : targets_)
                if (t->name == name)
                    return t->fd;
            return -1;
        });
    }
    if (leaveMark) {
        commit(true);
    } else {
        remove(path_);
        restart();
    }
}

bool FileSetJournal::playBack(const std::filesystem::path& journal, const std::function<bool(const std::string&)>& allow,
                              const std::function<int(const std::string&)>& openFd) {
    Fd j;
    j.fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    if (j.fd < 0) {
        if (errno == ENOENT)
            return false;
        fail(journal, errno);
    }
    uint64_t salt = 0;
    if (!readHead(j.fd, salt))
        return true; // empty, or cut off before its header was down: no file was touched yet
    const auto folder = std::filesystem::absolute(journal).lexically_normal().parent_path();

    // First pass: the files it names, every one checked before anything is written.
    struct Named {
        std::string name;
        uint64_t baseSize = 0;
        Fd fd;
        int given = -1; // the caller's
        int use() const { return given >= 0 ? given : fd.fd; }
    };
    std::map<uint32_t, Named> named;
    Record r;
    uint64_t at = HeadSize;
    while (readRecord(j.fd, salt, at, r)) {
        if (r.kind != KindTarget)
            continue;
        const std::string name(r.bytes.begin(), r.bytes.end());
        if (!plainName(name) || (allow && !allow(name)) || named.count(r.target))
            throw EngineError(ErrCorruptFile, "ジャーナルが対象外のファイルを指しています: " + journal.string());
        named[r.target].name = name;
        named[r.target].baseSize = r.value;
    }
    Fd dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd < 0)
        failRestore(folder.string(), errno);
    for (auto& [id, n] : named) {
        if (openFd && (n.given = openFd(n.name)) >= 0)
            continue;
        n.fd.fd = ::openat(dir.fd, n.name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (n.fd.fd < 0) {
            if (errno == ENOENT)
                continue; // the file is gone: nothing of it to put back
            failRestore((folder / n.name).string(), errno);
        }
        struct stat st {};
        if (::fstat(n.fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
            throw EngineError(ErrCorruptFile, "ジャーナルの対象が通常のファイルではありません: " + (folder / n.name).string());
    }

    // Second pass: every page back. Each page is journaled once, with its bytes from before
    // the write, so the order does not matter.
    at = HeadSize;
    while (readRecord(j.fd, salt, at, r)) {
        if (r.kind != KindPage)
            continue;
        auto it = named.find(r.target);
        // Only bytes the file had when the journal began were ever saved.
        if (it == named.end() || it->second.use() < 0 || r.value >= it->second.baseSize ||
            r.bytes.size() > it->second.baseSize - r.value)
            continue;
        if (int e = writeFully(it->second.use(), r.value, r.bytes.data(), r.bytes.size()))
            failRestore((folder / it->second.name).string(), e);
    }
    for (auto& [id, n] : named) {
        if (n.use() < 0)
            continue;
        // Cut back to the size it had: the write only ever added past it (a cut the write
        // made is undone by the pages put back above).
        if (fileSize(n.use()) > n.baseSize)
            if (int e = truncateFile(n.use(), n.baseSize))
                failRestore((folder / n.name).string(), e);
        if (int e = syncData(n.use()))
            failRestore((folder / n.name).string(), e);
    }
    return true;
}

bool FileSetJournal::isFileSetJournal(const std::filesystem::path& journal) {
    Fd j;
    j.fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    if (j.fd < 0)
        return false;
    uint8_t head[8];
    return readSome(j.fd, 0, head, 8) == 8 && std::memcmp(head, Magic, 8) == 0;
}

bool FileSetJournal::exists(const std::filesystem::path& journal) {
    std::error_code ec;
    return std::filesystem::exists(journal, ec);
}

void FileSetJournal::remove(const std::filesystem::path& journal) {
    if (::unlink(journal.c_str()) != 0 && errno != ENOENT)
        fail(journal, errno);
    syncDirectoryOf(journal);
}

} // namespace vemo::engine::standard
