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
constexpr size_t HeadSize = 32;       // magic, salt, version, state, notes, check
constexpr size_t RecordHead = 28;     // kind, target, value, reserved, length
constexpr uint32_t KindTarget = 1;    // value: size when the journal began; bytes: the name
constexpr uint32_t KindPage = 2;      // value: offset; bytes: the old bytes there
constexpr uint32_t KindNote = 3;      // value: the write's notes so far
constexpr uint32_t MaxName = 255;
// The header's version: an earlier one wrote zeros there (a journal in force whose write
// noted nothing of what it did).
constexpr uint16_t Version = 2;
constexpr uint16_t StateInForce = 1, StateIdle = 2, StateMark = 3;

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

struct Head {
    bool ours = false;  // the magic is there
    bool valid = false; // ... and the check word holds
    uint16_t version = 0, state = 0;
    uint32_t notes = 0;
    uint64_t salt = 0;
};
Head parseHead(const uint8_t* p, size_t n) {
    Head h;
    h.ours = n >= 8 && std::memcmp(p, Magic, 8) == 0;
    if (!h.ours || n < HeadSize || get64(p + 24) != checkOf(0, p, 24))
        return h;
    h.valid = true;
    h.salt = get64(p + 8);
    h.version = uint16_t(p[16] | p[17] << 8);
    h.state = uint16_t(p[18] | p[19] << 8);
    h.notes = get32(p + 20);
    return h;
}
void makeHead(uint8_t* p, uint64_t salt, uint16_t state, uint32_t notes) {
    std::memcpy(p, Magic, 8);
    put64(p + 8, salt);
    p[16] = uint8_t(Version);
    p[17] = uint8_t(Version >> 8);
    p[18] = uint8_t(state);
    p[19] = uint8_t(state >> 8);
    put32(p + 20, notes);
    put64(p + 24, checkOf(0, p, 24));
}
FileSetJournal::Found classify(const uint8_t* p, size_t n) {
    using F = FileSetJournal::Found;
    if (n == 0)
        return F::Empty;
    const Head h = parseHead(p, n);
    if (!h.ours)
        return F::Other;
    if (h.valid && h.version == Version && h.state == StateIdle)
        return F::None;
    if (h.valid && h.version == Version && h.state == StateMark)
        return F::Mark;
    return F::Journal; // in force, of an earlier version, or cut off: played back
}

uint64_t mixed(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void addRange(std::map<uint64_t, uint64_t>& r, uint64_t a, uint64_t b) {
    if (a >= b)
        return;
    auto it = r.upper_bound(a);
    if (it != r.begin()) {
        auto before = std::prev(it);
        if (before->second >= a) {
            a = before->first;
            b = std::max(b, before->second);
            r.erase(before);
        }
    }
    while (it != r.end() && it->first <= b) {
        b = std::max(b, it->second);
        it = r.erase(it);
    }
    r.emplace(a, b);
}

// Calls take(from, to) for each part of [a, b) that r does not cover.
template <class Take> void forEachGap(const std::map<uint64_t, uint64_t>& r, uint64_t a, uint64_t b, Take&& take) {
    auto it = r.upper_bound(a);
    if (it != r.begin() && std::prev(it)->second > a)
        a = std::prev(it)->second;
    while (a < b) {
        if (it == r.end() || it->first >= b) {
            take(a, b);
            return;
        }
        if (it->first > a)
            take(a, it->first);
        a = std::max(a, it->second);
        ++it;
    }
}

} // namespace

FileSetJournal::FileSetJournal(std::filesystem::path journal) : path_(std::move(journal)) {
    folder_ = std::filesystem::absolute(path_).lexically_normal().parent_path();
    std::random_device rd;
    saltBase_ = (uint64_t(rd()) << 32 | rd()) ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    restart();
}

FileSetJournal::~FileSetJournal() {
    if (fd_ >= 0)
        ::close(fd_);
}

