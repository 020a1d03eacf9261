// Fuzzes the playback of a journal shared by several files. Half the inputs are journals as
// they are; the other half drive a real write over three files (offsets and lengths from the
// input), stop it once its journal is down, then cut or flip bytes of that journal as the
// rest of the input says. Playback must end in an engine error or put back what it can,
// never crash, hang or write outside the three files.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/io/FileSetJournal.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using vemo::engine::EngineError;
using vemo::engine::standard::FileSetJournal;
namespace fs = std::filesystem;

const char* const Names[3] = {"T.DB", "T.PX", "T.X02"};

const fs::path& folder() {
    static const fs::path dir = [] {
        std::string tmpl = (fs::temp_directory_path() / "fuzz-journal-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        return fs::path(tmpl);
    }();
    return dir;
}

void put(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void resetFiles() {
    for (int i = 0; i < 3; ++i)
        put(folder() / Names[i], std::string(size_t(3000 + 5000 * i), char('a' + i)));
}

// Writes driven by the input, flushed (journal synced, files written) and left uncommitted.
size_t journalFromWrites(const uint8_t* data, size_t size) {
    int fds[3];
    for (int i = 0; i < 3; ++i)
        fds[i] = ::open((folder() / Names[i]).c_str(), O_RDWR | O_CLOEXEC);
    size_t at = 0;
    {
        FileSetJournal j(folder() / "T.DB-journal");
        int ids[3];
        for (int i = 0; i < 3; ++i)
            ids[i] = j.addTarget(folder() / Names[i], fds[i]);
        std::string bytes(5000, 'Z');
        for (int n = 0; at + 4 <= size && n < 12; ++n, at += 4) {
            const int t = data[at] % 3;
            const uint64_t offset = (uint64_t(data[at + 1]) << 8 | data[at + 2]) % 20000;
            const size_t len = size_t(data[at + 3]) * 19 + 1;
            if (data[at] & 0x80)
                j.truncate(ids[t], offset);
            else
                j.write(ids[t], offset, bytes.data(), len);
        }
        j.flush();
    }
    for (int fd : fds)
        ::close(fd);
    return at;
}

} // namespace

// Syncing proves nothing here and would slow every run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("VEMO32_SYNC", "0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    resetFiles();
    const fs::path journal = folder() / "T.DB-journal";
    if (data[0] & 1) {
        put(journal, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        const size_t used = 1 + journalFromWrites(data + 1, size - 1);
        std::string bytes = slurp(journal);
        // The rest: pairs of (position, xor) and a last byte that cuts the journal.
        for (size_t at = used; at + 3 <= size && !bytes.empty(); at += 3)
            bytes[(size_t(data[at]) << 8 | data[at + 1]) % bytes.size()] ^= char(data[at + 2] | 1);
        if ((size - used) % 3 == 1 && !bytes.empty())
            bytes.resize(size_t(data[size - 1]) * bytes.size() / 256);
        put(journal, bytes);
    }
    try {
        FileSetJournal::playBack(journal, [](const std::string& name) {
            return name == Names[0] || name == Names[1] || name == Names[2];
        });
    } catch (const EngineError&) {
    }
    FileSetJournal::remove(journal);
    for (int i = 0; i < 3; ++i)
        if (fs::file_size(folder() / Names[i]) > 64 * 1024)
            std::abort(); // playback may only put back sizes and bytes the journal held
    return 0;
}
