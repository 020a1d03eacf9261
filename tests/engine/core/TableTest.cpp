#include "TestDir.h"
#include "engine/Drivers.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

using namespace vemo::engine;

namespace {

FieldDef def(std::string name, FieldType type, int size = 0, int precision = 0, int scale = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.size = size;
    f.precision = precision;
    f.scale = scale;
    return f;
}

// A STANDARD alias over a private folder with one dBASE table of five people.
class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerBuiltinDrivers(session);
        session.addAlias("T", "STANDARD", {"PATH=" + dir.path().string(), "DEFAULT DRIVER=DBASE"});
        Table t(session);
        t.setDatabaseName("T");
        t.setTableName("PEOPLE.DBF");
        IndexDef byState;
        byState.name = "STATE";
        byState.fields = "STATE";
        t.createTable({def("NAME", FieldType::String, 20), def("STATE", FieldType::String, 2),
                       def("QTY", FieldType::Integer, 0, 9, 0), def("PRICE", FieldType::Float, 0, 12, 2)},
                      {byState});
        t.open();
        const std::vector<std::tuple<const char*, const char*, int>> rows = {
            {"Ann", "CA", 1}, {"Bob", "MA", 2}, {"Cy", "CA", 3}, {"Dee", "", 4}, {"山田", "TX", 5}};
        for (auto [name, state, qty] : rows) {
            t.append();
            t.setFieldText(0, name);
            t.setFieldText(1, state);
            t.setFieldValue(2, int64_t{qty});
            t.setFieldValue(3, qty * 1.25);
            t.post();
        }
    }

    std::unique_ptr<Table> open(bool cached = false) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("T");
        t->setTableName("PEOPLE.DBF");
        t->setCachedUpdates(cached);
        t->open();
        return t;
    }

    static std::vector<std::string> names(Table& t) {
        std::vector<std::string> out;
        for (t.first(); !t.eof(); t.next())
            out.push_back(t.fieldText(0));
        return out;
    }

    TestDir dir;
    Session session{dir.path() / "engine.cfg"};
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(TableTest, NavigationEditingAndDeleteReachTheFile) {
    auto t = open();
    EXPECT_EQ(t->recordCount(), 5);
    EXPECT_EQ(names(*t), (Names{"Ann", "Bob", "Cy", "Dee", "山田"}));
    t->last();
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->fieldText(3), "6.25");
    t->prior();
    EXPECT_EQ(t->fieldText(0), "Dee");
    Row row;
    ASSERT_TRUE(t->rowAt(1, row));
    EXPECT_EQ(std::get<std::string>(row[0]), "Bob");
    EXPECT_FALSE(t->rowAt(5, row));
    EXPECT_EQ(t->fieldText(0), "Dee"); // rowAt does not move

    t->setFieldText(1, "WA"); // starts an edit
    EXPECT_EQ(t->state(), DataSetState::Edit);
    t->post();
    t->moveTo(1);
    t->edit();
    t->setFieldText(0, "Bobby");
    t->cancel();
    EXPECT_EQ(t->fieldText(0), "Bob");
    t->remove();
    EXPECT_EQ(t->recordCount(), 4);
    EXPECT_EQ(t->fieldText(0), "Cy"); // the record after the deleted one

    auto other = open();
    EXPECT_EQ(names(*other), (Names{"Ann", "Cy", "Dee", "山田"}));
    other->moveTo(2);
    EXPECT_EQ(other->fieldText(1), "WA");
    EXPECT_THROW(other->setFieldText(2, "many"), EngineError);
    EXPECT_EQ(other->state(), DataSetState::Browse);
}