FileSetJournal::Found FileSetJournal::inspect(const std::filesystem::path& journal) {
    Fd j;
    j.fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    if (j.fd < 0)
        return errno == ENOENT ? Found::None : Found::Journal; // one that cannot be read is not passed over
    uint8_t head[HeadSize];
    return classify(head, readSome(j.fd, 0, head, HeadSize));
}

// Whether the kept file is still the one at the journal's path (another writer, or an
// earlier version of this program, may have removed it since).
bool FileSetJournal::keptFileCurrent() {
    if (fd_ < 0)
        return false;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && uint64_t(st.st_dev) == dev_ && uint64_t(st.st_ino) == inode_)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

bool FileSetJournal::openKept(bool create) {
    if (keptFileCurrent())
        return true;
    int fd = ::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        // Made under another name with an idle header in it, then renamed into place: an
        // empty file at the journal's name is the mark of an earlier version, never ours.
        std::filesystem::path tmp = path_;
        tmp += ".new" + std::to_string(::getpid()) + "~";
        ::unlink(tmp.c_str());
        fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            uint8_t head[HeadSize];
            makeHead(head, 0, StateIdle, 0);
            int e = writeFully(fd, 0, head, HeadSize);
            if (!e && ::rename(tmp.c_str(), path_.c_str()) != 0)
                e = errno;
            if (e) {
                ::close(fd);
                ::unlink(tmp.c_str());
                fail(path_, e);
            }
            created_ = true;
        }
    }
    if (fd < 0) {
        if (errno == ENOENT && !create)
            return false;
        fail(path_, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        fail(path_, e);
    }
    fd_ = fd;
    dev_ = uint64_t(st.st_dev);
    inode_ = uint64_t(st.st_ino);
    return true;
}

FileSetJournal::Found FileSetJournal::begin() {
    restart();
    foundCommit_ = 0;
    if (!openKept(false))
        return foundAtBegin_ = Found::None;
    uint8_t head[HeadSize];
    const size_t n = readSome(fd_, 0, head, HeadSize);
    foundAtBegin_ = classify(head, n);
    if (foundAtBegin_ == Found::None)
        foundCommit_ = parseHead(head, n).salt;
    return foundAtBegin_;
}

int FileSetJournal::addTarget(const std::filesystem::path& file, int fd, uint64_t pagePhase) {
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
    t->baseSize = t->size = t->onDisk = fileSize(fd);
    t->shift = (PageSize - pagePhase % PageSize) % PageSize;
    targets_.push_back(std::move(t));
    return int(targets_.size() - 1);
}

std::vector<uint8_t>& FileSetJournal::pageOf(Target& t, uint64_t page) {
    auto it = t.pages.find(page);
    if (it != t.pages.end())
        return it->second;
    std::vector<uint8_t> bytes(PageSize, 0);
    const size_t skip = pageSkip(t, page);
    const uint64_t from = pageFrom(t, page);
    if (from < t.onDisk) // past the file's end there is nothing to read
        readSome(t.fd, from, bytes.data() + skip, PageSize - skip);
    if (from < t.baseSize)
        t.asRead[page] = bytes;
    pendingBytes_ += PageSize;
    return t.pages.emplace(page, std::move(bytes)).first->second;
}

