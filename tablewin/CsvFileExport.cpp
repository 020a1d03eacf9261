#include "tablewin/CsvFileExport.h"

#include "engine/Codepage.h"
#include "engine/CsvFormat.h"
#include "engine/EngineError.h"
#include "engine/Table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::tablewin {

namespace {

[[noreturn]] void ioError(const std::string& what, const std::filesystem::path& file)
{
    throw engine::EngineError(engine::ErrIO, what + ": " + file.string() + ": " + std::strerror(errno));
}

// The temporary file is removed unless it was renamed into place.
struct TempFile {
    std::filesystem::path path;
    FILE* fp = nullptr;
    bool keep = false;
    ~TempFile()
    {
        if (fp)
            std::fclose(fp);
        if (!keep) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    }
};

} // namespace

int64_t exportCsvFile(engine::Table& table, const std::filesystem::path& target, const CsvProgress& progress)
{
    const auto& fields = table.fieldDefs();
    const int64_t total = table.recordCount();

    TempFile tmp;
    std::string pattern = (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path())
                              .string() + "/." + target.filename().string() + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        ioError("cannot create", target);
    tmp.path = name.data();
    tmp.fp = fdopen(fd, "wb");
    if (!tmp.fp) {
        ::close(fd);
        ioError("cannot create", target);
    }

    std::vector<std::string> texts(fields.size());
    engine::Row row;
    int64_t written = 0;
    for (int64_t pos = 0; table.rowAt(pos, row); ++pos) {
        for (size_t i = 0; i < fields.size(); ++i)
            texts[i] = i < row.size() ? engine::valueToText(row[i], fields[i].type) : std::string();
        const std::string line = engine::encodeForLocale(engine::csvLine(texts, fields)) + "\r\n";
        if (std::fwrite(line.data(), 1, line.size(), tmp.fp) != line.size())
            ioError("cannot write", target);
        ++written;
        if (progress && !progress(written, total))
            throw engine::EngineError(engine::ErrGeneral, "export cancelled");
    }
    if (std::fflush(tmp.fp) != 0 || fsync(fileno(tmp.fp)) != 0)
        ioError("cannot write", target);
    if (std::fclose(tmp.fp) != 0) {
        tmp.fp = nullptr;
        ioError("cannot write", target);
    }
    tmp.fp = nullptr;
    // mkstemp makes the file 0600; an export is an ordinary document.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tmp.path.c_str(), 0666 & ~mask);
    if (std::rename(tmp.path.c_str(), target.c_str()) != 0)
        ioError("cannot write", target);
    tmp.keep = true;
    return written;
}

} // namespace vemo::tablewin
