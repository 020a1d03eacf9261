#include "PxCompanions.h"

#include <algorithm>
#include <cctype>

namespace vemo::engine::paradox {
namespace {

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool isCompanionExtension(const std::string& ext) {
    static const char* fixed[] = {".DB", ".PX", ".MB", ".VAL", ".TV", ".FAM"};
    const std::string e = upper(ext);
    for (auto f : fixed)
        if (e == f) return true;
    return isSecondaryExtension(e, false) || isSecondaryExtension(e, true);
}

} // namespace

bool isSecondaryExtension(const std::string& ext, bool y) {
    const std::string e = upper(ext);
    if (e.size() != 4 || e[0] != '.' || e[1] != (y ? 'Y' : 'X')) return false;
    if (e[2] == 'G') return std::isxdigit(static_cast<unsigned char>(e[3])) != 0;
    return std::isxdigit(static_cast<unsigned char>(e[2])) && std::isxdigit(static_cast<unsigned char>(e[3]));
}

std::vector<std::filesystem::path> paradoxCompanions(const std::filesystem::path& dbFile) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (std::filesystem::exists(dbFile, ec)) out.push_back(dbFile);
    const std::string stem = upper(dbFile.stem().string());
    std::filesystem::path dir = dbFile.parent_path();
    if (dir.empty()) dir = ".";
    std::vector<std::filesystem::path> rest;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if (p == dbFile || upper(p.stem().string()) != stem) continue;
        if (upper(p.extension().string()) == ".DB") continue; // another spelling of the table itself
        if (isCompanionExtension(p.extension().string()) && it->is_regular_file(ec)) rest.push_back(p);
    }
    std::sort(rest.begin(), rest.end());
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

std::filesystem::path companionPath(const std::filesystem::path& dbFile, const std::string& ext) {
    const std::string want = upper(ext);
    for (const auto& p : paradoxCompanions(dbFile))
        if (upper(p.extension().string()) == want && p != dbFile) return p;
    std::string e = ext;
    const std::string own = dbFile.extension().string();
    const bool lower = !own.empty() && std::islower(static_cast<unsigned char>(own.back()));
    for (auto& c : e) c = char(lower ? std::tolower(static_cast<unsigned char>(c)) : std::toupper(static_cast<unsigned char>(c)));
    std::filesystem::path p = dbFile;
    p.replace_extension(e);
    return p;
}

} // namespace vemo::engine::paradox
