#include "engine/batchmove/BatchMove.h"

#include "engine/batchmove/FieldMapping.h"
#include "engine/batchmove/KeyLookup.h"
#include "engine/batchmove/ProblemTable.h"
#include "engine/batchmove/ReadAhead.h"
#include "engine/batchmove/TypeMapping.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/values/NameCompare.h"

#include <chrono>
#include <random>
#include <strings.h>

namespace vemo::engine {
namespace {

// Records whose keys a SQL destination is asked for in one statement.
constexpr size_t kLookupBatch = 256;

std::string defaultFileType(Session& session, const std::string& alias) {
    if (alias.empty())
        return "PARADOX";
    for (const auto& line : session.aliasParams(alias)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && strcasecmp(line.substr(0, eq).c_str(), "DEFAULT DRIVER") == 0)
            return line.substr(eq + 1);
    }
    return "PARADOX";
}

TableKind kindOf(Session& session, Database& db, const std::string& alias, const std::string& table) {
    return tableKindOf(db.driverName(), table, db.driverName() == "STANDARD" ? defaultFileType(session, alias) : "");
}

bool tableExists(Database& db, const std::string& name) {
    try {
        OpenOptions o;
        o.readOnly = true;
        db.openTable(name, o);
        return true;
    } catch (const EngineError& e) {
        if (e.code() == ErrNotFound)
            return false;
        throw;
    }
}

// A name for the table a copy builds before it takes the destination's name: in the same
// folder, with the same extension, so that the same format is made.
std::string temporaryName(const std::string& finalName) {
    const size_t dot = finalName.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : finalName.substr(dot);
    std::random_device rd;
    return "VMTMP" + std::to_string(rd() % 1000) + ext;
}

// Whether a table name is one temporaryName() makes: VMTMP, digits, an extension or none.
bool isTemporaryName(const std::string& name) {
    if (name.size() < 6 || strncasecmp(name.c_str(), "VMTMP", 5) != 0)
        return false;
    size_t i = 5;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9')
        ++i;
    return i > 5 && (i == name.size() || name[i] == '.');
}

// A copy killed before its rename leaves its temporary table behind. One that nobody holds
// open is such a leftover (a copy at work keeps its table open, and the deletion's
// exclusive lock fails on it): it goes before the next copy into the folder.
void removeLeftoverTemporaries(Database& db) {
    for (const auto& name : db.tableNames("VMTMP*", true, false)) {
        if (!isTemporaryName(name))
            continue;
        try {
            db.deleteTable(name);
        } catch (const EngineError&) {
            // in use by a copy running now, or not ours to delete: left alone
        }
    }
}

// The destination fields and primary key a copy creates, and which source field feeds each.
void planCopy(const std::vector<FieldPair>& pairs, const std::vector<FieldDef>& source,
              const std::vector<IndexDef>& sourceIndexes, TableKind from, TableKind to,
              std::vector<FieldDef>& fields, std::vector<IndexDef>& indexes, std::vector<int>& sourceOf) {
    if (pairs.empty()) {
        for (size_t i = 0; i < source.size(); ++i) {
            fields.push_back(mapFieldType(source[i], from, to));
            sourceOf.push_back(static_cast<int>(i));
        }
    } else {
        for (const auto& p : pairs) {
            const int s = fieldIndexOf(source, p.source);
            if (s < 0)
                throw EngineError(ErrNotFound, "転送元にフィールド " + p.source + " がありません。");
            if (fieldIndexOf(fields, p.destination) >= 0)
                throw EngineError(ErrInvalidParam, "転送先のフィールド " + p.destination + " が二度対応付けられています。");
            FieldDef f = mapFieldType(source[s], from, to);
            f.name = p.destination;
            fields.push_back(f);
            sourceOf.push_back(s);
        }
    }
    // The source's primary key comes along when all its fields do; a Paradox key must be
    // the leading fields, so they move to the front.
    for (const auto& ix : sourceIndexes) {
        if (!ix.primary || !ix.expression.empty())
            continue;
        std::vector<int> keyAt;
        for (const auto& name : splitIndexFields(ix.fields)) {
            const int s = fieldIndexOf(source, name);
            int d = -1;
            for (size_t i = 0; i < sourceOf.size() && s >= 0; ++i)
                if (sourceOf[i] == s) { d = static_cast<int>(i); break; }
            if (d < 0) { keyAt.clear(); break; }
            keyAt.push_back(d);
        }
        if (keyAt.empty())
            break;
        std::vector<FieldDef> ordered;
        std::vector<int> orderedSource;
        for (int k : keyAt) { ordered.push_back(fields[k]); orderedSource.push_back(sourceOf[k]); }
        for (size_t i = 0; i < fields.size(); ++i)
            if (std::find(keyAt.begin(), keyAt.end(), static_cast<int>(i)) == keyAt.end()) {
                ordered.push_back(fields[i]);
                orderedSource.push_back(sourceOf[i]);
            }
        IndexDef key;
        key.primary = true;
        key.unique = true;
        for (size_t i = 0; i < keyAt.size(); ++i)
            key.fields += (i ? ";" : "") + ordered[i].name;
        if (to == TableKind::Sqlite || to == TableKind::Postgres || to == TableKind::Paradox) {
            fields = std::move(ordered);
            sourceOf = std::move(orderedSource);
            indexes.push_back(key);
        }
        break;
    }
}

class Mover {
public:
    Mover(Session& session, const BatchMoveSettings& s, const ProgressCallback& progress)
        : session_(session), s_(s), progress_(progress) {}

