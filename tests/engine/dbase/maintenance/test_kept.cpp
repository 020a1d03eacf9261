// What a writing cursor keeps from one post to the next (its order with the leading bytes of
// each key, the index files with their upper pages and each leaf's last entry): random writes
// in index orders checked against a model sorted here, and other cursors and processes
// writing between the posts, whose changes the cursor must see.
#include "Maintenance.h"
#include "engine/drivers/standard/io/FileOps.h"

#include <algorithm>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace maint;

namespace {

constexpr size_t NameWidth = 24;

// K.DBF: ID, NAME (24 characters, longer than the key bytes an order keeps), NOTE; tags
// ID (unique), NAME, NAMED (NAME descending).
void createKeyed(Database& db) {
    using enginetest::field;
    db.createTable("K", {field("ID", FieldType::Integer), field("NAME", FieldType::String, int(NameWidth)),
                         field("NOTE", FieldType::String, 10)},
                   {tag("ID", "ID", true), tag("NAME", "NAME"), tag("NAMED", "NAME", false, true)});
}

// Names that tie far into the key: a long shared head with different tails, names that end
// inside the kept bytes, and a few that repeat often.
std::string nameOf(std::mt19937& rng) {
    switch (rng() % 4) {
    case 0: return "SHARED-HEAD-0123" + (rng() % 4 ? std::to_string(rng() % 50) : std::string()); // 16 shared bytes
    case 1: return "SHARED-HEAD-0123" + std::string(1, char('A' + rng() % 3)) + "TAIL" + std::to_string(rng() % 9);
    case 2: return "N" + std::to_string(rng() % 8);                   // many equal keys
    default: return "W" + std::to_string(rng() % 100000);
    }
}

// Which file is at the path: a tree that had to be built anew (the repair of an index found
// not to match mid-write) is a new file.
ino_t inodeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string padded(const std::string& name) { return name + std::string(NameWidth - name.size(), ' '); }

// The live records as the test knows them: record number (1-based) -> name.
using Model = std::map<int64_t, std::string>;

// Record numbers in the order of the NAME tag (ascending or descending), equal names in
// record order, sorted here from the model.
std::vector<int64_t> sorted(const Model& m, bool descending) {
    std::vector<std::pair<std::string, int64_t>> v;
    for (const auto& [recno, name] : m)
        v.emplace_back(padded(name), recno);
    std::stable_sort(v.begin(), v.end(), [&](const auto& a, const auto& b) {
        return descending ? a.first > b.first : a.first < b.first;
    });
    std::vector<int64_t> out;
    for (const auto& e : v)
        out.push_back(e.second);
    return out;
}

std::vector<int64_t> orderOf(Cursor& c) {
    std::vector<int64_t> out;
    Row r;
    RowId id;
    for (int64_t p = 0; c.read(p, r, id); ++p)
        out.push_back(id.recno);
    return out;
}

// Every tree of K holds one entry a record, in the order the model gives.
std::string treeProblems(const std::filesystem::path& dir, const Model& live, int64_t records) {
    std::string out;
    for (const auto& t : dbase::readMdxTags(dir / "K.MDX")) {
        const auto entries = dbase::readIndexEntries(t);
        if (int64_t(entries.size()) != records)
            out += t.name + ": " + std::to_string(entries.size()) + " entries; ";
        if (t.name == "ID")
            continue;
        std::vector<int64_t> walked;
        for (const auto& e : entries)
            if (live.count(e.recno))
                walked.push_back(e.recno);
        if (walked != sorted(live, t.descending))
            out += t.name + ": the tree's order is not the model's; ";
    }
    return out;
}

class KeptBetweenPosts : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = connect(dir_.path());
        createKeyed(*db_);
        // More records than one block of the order holds, through one batch.
        auto c = db_->openTable("K", {});
        std::mt19937 rng(5);
        c->beginBatch();
        for (int64_t i = 1; i <= 5000; ++i) {
            const std::string n = nameOf(rng);
            c->insert({i, n, std::string()});
            model_[i] = n;
        }
        c->commitBatch();
        records_ = 5000;
    }
    dbtest::TempDir dir_;
    std::unique_ptr<Database> db_;
    Model model_;
    int64_t records_ = 0;
    int64_t nextId_ = 100000;

    // One random write through c, kept in the model; returns the record written (1-based).
    int64_t randomWrite(Cursor& c, std::mt19937& rng) {
        const unsigned what = rng() % 3;
        if (what == 0 || model_.size() < 100) {
            const std::string n = nameOf(rng);
            const RowId id = c.insert({nextId_++, n, std::string()});
            model_[id.recno] = n;
            ++records_;
            return id.recno;
        }
        Row before;
        RowId id;
        EXPECT_TRUE(c.read(int64_t(rng() % uint64_t(c.count())), before, id));
        if (what == 1) {
            Row after = before;
            after[1] = nameOf(rng);
            c.update(id, before, after);
            model_[id.recno] = std::get<std::string>(after[1]);
        } else {
            c.remove(id, before);
            model_.erase(id.recno);
        }
        return id.recno;
    }
};

} // namespace

