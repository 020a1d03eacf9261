#include "engine/drivers/standard/TableFiles.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine::standard {
namespace {

constexpr const char* kPrefix = ".vemo32-";
constexpr const char* kLock = "lock";
constexpr const char* kPlan = "plan";
constexpr const char* kMagic = "VEMO32-MOVES ";
constexpr size_t kMaxPlan = 1 << 20;

[[noreturn]] void ioError(const std::string& what, int err) {
    throw EngineError(err == EACCES || err == EROFS || err == EPERM ? ErrReadOnly : ErrIO,
                      what + " (" + std::strerror(err) + ")");
}

bool plainName(const std::string& s) {
    return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos && s.find('\0') == std::string::npos;
}

// Moves from to to without ever replacing an existing to; a move already made (from gone)
// is done. Each step counts for fault injection. errno value or 0.
int moveOne(const std::filesystem::path& from, const std::filesystem::path& to) {
    struct stat a {};
    if (::lstat(from.c_str(), &a) != 0)
        return errno == ENOENT ? 0 : errno;
    if (int e = faultPoint())
        return e;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A filesystem without the no-replace rename: a hard link never replaces a name either,
    // and a link already made by a killed move is recognised by its inode.
    if (::link(from.c_str(), to.c_str()) != 0) {
        const int e = errno;
        struct stat b {};
        if (e != EEXIST || ::lstat(to.c_str(), &b) != 0 || b.st_ino != a.st_ino || b.st_dev != a.st_dev)
            return e;
    }
    if (int e = faultPoint())
        return e;
    return ::unlink(from.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

std::string planText(const std::vector<std::pair<std::string, std::string>>& moves) {
    std::string s = kMagic + std::to_string(moves.size()) + "\n";
    for (const auto& [from, to] : moves) {
        s += from;
        s += '\0';
        s += to;
        s += '\0';
    }
    return s + "END\n";
}

// The moves of a whole plan, relative to the table folder; false for a missing, torn or
// foreign one (nothing has been moved then).
bool readPlan(const std::filesystem::path& file, const std::string& folderName,
              std::vector<std::pair<std::string, std::string>>& moves) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string s;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || s.size() + size_t(n) > kMaxPlan)
            break;
        s.append(buf, size_t(n));
    }
    ::close(fd);
    const size_t magic = std::strlen(kMagic);
    if (s.compare(0, magic, kMagic) != 0)
        return false;
    size_t pos = magic;
    size_t count = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && count < 100000)
        count = count * 10 + size_t(s[pos++] - '0');
    if (pos >= s.size() || s[pos++] != '\n' || count == 0 || count >= 100000)
        return false;
    auto valid = [&](const std::string& p) {
        const size_t slash = p.find('/');
        if (slash == std::string::npos)
            return plainName(p);
        return p.substr(0, slash) == folderName && plainName(p.substr(slash + 1));
    };
    moves.clear();
    for (size_t i = 0; i < count; ++i) {
        std::string part[2];
        for (auto& x : part) {
            const size_t end = s.find('\0', pos);
            if (end == std::string::npos)
                return false;
            x = s.substr(pos, end - pos);
            pos = end + 1;
            if (!valid(x))
                return false;
        }
        moves.emplace_back(part[0], part[1]);
    }
    return s.compare(pos, std::string::npos, "END\n") == 0;
}

// Makes the moves in order, the folder synced before the last one (the table file) and
// after it. errno value or 0; untouched is set when the failure came before any move.
int makeMoves(const std::filesystem::path& dir, const std::vector<std::pair<std::string, std::string>>& moves,
              bool& untouched) {
    untouched = false;
    for (size_t i = 0; i < moves.size(); ++i) {
        if (i + 1 == moves.size() && moves.size() > 1)
            if (int e = syncDirectoryOf(dir / "."))
                return e;
        struct stat st {};
        const bool pending = ::lstat((dir / moves[i].first).c_str(), &st) == 0;
        if (int e = moveOne(dir / moves[i].first, dir / moves[i].second)) {
            // A name taken by someone else before the first move: nothing to finish.
            untouched = i == 0 && pending && e == EEXIST;
            return e;
        }
    }
    return syncDirectoryOf(dir / ".");
}