void FileSetJournal::write(int target, uint64_t offset, const void* data, size_t n) {
    Target& t = *targets_.at(size_t(target));
    const auto* src = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint64_t page = pageAt(t, at);
        const size_t in = inPage(t, at);
        const size_t take = std::min<size_t>(n - done, PageSize - in);
        uint8_t* dst = pageOf(t, page).data() + in;
        // Only the pieces that differ are journaled: callers write whole blocks where a few
        // bytes change (a link, a count), and the journal stays about as small as the change.
        constexpr size_t Piece = 64;
        for (size_t i = 0; i < take;) {
            const size_t len = std::min(Piece, take - i);
            if (std::memcmp(dst + i, src + done + i, len) == 0) {
                i += len;
                continue;
            }
            size_t end = i + len;
            while (end < take && std::memcmp(dst + end, src + done + end, std::min(Piece, take - end)) != 0)
                end += std::min(Piece, take - end);
            addRange(t.changed, at + i, at + end);
            i = end;
        }
        std::memcpy(dst, src + done, take);
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
        const uint64_t page = pageAt(t, at);
        const size_t in = inPage(t, at);
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
        const uint64_t stop = next == t.pages.end() ? offset + n : std::min<uint64_t>(offset + n, pageFrom(t, next->first));
        const size_t run = size_t(stop - at);
        const size_t got = readSome(t.fd, at, dst + done, run);
        std::fill(dst + done + got, dst + done + run, 0);
        done += run;
    }
    return n;
}

uint64_t FileSetJournal::size(int target) const { return targets_.at(size_t(target))->size; }

void FileSetJournal::note(uint32_t bits, bool durable) {
    notes_ |= bits;
    if (durable && (!begun_ || notes_ != notesDown_))
        appendRecords();
}

// Puts the old bytes of every range changed and not journaled yet into the journal, in one
// write and one sync: with this write's header in front when it is the first (the folder
// synced too when the journal file is new).
// The journal file synced, and its folder too when the file is new (its name must survive).
void FileSetJournal::syncKept() {
    if (int e = syncData(fd_))
        fail(path_, e);
    if (created_) {
        if (int e = syncDirectoryOf(path_))
            fail(path_, e);
        created_ = false;
    }
}

// n old bytes of a target from `at` (n at most a page): from the held pages as they were
// read where there are some, else from the file (zeros past its end).
void FileSetJournal::readOld(Target& t, uint64_t at, size_t n, uint8_t* dst) {
    const uint64_t first = pageAt(t, at), last = pageAt(t, at + n - 1);
    if (!t.asRead.count(first) && !t.asRead.count(last)) {
        const size_t got = readSome(t.fd, at, dst, n);
        std::fill(dst + got, dst + n, 0);
        return;
    }
    for (size_t done = 0; done < n;) {
        const uint64_t pos = at + done, page = pageAt(t, pos);
        const size_t in = inPage(t, pos), take = std::min(n - done, PageSize - in);
        auto it = t.asRead.find(page);
        if (it != t.asRead.end()) {
            std::memcpy(dst + done, it->second.data() + in, take);
        } else {
            const size_t got = readSome(t.fd, pos, dst + done, take);
            std::fill(dst + done + got, dst + done + take, 0);
        }
        done += take;
    }
}

void FileSetJournal::appendRecords() {
    std::vector<uint8_t> out;
    const bool fresh = !begun_;
    if (fresh) {
        openKept(true);
        out.resize(HeadSize);
        makeHead(out.data(), salt_, StateInForce, notes_);
    } else if (notes_ != notesDown_) {
        appendRecord(out, salt_, KindNote, 0, notes_, nullptr, 0);
    }
    std::vector<uint8_t> old(PageSize);
    for (size_t i = 0; i < targets_.size(); ++i) {
        Target& t = *targets_[i];
        if (t.changed.empty())
            continue;
        if (!t.announced)
            appendRecord(out, salt_, KindTarget, uint32_t(i), t.baseSize, reinterpret_cast<const uint8_t*>(t.name.data()),
                         t.name.size());
        // Only bytes the file had when the journal began, and each of them once.
        for (const auto& [from, to] : t.changed) {
            forEachGap(t.saved, from, std::min(to, t.baseSize), [&](uint64_t a, uint64_t b) {
                for (uint64_t at = a; at < b; at += PageSize) {
                    const size_t n = size_t(std::min<uint64_t>(PageSize, b - at));
                    readOld(t, at, n, old.data());
                    appendRecord(out, salt_, KindPage, uint32_t(i), at, old.data(), n);
                }
            });
        }
    }
    if (out.empty())
        return;
    const uint64_t at = fresh ? 0 : end_;
    touched_ = true;
    if (int e = writeFully(fd_, at, out.data(), out.size()))
        fail(path_, e);
    syncKept();
    // Only now are the records down: a failure above leaves them to be written again.
    end_ = at + out.size();
    begun_ = true;
    notesDown_ = notes_;
    for (auto& tp : targets_) {
        if (tp->changed.empty())
            continue;
        tp->announced = true;
        for (const auto& [from, to] : tp->changed)
            addRange(tp->saved, from, std::min(to, tp->baseSize));
        tp->changed.clear();
    }
}

