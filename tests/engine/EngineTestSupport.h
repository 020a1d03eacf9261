#pragma once
// Helpers the engine's tests share: a private folder per test, the error code a call
// raises, and field definitions.
#include "engine/contract/Definitions.h"
#include "engine/contract/EngineError.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace enginetest {

// A private temporary folder, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vemo-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The engine error code f raises; 0 when it raises none.
template <typename F> int errorCodeOf(F&& f) {
    try {
        f();
    } catch (const vemo::engine::EngineError& e) {
        return e.code();
    }
    return 0;
}

inline vemo::engine::FieldDef field(const std::string& name, vemo::engine::FieldType type, int size = 0,
                                    bool required = false) {
    vemo::engine::FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.required = required;
    return f;
}

} // namespace enginetest
