#include "tests/engine/EngineTestSupport.h"
#include "engine/drivers/Drivers.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <gtest/gtest.h>

using namespace vemo::engine;
using namespace enginetest;

namespace {

constexpr int kId = 0, kName = 1, kState = 2, kQty = 3, kPrice = 4;

FieldDef def(std::string name, FieldType type, int size = 0, int precision = 0, int scale = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.size = size;
    f.precision = precision;
    f.scale = scale;
    return f;
}

// A STANDARD alias over a private folder with one table of five people, as a dBASE table
// (whose driver filters by itself) and as a Paradox table (filtered by the dataset).
class TableTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        registerBuiltinDrivers(session);
        session.addAlias("T", "STANDARD", {"PATH=" + dir.path().string(), "DEFAULT DRIVER=DBASE"});
        Table t(session);
        t.setDatabaseName("T");
        t.setTableName(table);
        // Paradox keeps a keyed table in key order and needs the key for secondary indexes.
        std::vector<IndexDef> indexes;
        if (GetParam() == ".DB") {
            IndexDef key;
            key.fields = "ID";
            key.primary = true;
            indexes.push_back(key);
        }
        IndexDef byState;
        byState.name = "STATE";
        byState.fields = "STATE";
        indexes.push_back(byState);
        FieldDef qty = def("QTY", FieldType::Integer, 0, 9, 0);
        qty.nativeType = GetParam() == ".DBF" ? "N" : "";
        t.createTable({def("ID", FieldType::Integer, 0, 9, 0), def("NAME", FieldType::String, 20),
                       def("STATE", FieldType::String, 2), qty, def("PRICE", FieldType::Float, 0, 12, 2)},
                      indexes);
        t.open();
        const std::vector<std::tuple<const char*, const char*, int>> rows = {
            {"Ann", "CA", 1}, {"Bob", "MA", 2}, {"Cy", "CA", 3}, {"Dee", "", 4}, {"山田", "TX", 5}};
        for (auto [name, state, qty] : rows) {
            t.append();
            t.setFieldValue(kId, int64_t{qty});
            t.setFieldText(kName, name);
            t.setFieldText(kState, state);
            t.setFieldValue(kQty, int64_t{qty});
            t.setFieldValue(kPrice, qty * 1.25);
            t.post();
        }
    }

    std::unique_ptr<Table> open(bool cached = false) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("T");
        t->setTableName(table);
        t->setCachedUpdates(cached);
        t->open();
        return t;
    }

    static std::vector<std::string> names(Table& t) {
        std::vector<std::string> out;
        for (t.first(); !t.eof(); t.next())
            out.push_back(t.fieldText(kName));
        return out;
    }

    TempDir dir;
    Session session{dir.path() / "engine.cfg"};
    std::string table = "PEOPLE" + GetParam();
};

using Names = std::vector<std::string>;

} // namespace

TEST_P(TableTest, NavigationEditingAndDeleteReachTheFile) {
    auto t = open();
    EXPECT_EQ(t->recordCount(), 5);
    EXPECT_EQ(names(*t), (Names{"Ann", "Bob", "Cy", "Dee", "山田"}));
    t->last();
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->fieldText(kPrice), "6.25");
    t->prior();
    EXPECT_EQ(t->fieldText(kName), "Dee");
    Row row;
    ASSERT_TRUE(t->rowAt(1, row));
    EXPECT_EQ(std::get<std::string>(row[kName]), "Bob");
    EXPECT_FALSE(t->rowAt(5, row));
    EXPECT_EQ(t->fieldText(kName), "Dee"); // rowAt does not move

    t->setFieldText(kState, "WA"); // starts an edit
    EXPECT_EQ(t->state(), DataSetState::Edit);
    t->post();
    t->moveTo(1);
    t->edit();
    t->setFieldText(kName, "Bobby");
    t->cancel();
    EXPECT_EQ(t->fieldText(kName), "Bob");
    t->remove();
    EXPECT_EQ(t->recordCount(), 4);
    EXPECT_EQ(t->fieldText(kName), "Cy"); // the record after the deleted one

    auto other = open();
    EXPECT_EQ(names(*other), (Names{"Ann", "Cy", "Dee", "山田"}));
    other->moveTo(2);
    EXPECT_EQ(other->fieldText(kState), "WA");
    EXPECT_THROW(other->setFieldText(kQty, "many"), EngineError);
    EXPECT_EQ(other->state(), DataSetState::Browse);

    // A value the file cannot hold is refused at post and the edit stays open, not lost.
    other->setFieldText(kName, "Deedee");
    other->setFieldText(kState, "TOO LONG FOR TWO");
    EXPECT_THROW(other->post(), EngineError);
    EXPECT_EQ(other->state(), DataSetState::Edit);
    EXPECT_EQ(other->fieldText(kName), "Deedee");
    other->setFieldText(kState, "OR");
    other->post();
    EXPECT_EQ(open()->recordCount(), 4);
    auto again = open();
    again->moveTo(2);
    EXPECT_EQ(again->fieldText(kName) + again->fieldText(kState), "DeedeeOR");
}

