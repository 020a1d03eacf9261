#include "engine/export/CsvExport.h"
#include "engine/values/Codepage.h"
#include "engine/export/CsvFormat.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine {

namespace {

// Where an export goes. A regular file (or none yet) is replaced whole: the text goes to a
// temporary file beside it that is renamed over it once complete, keeping the old file's
// mode and owner; a symbolic link is followed, so the file it names is replaced and the link
// stays. A FIFO, device or other special file is written directly, never replaced.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target) {
        std::error_code ec;
        std::filesystem::path real(target);
        if (std::filesystem::is_symlink(real, ec)) {
            const auto resolved = std::filesystem::weakly_canonical(real, ec);
            if (!ec)
                real = resolved;
        }
        struct stat st {};
        const bool exists = ::stat(real.c_str(), &st) == 0;
        int fd = -1;
        if (exists && !S_ISREG(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                fail("CSV ファイルを作成できません");
            }
            direct_ = true;
            fd = ::open(real.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0)
                fail("CSV ファイルを作成できません");
        } else {
            final_ = real.string();
            name_ = (real.parent_path() / ("." + real.filename().string() + ".XXXXXX")).string();
            fd = ::mkstemp(name_.data());
            if (fd < 0)
                fail("CSV ファイルを作成できません");
            if (exists) {
                ::fchmod(fd, st.st_mode & 07777);
                if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
                    // Only root may give a file away; the mode is kept all the same.
                }
            } else {
                ::fchmod(fd, 0644 & ~currentUmask());
            }
        }
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            fail("CSV ファイルを作成できません");
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~TempFile() {
        if (file_)
            std::fclose(file_);
        if (!committed_ && !direct_)
            ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const std::string& data) {
        if (std::fwrite(data.data(), 1, data.size(), file_) != data.size())
            fail("CSV ファイルに書き込めません");
    }
    void commit() {
        if (std::fflush(file_) != 0 || (!direct_ && ::fsync(::fileno(file_)) != 0))
            fail("CSV ファイルに書き込めません");
        const int rc = std::fclose(file_);
        file_ = nullptr;
        if (rc != 0)
            fail("CSV ファイルに書き込めません");
        if (!direct_ && ::rename(name_.c_str(), final_.c_str()) != 0)
            fail("CSV ファイルを保存できません");
        committed_ = true;
    }

private:
    static mode_t currentUmask() {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }
    [[noreturn]] void fail(const char* what) const {
        throw EngineError(ErrIO, std::string(what) + ": " + target_ + " (" + std::strerror(errno) + ")");
    }

    std::string target_, final_, name_;
    FILE* file_ = nullptr;
    bool direct_ = false;
    bool committed_ = false;
};

} // namespace

bool writeCsv(Table& table, const std::function<void(const std::string&)>& sink, const ExportProgress& progress) {
    if (!table.isOpen())
        throw EngineError(ErrInvalidParam, "テーブルが開かれていません。");
    const std::vector<FieldDef> fields = table.fieldDefs();
    const int64_t total = table.recordCount();
    std::string chunk;
    constexpr int64_t kStep = 4096;
    if (progress && !progress(0, total))
        return false;
    int64_t done = 0;
    // Records added meanwhile are written too; the count shown stops at the total.
    const bool finished = table.scanRows([&](const Row& row) {
        appendCsvLine(chunk, row, fields);
        chunk += "\r\n";
        if (++done % kStep == 0) {
            sink(encodeForLocale(chunk));
            chunk.clear();
            if (progress && !progress(std::min(done, total), total))
                return false;
        }
        return true;
    });
    if (!finished)
        return false;
    sink(encodeForLocale(chunk));
    if (progress)
        progress(total, total);
    return true;
}

bool exportCsv(Table& table, const std::string& path, const ExportProgress& progress) {
    if (!table.isOpen())
        throw EngineError(ErrInvalidParam, "テーブルが開かれていません。");
    if (path.empty())
        throw EngineError(ErrInvalidParam, "出力ファイル名が指定されていません。");
    TempFile out(path);
    if (!writeCsv(table, [&](const std::string& block) { out.write(block); }, progress))
        return false;
    out.commit();
    return true;
}

} // namespace vemo::engine
