// The batch move with its progress window, and the rules of the copy dialogs.
#include "copy/TBatchMoveStateForm.h"
#include "copy/TTABLE_COPY.h"
#include "copy/TTABLE_COPY2.h"
#include "query/TComboGrid.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "copy/TTZBatchMove.h"
#include "copy/TableCopyRules.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "tests/engine/EngineTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace vemo;
using namespace vemo::engine;
using enginetest::errorCodeOf;
using enginetest::field;

namespace {

struct CopyTest : ::testing::Test {
    enginetest::TempDir dir;
    std::unique_ptr<Session> s;
    void SetUp() override {
        const auto cfg = dir / "engine.cfg";
        std::ofstream(cfg) << "# aliases\n";
        sqlite3* db = nullptr;
        sqlite3_open((dir / "a.sqlite").c_str(), &db);
        sqlite3_close(db);
        s = std::make_unique<Session>(cfg);
        registerBuiltinDrivers(*s);
        s->open();
        s->addAlias("LITE", "SQLITE", {"DATABASE=" + (dir / "a.sqlite").string()});
        s->database("LITE").createTable("SRC", {field("CODE", FieldType::Integer), field("NAME", FieldType::String, 10)}, {});
        s->database("LITE").createTable("EMPTY", {field("CODE", FieldType::Integer)}, {});
        auto c = s->openTable("LITE", "SRC", {});
        s->database("LITE").beginWork();
        for (int i = 0; i < 2500; ++i)
            c->insert({int64_t(i), "名前" + std::to_string(i)});
        s->database("LITE").commitWork();
    }
    int topLevelStateForms() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<copy::TBatchMoveStateForm*>(w) != nullptr;
        return n;
    }
};

} // namespace

TEST(CopyProgressWindow, ShowsTheRecordCountOfMessagesAgainstTheBarsMaximum) {
    copy::TBatchMoveStateForm form;
    form.ProgressBar1->setMaximum(1000);
    ProgressRecord r;
    setProgressMessage(r, "転送済みレコード: 250");
    form.showProgress(r);
    EXPECT_EQ(form.ProgressBar1->value(), 250);
    EXPECT_EQ(form.Label1->text(), QStringLiteral("25%"));
    setProgressMessage(r, "転送済みレコード:");
    form.showProgress(r);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.Label1->text(), QStringLiteral("0%"));
    form.ProgressBar1->setMaximum(200);
    r.percentDone = 50;
    form.showProgress(r);
    EXPECT_EQ(form.ProgressBar1->value(), 50);
    EXPECT_EQ(form.Label1->text(), QStringLiteral("25%"));
}

TEST(CopyRules, ModesMappingLinesAndProblemFolders) {
    const auto& modes = copy::copyModeItems();
    ASSERT_EQ(modes.size(), 5);
    EXPECT_EQ(modes[copy::kCopyModeItem].mode, BatchMode::Copy);
    EXPECT_EQ(modes[4].mode, BatchMode::Delete);
    EXPECT_FALSE(modes[0].readsDestinationIndex);
    EXPECT_TRUE(modes[2].readsDestinationIndex);
    EXPECT_FALSE(modes[3].readsDestinationIndex);
    EXPECT_EQ(copy::mappingLine("NAME", "NAME"), QStringLiteral("NAME"));
    EXPECT_EQ(copy::mappingLine("CODE", "ID"), QStringLiteral("ID = CODE"));
    EXPECT_EQ(copy::mappingLine("CODE", ""), QString());
    EXPECT_EQ(copy::mappingCells("ID = CODE"), qMakePair(QStringLiteral("CODE"), QStringLiteral("ID")));
    EXPECT_EQ(copy::mappingCells("NAME"), qMakePair(QStringLiteral("NAME"), QStringLiteral("NAME")));
    EXPECT_EQ(copy::problemTablePrefix(""), QString());
    EXPECT_EQ(copy::problemTablePrefix("/tmp/p"), QStringLiteral("/tmp/p/"));
}