// Removes a staging folder and what is left in it, the plan before the lock and the folder.
void removeStaging(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string n = e.path().filename().string();
        if (n != kLock && n != kPlan)
            std::filesystem::remove_all(e.path(), ec);
    }
    ::unlink((folder / kPlan).c_str());
    ::unlink((folder / kLock).c_str());
    ::rmdir(folder.c_str());
}

} // namespace

bool isStagingName(const std::string& name) { return name.rfind(kPrefix, 0) == 0; }

TableStaging::TableStaging(const std::filesystem::path& dir) : dir_(dir.empty() ? "." : dir) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string tmpl = (dir_ / (std::string(kPrefix) + "XXXXXX")).string();
        if (!::mkdtemp(tmpl.data()))
            ioError("作業用フォルダを作成できません: " + dir_.string(), errno);
        folder_ = tmpl;
        const auto lock = folder_ / kLock;
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            struct stat a {}, b {};
            // A mender that found the folder before its lock may have removed it: take a
            // new one then.
            if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &a) == 0 && ::stat(lock.c_str(), &b) == 0 &&
                a.st_ino == b.st_ino) {
                lockFd_ = fd;
                return;
            }
            ::close(fd);
        } else if (errno != ENOENT) {
            const int e = errno;
            ::rmdir(folder_.c_str());
            ioError("作業用フォルダを作成できません: " + dir_.string(), e);
        }
    }
    throw EngineError(ErrIO, "作業用フォルダを作成できません: " + dir_.string());
}

TableStaging::~TableStaging() {
    if (!planned_)
        removeStaging(folder_);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

void TableStaging::commit(const std::vector<Move>& moves) {
    const std::string folderName = folder_.filename().string();
    auto relative = [&](const std::filesystem::path& p) -> std::string {
        const auto parent = p.parent_path().empty() ? std::filesystem::path(".") : p.parent_path();
        const std::string name = p.filename().string();
        std::error_code ec;
        if (plainName(name) && std::filesystem::equivalent(parent, folder_, ec))
            return folderName + "/" + name;
        if (plainName(name) && std::filesystem::equivalent(parent, dir_, ec))
            return name;
        throw EngineError(ErrInvalidParam, "テーブルのフォルダの外のファイルです: " + p.string());
    };
    std::vector<std::pair<std::string, std::string>> rel;
    for (const auto& [from, to] : moves)
        rel.emplace_back(relative(from), relative(to));
    if (rel.empty()) {
        removeStaging(folder_);
        return;
    }
    const std::string text = planText(rel);
    const auto plan = folder_ / kPlan;
    const int fd = ::open(plan.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        ioError("作業ファイルを作成できません: " + plan.string(), errno);
    int err = writeFully(fd, 0, text.data(), text.size());
    if (!err)
        err = syncData(fd);
    ::close(fd);
    if (!err)
        err = syncDirectoryOf(plan);
    if (err)
        ioError("作業ファイルに書き込めません: " + plan.string(), err);
    // From here on the moves are recorded: a kill or a failure is finished by mendFolder.
    planned_ = true;
    bool untouched = false;
    if (int e = makeMoves(dir_, rel, untouched)) {
        if (untouched) {
            ::unlink(plan.c_str());
            planned_ = false; // the staging folder goes with this object
            throw EngineError(ErrInvalidParam, "同じ名前のファイルが既にあります: " + rel.front().second);
        }
        ioError("テーブルのファイルを移動できません: " + dir_.string(), e);
    }
    removeStaging(folder_);
}

void mendFolder(const std::filesystem::path& given) {
    const std::filesystem::path dir = given.empty() ? "." : given;
    std::error_code ec;
    std::vector<std::filesystem::path> folders;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (isStagingName(e.path().filename().string()) && e.is_directory(ec) && !e.is_symlink(ec))
            folders.push_back(e.path());
    for (const auto& folder : folders) {
        const int fd = ::open((folder / kLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            // Killed before its lock was made (the folder is empty), or being made right now.
            ::rmdir(folder.c_str());
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd); // a live process is at work in it
            continue;
        }
        std::vector<std::pair<std::string, std::string>> moves;
        bool untouched = false;
        if (readPlan(folder / kPlan, folder.filename().string(), moves)) {
            if (makeMoves(dir, moves, untouched) != 0 && !untouched) {
                ::close(fd); // left for a later call (a name taken since, a read-only folder)
                continue;
            }
        }
        removeStaging(folder);
        ::close(fd);
    }
}

} // namespace vemo::engine::standard