void FileSetJournal::flush() {
    if (pendingBytes_ == 0)
        return;
    appendRecords();
    for (auto& tp : targets_) {
        Target& t = *tp;
        for (auto it = t.pages.begin(); it != t.pages.end();) {
            const uint64_t from = pageFrom(t, it->first);
            const size_t skip = pageSkip(t, it->first);
            const size_t n = size_t(std::min<uint64_t>(PageSize - skip, t.size - std::min(t.size, from)));
            // A page the file holds already as it is held here is not written again.
            const auto read = t.asRead.find(it->first);
            const bool same = read != t.asRead.end() && from + n <= t.onDisk &&
                              std::memcmp(read->second.data() + skip, it->second.data() + skip, n) == 0;
            if (n && !same) {
                if (int e = writeFully(t.fd, from, it->second.data() + skip, n))
                    throw EngineError(ErrIO, "ファイルを書き込めません: " + (folder_ / t.name).string() + " (" +
                                                 std::strerror(e) + ")");
                t.onDisk = std::max(t.onDisk, from + n);
                t.dirty = true;
            }
            pendingBytes_ -= PageSize;
            t.asRead.erase(it->first);
            it = t.pages.erase(it);
        }
    }
}

void FileSetJournal::truncate(int target, uint64_t size) {
    flush();
    Target& t = *targets_.at(size_t(target));
    if (size < t.baseSize) {
        // The bytes the cut takes away are journaled first.
        addRange(t.changed, size, std::min(t.baseSize, fileSize(t.fd)));
        appendRecords();
    }
    if (int e = truncateFile(t.fd, size))
        throw EngineError(ErrIO, "ファイルを切り詰められません: " + (folder_ / t.name).string() + " (" + std::strerror(e) + ")");
    t.size = t.onDisk = size;
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

// Overwrites the header: idle (nothing to undo) or a mark, synced before the call returns.
// Records of earlier writes behind it never pass their check words under another salt.
void FileSetJournal::writeState(uint16_t state) {
    if (!openKept(state == StateMark))
        return; // no file, and none needed
    // An idle header carries the salt of the write it ends: the commit's mark, which the next
    // writer finds at its begin (another writer's commit leaves another).
    uint8_t head[HeadSize];
    makeHead(head, state == StateIdle ? salt_ : 0, state, 0);
    idling_ = begun_;
    committed_ = 0; // until the header is down
    if (int e = writeFully(fd_, 0, head, HeadSize))
        fail(path_, e);
    if (end_ > KeepBytes)
        if (int e = truncateFile(fd_, HeadSize))
            fail(path_, e);
    syncKept();
    committed_ = state == StateIdle ? salt_ : 0;
}

void FileSetJournal::commit(bool leaveMark) {
    flush();
    syncTargets();
    settle(leaveMark);
}

// The journal as it stays after a write: the mark of lagging indexes, or idle when this write
// (or one found when it began) put anything into it; then ready for the next write.
void FileSetJournal::settle(bool leaveMark) {
    if (leaveMark)
        writeState(StateMark);
    else if (begun_ || touched_ || foundAtBegin_ != Found::None)
        writeState(StateIdle);
    restart();
}

// Ready for the next write: its files are added anew (their fds may be closed by now), its
// records go under a salt of their own.
void FileSetJournal::restart() {
    targets_.clear();
    pendingBytes_ = 0;
    ++generation_;
    begun_ = touched_ = idling_ = false;
    foundAtBegin_ = Found::None;
    end_ = 0;
    notes_ = notesDown_ = 0;
    salt_ = mixed(saltBase_ + ++writes_);
    if (salt_ == 0)
        salt_ = 1; // 0 stands for no write (an idle header of an earlier version, or a mark)
}

void FileSetJournal::discard() { restart(); }

void FileSetJournal::rollBack(bool leaveMark) {
    for (auto& tp : targets_) {
        pendingBytes_ -= tp->pages.size() * PageSize;
        tp->pages.clear();
        tp->asRead.clear();
        tp->changed.clear();
        tp->size = tp->baseSize;
    }
    leaveMark = leaveMark || (notes_ & NoteMark);
    if (begun_) {
        if (idling_) {
            // The header again as this write put it down: the commit failed while making
            // the journal idle, and may have left part of the idle header over it.
            uint8_t head[HeadSize];
            makeHead(head, salt_, StateInForce, notesDown_);
            if (int e = writeFully(fd_, 0, head, HeadSize))
                fail(path_, e);
        }
        // Through the fds held (a file reached through a link included).
        playBack(path_, {}, [&](const std::string& name) {
            for (const auto& t : targets_)
                if (t->name == name)
                    return t->fd;
            return -1;
        });
    }
    settle(leaveMark);
}

void FileSetJournal::retire() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    removeIdle(path_);
}