TEST_F(TableTest, FilterShowsMatchingRecordsAndEmptiesOnlyThem) {
    auto t = open();
    t->moveTo(1); // Bob, filtered out below: the next passing record becomes current
    t->setFilter("STATE = 'CA' or QTY > 4");
    t->setFiltered(true);
    EXPECT_EQ(t->fieldText(0), "Cy");
    EXPECT_EQ(t->recordCount(), 3);
    EXPECT_EQ(names(*t), (Names{"Ann", "Cy", "山田"}));

    // An edited record that no longer passes stays until the cursor moves on.
    t->first();
    t->setFieldText(1, "NY");
    t->post();
    EXPECT_EQ(t->fieldText(0), "Ann");
    EXPECT_EQ(t->recordCount(), 3);
    t->next();
    EXPECT_EQ(t->fieldText(0), "Cy");
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

TEST_F(TableTest, SecondWriterOfTheSameRecordGetsTheUpdateErrorAndTheFirstEditSurvives) {
    auto a = open(true);
    auto b = open(true);
    a->moveTo(2);
    b->moveTo(2); // both read "Cy"

    a->setFieldText(0, "Cyrus");
    a->post();
    EXPECT_TRUE(a->updatesPending());
    EXPECT_EQ(a->fieldText(0), "Cyrus"); // shown from the cache before it is applied
    ASSERT_TRUE(a->applyUpdates());
    a->commitUpdates();
    EXPECT_FALSE(a->updatesPending());

    int errors = 0;
    b->onUpdateError = [&](Table&, const EngineError& e, UpdateKind kind) {
        ++errors;
        EXPECT_EQ(e.code(), ErrUpdateConflict);
        EXPECT_EQ(kind, UpdateKind::Modify);
        return UpdateAction::Abort;
    };
    b->setFieldText(0, "Cynthia");
    b->post();
    EXPECT_FALSE(b->applyUpdates());
    EXPECT_EQ(errors, 1);
    b->cancelUpdates();
    b->refresh();
    EXPECT_EQ(b->fieldText(0), "Cyrus");

    // Deleting a record someone else changed is refused the same way; Fail rethrows.
    b->onUpdateError = nullptr;
    a->moveTo(0);
    b->moveTo(0);
    a->setFieldText(3, "9.5");
    a->post();
    a->applyUpdates();
    a->commitUpdates();
    b->remove();
    EXPECT_THROW(b->applyUpdates(), EngineError);
    b->cancelUpdates();

    auto check = open();
    EXPECT_EQ(names(*check), (Names{"Ann", "Bob", "Cyrus", "Dee", "山田"}));
    check->first();
    EXPECT_EQ(check->fieldText(3), "9.5");
}

TEST_F(TableTest, CachedInsertAndDeleteAreWrittenOnlyWhenApplied) {
    auto t = open(true);
    t->append();
    t->setFieldText(0, "Eve");
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
    t->setFieldText(0, "Evelyn");
    t->post();
    t->cancelUpdates();
    EXPECT_EQ(t->fieldText(0), "Eve");
}

TEST_F(TableTest, ExclusiveOpenConflicts) {
    auto shared = open();
    Table excl(session);
    excl.setDatabaseName("T");
    excl.setTableName("PEOPLE.DBF");
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
    second.setTableName("PEOPLE.DBF");
    second.setExclusive(true);
    EXPECT_THROW(second.open(), EngineError);
}

TEST_F(TableTest, TableFileOpenedWithoutAliasRenameAndDelete) {
    Table t(session);
    t.setDatabaseName("");
    t.setTableName((dir.path() / "PEOPLE.DBF").string());
    t.open();
    EXPECT_EQ(t.recordCount(), 5);
    EXPECT_THROW(t.renameTable("X.DBF"), EngineError); // open tables stay put
    t.close();
    t.renameTable("STAFF.DBF");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "STAFF.DBF"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "PEOPLE.DBF"));
    t.open();
    EXPECT_EQ(t.recordCount(), 5);
    t.close();
    t.deleteTable();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "STAFF.DBF"));
    EXPECT_THROW(t.open(), EngineError);
}

TEST_F(TableTest, RequiredFieldAndReadOnlyAreRefused) {
    Table t(session);
    t.setDatabaseName("T");
    t.setTableName("PEOPLE.DBF");
    t.setReadOnly(true);
    t.open();
    EXPECT_FALSE(t.canModify());
    EXPECT_THROW(t.edit(), EngineError);
    EXPECT_THROW(t.remove(), EngineError);
    EXPECT_EQ(open()->recordCount(), 5);
}
