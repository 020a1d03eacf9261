#pragma once
// One open .DBF with its memo file: header, record access through a read-ahead buffer,
// and in-place record writes that keep the header (count, date) and the end marker right.
#include "engine/values/Value.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/FieldCodec.h"
#include "engine/drivers/standard/dbase/FileIO.h"
#include "engine/drivers/standard/dbase/MemoFile.h"
#include "engine/drivers/standard/io/FileSetJournal.h"
#include "engine/drivers/standard/io/FileStamp.h"
#include "engine/drivers/standard/io/UndoJournal.h"
#include "engine/drivers/standard/TableSettings.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

class TextDecoder;

class DbfTable {
public:
    // settings: the code page of a table whose header names none (or of every table).
    DbfTable(const std::filesystem::path& path, bool writable, const standard::TableSettings& settings = {});
    ~DbfTable();

    const DbfHeader& header() const { return header_; }
    const std::filesystem::path& path() const { return file_.path(); }
    std::string tableName() const { return path().filename().string(); }
    bool writable() const { return file_.writable(); }
    // Why the table cannot be written even though the file could be (empty when it can).
    const std::string& damage() const { return damage_; }
    MemoFile* memo() { return memo_.get(); }
    int codepage() const { return header_.codepage; }

    // Records in the file (deleted ones included), as far as the file really holds them.
    uint32_t recordCount() const { return count_; }

    // The bytes of a record (deletion flag first); valid until the next call.
    const uint8_t* record(uint32_t recno);
    bool isDeleted(uint32_t recno) { return record(recno)[0] == '*'; }
    // The record as it is in the file now, bypassing the read-ahead buffer (which writeRecord
    // keeps right, so that reading on after a write costs no new run). One record is read,
    // not a run of them.
    std::vector<uint8_t> freshRecord(uint32_t recno) {
        std::vector<uint8_t> out(header_.recordLength);
        readRecordInto(recno, out.data());
        return out;
    }
    // One record read straight from the file into out (recordLength bytes), for the few
    // scattered reads of an index search, which the read-ahead buffer would only slow down.
    void readRecordInto(uint32_t recno, uint8_t* out) const;
    Value value(const DbfField& f, const uint8_t* record) const;
    // Visible (not hidden) fields decoded into row.
    void decode(const uint8_t* record, Row& row) const;
    // Only the visible fields listed in which (positions in the row); the others stay null.
    void decodeSome(const uint8_t* record, Row& row, const std::vector<int>& which) const;

    // Re-reads the record count from the header (other writers may have appended).
    void reload();

    // What a reader keeps of the records between writes (an order, the visible records) is
    // still right when nobody else wrote the table since: markSeen() records the file's
    // stamp and record count as they are now (after this program's own write, or when the
    // kept things are built anew); changedSinceSeen(), called under the writers' lock after
    // the scope's reload, tells whether anything else wrote in between.
    void markSeen();
    bool changedSinceSeen() const;
    // Under the writers' lock, once the scope has begun: the table's journal is as this
    // table's last committed post left it, so nobody wrote the table or its index files
    // since (every writer of this program commits through that journal). A file's stamp
    // alone cannot tell that where file times are coarse.
    bool ownCommitStands() const;

    // Holds the table's writers' lock (between cursors and processes alike) for one logical
    // write and re-reads, under it, what other writers may have changed. Every write below
    // runs inside one; a lock call that fails is an EngineError. The logical write is all
    // or nothing: finish() commits it, a scope left without finish() puts the table back.
    // For one post (allFiles) the changes to the table, its memo and its index files are
    // held by one journal until finish(), which syncs the journal once and then each changed
    // file once. For a batch the table's undo journal takes the old bytes as they are
    // overwritten and the index files are rebuilt at its end. A journal found when the scope
    // begins (a writer killed mid-write) is played back; recovered() then tells that the
    // index files must be rebuilt (a batch's journal: they may be newer than the records).
    class WriteScope {
    public:
        explicit WriteScope(DbfTable& table, bool allFiles = true);
        ~WriteScope();
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;
        bool recovered() const { return recovered_; }
        void finish();
        void rollBack();

    private:
        void begin();
        DbfTable& t_;
        bool allFiles_;
        bool recovered_ = false;
        bool done_ = false;
    };
    std::filesystem::path journalPath() const;
    bool hasJournal() const;
    // The journal of the running post, through which index files are written too; null
    // outside a write scope and in a batch.
    standard::FileSetJournal* fileJournal() { return files_; }
    // Puts a journal left by a write that was cut off back; true when the index files must
    // then be rebuilt from the records.
    bool playBackJournal();
    bool playBackJournal(standard::FileSetJournal::Found found);

    // Writes. The record goes down before the count that makes it part of the table, so
    // even without the journal a kill leaves the table as before or as after.
    void writeRecord(uint32_t recno, const uint8_t* bytes);
    uint32_t appendRecord(const uint8_t* bytes);
    std::vector<uint8_t> blankRecord() const;

    // Inside a batch the per-write syncs are left out; syncAll() makes everything durable.
    // The new bytes of what the file held when the batch began are kept here until then, so
    // that the journal needs one sync for the batch rather than one for every record: no
    // overwritten byte reaches the file before its old bytes are durable in the journal.
    void setDeferSync(bool defer) { deferSync_ = defer; }
    void syncAll();
    // Table writes so far (a failed write that wrote nothing leaves it unchanged).
    uint64_t writesMade() const { return writes_; }
    File& file() { return file_; }
    const std::vector<int>& visibleFields() const { return visible_; }

private:
    void touchHeader(uint32_t count);
    // Inside a batch, appended records are gathered and written in runs, the count once
    // with them; anything that reads or writes the table otherwise writes them out first.
    void flushAppends();
    static constexpr size_t AppendRunBytes = 1 << 20;
    void syncMemo();
    void writeBytes(uint64_t offset, const void* data, size_t n);
    // Reads the file as the table now is: the file's bytes with the held ones over them.
    size_t readFile(uint64_t offset, uint8_t* out, size_t n) const;
    // Keeps a range's new bytes back; false when it overlaps a held range of another extent.
    bool hold(uint64_t offset, const uint8_t* data, size_t n);
    // The journal made durable, then the held bytes written to the file.
    void writeHeld();

    File file_;
    DbfHeader header_;
    std::unique_ptr<MemoFile> memo_;
    const TextDecoder* decoder_ = nullptr;
    std::vector<int> visible_;
    uint32_t count_ = 0;
    std::string damage_;
    standard::FileStamp seen_;
    uint32_t seenCount_ = 0;
    std::unique_ptr<standard::UndoJournal> journal_;     // while a batch's write scope is open
    std::unique_ptr<standard::FileSetJournal> postJournal_; // kept from one post to the next
    standard::FileSetJournal* files_ = nullptr;           // it, while a post's write scope is open
    void dropFileJournal() noexcept;
    // Read-ahead: an aligned run of whole records.
    std::vector<uint8_t> buffer_;
    uint32_t bufferFirst_ = 0, bufferCount_ = 0;
    uint32_t chunkRecords_ = 1;
    bool deferSync_ = false;
    uint64_t writes_ = 0;
    std::vector<uint8_t> appends_; // records from appendsFirst_ on, not yet written
    uint32_t appendsFirst_ = 0;
    std::map<uint64_t, std::vector<uint8_t>> held_; // offset -> new bytes, inside a batch
};

// Finds a companion file (".DBT", ".MDX" ...) of a table case-insensitively; empty when none.
std::filesystem::path findCompanion(const std::filesystem::path& table, const std::string& extension);

} // namespace vemo::engine::dbase