TEST_P(TableTest, FilterShowsMatchingRecordsAndEmptiesOnlyThem) {
    auto t = open();
    t->moveTo(1); // Bob, filtered out below: the next passing record becomes current
    t->setFilter("STATE = 'CA' or QTY > 4");
    t->setFiltered(true);
    EXPECT_EQ(t->fieldText(kName), "Cy");
    EXPECT_EQ(t->recordCount(), 3);
    EXPECT_EQ(names(*t), (Names{"Ann", "Cy", "山田"}));

    // An edited record that no longer passes stays until the cursor moves on.
    t->first();
    t->setFieldText(kState, "NY");
    t->post();
    EXPECT_EQ(t->fieldText(kName), "Ann");
    EXPECT_EQ(t->recordCount(), 3);
    t->next();
    EXPECT_EQ(t->fieldText(kName), "Cy");
    EXPECT_EQ(t->recordCount(), 2);

    // Malformed text raises and leaves filtering off.
    EXPECT_THROW(t->setFilter("STATE = "), EngineError);
    EXPECT_FALSE(t->filtered());
    EXPECT_EQ(t->recordCount(), 5);

    t->setFilter("STATE = 'CA' or STATE = 'TX'");
    t->setFiltered(true);
    t->setIndexName("STATE");
    EXPECT_EQ(names(*t), (Names{"Cy", "山田"}));
    t->emptyTable();
    EXPECT_EQ(t->recordCount(), 0);
    EXPECT_TRUE(t->eof());
    t->setFiltered(false);
    EXPECT_EQ(t->recordCount(), 3);
    t->setIndexName("");
    EXPECT_EQ(names(*t), (Names{"Ann", "Bob", "Dee"}));
}

TEST_P(TableTest, CachedEditLeavingTheFilterStaysUntilTheCursorMoves) {
    auto t = open(true);
    t->setFilter("STATE = 'CA' or STATE = 'TX'");
    t->setFiltered(true);
    t->moveTo(1); // Cy
    t->setFieldText(kState, "NY");
    t->post();
    ASSERT_TRUE(t->applyUpdates());
    t->commitUpdates();
    EXPECT_EQ(t->fieldText(kName), "Cy");
    EXPECT_EQ(t->fieldText(kState), "NY");
    EXPECT_EQ(t->recordCount(), 3);
    t->prior();
    EXPECT_EQ(t->fieldText(kName), "Ann");
    EXPECT_EQ(t->recordCount(), 2);

    // A new record that does not pass is shown until the cursor moves, then deleted as a ghost.
    t->append();
    t->setFieldValue(kId, int64_t{7});
    t->setFieldText(kName, "Zed");
    t->setFieldText(kState, "NV");
    t->post();
    ASSERT_TRUE(t->applyUpdates());
    t->commitUpdates();
    EXPECT_EQ(t->fieldText(kName), "Zed");
    t->remove();
    ASSERT_TRUE(t->applyUpdates());
    t->commitUpdates();
    EXPECT_EQ(names(*t), (Names{"Ann", "山田"}));
    t->setFiltered(false);
    EXPECT_EQ(names(*t), (Names{"Ann", "Bob", "Cy", "Dee", "山田"}));
}

TEST_P(TableTest, SecondWriterOfTheSameRecordGetsTheUpdateErrorAndTheFirstEditSurvives) {
    auto a = open(true);
    auto b = open(true);
    a->moveTo(2);
    b->moveTo(2); // both read "Cy"

    a->setFieldText(kName, "Cyrus");
    a->post();
    EXPECT_TRUE(a->updatesPending());
    EXPECT_EQ(a->fieldText(kName), "Cyrus"); // shown from the cache before it is applied
    ASSERT_TRUE(a->applyUpdates());
    a->commitUpdates();
    EXPECT_FALSE(a->updatesPending());

    int errors = 0;
    // As the table window answers: drop every pending change from inside the handler, abort.
    b->onUpdateError = [&](Table& table, const EngineError& e, UpdateKind kind) {
        ++errors;
        EXPECT_EQ(e.code(), ErrUpdateConflict);
        EXPECT_EQ(kind, UpdateKind::Modify);
        table.cancelUpdates();
        return UpdateAction::Abort;
    };
    b->setFieldText(kName, "Cynthia");
    b->post();
    EXPECT_FALSE(b->applyUpdates());
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(b->updatesPending());
    b->commitUpdates();
    EXPECT_EQ(b->fieldText(kName), "Cyrus");

    // Deleting a record someone else changed is refused the same way; Fail rethrows.
    b->onUpdateError = nullptr;
    a->moveTo(0);
    b->moveTo(0);
    a->setFieldText(kPrice, "9.5");
    a->post();
    a->applyUpdates();
    a->commitUpdates();
    b->remove();
    EXPECT_THROW(b->applyUpdates(), EngineError);
    b->cancelUpdates();

    auto check = open();
    EXPECT_EQ(names(*check), (Names{"Ann", "Bob", "Cyrus", "Dee", "山田"}));
    check->first();
    EXPECT_EQ(check->fieldText(kPrice), "9.5");
}

