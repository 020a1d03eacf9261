#pragma once
// What an alias of the STANDARD driver says about reading its table files: the code page of
// tables whose header names none (or of every table, when the header is known to be wrong),
// and how to get the password of a password-protected Paradox table.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::standard {

struct TableSettings {
    int defaultCodepage = 932; // tables whose header names no code page
    int forcedCodepage = 0;    // when set: every table, whatever its header names
    // The password tried first (the alias's PASSWORD); then askPassword, until it gives up.
    std::string password;
    // Asks for the password of a table (its file name); false when the user cancels.
    std::function<bool(const std::string& table, std::string& password)> askPassword;
    // Passwords answered so far, shared by every copy of these settings: a table's index
    // files, a table opened again and other tables under the same password ask no more.
    std::shared_ptr<std::vector<std::string>> answered = std::make_shared<std::vector<std::string>>();

    // The code page to read a table in whose header names `named` (0: none).
    int codepageFor(int named) const { return forcedCodepage ? forcedCodepage : (named ? named : defaultCodepage); }
    // The code page new tables are written in.
    int codepageForNew() const { return forcedCodepage ? forcedCodepage : defaultCodepage; }
};

} // namespace vemo::engine::standard
