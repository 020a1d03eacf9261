#include "engine/drivers/standard/StandardDatabase.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableFiles.h"
#include "engine/drivers/standard/TableLock.h"

#include <algorithm>
#include <fnmatch.h>
#include <set>
#include <strings.h>

namespace vemo::engine::standard {
namespace {

enum class Kind { None, Paradox, Dbase };

Kind kindOfExtension(const std::string& ext) {
    if (strcasecmp(ext.c_str(), ".DB") == 0)
        return Kind::Paradox;
    if (strcasecmp(ext.c_str(), ".DBF") == 0)
        return Kind::Dbase;
    return Kind::None;
}

bool matches(const std::string& pattern, const std::string& text) {
    return fnmatch(pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

} // namespace

std::filesystem::path findFileNoCase(const std::filesystem::path& dir, const std::string& name) {
    std::error_code ec;
    const auto exact = dir / name;
    if (std::filesystem::is_regular_file(exact, ec))
        return exact;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (strcasecmp(e.path().filename().c_str(), name.c_str()) == 0 && e.is_regular_file(ec))
            return e.path();
    return {};
}

StandardDatabase::StandardDatabase(std::filesystem::path directory, std::string defaultDriver, StandardSqlFactory sql,
                                   TableSettings settings)
    : dir_(std::move(directory)), defaultDbase_(strcasecmp(defaultDriver.c_str(), "DBASE") == 0),
      sqlFactory_(std::move(sql)), settings_(std::move(settings)) {}

// The SQL engine holds cursors on this database's tables: it goes first.
StandardDatabase::~StandardDatabase() { sql_.reset(); }

StandardSql& StandardDatabase::sql() {
    if (!sql_) {
        if (!sqlFactory_)
            throw EngineError(ErrNotSupported, "この環境では STANDARD エイリアスの SQL を実行できません。");
        sql_ = sqlFactory_(*this);
    }
    return *sql_;
}

std::unique_ptr<Cursor> StandardDatabase::openQuery(const std::string& sql, const std::vector<QueryParam>& params) {
    return this->sql().openQuery(sql, params);
}

int64_t StandardDatabase::executeSql(const std::string& sql, const std::vector<QueryParam>& params) {
    return this->sql().executeSql(sql, params);
}

TableFormat& StandardDatabase::format(bool dbase) {
    auto& slot = dbase ? dbase_ : paradox_;
    if (!slot)
        slot = dbase ? makeDbaseFormat(settings_) : makeParadoxFormat(settings_);
    return *slot;
}

std::vector<std::string> StandardDatabase::tableNames(const std::string& pattern, bool extensions, bool) {
    const std::string pat = pattern.empty() ? "*" : pattern;
    std::vector<std::string> out;
    std::set<std::string> seen;
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    mendFolder(dir_);
    for (const auto& e : std::filesystem::directory_iterator(dir_, ec))
        if (e.is_regular_file(ec) && kindOfExtension(e.path().extension().string()) != Kind::None)
            files.push_back(e.path().filename());
    if (ec && files.empty() && !std::filesystem::is_directory(dir_))
        throw EngineError(ErrNotFound, "ディレクトリが見つかりません: " + dir_.string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string full = f.string();
        const std::string stem = f.stem().string();
        const bool hit = matches(pat, full) || (pat.find('.') == std::string::npos && matches(pat, stem));
        if (!hit)
            continue;
        std::string name = extensions ? full : stem;
        std::string key = name;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
        if (seen.insert(key).second)
            out.push_back(name);
    }
    return out;
}

StandardDatabase::Resolved StandardDatabase::resolveExisting(const std::string& name) {
    std::filesystem::path given(name);
    std::filesystem::path dir = given.has_parent_path() ? (given.is_absolute() ? given.parent_path() : dir_ / given.parent_path()) : dir_;
    const std::string base = given.filename().string();
    const Kind kind = kindOfExtension(given.extension().string());
    mendFolder(dir);
    if (kind != Kind::None) {
        auto file = findFileNoCase(dir, base);
        if (!file.empty())
            return {file, &format(kind == Kind::Dbase)};
    } else {
        // Without an extension the default driver's type comes first, then the other one.
        for (bool dbase : {defaultDbase_, !defaultDbase_}) {
            auto file = findFileNoCase(dir, base + (dbase ? ".DBF" : ".DB"));
            if (!file.empty())
                return {file, &format(dbase)};
        }
    }
    throw EngineError(ErrNotFound, "テーブルが見つかりません: " + name);
}

StandardDatabase::Resolved StandardDatabase::resolveNew(const std::string& name) {
    std::filesystem::path given(name);
    std::filesystem::path dir = given.has_parent_path() ? (given.is_absolute() ? given.parent_path() : dir_ / given.parent_path()) : dir_;
    std::string base = given.filename().string();
    if (base.empty())
        throw EngineError(ErrInvalidParam, "テーブル名がありません。");
    Kind kind = kindOfExtension(given.extension().string());
    if (kind == Kind::None) {
        kind = defaultDbase_ ? Kind::Dbase : Kind::Paradox;
        base += kind == Kind::Dbase ? ".DBF" : ".DB";
    }
    return {dir / base, &format(kind == Kind::Dbase)};
}

std::unique_ptr<Cursor> StandardDatabase::openTable(const std::string& name, const OpenOptions& options) {
    Resolved r = resolveExisting(name);
    const std::string table = r.file.filename().string();
    auto lock = std::make_unique<TableLock>(r.file, options.exclusive, table);
    if (!options.readOnly) {
        // Never written beside another desktop database program that holds the table.
        const std::string held = otherProgramLock(r.file, r.format->extension() == ".DB");
        if (!held.empty()) {
            OpenOptions readOnly = options;
            readOnly.readOnly = true;
            return lockedCursor(std::move(lock), r.format->open(r.file, readOnly), held);
        }
    }
    auto cursor = r.format->open(r.file, options);
    if (!options.readOnly && !cursor->readOnlyReason().empty()) {
        // Derived data left inconsistent by an older crash or another program (counts, a
        // missing index file) is mended when the table is in no one else's hands.
        RepairReport check;
        try {
            check = r.format->repair(r.file, RepairMode::Check);
        } catch (const EngineError&) {
        }
        if (check.mendableOnOpen) {
            cursor.reset();
            lock.reset();
            try {
                TableLock alone(r.file, true, table);
                r.format->repair(r.file, RepairMode::OnOpen);
            } catch (const EngineError&) {
                // In use elsewhere, or not mendable after all: it opens as it is.
            }
            lock = std::make_unique<TableLock>(r.file, options.exclusive, table);
            cursor = r.format->open(r.file, options);
        }
    }
    return lockedCursor(std::move(lock), std::move(cursor));
}

RepairReport StandardDatabase::repairTable(const std::string& name, bool apply) {
    Resolved r = resolveExisting(name);
    if (!apply)
        return r.format->repair(r.file, RepairMode::Check);
    TableLock lock(r.file, true, r.file.filename().string());
    return r.format->repair(r.file, RepairMode::Full);
}

void StandardDatabase::createTable(const std::string& name, const std::vector<FieldDef>& fields,
                                   const std::vector<IndexDef>& indexes) {
    Resolved r = resolveNew(name);
    const std::filesystem::path dir = r.file.parent_path();
    mendFolder(dir);
    if (!findFileNoCase(dir, r.file.filename().string()).empty())
        throw EngineError(ErrInvalidParam, "テーブルは既にあります: " + r.file.filename().string());
    // Built whole in a staging folder, then put in place, the table file last.
    TableStaging staging(dir);
    const auto staged = staging.folder() / r.file.filename();
    r.format->create(staged, fields, indexes);
    auto files = r.format->companionFiles(staged);
    std::vector<TableStaging::Move> moves;
    for (const auto& f : files) {
        const auto to = dir / f.filename();
        if (!findFileNoCase(dir, to.filename().string()).empty())
            throw EngineError(ErrInvalidParam, "同じ名前のファイルが既にあります: " + to.filename().string());
        moves.emplace_back(f, to);
    }
    std::rotate(moves.begin(), moves.begin() + 1, moves.end()); // the table file last
    staging.commit(moves);
}

void StandardDatabase::deleteTable(const std::string& name) {
    Resolved r = resolveExisting(name);
    TableLock lock(r.file, true, r.file.filename().string());
    const auto files = r.format->companionFiles(r.file);
    // The table file goes first, so the table is gone at once; its companions follow it
    // into the staging folder, which is then removed.
    TableStaging staging(r.file.parent_path());
    std::vector<TableStaging::Move> moves;
    for (const auto& f : files)
        moves.emplace_back(f, staging.folder() / f.filename());
    staging.commit(moves);
}

void StandardDatabase::renameTable(const std::string& oldName, const std::string& newName) {
    Resolved from = resolveExisting(oldName);
    std::filesystem::path target(newName);
    std::string newStem = target.stem().string();
    if (newStem.empty() || target.has_parent_path())
        throw EngineError(ErrInvalidParam, "新しいテーブル名が不正です: " + newName);
    const Kind newKind = kindOfExtension(target.extension().string());
    if (!target.extension().empty() && newKind == Kind::None)
        newStem = target.filename().string();
    else if (newKind != Kind::None && newKind != kindOfExtension(from.file.extension().string()))
        throw EngineError(ErrInvalidParam, "拡張子を変えて名前を変更することはできません: " + newName);
    const std::filesystem::path dir = from.file.parent_path();

    TableLock lock(from.file, true, from.file.filename().string());
    const auto files = from.format->companionFiles(from.file);
    const std::string oldStem = from.file.stem().string();
    std::vector<TableStaging::Move> moves;
    for (const auto& f : files) {
        // Keep what follows the table's base name (".DBT", ".X02", ".mdx") as it is.
        const std::string fname = f.filename().string();
        const std::string rest = fname.size() >= oldStem.size() ? fname.substr(oldStem.size()) : f.extension().string();
        const auto to = dir / (newStem + rest);
        if (!findFileNoCase(dir, to.filename().string()).empty() &&
            strcasecmp(to.filename().c_str(), fname.c_str()) != 0)
            throw EngineError(ErrInvalidParam, "同じ名前のファイルが既にあります: " + to.filename().string());
        if (to.filename() != f.filename())
            moves.emplace_back(f, to);
    }
    if (moves.empty())
        return;
    // The companions first, the table file last: until the table file has its new name the
    // table is found under the old one, and the staging plan finishes the moves.
    std::rotate(moves.begin(), moves.begin() + 1, moves.end());
    TableStaging staging(dir);
    staging.commit(moves);
}

} // namespace vemo::engine::standard