TEST_P(TableTest, CachedInsertAndDeleteAreWrittenOnlyWhenApplied) {
    auto t = open(true);
    t->append();
    t->setFieldValue(kId, int64_t{6});
    t->setFieldText(kName, "Eve");
    t->post();
    t->moveTo(0);
    t->remove();
    EXPECT_EQ(t->recordCount(), 5);
    EXPECT_EQ(open()->recordCount(), 5);
    EXPECT_EQ(names(*t), (Names{"Bob", "Cy", "Dee", "山田", "Eve"}));
    ASSERT_TRUE(t->applyUpdates());
    t->commitUpdates();
    auto check = open();
    EXPECT_EQ(names(*check), (Names{"Bob", "Cy", "Dee", "山田", "Eve"}));

    t->last();
    t->setFieldText(kName, "Evelyn");
    t->post();
    t->cancelUpdates();
    EXPECT_EQ(t->fieldText(kName), "Eve");
}

TEST_P(TableTest, EmptyTableReportsProgressAndStopsWhenAsked) {
    auto t = open();
    t->emptyTable([](int64_t, int64_t) { return false; });
    EXPECT_EQ(t->recordCount(), 5);
    std::vector<std::pair<int64_t, int64_t>> calls;
    t->emptyTable([&](int64_t done, int64_t total) {
        calls.emplace_back(done, total);
        return true;
    });
    EXPECT_EQ(t->recordCount(), 0);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), (std::pair<int64_t, int64_t>{0, 5}));
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>{5, 5}));
    EXPECT_EQ(open()->recordCount(), 0);
}

TEST_P(TableTest, ExclusiveOpenConflicts) {
    auto shared = open();
    Table excl(session);
    excl.setDatabaseName("T");
    excl.setTableName(table);
    excl.setExclusive(true);
    try {
        excl.open();
        FAIL() << "exclusive open beside a shared one";
    } catch (const EngineError& e) {
        EXPECT_TRUE(e.code() == ErrExclusiveRequired || e.code() == ErrLocked) << e.code();
    }
    EXPECT_FALSE(excl.isOpen());
    shared->close();
    excl.open();
    Table second(session);
    second.setDatabaseName("T");
    second.setTableName(table);
    second.setExclusive(true);
    EXPECT_THROW(second.open(), EngineError);
}

TEST_P(TableTest, TableFileOpenedWithoutAliasRenameAndDelete) {
    Table t(session);
    t.setDatabaseName("");
    t.setTableName((dir.path() / table).string());
    t.open();
    EXPECT_EQ(t.recordCount(), 5);
    EXPECT_THROW(t.renameTable("X" + GetParam()), EngineError); // open tables stay put
    t.close();
    t.renameTable("STAFF" + GetParam());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / ("STAFF" + GetParam())));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / table));
    t.open();
    EXPECT_EQ(t.recordCount(), 5);
    t.close();
    t.deleteTable();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / ("STAFF" + GetParam())));
    EXPECT_THROW(t.open(), EngineError);
}

TEST_P(TableTest, RequiredFieldAndReadOnlyAreRefused) {
    Table t(session);
    t.setDatabaseName("T");
    t.setTableName(table);
    t.setReadOnly(true);
    t.open();
    EXPECT_FALSE(t.canModify());
    EXPECT_THROW(t.edit(), EngineError);
    EXPECT_THROW(t.remove(), EngineError);
    EXPECT_EQ(open()->recordCount(), 5);
}

INSTANTIATE_TEST_SUITE_P(Formats, TableTest, ::testing::Values(".DBF", ".DB"),
                         [](const auto& info) { return info.param == ".DBF" ? std::string("dBASE") : std::string("Paradox"); });
