#include "engine/drivers/standard/dbase/DbfTable.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/TextDecoder.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/values/Codepage.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>

namespace vemo::engine::dbase {
namespace {

constexpr size_t ReadAheadBytes = 256 * 1024;

// The writers' lock: a byte far past any real data, so readers are never blocked.
constexpr int64_t WriterLockByte = 0x7FFFFFFF00LL;

} // namespace

std::filesystem::path findCompanion(const std::filesystem::path& table, const std::string& extension) {
    std::filesystem::path want = table;
    want.replace_extension(extension);
    std::error_code ec;
    if (std::filesystem::exists(want, ec))
        return want;
    const std::string stem = table.stem().string();
    for (const auto& entry : std::filesystem::directory_iterator(table.parent_path().empty() ? "." : table.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == stem.size() + extension.size() &&
            strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0 &&
            strcasecmp(name.c_str() + stem.size(), extension.c_str()) == 0)
            return entry.path();
    }
    return {};
}

DbfTable::DbfTable(const std::filesystem::path& path, bool writable, const standard::TableSettings& settings)
    : file_(path, writable) {
    const uint64_t size = file_.size();
    uint8_t first[32] = {};
    const size_t got = file_.readAt(0, first, sizeof first);
    if (got < 32)
        throw EngineError(ErrCorruptFile, "テーブル " + tableName() + " が壊れています: ヘッダーが短すぎます");
    std::vector<uint8_t> head(headerLengthOf(first));
    const size_t headGot = file_.readAt(0, head.data(), head.size());
    header_ = parseHeader(head.data(), headGot, size, tableName());
    if (header_.encrypted)
        throw EngineError(ErrNotSupported, "暗号化されたテーブルは開けません: " + tableName());

    const uint64_t room = size > header_.headerLength ? size - header_.headerLength : 0;
    const uint64_t held = room / header_.recordLength;
    count_ = static_cast<uint32_t>(std::min<uint64_t>(header_.recordCount, held));
    if (held < header_.recordCount)
        damage_ = "ファイルが途中で切れています: ヘッダーのレコード数 " + std::to_string(header_.recordCount) + " 件のうち " +
                  std::to_string(header_.recordCount - held) + " 件を読めません";

    const bool memoFields = std::any_of(header_.fields.begin(), header_.fields.end(),
                                        [&](const DbfField& f) { return isMemoType(f.type, header_.variant); });
    // The memo file belongs to the fields that keep their values in it: a table flagged as
    // having one but without such fields (or with a version byte that implies one) needs none.
    if (memoFields) {
        if (header_.memo == MemoKind::None)
            header_.memo = header_.variant == Variant::VisualFoxPro || header_.variant == Variant::FoxPro ? MemoKind::Fpt
                           : header_.variant == Variant::Dbase3                                         ? MemoKind::Dbt3
                                                                                                         : MemoKind::Dbt4;
        const std::string ext = header_.memo == MemoKind::Fpt ? ".FPT" : ".DBT";
        auto memoPath = findCompanion(path, ext);
        if (memoPath.empty()) {
            // Some writers set a version byte of the other family: the memo file that is
            // there tells which one the table really uses.
            const bool fpt = header_.memo != MemoKind::Fpt;
            memoPath = findCompanion(path, fpt ? ".FPT" : ".DBT");
            if (!memoPath.empty())
                header_.memo = fpt ? MemoKind::Fpt : header_.variant == Variant::Dbase3 ? MemoKind::Dbt3 : MemoKind::Dbt4;
        }
        if (!memoPath.empty()) {
            memo_ = std::make_unique<MemoFile>(memoPath, header_.memo, writable && damage_.empty());
        } else if (damage_.empty()) {
            damage_ = "メモファイル " + path.stem().string() + ext + " が見つかりません (メモフィールドは空で表示されます)";
        }
    }
    header_.codepage = settings.codepageFor(header_.namedCodepage);
    if (!codepageConvertible(header_.codepage)) {
        // A code page this system cannot convert: the text is shown byte for byte and the
        // table is never written, so nothing of it changes.
        if (damage_.empty())
            damage_ = "コードページ " + std::to_string(header_.codepage) + " はこのシステムで変換できません (文字はバイトのまま表示されます)";
        header_.codepage = RawBytesCodepage;
    }
    decoder_ = &TextDecoder::forCodepage(header_.codepage);
    for (size_t i = 0; i < header_.fields.size(); ++i)
        if (!header_.fields[i].hidden)
            visible_.push_back(static_cast<int>(i));
    chunkRecords_ = std::max<uint32_t>(1, static_cast<uint32_t>(ReadAheadBytes / header_.recordLength));
}

const uint8_t* DbfTable::record(uint32_t recno) {
    if (recno >= count_)
        throw EngineError(ErrNotFound, "レコード " + std::to_string(recno + 1) + " はありません: " + tableName());
    if (!appends_.empty() && recno >= appendsFirst_)
        flushAppends();
    if (recno < bufferFirst_ || recno >= bufferFirst_ + bufferCount_) {
        const uint32_t first = recno / chunkRecords_ * chunkRecords_;
        const uint32_t n = std::min(chunkRecords_, count_ - first);
        buffer_.resize(static_cast<size_t>(n) * header_.recordLength);
        const size_t got = readFile(header_.headerLength + static_cast<uint64_t>(first) * header_.recordLength,
                                    buffer_.data(), buffer_.size());
        bufferFirst_ = first;
        bufferCount_ = static_cast<uint32_t>(got / header_.recordLength);
        if (recno >= first + bufferCount_)
            throw EngineError(ErrCorruptFile, "テーブル " + tableName() + " が途中で切れています");
    }
    return buffer_.data() + static_cast<size_t>(recno - bufferFirst_) * header_.recordLength;
}

void DbfTable::readRecordInto(uint32_t recno, uint8_t* out) const {
    if (recno >= count_)
        throw EngineError(ErrNotFound, "レコード " + std::to_string(recno + 1) + " はありません: " + tableName());
    if (!appends_.empty() && recno >= appendsFirst_) {
        std::memcpy(out, appends_.data() + static_cast<size_t>(recno - appendsFirst_) * header_.recordLength,
                    header_.recordLength);
        return;
    }
    if (readFile(header_.headerLength + static_cast<uint64_t>(recno) * header_.recordLength, out,
                 header_.recordLength) < header_.recordLength)
        throw EngineError(ErrCorruptFile, "テーブル " + tableName() + " が途中で切れています");
}

Value DbfTable::value(const DbfField& f, const uint8_t* rec) const {
    RecordContext ctx{&header_, memo_.get(), decoder_};
    return decodeField(f, rec, ctx);
}

void DbfTable::decode(const uint8_t* rec, Row& row) const {
    RecordContext ctx{&header_, memo_.get(), decoder_};
    row.resize(visible_.size());
    for (size_t i = 0; i < visible_.size(); ++i)
        row[i] = decodeField(header_.fields[static_cast<size_t>(visible_[i])], rec, ctx);
}

void DbfTable::decodeSome(const uint8_t* rec, Row& row, const std::vector<int>& which) const {
    RecordContext ctx{&header_, memo_.get(), decoder_};
    // The other fields are never written here, so a row reused between calls stays null there.
    if (row.size() != visible_.size())
        row.assign(visible_.size(), Value());
    for (int i : which)
        row[static_cast<size_t>(i)] = decodeField(header_.fields[static_cast<size_t>(visible_[static_cast<size_t>(i)])], rec, ctx);
}

void DbfTable::reload() {
    flushAppends();
    bufferCount_ = 0;
    uint8_t first[32] = {};
    if (readFile(0, first, sizeof first) < 32)
        throw EngineError(ErrCorruptFile, "テーブル " + tableName() + " が壊れています: ヘッダーが短すぎます");
    const uint64_t size = file_.size();
    const uint64_t held = size > header_.headerLength ? (size - header_.headerLength) / header_.recordLength : 0;
    header_.recordCount = header_.variant == Variant::Dbase2 ? le16(first + 1) : le32(first + 4);
    count_ = static_cast<uint32_t>(std::min<uint64_t>(header_.recordCount, held));
}

void DbfTable::markSeen() {
    seen_ = standard::FileStamp::ofFd(file_.fd());
    seenCount_ = header_.recordCount;
}

bool DbfTable::changedSinceSeen() const {
    // Seen after a commit of this table's own: the journal tells for sure.
    if (postJournal_ && postJournal_->hasCommitted() && !postJournal_->unchangedSinceOwnCommit()) return true;
    return !(standard::FileStamp::ofFd(file_.fd()) == seen_) || header_.recordCount != seenCount_;
}

bool DbfTable::ownCommitStands() const { return postJournal_ && postJournal_->unchangedSinceOwnCommit(); }

std::filesystem::path DbfTable::journalPath() const { return standard::UndoJournal::pathFor(path()); }

bool DbfTable::hasJournal() const {
    return standard::FileSetJournal::inspect(journalPath()) != standard::FileSetJournal::Found::None;
}

DbfTable::~DbfTable() {
    // The post journal kept between writes goes with the table, unless another writer is at
    // work: removing it needs the writers' lock.
    if (file_.writable() && file_.fd() >= 0 && standard::tryLockByte(file_.fd(), WriterLockByte) == 0) {
        if (postJournal_)
            postJournal_->retire();
        else
            standard::FileSetJournal::removeIdle(journalPath()); // one a writer killed between posts left
        standard::unlockByte(file_.fd(), WriterLockByte);
    }
}

bool DbfTable::playBackJournal() { return playBackJournal(standard::FileSetJournal::inspect(journalPath())); }

bool DbfTable::playBackJournal(standard::FileSetJournal::Found found) {
    using Found = standard::FileSetJournal::Found;
    const auto j = journalPath();
    if (found == Found::None)
        return false; // none, or a post journal left idle
    if (found == Found::Journal || found == Found::Mark) {
        // A post's journal names the files it changed: the table and its companions only.
        const std::string stem = path().stem().string();
        standard::FileSetJournal::playBack(j, [&](const std::string& name) {
            return name.size() > stem.size() + 1 && name.size() <= stem.size() + 4 &&
                   strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0 && name[stem.size()] == '.';
        });
        // The index pages went back with the records: nothing is left to mend.
        standard::FileSetJournal::remove(j);
        return false;
    }
    if (found == Found::Empty) {
        // Created, but the writer was stopped before the journal's first bytes: both kinds
        // are written and synced before any file is touched, so nothing was.
        standard::UndoJournal::removeJournal(j);
        return false;
    }
    return standard::UndoJournal::playBack(j, file_.fd(), path());
}

void DbfTable::dropFileJournal() noexcept {
    file_.detach();
    if (memo_)
        memo_->file().detach();
    files_ = nullptr;
}

DbfTable::WriteScope::WriteScope(DbfTable& table, bool allFiles) : t_(table), allFiles_(allFiles) {
    if (int e = standard::lockByte(t_.file_.fd(), WriterLockByte))
        throw EngineError(ErrLocked, "テーブルをロックできません: " + t_.tableName() + " (" + std::strerror(e) + ")");
    try {
        if (!t_.postJournal_)
            t_.postJournal_ = std::make_unique<standard::FileSetJournal>(t_.journalPath());
        recovered_ = t_.playBackJournal(t_.postJournal_->begin());
        begin();
    } catch (...) {
        standard::unlockByte(t_.file_.fd(), WriterLockByte);
        throw;
    }
}

void DbfTable::WriteScope::begin() {
    t_.bufferCount_ = 0;
    t_.reload();
    if (!allFiles_) {
        t_.journal_ = std::make_unique<standard::UndoJournal>(t_.journalPath(), t_.file_.fd(), t_.path());
        return;
    }
    t_.files_ = t_.postJournal_.get();
    t_.files_->discard(); // a write undone before: its files are added again
    t_.file_.attach(t_.files_, t_.files_->addTarget(t_.path(), t_.file_.fd()));
    if (t_.memo_ && t_.memo_->file().writable())
        t_.memo_->file().attach(t_.files_, t_.files_->addTarget(t_.memo_->path(), t_.memo_->file().fd()));
}

void DbfTable::WriteScope::finish() {
    if (t_.files_) {
        t_.files_->commit();
        t_.dropFileJournal();
        if (t_.hasJournal()) // one played back when the scope began
            standard::UndoJournal::removeJournal(t_.journalPath());
    } else {
        t_.flushAppends();
        t_.writeHeld();
        const bool wrote = t_.journal_ && t_.journal_->started();
        // The undo journal goes, and with it the mark of the last post's commit: every other
        // writer lets go of what it kept from its own last post.
        if (wrote || recovered_ || t_.hasJournal()) {
            t_.file_.sync();
            standard::UndoJournal::removeJournal(t_.journalPath());
        }
        t_.journal_.reset();
    }
    t_.bufferCount_ = 0;
    done_ = true;
}

void DbfTable::WriteScope::rollBack() {
    t_.appends_.clear();
    t_.bufferCount_ = 0;
    if (allFiles_) {
        // Held writes are dropped; whatever reached the files goes back from the journal.
        standard::FileSetJournal* files = t_.files_;
        t_.dropFileJournal();
        if (files)
            files->rollBack();
        else
            t_.playBackJournal(); // a rollback that failed earlier
    } else {
        t_.held_.clear(); // never written: the file still holds the old bytes
        t_.journal_.reset();
        standard::UndoJournal::playBack(t_.journalPath(), t_.file_.fd(), t_.path());
    }
    begin();
}

DbfTable::WriteScope::~WriteScope() {
    if (!done_) {
        try {
            rollBack();
        } catch (const EngineError&) {
            // The journal stays: the next writer or open plays it back.
        }
        t_.journal_.reset();
        t_.dropFileJournal();
    }
    standard::unlockByte(t_.file_.fd(), WriterLockByte);
}

void DbfTable::writeBytes(uint64_t offset, const void* data, size_t n) {
    ++writes_;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (journal_ && deferSync_) {
        journal_->save(offset, n, false);
        const uint64_t base = journal_->baseSize();
        const size_t below = offset < base ? static_cast<size_t>(std::min<uint64_t>(n, base - offset)) : 0;
        if (below && !hold(offset, bytes, below)) {
            writeHeld(); // an odd overlap: the journal is synced now and the range written
            file_.writeAt(offset, bytes, below);
        }
        // Bytes past the old end need no journal: a rollback cuts the file back.
        if (below < n)
            file_.writeAt(offset + below, bytes + below, n - below);
        return;
    }
    if (journal_)
        journal_->save(offset, n);
    file_.writeAt(offset, data, n);
}

bool DbfTable::hold(uint64_t offset, const uint8_t* data, size_t n) {
    auto it = held_.lower_bound(offset);
    if (it != held_.end() && it->first == offset && it->second.size() == n) {
        std::copy(data, data + n, it->second.begin());
        return true;
    }
    if (it != held_.end() && it->first < offset + n)
        return false;
    if (it != held_.begin() && std::prev(it)->first + std::prev(it)->second.size() > offset)
        return false;
    held_.emplace_hint(it, offset, std::vector<uint8_t>(data, data + n));
    return true;
}

void DbfTable::writeHeld() {
    if (held_.empty())
        return;
    journal_->flush();
    for (const auto& [offset, bytes] : held_)
        file_.writeAt(offset, bytes.data(), bytes.size());
    held_.clear();
}

size_t DbfTable::readFile(uint64_t offset, uint8_t* out, size_t n) const {
    const size_t got = file_.readAt(offset, out, n);
    if (held_.empty())
        return got;
    auto it = held_.upper_bound(offset);
    if (it != held_.begin())
        --it;
    for (; it != held_.end() && it->first < offset + got; ++it) {
        const uint64_t from = std::max(offset, it->first);
        const uint64_t to = std::min<uint64_t>(offset + got, it->first + it->second.size());
        if (from < to)
            std::copy(it->second.begin() + static_cast<std::ptrdiff_t>(from - it->first),
                      it->second.begin() + static_cast<std::ptrdiff_t>(to - it->first), out + (from - offset));
    }
    return got;
}

void DbfTable::syncMemo() {
    if (memo_ && !deferSync_)
        memo_->sync();
}

void DbfTable::syncAll() {
    flushAppends();
    if (memo_)
        memo_->sync();
    writeHeld();
    file_.sync();
}

void DbfTable::writeRecord(uint32_t recno, const uint8_t* bytes) {
    if (recno >= count_)
        throw EngineError(ErrNotFound, "レコード " + std::to_string(recno + 1) + " はありません: " + tableName());
    flushAppends();
    syncMemo(); // the memo blocks the record points to are down before it is
    writeBytes(header_.headerLength + static_cast<uint64_t>(recno) * header_.recordLength, bytes, header_.recordLength);
    // The read-ahead buffer takes the new bytes rather than being read again.
    if (recno >= bufferFirst_ && recno < bufferFirst_ + bufferCount_)
        std::memcpy(buffer_.data() + static_cast<size_t>(recno - bufferFirst_) * header_.recordLength, bytes,
                    header_.recordLength);
    touchHeader(count_); // the count as re-read under the writers' lock
    if (!deferSync_)
        file_.sync();
}

uint32_t DbfTable::appendRecord(const uint8_t* bytes) {
    if (count_ == 0xFFFFFFFFu)
        throw EngineError(ErrIO, "テーブルが大きすぎます: " + tableName());
    const uint32_t recno = count_;
    if (deferSync_ && journal_) {
        // In a batch nothing is durable before the commit and a kill plays the journal back,
        // so the records can go down in runs: one write and one count for many records.
        if (appends_.empty())
            appendsFirst_ = recno;
        appends_.insert(appends_.end(), bytes, bytes + header_.recordLength);
        ++writes_;
        count_ = recno + 1;
        header_.recordCount = count_;
        if (appends_.size() >= AppendRunBytes)
            flushAppends();
        return recno;
    }
    std::vector<uint8_t> out(bytes, bytes + header_.recordLength);
    out.push_back(0x1A);
    // The record and the end marker first, then the count: a crash in between leaves the
    // old table intact (the bytes past the count are not part of it).
    syncMemo();
    bufferCount_ = 0;
    writeBytes(header_.headerLength + static_cast<uint64_t>(recno) * header_.recordLength, out.data(), out.size());
    if (!deferSync_)
        file_.sync();
    touchHeader(recno + 1);
    count_ = recno + 1;
    if (!deferSync_)
        file_.sync();
    return recno;
}

void DbfTable::flushAppends() {
    if (appends_.empty())
        return;
    std::vector<uint8_t> run = std::move(appends_);
    appends_.clear();
    const uint32_t end = appendsFirst_ + static_cast<uint32_t>(run.size() / header_.recordLength);
    run.push_back(0x1A);
    try {
        bufferCount_ = 0;
        writeBytes(header_.headerLength + static_cast<uint64_t>(appendsFirst_) * header_.recordLength, run.data(),
                   run.size());
        touchHeader(end);
    } catch (...) {
        // The batch is rolled back by its caller; what could not be written is not kept.
        count_ = appendsFirst_;
        header_.recordCount = count_;
        throw;
    }
}

std::vector<uint8_t> DbfTable::blankRecord() const { return std::vector<uint8_t>(header_.recordLength, ' '); }

void DbfTable::touchHeader(uint32_t count) {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    uint8_t h[8];
    h[0] = header_.version;
    h[1] = static_cast<uint8_t>(tm.tm_year); // years since 1900, as dBASE writes it
    h[2] = static_cast<uint8_t>(tm.tm_mon + 1);
    h[3] = static_cast<uint8_t>(tm.tm_mday);
    putLe32(h + 4, count);
    writeBytes(0, h, sizeof h);
    header_.recordCount = count;
}

} // namespace vemo::engine::dbase