// A cursor in each order writing at random: the record it wrote is where the model puts
// it, a search for its name finds the model's first place for it, and every few hundred
// writes the whole order is the model's.
TEST_F(KeptBetweenPosts, RandomWritesInAnIndexOrderFollowAnIndependentSort) {
    ino_t inode = 0;
    for (const bool descending : {false, true}) {
        auto c = db_->openTable("K", {});
        c->setOrder(descending ? "NAMED" : "NAME");
        std::mt19937 rng(descending ? 31 : 17);
        for (int step = 1; step <= 1500; ++step) {
            const int64_t recno = randomWrite(*c, rng);
            if (step == 1 && !descending)
                inode = inodeOf(dir_ / "K.MDX"); // after the one-time check of the files
            // Every write found the trees as it left them: none was rebuilt.
            ASSERT_EQ(inodeOf(dir_ / "K.MDX"), inode) << "step " << step;
            const std::vector<int64_t> want = sorted(model_, descending);
            ASSERT_EQ(c->count(), int64_t(want.size())) << "step " << step;
            const int64_t at = c->positionOf(RowId{recno, {}});
            if (!model_.count(recno)) {
                ASSERT_EQ(at, -1) << "step " << step;
            } else {
                const auto it = std::find(want.begin(), want.end(), recno);
                ASSERT_EQ(at, it - want.begin()) << "step " << step;
                if (!descending) {
                    const std::string name = model_[recno];
                    const auto first = std::find_if(want.begin(), want.end(),
                                                    [&](int64_t r) { return padded(model_[r]) >= padded(name); });
                    ASSERT_EQ(c->seek({name}), first - want.begin()) << "step " << step << " name " << name;
                }
            }
            if (step % 500 == 0) {
                ASSERT_EQ(orderOf(*c), want) << "step " << step;
            }
        }
    }
    EXPECT_EQ(treeProblems(dir_.path(), model_, records_), "");
}

// Between two posts of cursor a, another cursor of this process and then another process
// change names (the record count stays), delete and add enough records to split pages: a's
// next posts see all of it (its order is the model's) and leave every tree right.
TEST_F(KeptBetweenPosts, AnotherCursorOrProcessWritingBetweenPostsIsSeen) {
    auto a = db_->openTable("K", {});
    a->setOrder("NAME");
    std::mt19937 rng(41);
    for (int i = 0; i < 20; ++i)
        randomWrite(*a, rng);
    ASSERT_EQ(orderOf(*a), sorted(model_, false));
    for (int round = 0; round < 6; ++round) {
        const bool otherProcess = round % 2 == 1;
        // The other writer's edits change keys only: no count a could notice.
        auto renameSome = [&](Database& db, std::mt19937& r, Model& m) {
            auto b = db.openTable("K", {});
            b->setOrder("ID");
            for (int k = 0; k < 40; ++k) {
                Row before;
                RowId id;
                if (!b->read(int64_t(r() % uint64_t(b->count())), before, id))
                    return false;
                Row after = before;
                after[1] = "RENAMED" + std::to_string(r() % 1000);
                b->update(id, before, after);
                m[id.recno] = std::get<std::string>(after[1]);
            }
            if (round >= 2) {
                // Long runs of one new key: leaves split, branch pages change.
                for (int k = 0; k < 300; ++k) {
                    const RowId id = b->insert({int64_t(500000 + round * 1000 + k), std::string("SPLITTER"), std::string()});
                    m[id.recno] = "SPLITTER";
                }
            }
            return true;
        };
        std::mt19937 other(unsigned(100 + round));
        Model theirs = model_;
        if (otherProcess) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                bool ok = false;
                try {
                    auto db = connect(dir_.path());
                    ok = renameSome(*db, other, theirs);
                } catch (...) {
                }
                ::_exit(ok ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            // What the child wrote, read back in record order (no index involved).
            auto probe = connect(dir_.path())->openTable("K", {OpenOptions{false, true}});
            model_.clear();
            Row r;
            RowId id;
            for (int64_t p = 0; probe->read(p, r, id); ++p)
                model_[id.recno] = std::get<std::string>(r[1]);
        } else {
            ASSERT_TRUE(renameSome(*db_, other, theirs));
            model_ = theirs;
        }
        // a has not looked since: its next post finds out, and so do the ones after it;
        // some of them land where the other writer split pages.
        for (int k = 0; k < 30; ++k) {
            randomWrite(*a, rng);
            const RowId id = a->insert({nextId_++, std::string(k % 2 ? "SPLITTER" : "RENAMED5"), std::string()});
            model_[id.recno] = k % 2 ? "SPLITTER" : "RENAMED5";
        }
        ASSERT_EQ(orderOf(*a), sorted(model_, false)) << "round " << round;
        ASSERT_EQ(treeProblems(dir_.path(), model_, int64_t(recordsInFile(dir_ / "K.DBF"))), "") << "round " << round;
    }
    EXPECT_EQ(treeProblems(dir_.path(), model_, int64_t(recordsInFile(dir_ / "K.DBF"))), "");
}

