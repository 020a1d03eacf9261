#pragma once
// Memo companions of a .DBF: .DBT (dBASE III and IV layouts) and .FPT (FoxPro).
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/FileIO.h"

#include <filesystem>
#include <string>

namespace vemo::engine::dbase {

class MemoFile {
public:
    MemoFile(const std::filesystem::path& path, MemoKind kind, bool writable);

    // Creates an empty memo file for a new table.
    static void create(const std::filesystem::path& path, MemoKind kind, const std::string& baseName);

    MemoKind kind() const { return kind_; }
    const std::filesystem::path& path() const { return file_.path(); }

    // The memo stored at block; empty for block 0. Throws ErrCorruptFile for a block outside
    // the file or a length that runs past its end.
    std::string read(uint32_t block) const;
    // Stores data in new blocks at the end of the file; returns the first block (0 for no
    // data). Old blocks are left in place, so a reader of the old record still sees a
    // complete memo.
    uint32_t append(const std::string& data);
    void sync() { file_.sync(); }
    File& file() { return file_; }

private:
    File file_;
    MemoKind kind_;
    uint32_t blockSize_ = 512;
};

} // namespace vemo::engine::dbase
