#include "engine/drivers/standard/TableLock.h"
#include "engine/contract/EngineError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

namespace vemo::engine::standard {

TableLock::TableLock(const std::filesystem::path& file, bool exclusive, const std::string& tableName) {
    fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw EngineError(errno == ENOENT ? ErrNotFound : ErrIO,
                          "テーブルを開けません: " + tableName + " (" + std::strerror(errno) + ")");
    while (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK)
            throw EngineError(exclusive ? ErrExclusiveRequired : ErrLocked,
                              "テーブルは他で使用中です: " + tableName);
        throw EngineError(ErrIO, "テーブルをロックできません: " + tableName + " (" + std::strerror(err) + ")");
    }
}

TableLock::~TableLock() {
    if (fd_ >= 0)
        ::close(fd_); // releases the flock
}

namespace {

class LockedCursor : public Cursor {
public:
    LockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> inner, std::string heldElsewhere)
        : lock_(std::move(lock)), inner_(std::move(inner)), held_(std::move(heldElsewhere)) {}

    const std::vector<FieldDef>& fields() const override { return inner_->fields(); }
    std::vector<IndexDef> indexes() const override { return inner_->indexes(); }
    std::string readOnlyReason() const override { return held_.empty() ? inner_->readOnlyReason() : held_; }
    void setOrder(const std::string& name) override { inner_->setOrder(name); }
    bool setFilter(const Filter* filter) override { return inner_->setFilter(filter); }
    int64_t count() override { return inner_->count(); }
    bool read(int64_t pos, Row& row, RowId& id) override { return inner_->read(pos, row, id); }
    int64_t positionOf(const RowId& id) override { return inner_->positionOf(id); }
    void refresh() override { inner_->refresh(); }
    RowId insert(const Row& values) override {
        refuseHeld();
        return inner_->insert(values);
    }
    void update(const RowId& id, const Row& before, const Row& after) override {
        refuseHeld();
        inner_->update(id, before, after);
    }
    void remove(const RowId& id, const Row& before) override {
        refuseHeld();
        inner_->remove(id, before);
    }
    int64_t seek(const Row& key) override { return inner_->seek(key); }
    bool walkFrom(const Row& key, bool sameKey) override { return inner_->walkFrom(key, sameKey); }
    bool walkNext(Row& row, RowId& id) override { return inner_->walkNext(row, id); }
    void setWantedFields(const std::vector<int>& which) override { inner_->setWantedFields(which); }
    void beginBatch() override {
        refuseHeld();
        inner_->beginBatch();
    }
    void commitBatch() override { inner_->commitBatch(); }
    void rollbackBatch() noexcept override { inner_->rollbackBatch(); }

private:
    std::unique_ptr<TableLock> lock_; // released after the cursor has closed its files
    std::unique_ptr<Cursor> inner_;
    std::string held_;

    void refuseHeld() const {
        if (!held_.empty())
            throw EngineError(ErrReadOnly, "テーブルは読み取り専用です: " + held_);
    }
};

std::filesystem::path lockFileIn(const std::filesystem::path& dir, const std::string& name) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir.empty() ? "." : dir, ec))
        if (strcasecmp(e.path().filename().c_str(), name.c_str()) == 0)
            return e.path();
    return {};
}

} // namespace

std::unique_ptr<Cursor> lockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> cursor,
                                     std::string heldElsewhere) {
    return std::make_unique<LockedCursor>(std::move(lock), std::move(cursor), std::move(heldElsewhere));
}

std::string otherProgramLock(const std::filesystem::path& file, bool paradox) {
    if (paradox) {
        for (const std::string& name : {std::string("PDOXUSRS.LCK"), std::string("PARADOX.LCK"), file.stem().string() + ".LCK"}) {
            const auto found = lockFileIn(file.parent_path(), name);
            if (!found.empty())
                return "他のプログラムのロックファイル " + found.filename().string() +
                       " があるため、読み取り専用で開きました (そのプログラムがこのフォルダのテーブルを使っていないなら、"
                       "このファイルを削除してから開き直してください)";
        }
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // The first conflicting lock from each point on: an open-file lock (l_pid -1) is this
    // program's writers' lock; any other kind is another program's.
    std::string held;
    off_t start = 0;
    for (int i = 0; i < 64; ++i) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = start;
        fl.l_len = 0;
        if (::fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK)
            break;
        if (fl.l_pid != -1) {
            held = "他のプログラム (プロセス " + std::to_string(fl.l_pid) +
                   ") がテーブルのファイルをロックしているため、読み取り専用で開きました";
            break;
        }
        if (fl.l_len == 0)
            break;
        start = fl.l_start + fl.l_len;
    }
    ::close(fd);
    return held;
}

} // namespace vemo::engine::standard