TEST_F(CopyTest, TheWindowIsUpDuringTheMoveAndGoneAfterItAlsoOnFailure) {
    copy::TTZBatchMove bm(*s);
    bm.ShowProgressBar = true;
    bm.settings.sourceAlias = "LITE";
    bm.settings.sourceTable = "SRC";
    bm.settings.destinationAlias = "LITE";
    bm.settings.destinationTable = "DST";
    bm.settings.mode = BatchMode::Copy;
    int shown = 0;
    QString lastLabel;
    bm.onProgressShown = [&](copy::TBatchMoveStateForm& form) {
        ++shown;
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(form.windowTitle(), QStringLiteral("転送中"));
        EXPECT_EQ(form.ProgressBar1->maximum(), 2500);
        lastLabel = form.Label1->text();
    };
    bm.Execute();
    EXPECT_EQ(bm.lastResult().moved, 2500);
    EXPECT_EQ(shown, 3); // at 1000, 2000 and the end
    EXPECT_EQ(lastLabel, QStringLiteral("100%"));
    EXPECT_EQ(topLevelStateForms(), 0);

    // A failing move (an unknown field) still takes the window away.
    bm.settings.mode = BatchMode::Append;
    bm.settings.mappings = {"CODE = NOSUCH"};
    EXPECT_EQ(errorCodeOf([&] { bm.Execute(); }), ErrNotFound);
    EXPECT_EQ(topLevelStateForms(), 0);

    // A source without records moves nothing and shows nothing.
    shown = 0;
    bm.settings.mappings.clear();
    bm.settings.sourceTable = "EMPTY";
    bm.settings.destinationTable = "EMPTY2";
    bm.settings.mode = BatchMode::Copy;
    bm.Execute();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(errorCodeOf([&] { s->openTable("LITE", "EMPTY2", {}); }), ErrNotFound);

    bm.settings.destinationTable.clear();
    EXPECT_EQ(errorCodeOf([&] { bm.Execute(); }), ErrInvalidParam);
}

TEST_F(CopyTest, TheDialogListsAliasesSwitchesModesMapsFieldsAndRunsTheTransfer) {
    s->addAlias("EMPTYDIR", "STANDARD", {"PATH=" + dir.path().string()});
    std::vector<QString> messages;
    shell::setPromptHandler([&](const shell::PromptRequest& r) {
        messages.push_back(r.text);
        return shell::PromptAnswer{};
    });
    shell::settings().copyDir = QString::fromStdString((dir / "problems").string());
    std::filesystem::create_directories(dir / "problems");
    std::ofstream(dir / "problems" / "KeyViol.DB") << "old";

    copy::TTABLE_COPY dlg(*s);
    dlg.show();
    EXPECT_EQ(dlg.CB1->count(), 2);
    EXPECT_EQ(dlg.CB5->currentIndex(), copy::kCopyModeItem);
    EXPECT_TRUE(dlg.CB4->isEditable());
    dlg.CB1->setCurrentText("LITE");
    dlg.CB1Change();
    EXPECT_EQ(dlg.CB3->currentText(), QStringLiteral("EMPTY")); // the alphabetically first
    dlg.CB2->setCurrentText("LITE");
    dlg.CB2Change();
    EXPECT_EQ(dlg.CB4->currentText(), QString());
    dlg.CB5->setCurrentIndex(0);
    dlg.CB5Change();
    EXPECT_FALSE(dlg.CB4->isEditable());
    dlg.CB5->setCurrentIndex(copy::kCopyModeItem);
    dlg.CB5Change();
    EXPECT_TRUE(dlg.CB4->isEditable());

    // The mapping dialog: one row per source field, "＞" copies the name across.
    dlg.CB3->setCurrentText("SRC");
    dlg.onMappingDialog = [](copy::TTABLE_COPY2& m) {
        EXPECT_EQ(m.CBG1->RowCount(), 3);
        m.CBG1->setCells(0, 1, "CODE");
        m.CBG1->setCells(2, 1, "ID");
        m.CBG1->setCells(0, 2, "NAME");
        m.CBG1GridBtnClick(m.CBG1, 1, 2);
        EXPECT_EQ(m.CBG1->Cells(2, 2), QStringLiteral("NAME"));
        m.CHB2->setChecked(true);
    };
    dlg.Button3Click();
    EXPECT_EQ(dlg.BM1.settings.mappings, (std::vector<std::string>{"ID = CODE", "NAME"}));
    EXPECT_EQ(dlg.BM1.settings.keyViolTableName, (dir / "problems" / "KeyViol.DB").string());
    EXPECT_TRUE(dlg.BM1.settings.changedTableName.empty());
    // Reopening the mapping dialog shows the pairs again.
    dlg.onMappingDialog = [](copy::TTABLE_COPY2& m) {
        EXPECT_EQ(m.CBG1->Cells(0, 1), QStringLiteral("CODE"));
        EXPECT_EQ(m.CBG1->Cells(2, 1), QStringLiteral("ID"));
        EXPECT_TRUE(m.CHB2->isChecked());
    };
    dlg.Button3Click();

    dlg.CB4->setEditText("COPIED");
    dlg.Button1Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("終了しました。"));
    auto copied = s->openTable("LITE", "COPIED", {});
    EXPECT_EQ(copied->count(), 2500);
    EXPECT_EQ(copied->fields().at(0).name, "ID");
    EXPECT_FALSE(std::filesystem::exists(dir / "problems" / "KeyViol.DB")); // the old one is gone

    // A new opening starts with no mappings and no problem tables.
    copy::TTABLE_COPY again(*s);
    again.BM1.settings.mappings = {"X"};
    again.show();
    EXPECT_TRUE(again.BM1.settings.mappings.empty());
    shell::setPromptHandler({});
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
