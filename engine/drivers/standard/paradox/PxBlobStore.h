#pragma once
// The .MB file of a table: reads blob values that do not fit their record's leader,
// writes new ones into whole blocks and frees replaced ones.
#include "PxCodec.h"
#include "PxFile.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::paradox {

class PxBlobStore {
public:
    PxBlobStore(std::filesystem::path path, bool writable);

    bool exists() const { return file_.isOpen(); }
    // Forgets what was read of the free list: another writer may have changed it. Called
    // under the table's writers' lock at the start of every write.
    void forgetFreeList() { freeLoaded_ = false; }
    void sync() { if (file_.isOpen() && file_.writable()) file_.sync(); }
    // The blob of field f in a record; std::nullopt for a null blob. Throws
    // EngineError(ErrCorruptFile) when the reference points at nothing valid.
    std::optional<std::string> read(const PxField& f, const uint8_t* field) const;
    // Stores data for field f and fills the field's bytes (leader and reference).
    void write(const PxField& f, const std::string& data, uint8_t* field);
    // Releases the .MB space a field's bytes refer to (nothing for leader-only blobs).
    void release(const PxField& f, const uint8_t* field);

    // The blob file of a password-protected table is scrambled with the table's key.
    void protect(uint32_t checksum);

    // Writes an empty .MB (its header block) at path; fails when it exists.
    static void create(const std::filesystem::path& path);

private:
    struct FreeRun { uint64_t offset; uint32_t units; };
    void openForWrite();
    void loadFreeRuns();
    uint64_t allocate(uint32_t units);

    std::filesystem::path path_;
    bool writable_;
    PxFile file_;
    uint32_t checksum_ = 0;
    bool freeLoaded_ = false;
    std::vector<FreeRun> free_;
};

} // namespace vemo::engine::paradox
