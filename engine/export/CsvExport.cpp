#include "engine/export/CsvExport.h"
#include "engine/values/Codepage.h"
#include "engine/export/CsvFormat.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine {

namespace {

// A temporary file beside the target that is removed unless committed.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target) {
        std::filesystem::path p(target);
        name_ = (p.parent_path() / ("." + p.filename().string() + ".XXXXXX")).string();
        const int fd = ::mkstemp(name_.data());
        if (fd < 0)
            fail("CSV ファイルを作成できません");
        ::fchmod(fd, 0644 & ~currentUmask());
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
        if (!committed_)
            ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const std::string& data) {
        if (std::fwrite(data.data(), 1, data.size(), file_) != data.size())
            fail("CSV ファイルに書き込めません");
    }
    void commit() {
        if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0)
            fail("CSV ファイルに書き込めません");
        const int rc = std::fclose(file_);
        file_ = nullptr;
        if (rc != 0)
            fail("CSV ファイルに書き込めません");
        if (::rename(name_.c_str(), target_.c_str()) != 0)
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

    std::string target_, name_;
    FILE* file_ = nullptr;
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
