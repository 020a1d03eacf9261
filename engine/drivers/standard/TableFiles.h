#pragma once
// Creating, renaming and deleting the files of a table in a folder so that a kill at any
// instant leaves only whole tables behind.
//
// Each of these works in a hidden staging folder beside the tables (".vemo32-XXXXXX"),
// locked by the process at work on it. A new table is built there whole; then a list of
// moves (the plan) is written and synced, and the files are moved into place by hard links
// that never replace an existing name, the table file last. A rename moves the companions
// first and the table file last; a deletion moves the table file into the staging folder
// first (so the table is gone at once) and its companions after it. A staging folder left
// by a killed process is finished by the next call on the folder: with a whole plan the
// remaining moves are made (the work goes forward), without one nothing has moved yet and
// the folder is removed with what it holds. Staging folders are directories, so they are
// never listed as tables.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vemo::engine::standard {

class TableStaging {
public:
    using Move = std::pair<std::filesystem::path, std::filesystem::path>;

    // A new staging folder in dir, locked for as long as this object lives.
    explicit TableStaging(const std::filesystem::path& dir);
    // Without a commit, removes the staging folder and what was built in it.
    ~TableStaging();
    TableStaging(const TableStaging&) = delete;
    TableStaging& operator=(const TableStaging&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

    // Records the moves (each path in the table folder or in the staging folder; the last
    // one is the table file), makes them in order and removes the staging folder with what
    // is left in it. Throws EngineError(ErrIO) when a move cannot be made; moves already
    // recorded are then finished by the next mendFolder.
    void commit(const std::vector<Move>& moves);

private:
    std::filesystem::path dir_, folder_;
    int lockFd_ = -1;
    bool planned_ = false;
};

// Finishes or clears what killed creations, renames and deletions left in dir; staging
// folders still locked by a live process are left alone. Never throws.
void mendFolder(const std::filesystem::path& dir);

// Whether name is one of the staging folders' names.
bool isStagingName(const std::string& name);

} // namespace vemo::engine::standard
