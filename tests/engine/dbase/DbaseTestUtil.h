#pragma once
// Shared helpers of the dBASE tests: a private temporary directory and the peer scripts.
#include "engine/contract/Cursor.h"
#include "tests/engine/EngineTestSupport.h"
#include "engine/values/Value.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace dbtest {

using TempDir = enginetest::TempDir;
using enginetest::errorCodeOf;

// Runs a script of this folder with /usr/bin/python3 (the interpreter that sees Debian's
// python3-dbf and python3-dbfread); returns its standard output, throws when it fails.
inline std::string runPython(const std::string& script, const std::string& args) {
    const std::string cmd = "/usr/bin/python3 " + std::string(DBASE_TEST_DIR) + "/" + script + " " + args;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe)
        throw std::runtime_error("cannot run " + cmd);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0)
        out.append(buf, n);
    int rc = pclose(pipe.release());
    if (rc != 0)
        throw std::runtime_error(cmd + " failed with " + std::to_string(rc) + ": " + out);
    return out;
}

inline std::vector<vemo::engine::Row> readAll(vemo::engine::Cursor& c) {
    std::vector<vemo::engine::Row> rows;
    vemo::engine::Row row;
    vemo::engine::RowId id;
    for (int64_t i = 0; c.read(i, row, id); ++i)
        rows.push_back(row);
    return rows;
}

inline std::string bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::filesystem::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

} // namespace dbtest