    BatchMoveResult run();

private:
    void prepareKeys();
    int convert(const Row& source, Row& values) const;
    void handle(const Row& source, const Row& values, int failed);
    void place(const Row& source, const Row& values);
    void flushPending();
    void changed(const Row& before);
    bool tryInsert(const Row& source, const Row& values, RowId* id);
    void keyViolation(const Row& source, const EngineError& e);
    void problem(const Row& source, const std::string& why);
    void report(bool last);

    Session& session_;
    const BatchMoveSettings& s_;
    const ProgressCallback& progress_;
    BatchMoveResult result_;

    Database* srcDb_ = nullptr;
    Database* dstDb_ = nullptr;
    std::unique_ptr<Cursor> src_, dst_;
    std::vector<FieldDef> srcFields_, dstFields_;
    TableKind srcKind_ = TableKind::Paradox, dstKind_ = TableKind::Paradox;
    std::vector<int> sourceOf_;
    std::vector<int> keyFields_;
    IndexDef keyIndex_;
    std::unique_ptr<KeyLookup> lookup_;
    // Records of a lookup mode into a SQL destination waiting for their keys to be looked up
    // together: the source record and its values in the destination's fields.
    std::vector<std::pair<Row, Row>> pending_;
    bool batchLookups_ = false;
    bool guard_ = false;
    // A chunk of pending records tried under one guard: any failure in it undoes the whole
    // chunk, which is then done again record by record, each under its own guard. Until it
    // ends, what the records leave in the Changed table waits in chunkChanged_.
    bool wholeChunk_ = false;
    int guardedChunks_ = 0; // after a failed chunk, the next few go record by record
    std::vector<Row> chunkChanged_;
    std::unique_ptr<RowAppender> appender_;
    std::unique_ptr<ProblemTable> changedTable_, keyViolTable_, problemTable_;
};

void Mover::prepareKeys() {
    const auto indexes = dst_->indexes();
    const IndexDef* chosen = nullptr;
    for (const auto& ix : indexes)
        // An index with a condition holds only some records: never chosen by itself.
        if (s_.destinationIndex.empty() ? ix.condition.empty() : sameName(ix.name, s_.destinationIndex)) {
            chosen = &ix;
            break;
        }
    if (!chosen) {
        if (!s_.destinationIndex.empty())
            throw EngineError(ErrNotFound, "転送先にインデックス " + s_.destinationIndex + " がありません。");
        throw EngineError(ErrNotFound, "更新・削除には転送先のインデックスが必要です: " + s_.destinationTable);
    }
    if (!chosen->expression.empty())
        throw EngineError(ErrNotSupported, "式のインデックスでは更新・削除できません: " + chosen->name);
    if (!chosen->condition.empty())
        throw EngineError(ErrNotSupported, "条件付きのインデックスでは更新・削除できません: " + chosen->name);
    for (const auto& name : splitIndexFields(chosen->fields)) {
        const int d = fieldIndexOf(dstFields_, name);
        if (d < 0)
            throw EngineError(ErrNotFound, "インデックスのフィールド " + name + " がありません。");
        if (sourceOf_[d] < 0)
            throw EngineError(ErrInvalidParam, "インデックスのフィールド " + name + " に対応する転送元のフィールドがありません。");
        keyFields_.push_back(d);
    }
    keyIndex_ = *chosen;
}

void Mover::problem(const Row& source, const std::string& why) {
    ++result_.problems;
    problemTable_->add(source);
    if (s_.abortOnProblem)
        throw EngineError(ErrConvert, "問題のあるレコードのため転送を中止しました: " + why);
}

void Mover::keyViolation(const Row& source, const EngineError& e) {
    ++result_.keyViolations;
    keyViolTable_->add(source);
    if (s_.abortOnKeyViol)
        throw EngineError(ErrKeyViolation, "キー違反のため転送を中止しました: " + std::string(e.what()));
}

bool Mover::tryInsert(const Row& source, const Row& values, RowId* id) {
    try {
        auto write = [&] {
            RowId got = dst_->insert(values);
            if (id)
                *id = got;
        };
        if (guard_)
            dstDb_->guardedWrite(write);
        else
            write();
        return true;
    } catch (const EngineError& e) {
        if (wholeChunk_)
            throw;
        if (e.code() == ErrKeyViolation)
            keyViolation(source, e);
        else if (e.code() == ErrConvert || e.code() == ErrRequiredField)
            problem(source, e.what());
        else
            throw;
        return false;
    }
}

// A source record's values in the destination's fields; the position of the first field
// that cannot take its value without loss, or -1. Reads nothing the move changes, so that
// it can run on the reading thread.
int Mover::convert(const Row& source, Row& values) const {
    values.resize(dstFields_.size());
    for (size_t i = 0; i < dstFields_.size(); ++i) {
        const int s = sourceOf_[i];
        if (s < 0) {
            values[i] = Value{};
            continue;
        }
        if (!convertValue(source[s], srcFields_[s].type, dstFields_[i], dstKind_, values[i]))
            return static_cast<int>(i);
    }
    return -1;
}

void Mover::handle(const Row& source, const Row& values, int failed) {
    ++result_.read;
    if (failed >= 0) {
        const int s = sourceOf_[failed];
        problem(source, "フィールド " + dstFields_[failed].name + " に値 \"" + valueToText(source[s], srcFields_[s].type) +
                            "\" を格納できません。");
        return;
    }
    if (s_.mode == BatchMode::Append || s_.mode == BatchMode::Copy) {
        if (appender_) {
            try {
                appender_->add(values);
            } catch (const EngineError& e) {
                if (e.code() != ErrConvert && e.code() != ErrRequiredField)
                    throw;
                problem(source, e.what());
                return;
            }
            ++result_.moved;
            return;
        }
        if (!guard_) {
            if (tryInsert(source, values, nullptr))
                ++result_.moved;
            return;
        }
    }
    if (batchLookups_ || guard_) {
        pending_.emplace_back(source, values);
        if (pending_.size() >= kLookupBatch)
            flushPending();
        return;
    }
    place(source, values);
}

void Mover::changed(const Row& before) {
    if (wholeChunk_)
        chunkChanged_.push_back(before);
    else
        changedTable_->add(before);
}

void Mover::flushPending() {
    if (pending_.empty())
        return;
    if (lookup_) {
        std::vector<Row> values;
        values.reserve(pending_.size());
        for (const auto& p : pending_)
            values.push_back(p.second);
        lookup_->prefetch(values);
    }
    // A lookup that keeps keys of its own would not be undone with the chunk.
    const bool whole = guard_ && guardedChunks_ == 0 && (!lookup_ || lookup_->way() == KeyLookup::Way::Query);
    if (guardedChunks_ > 0)
        --guardedChunks_;
    if (whole) {
        const BatchMoveResult before = result_;
        chunkChanged_.clear();
        wholeChunk_ = true;
        guard_ = false;
        bool done = false;
        try {
            dstDb_->guardedWrite([&] {
                for (const auto& [source, v] : pending_)
                    place(source, v);
            });
            done = true;
        } catch (const EngineError&) {
            result_ = before;
            guardedChunks_ = 8;
        }
        wholeChunk_ = false;
        guard_ = true;
        if (done) {
            for (const auto& row : chunkChanged_)
                changedTable_->add(row);
            chunkChanged_.clear();
            pending_.clear();
            return;
        }
    }
    for (const auto& [source, v] : pending_)
        place(source, v);
    pending_.clear();
}

// Inserts the record, or updates or deletes the destination record with the key of
// `values` (inserting it when the mode says so).
void Mover::place(const Row& source, const Row& values) {
    if (!lookup_) {
        if (tryInsert(source, values, nullptr))
            ++result_.moved;
        return;
    }
    auto found = lookup_->find(values);
    if (!found) {
        if (s_.mode != BatchMode::AppendUpdate)
            return;
        RowId id;
        if (tryInsert(source, values, &id)) {
            ++result_.moved;
            lookup_->inserted(id, values);
        }
        return;
    }
    KeyLookup::Match& e = *found;
    if (s_.mode == BatchMode::Delete) {
        auto write = [&] { dst_->remove(e.id, e.row); };
        guard_ ? dstDb_->guardedWrite(write) : write();
        changed(e.row);
        ++result_.changed;
        ++result_.moved;
        lookup_->removed(e.row);
        return;
    }
    Row after = e.row;
    for (size_t i = 0; i < dstFields_.size(); ++i)
        if (sourceOf_[i] >= 0)
            after[i] = values[i];
    try {
        auto write = [&] { dst_->update(e.id, e.row, after); };
        guard_ ? dstDb_->guardedWrite(write) : write();
    } catch (const EngineError& err) {
        if (wholeChunk_)
            throw;
        if (err.code() == ErrKeyViolation) { keyViolation(source, err); return; }
        if (err.code() == ErrConvert || err.code() == ErrRequiredField) { problem(source, err.what()); return; }
        throw;
    }
    changed(e.row);
    lookup_->updated(e.row, e.id, after);
    ++result_.changed;
    ++result_.moved;
}

void Mover::report(bool last) {
    if (!progress_ || (!last && result_.read % kProgressEvery != 0))
        return;
    ProgressRecord record;
    setProgressMessage(record, "転送済みレコード: " + std::to_string(result_.read));
    if (progress_(kGeneralProgress, record) != kProgressContinue)
        throw EngineError(ErrGeneral, "転送が中止されました。");
}

BatchMoveResult Mover::run() {
    if (s_.destinationTable.empty())
        throw EngineError(ErrInvalidParam, "転送先が指定されていないか不正です。");
    if (s_.sourceTable.empty())
        throw EngineError(ErrInvalidParam, "転送元が指定されていないか不正です。");
    std::string srcName, dstName;
    srcDb_ = &session_.databaseFor(s_.sourceAlias, s_.sourceTable, srcName);
    dstDb_ = &session_.databaseFor(s_.destinationAlias, s_.destinationTable, dstName);
    srcKind_ = kindOf(session_, *srcDb_, s_.sourceAlias, srcName);
    dstKind_ = kindOf(session_, *dstDb_, s_.destinationAlias, dstName);
    if (srcDb_ == dstDb_ && (sameName(srcName, dstName) ||
                             (isFileKind(srcKind_) && srcKind_ == dstKind_ &&
                              sameName(srcName.substr(0, srcName.find('.')), dstName.substr(0, dstName.find('.'))))))
        throw EngineError(ErrInvalidParam, "転送元と転送先が同一です。");

    OpenOptions readOnly;
    readOnly.readOnly = true;
    src_ = srcDb_->openTable(srcName, readOnly);
    src_->setOrder(s_.sourceIndex);
    srcFields_ = src_->fields();
    const auto pairs = parseMappings(s_.mappings);

    std::vector<IndexDef> newIndexes;
    const bool copy = s_.mode == BatchMode::Copy;
    if (copy) {
        planCopy(pairs, srcFields_, src_->indexes(), srcKind_, dstKind_, dstFields_, newIndexes, sourceOf_);
    } else {
        dst_ = dstDb_->openTable(dstName, {});
        // A table the cursors cannot write may still take appended records as a stream.
        if (!dst_->readOnlyReason().empty() && s_.mode != BatchMode::Append)
            throw EngineError(ErrReadOnly, dst_->readOnlyReason());
        dstFields_ = dst_->fields();
        sourceOf_ = resolveMappings(pairs, srcFields_, dstFields_);
        if (s_.mode != BatchMode::Append)
            prepareKeys();
    }

    changedTable_ = std::make_unique<ProblemTable>(session_, s_.changedTableName, dstFields_, dstKind_);
    keyViolTable_ = std::make_unique<ProblemTable>(session_, s_.keyViolTableName, srcFields_, srcKind_);
    problemTable_ = std::make_unique<ProblemTable>(session_, s_.problemTableName, srcFields_, srcKind_);

    if (src_->count() == 0 && !copy)
        return result_;

    const bool work = dstDb_->beginWork();
    std::string building; // the temporary table of a copy into files
    bool batch = false;
    try {
        if (copy) {
            if (work) {
                if (tableExists(*dstDb_, dstName))
                    dstDb_->deleteTable(dstName);
                dstDb_->createTable(dstName, dstFields_, newIndexes);
                dst_ = dstDb_->openTable(dstName, {});
            } else {
                removeLeftoverTemporaries(*dstDb_);
                building = temporaryName(dstName);
                while (tableExists(*dstDb_, building))
                    building = temporaryName(dstName);
                dstDb_->createTable(building, dstFields_, newIndexes);
                dst_ = dstDb_->openTable(building, {});
            }
            dstFields_ = dst_->fields();
        }
        if (s_.mode != BatchMode::Append && !copy) {
            lookup_ = std::make_unique<KeyLookup>(*dstDb_, *dst_, dstKind_, dstName, keyIndex_, keyFields_);
            batchLookups_ = dstKind_ == TableKind::Sqlite || dstKind_ == TableKind::Postgres;
        }
        // A server that spoils its transaction on a failed write gets each write under a
        // savepoint, so that a key violation can be reported and the move go on.
        if (work) {
            bool keyed = false;
            for (const auto& ix : dst_->indexes())
                keyed = keyed || ix.primary || ix.unique;
            guard_ = keyed || dstKind_ == TableKind::Postgres;
            // No key to break: records can stream in, where the driver offers that.
            if (!keyed && srcDb_ != dstDb_ && (s_.mode == BatchMode::Append || copy))
                appender_ = dstDb_->openAppender(dstName);
        }
        if (!appender_ && !dst_->readOnlyReason().empty())
            throw EngineError(ErrReadOnly, dst_->readOnlyReason());
        // Table files take the whole move as one batch: one journal, one sync, the indexes
        // brought up to date once at the end; a failure or a kill leaves the table as it was.
        if (!work) {
            dst_->beginBatch();
            batch = true;
        }
        auto each = [&](const Row& row) {
            Row values;
            const int failed = convert(row, values);
            handle(row, values, failed);
            report(false);
            return true;
        };
        if (srcDb_ == dstDb_ && work) {
            // Reading and writing one connection: fetch by position rather than hold a
            // result open across the writes.
            Row row;
            RowId id;
            for (int64_t pos = 0; src_->read(pos, row, id); ++pos)
                each(row);
        } else if (srcDb_ != dstDb_) {
            // Two connections or folders: the source is read on a thread of its own,
            // ahead of the writes.
            scanAhead(
                *src_, [&](const Row& row, Row& values) { return convert(row, values); },
                [&](const Row& row, const Row& values, int failed) {
                    handle(row, values, failed);
                    report(false);
                    return true;
                });
        } else {
            src_->scan(each);
        }
        flushPending();
        if (appender_) {
            appender_->finish();
            appender_.reset();
        }
        report(true);
        lookup_.reset();
        if (batch) {
            dst_->commitBatch();
            batch = false;
        }
        if (work)
            dstDb_->commitWork();
        dst_.reset();
        changedTable_->finish();
        keyViolTable_->finish();
        problemTable_->finish();
        if (!building.empty()) {
            if (tableExists(*dstDb_, dstName))
                dstDb_->deleteTable(dstName);
            dstDb_->renameTable(building, dstName);
            building.clear();
        }
    } catch (...) {
        appender_.reset();
        lookup_.reset();
        if (batch)
            dst_->rollbackBatch();
        dst_.reset();
        if (work)
            dstDb_->rollbackWork();
        if (!building.empty()) {
            try {
                dstDb_->deleteTable(building);
            } catch (...) {
            }
        }
        throw;
    }
    return result_;
}

} // namespace

BatchMoveResult runBatchMove(Session& session, const BatchMoveSettings& settings, const ProgressCallback& progress) {
    Mover mover(session, settings, progress);
    return mover.run();
}

std::string describeResult(const BatchMoveResult& r) {
    return "転送 " + std::to_string(r.moved) + " 件、変更 " + std::to_string(r.changed) + " 件、キー違反 " +
           std::to_string(r.keyViolations) + " 件、問題 " + std::to_string(r.problems) + " 件";
}

} // namespace vemo::engine
