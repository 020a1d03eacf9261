// Every step of a write fails once (the k-th file operation, for every k, with ENOSPC or
// EIO): the table is then exactly as before, the same cursor's retry writes the change
// once, and a fresh open finds it writable with indexes in order. With a failure that
// persists (a full disk), a fresh open finds the table as before or as after, never between.
#include "Workload.h"
#include "engine/dataset/Table.h"
#include "engine/drivers/standard/io/FileOps.h"
#include "engine/session/Session.h"

#include <gtest/gtest.h>

using namespace durability;
using vemo::engine::standard::FaultPlan;

namespace {

void copyFiles(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::remove_all(to);
    std::filesystem::create_directories(to);
    for (const auto& e : std::filesystem::directory_iterator(from))
        std::filesystem::copy_file(e.path(), to / e.path().filename());
}

struct FaultCase {
    std::string format;
};

class Faults : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        format_ = GetParam();
        auto db = connect(base_.path(), format_);
        createTable(*db, format_);
        auto c = db->openTable(tableName(format_), {});
        std::mt19937 rng(11);
        for (int i = 0; i < 40; ++i) {
            Op op = randomOp(rng, model_);
            op.applyTo(*c);
            op.applyTo(model_);
        }
    }
    // The writes tried at every step: an insert with a note, an edit of the note, a key
    // change, a delete.
    std::vector<Op> ops() const {
        auto it = model_.begin();
        const int64_t a = it->first, b = (++it)->first, d = (++it)->first;
        Op ins{'I', 9001, 9001, {"NEW", 5, 777}};
        Op note{'U', a, a, {model_.at(a).name, 1, 4242}};
        Op key{'U', b, 9002, {"MOVED", 2, model_.at(b).noteSeed}};
        Op del{'D', d, d, {}};
        return {ins, note, key, del};
    }
    std::string format_;
    enginetest::TempDir base_, work_;
    Model model_;
};

} // namespace

TEST_P(Faults, EveryFailedStepLeavesTheTableAsBeforeAndTheRetryWritesOnce) {
    long injected = 0;
    for (const Op& op : ops()) {
        Model after = model_;
        op.applyTo(after);
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 400) << "a write of more than 400 steps";
            copyFiles(base_.path(), work_.path());
            auto db = connect(work_.path(), format_);
            auto c = db->openTable(tableName(format_), {});
            bool failed = false;
            FaultPlan::failAt(k, k % 2 ? ENOSPC : EIO);
            try {
                op.applyTo(*c);
            } catch (const EngineError& e) {
                failed = true;
                EXPECT_EQ(e.code(), ErrIO) << e.what();
            }
            FaultPlan::clear();
            if (!failed) {
                std::string problem;
                c->refresh();
                EXPECT_EQ(read(*c, &problem), normalised(after)) << op.text();
                break;
            }
            ++injected;
            std::string problem;
            c->refresh();
            ASSERT_EQ(read(*c, &problem), normalised(model_)) << op.text() << " failing at step " << k;
            ASSERT_NO_THROW(op.applyTo(*c)) << op.text() << " retried after step " << k;
            c.reset();
            auto fresh = connect(work_.path(), format_)->openTable(tableName(format_), {});
            ASSERT_EQ(fresh->readOnlyReason(), "") << op.text() << " step " << k;
            ASSERT_EQ(read(*fresh, &problem), normalised(after)) << op.text() << " step " << k;
            EXPECT_EQ(problem, "");
            EXPECT_EQ(orderProblems(*fresh, format_, after.size()), "") << op.text() << " step " << k;
        }
    }
    EXPECT_GT(injected, 20);
    std::printf("%s: %ld injected failures, each left the table as before\n", format_.c_str(), injected);
}

TEST_P(Faults, AFullDiskThatStaysFullLeavesBeforeOrAfterForTheNextOpen) {
    long injected = 0;
    for (const Op& op : ops()) {
        Model after = model_;
        op.applyTo(after);
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 400);
            copyFiles(base_.path(), work_.path());
            bool failed = false;
            {
                auto c = connect(work_.path(), format_)->openTable(tableName(format_), {});
                FaultPlan::failAt(k, ENOSPC, true);
                try {
                    op.applyTo(*c);
                } catch (const EngineError&) {
                    failed = true;
                }
                c.reset(); // closing may fail to write as well
                FaultPlan::clear();
            }
            if (!failed)
                break;
            ++injected;
            auto fresh = connect(work_.path(), format_)->openTable(tableName(format_), {});
            ASSERT_EQ(fresh->readOnlyReason(), "") << op.text() << " step " << k;
            std::string problem;
            const Model now = read(*fresh, &problem);
            EXPECT_EQ(problem, "");
            ASSERT_TRUE(now == normalised(model_) || now == normalised(after)) << op.text() << " step " << k;
            EXPECT_EQ(orderProblems(*fresh, format_, now.size()), "") << op.text() << " step " << k;
        }
    }
    std::printf("%s: %ld persistent failures, each left before or after\n", format_.c_str(), injected);
}

INSTANTIATE_TEST_SUITE_P(Formats, Faults, ::testing::Values("DBASE", "PARADOX"));

TEST(FaultsInTheDataset, AFailedPostKeepsTheEditAndItsRetryAddsOneRecord) {
    for (const std::string format : {"DBASE", "PARADOX"}) {
        enginetest::TempDir dir;
        createTable(*connect(dir.path(), format), format);
        Session session(dir / "engine.cfg");
        registerBuiltinDrivers(session);
        Table t(session);
        t.setTableName((dir / tableName(format)).string());
        t.open();
        t.append();
        t.setFieldText(0, "7");
        t.setFieldText(1, "SEVEN");
        FaultPlan::failAt(1, ENOSPC, true);
        EXPECT_THROW(t.post(), EngineError) << format;
        FaultPlan::clear();
        EXPECT_EQ(t.state(), DataSetState::Insert) << format;
        EXPECT_EQ(t.fieldText(1), "SEVEN");
        t.post();
        EXPECT_EQ(t.state(), DataSetState::Browse);
        auto c = connect(dir.path(), format)->openTable(tableName(format), {});
        EXPECT_EQ(c->count(), 1) << format;
    }
}
