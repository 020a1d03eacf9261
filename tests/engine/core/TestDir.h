#pragma once
// A private temporary folder for one test, removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <string>

class TestDir {
public:
    TestDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vemo-core-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TestDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
