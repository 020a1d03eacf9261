#include "engine/session/EngineConfig.h"
#include "engine/contract/EngineError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vemo::engine {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void lineError(int line, const std::string& detail) {
    throw EngineError(ErrCorruptFile, "エイリアス設定ファイルの " + std::to_string(line) + " 行目: " + detail);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool holdsPassword(const std::vector<AliasConfig>& aliases) {
    for (const auto& a : aliases)
        for (const auto& [key, value] : a.params)
            if (sameName(key, "PASSWORD") && !value.empty())
                return true;
    return false;
}

[[noreturn]] void ioError(const std::string& what, const std::filesystem::path& file) {
    throw EngineError(ErrIO, what + ": " + file.string() + " (" + std::strerror(errno) + ")");
}

} // namespace

void validateAlias(const AliasConfig& alias) {
    const std::string_view name = alias.name;
    if (trim(name).empty() || trim(name) != name)
        throw EngineError(ErrInvalidParam, "エイリアス名が正しくありません: '" + alias.name + "'");
    if (hasLineBreak(name) || name.find_first_of("[]") != std::string_view::npos)
        throw EngineError(ErrInvalidParam, "エイリアス名に使えない文字があります: " + alias.name);
    if (alias.driver.empty() || hasLineBreak(alias.driver) || alias.driver.find('=') != std::string::npos)
        throw EngineError(ErrInvalidParam, "ドライバ名が正しくありません: '" + alias.driver + "'");
    for (const auto& [key, value] : alias.params) {
        const std::string_view k = trim(key);
        if (k.empty() || k != key || hasLineBreak(key) || key.find('=') != std::string::npos ||
            key.front() == '[' || key.front() == '#' || key.front() == ';')
            throw EngineError(ErrInvalidParam, "パラメータ名が正しくありません: '" + key + "'");
        if (sameName(key, "DRIVER"))
            throw EngineError(ErrInvalidParam, "DRIVER はパラメータとして指定できません。");
        if (hasLineBreak(value) || trim(value) != std::string_view(value))
            throw EngineError(ErrInvalidParam, "パラメータ " + key + " の値は改行や前後の空白を含められません。");
    }
}

std::vector<AliasConfig> parseEngineConfig(std::string_view text) {
    std::vector<AliasConfig> aliases;
    int lineNo = 0;
    bool driverSeen = true;
    int sectionLine = 0;
    while (!text.empty() || lineNo == 0) {
        ++lineNo;
        const size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.find('\0') != std::string_view::npos)
            lineError(lineNo, "ファイルが壊れています。");
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            if (text.empty()) break;
            continue;
        }
        if (line.front() == '[') {
            if (!driverSeen)
                lineError(sectionLine, "エイリアス " + aliases.back().name + " に DRIVER がありません。");
            if (line.back() != ']' || line.size() < 3)
                lineError(lineNo, "セクション名が正しくありません。");
            AliasConfig a;
            a.name = std::string(trim(line.substr(1, line.size() - 2)));
            if (a.name.empty() || a.name.find_first_of("[]") != std::string::npos)
                lineError(lineNo, "セクション名が正しくありません。");
            for (const auto& other : aliases)
                if (sameName(other.name, a.name))
                    lineError(lineNo, "エイリアス " + a.name + " が二度あります。");
            aliases.push_back(std::move(a));
            driverSeen = false;
            sectionLine = lineNo;
        } else {
            const size_t eq = line.find('=');
            if (eq == std::string_view::npos || trim(line.substr(0, eq)).empty())
                lineError(lineNo, "NAME=value の形ではありません。");
            if (aliases.empty())
                lineError(lineNo, "エイリアスのセクションより前に値があります。");
            const std::string key(trim(line.substr(0, eq)));
            const std::string value(trim(line.substr(eq + 1)));
            AliasConfig& a = aliases.back();
            if (sameName(key, "DRIVER")) {
                if (driverSeen)
                    lineError(lineNo, "DRIVER が二度あります。");
                if (value.empty())
                    lineError(lineNo, "DRIVER が空です。");
                a.driver = value;
                driverSeen = true;
            } else {
                for (const auto& [k, v] : a.params)
                    if (sameName(k, key))
                        lineError(lineNo, "パラメータ " + key + " が二度あります。");
                a.params.emplace_back(key, value);
            }
        }
        if (text.empty())
            break;
    }
    if (!driverSeen)
        lineError(sectionLine, "エイリアス " + aliases.back().name + " に DRIVER がありません。");
    return aliases;
}

std::string formatEngineConfig(const std::vector<AliasConfig>& aliases) {
    std::string out = "# VEMO32 aliases\n";
    for (const auto& a : aliases) {
        out += "\n[" + a.name + "]\nDRIVER=" + a.driver + "\n";
        for (const auto& [key, value] : a.params)
            out += key + "=" + value + "\n";
    }
    return out;
}

mode_t configFileMode(const std::filesystem::path& file, bool password) {
    struct stat st {};
    mode_t mode = ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    if (password)
        mode &= 0700; // nobody else may read a password
    return mode | 0600;  // the owner keeps reading and writing it
}

std::string configExposure(const std::filesystem::path& file, const std::vector<AliasConfig>& aliases) {
    struct stat st {};
    if (!holdsPassword(aliases) || ::stat(file.c_str(), &st) != 0 || (st.st_mode & 077) == 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "エイリアス設定ファイル " + file.string() + " にはパスワードがありますが、ほかのユーザーも読める属性 (" + mode +
           ") になっています。chmod 600 で本人だけが読めるようにしてください。";
}

std::vector<AliasConfig> readEngineConfig(const std::filesystem::path& file, bool& existed) {
    std::ifstream in(file, std::ios::binary);
    existed = static_cast<bool>(in);
    if (!in) {
        if (errno == ENOENT)
            return {};
        ioError("エイリアス設定ファイルを読めません", file);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseEngineConfig(text.str());
}

void writeEngineConfig(const std::filesystem::path& file, const std::vector<AliasConfig>& aliases) {
    for (const auto& a : aliases)
        validateAlias(a);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::string text = formatEngineConfig(aliases);
    std::string tmpl = (file.parent_path() / (file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        ioError("エイリアス設定ファイルを書けません", file);
    auto fail = [&](const char* what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        errno = saved;
        ioError(what, file);
    };
    if (::fchmod(fd, configFileMode(file, holdsPassword(aliases))) != 0)
        fail("エイリアス設定ファイルの属性を設定できません");
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("エイリアス設定ファイルを書けません");
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        fail("エイリアス設定ファイルを書けません");
    if (::close(fd) != 0) {
        ::unlink(tmpl.c_str());
        ioError("エイリアス設定ファイルを書けません", file);
    }
    if (::rename(tmpl.c_str(), file.c_str()) != 0) {
        const int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        ioError("エイリアス設定ファイルを置き換えられません", file);
    }
    const int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace vemo::engine