// Posts that fail before anything reaches the files (the journal's first write fails), in
// the place where the successful ones split pages: what the failed ones did to the trees in
// memory is not kept, so the posts after them leave every tree right without a rebuild.
TEST_F(KeptBetweenPosts, APostRolledBackLeavesNothingOfItKept) {
    using vemo::engine::standard::FaultPlan;
    auto a = db_->openTable("K", {});
    a->setOrder("NAME");
    std::mt19937 rng(53);
    randomWrite(*a, rng); // the one-time check of the files is behind us
    const auto inode = inodeOf(dir_ / "K.MDX");
    int failed = 0;
    for (int i = 0; i < 200; ++i) {
        FaultPlan::failAt(1 + i % 3, EIO);
        try {
            a->insert({nextId_++, std::string("SPLITTER"), std::string()});
        } catch (const EngineError& e) {
            EXPECT_EQ(e.code(), ErrIO);
            ++failed;
        }
        FaultPlan::clear();
        for (const char* name : {"SPLITTER", "SPLITTEQ", "SPLITTES"}) {
            const RowId id = a->insert({nextId_++, std::string(name), std::string()});
            model_[id.recno] = name;
        }
    }
    EXPECT_EQ(failed, 200);
    EXPECT_EQ(inodeOf(dir_ / "K.MDX"), inode) << "the index file was rebuilt";
    EXPECT_EQ(orderOf(*a), sorted(model_, false));
    EXPECT_EQ(treeProblems(dir_.path(), model_, int64_t(recordsInFile(dir_ / "K.DBF"))), "");
}

// An edit that leaves the unique key alone needs no look for a clash; one that changes it
// to another record's key is still refused, and writes nothing.
TEST_F(KeptBetweenPosts, AnEditIsCheckedForClashesOnlyInTheKeysItChanges) {
    auto c = db_->openTable("K", {});
    c->setOrder("ID");
    Row before, other;
    RowId id, otherId;
    ASSERT_TRUE(c->read(10, before, id));
    ASSERT_TRUE(c->read(11, other, otherId));
    Row renamed = before;
    renamed[1] = std::string("RENAMED-ONLY");
    c->update(id, before, renamed);
    const std::string bytes = dbtest::bytesOf(dir_ / "K.DBF") + dbtest::bytesOf(dir_ / "K.MDX");
    Row clash = renamed;
    clash[0] = other[0];
    clash[1] = std::string("WITH-A-CLASH");
    EXPECT_EQ(enginetest::errorCodeOf([&] { c->update(id, renamed, clash); }), ErrKeyViolation);
    EXPECT_TRUE(dbtest::bytesOf(dir_ / "K.DBF") + dbtest::bytesOf(dir_ / "K.MDX") == bytes);
    model_[id.recno] = "RENAMED-ONLY";
    EXPECT_EQ(treeProblems(dir_.path(), model_, records_), "");
}
