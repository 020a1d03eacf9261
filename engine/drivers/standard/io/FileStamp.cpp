#include "engine/drivers/standard/io/FileStamp.h"

#include <sys/stat.h>

namespace vemo::engine::standard {
namespace {

FileStamp fromStat(const struct stat& st) {
    FileStamp s;
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    s.size = uint64_t(st.st_size);
    s.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    s.valid = true;
    return s;
}

} // namespace

FileStamp FileStamp::of(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? fromStat(st) : FileStamp{};
}

FileStamp FileStamp::ofFd(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? fromStat(st) : FileStamp{};
}

} // namespace vemo::engine::standard
