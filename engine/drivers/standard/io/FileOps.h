#pragma once
// The file operations every table format of the STANDARD driver writes through: whole
// positioned writes, data syncs, truncation, the writers' byte-range lock and durable
// replacement of a whole file. Each returns 0 or an errno value, so the format's file class
// words the error; a test can make the k-th operation fail to prove that every step of a
// write leaves the files as before or as after.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace vemo::engine::standard {

// Fault injection for tests: the k-th write, sync, truncate or rename from now on (1-based)
// fails with err, and so does every later one while `sticky` (a full disk stays full).
class FaultPlan {
public:
    static void failAt(long k, int err, bool sticky = false);
    // The k-th operation from now on kills the process instead (SIGKILL), for tests that
    // prove a kill at any step leaves whole tables only.
    static void killAt(long k);
    static void clear();
    // Operations counted since the last failAt or clear.
    static long operations();
};

// One counted step of a file operation made elsewhere (a link, an unlink): the errno value
// a FaultPlan injects for it, 0 when it is to run.
int faultPoint();

int writeFully(int fd, uint64_t offset, const void* buffer, size_t n);
int truncateFile(int fd, uint64_t size);
// fdatasync, unless durable syncing is turned off (see syncOnPost).
int syncData(int fd);
// Whether a returned post is on stable storage: fdatasync at each step that orders a write.
// On by default; VEMO32_SYNC=0 in the environment turns it off (a kill of the program
// still loses nothing, a power loss may lose the last posts).
bool syncOnPost();

// An exclusive open-file-description lock on one byte (past any data), held between the
// writers of one table in every process; waits until it is free.
int lockByte(int fd, int64_t at);
int unlockByte(int fd, int64_t at);
// The same lock when it is free at once: 0, or the errno value (EAGAIN: held by another).
int tryLockByte(int fd, int64_t at);

// Replaces target by what write() puts into a new file beside it (a temporary name, synced,
// then renamed over the target, the folder synced): readers see the old file or the new
// one, never half of either. An existing target keeps its mode and, where permitted, its
// owner; a symbolic link is followed, so the file it names is replaced and the link stays.
// Throws EngineError(ErrIO) naming what.
void replaceFile(const std::filesystem::path& target, const std::function<void(int fd)>& write, const char* what);

// Renames from to to; fails when to exists (never overwrites). errno value or 0.
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
int syncDirectoryOf(const std::filesystem::path& file);

// Keeps a file that cannot be used under a free name beside it (NAME.broken, then
// NAME.broken2 ...), never overwriting; with apply off only says which name. Returns the
// name; throws EngineError(ErrIO) when the move fails.
std::filesystem::path moveAside(const std::filesystem::path& file, bool apply);

} // namespace vemo::engine::standard