void FileSetJournal::removeIdle(const std::filesystem::path& journal) {
    std::error_code ec;
    if (inspect(journal) == Found::None && std::filesystem::is_regular_file(journal, ec))
        ::unlink(journal.c_str()); // a journal left idle is no harm: a failure is not reported
}

FileSetJournal::Outcome FileSetJournal::playBack(const std::filesystem::path& journal,
                                                 const std::function<bool(const std::string&)>& allow,
                                                 const std::function<int(const std::string&)>& openFd) {
    Outcome out;
    Fd j;
    j.fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    if (j.fd < 0) {
        if (errno == ENOENT)
            return out;
        fail(journal, errno);
    }
    uint8_t headBytes[HeadSize];
    const size_t got = readSome(j.fd, 0, headBytes, HeadSize);
    const Head head = parseHead(headBytes, got);
    switch (classify(headBytes, got)) {
    case Found::None:
        return out;
    case Found::Empty:
    case Found::Mark:
        out.found = out.mark = true;
        return out;
    default:
        break;
    }
    out.found = true;
    if (!head.valid) {
        // Cut off before its header was down (no file was touched yet), or not a journal of
        // this kind: nothing to play, and nothing known of its write.
        out.known = false;
        return out;
    }
    out.known = head.version == Version && head.state == StateInForce;
    out.notes = head.notes;
    const uint64_t salt = head.salt;
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
        if (r.kind == KindNote) {
            out.notes |= uint32_t(r.value);
            continue;
        }
        if (r.kind != KindTarget)
            continue;
        const std::string name(r.bytes.begin(), r.bytes.end());
        if (!plainName(name) || (allow && !allow(name)) || named.count(r.target))
            throw EngineError(ErrCorruptFile, "ジャーナルが対象外のファイルを指しています: " + journal.string());
        named[r.target].name = name;
        named[r.target].baseSize = r.value;
    }
    out.mark = (out.notes & NoteMark) != 0;
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

    // Second pass: every range back. Each byte is journaled once, with its value from
    // before the write, so the order does not matter.
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
        // made is undone by the ranges put back above).
        if (fileSize(n.use()) > n.baseSize)
            if (int e = truncateFile(n.use(), n.baseSize))
                failRestore((folder / n.name).string(), e);
        if (int e = syncData(n.use()))
            failRestore((folder / n.name).string(), e);
    }
    return out;
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
