#pragma once
// What tells whether a file changed since it was last looked at: which file is at the name
// (device, inode), its size and its change times. Any write moves the modification time,
// and the kernel gives it a fresh fine-grained value once the previous one has been looked
// at; a file replaced by a rename has another inode. A writer that records the stamp after
// its own write, under the writers' lock, and finds it unchanged at its next write knows
// that nobody else wrote in between, so what it kept of the file is still the file.
#include <cstdint>
#include <filesystem>

namespace vemo::engine::standard {

struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedNs = 0, changedNs = 0;
    bool valid = false; // false: the file could not be looked at (a stamp that matches none)

    // The file at the path (a link followed), as an open of the name would find it.
    static FileStamp of(const std::filesystem::path& path);
    // The open file itself.
    static FileStamp ofFd(int fd);

    bool operator==(const FileStamp& o) const {
        return valid && o.valid && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
};

} // namespace vemo::engine::standard
