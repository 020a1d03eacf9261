#pragma once
// A private temporary directory per test.
#include "engine/Definitions.h"

#include <filesystem>
#include <string>
#include <unistd.h>

struct TestDir {
    std::filesystem::path path;
    TestDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pxtest-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TestDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

inline vemo::engine::FieldDef field(const std::string& name, vemo::engine::FieldType type, int size = 0) {
    vemo::engine::FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}
