#include "engine/drivers/standard/TableLock.h"
#include "engine/contract/EngineError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    LockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> inner)
        : lock_(std::move(lock)), inner_(std::move(inner)) {}

    const std::vector<FieldDef>& fields() const override { return inner_->fields(); }
    std::vector<IndexDef> indexes() const override { return inner_->indexes(); }
    std::string readOnlyReason() const override { return inner_->readOnlyReason(); }
    void setOrder(const std::string& name) override { inner_->setOrder(name); }
    bool setFilter(const Filter* filter) override { return inner_->setFilter(filter); }
    int64_t count() override { return inner_->count(); }
    bool read(int64_t pos, Row& row, RowId& id) override { return inner_->read(pos, row, id); }
    int64_t positionOf(const RowId& id) override { return inner_->positionOf(id); }
    void refresh() override { inner_->refresh(); }
    RowId insert(const Row& values) override { return inner_->insert(values); }
    void update(const RowId& id, const Row& before, const Row& after) override { inner_->update(id, before, after); }
    void remove(const RowId& id, const Row& before) override { inner_->remove(id, before); }
    int64_t seek(const Row& key) override { return inner_->seek(key); }
    void setWantedFields(const std::vector<int>& which) override { inner_->setWantedFields(which); }
    void beginBatch() override { inner_->beginBatch(); }
    void commitBatch() override { inner_->commitBatch(); }
    void rollbackBatch() noexcept override { inner_->rollbackBatch(); }

private:
    std::unique_ptr<TableLock> lock_; // released after the cursor has closed its files
    std::unique_ptr<Cursor> inner_;
};

} // namespace

std::unique_ptr<Cursor> lockedCursor(std::unique_ptr<TableLock> lock, std::unique_ptr<Cursor> cursor) {
    return std::make_unique<LockedCursor>(std::move(lock), std::move(cursor));
}

} // namespace vemo::engine::standard
