// The status and index windows opened from the database window on real tables, their
// clipboard texts, and every kind of window restored across a restart of the frame.
#include "DbWindowFixture.h"

#include "dbwindow/Hooks.h"
#include "dbwindow/TAlias_Open.h"
#include "index/TTableIndex.h"
#include "query/TComboGrid.h"
#include "shell/AppState.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "shell/TMainForm.h"
#include "shell/WindowHooks.h"
#include "tablewin/Hooks.h"
#include "tablewin/TMDIChild.h"
#include "tablewin/TTableStatus.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace vemo;
using dbwindow::TAlias_Open;
namespace fs = std::filesystem;

class ChildWindowsTest : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    fixture::Prompts prompts_;
    std::unique_ptr<shell::TMainForm> frame_;

    engine::Session& session() { return engine::Session::global(); }

    void newFrame()
    {
        frame_ = std::make_unique<shell::TMainForm>();
        frame_->resize(1000, 800);
        frame_->show();
    }
    TAlias_Open* openDatabaseWindow()
    {
        auto* w = new TAlias_Open(session(), nullptr);
        frame_->addChild(w);
        if (!QTest::qWaitForWindowExposed(w))
            qWarning("database window not exposed");
        return w;
    }
    void selectTables(TAlias_Open* w, const QStringList& names)
    {
        const int i = w->CB1->findText("DATA");
        w->CB1->setCurrentIndex(i);
        emit w->CB1->activated(i);
        w->LB1->clearSelection();
        for (int r = 0; r < w->LB1->count(); ++r)
            if (names.contains(w->LB1->item(r)->text()))
                w->LB1->item(r)->setSelected(true);
    }
    template <class W>
    QList<W*> windows()
    {
        QList<W*> out;
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder))
            if (auto* c = qobject_cast<W*>(sub->widget()))
                out << c;
        return out;
    }
    QStringList records(shell::RestoreKind kind) { return shell::listSubkeys(shell::restoreKindKey(kind)); }

    static engine::FieldDef field(const std::string& name, engine::FieldType type, int size)
    {
        engine::FieldDef f;
        f.name = name;
        f.type = type;
        f.size = size;
        return f;
    }
    void makeTable(const std::string& name, int fieldCount, const std::vector<engine::IndexDef>& indexes)
    {
        std::vector<engine::FieldDef> fields{field("A", engine::FieldType::Integer, 0),
                                             field("B", engine::FieldType::String, 10),
                                             field("C", engine::FieldType::String, 10),
                                             field("得意先名", engine::FieldType::String, 40)};
        for (int i = 5; i <= fieldCount; ++i)
            fields.push_back(field("F" + std::to_string(i), engine::FieldType::Date, 0));
        engine::Table t(session());
        t.setDatabaseName("DATA");
        t.setTableName(name);
        t.createTable(fields, indexes);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(root_.isValid());
        QApplication::setQuitOnLastWindowClosed(false);
        const fs::path data = fs::path(root_.path().toStdString()) / "data";
        fs::create_directories(data);
        session().open();
        const auto names = session().aliasNames();
        if (std::find(names.begin(), names.end(), "DATA") != names.end())
            session().deleteAlias("DATA");
        session().addAlias("DATA", "STANDARD", {"PATH=" + data.string()});
        engine::IndexDef primary;
        primary.fields = "A";
        primary.primary = true;
        engine::IndexDef abc;
        abc.name = "BYABC";
        abc.fields = "A;B;C";
        makeTable("T13.DB", 13, {primary, abc});
        makeTable("T14.DB", 14, {});
        dbwindow::installWindowHooks();
        tablewin::installWindowHooks();
        prompts_.install();
        newFrame();
    }

    void init()
    {
        shell::deleteKey(shell::kRootKey);
        shell::settings() = shell::AppSettings{};
        prompts_.seen.clear();
    }

    void cleanup()
    {
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList())
            delete sub;
    }

    void statusWindowListsAndCopies()
    {
        shell::settings().rsmStatus = true;
        TAlias_Open* db = openDatabaseWindow();
        selectTables(db, {"T13.DB", "T14.DB"});
        db->PM2Popup();
        QVERIFY(db->S1->isEnabled());
        db->S1->trigger();
        const auto status = windows<tablewin::TTableStatus>();
        QCOMPARE(status.size(), 2);
        QCOMPARE(status[0]->windowTitle(), QString("ﾃｰﾌﾞﾙ情報 - [DATA:T13.DB]"));
        QTRY_COMPARE(status[0]->grid()->rowCount(), 14);
        QTRY_COMPARE(status[1]->grid()->rowCount(), 15);
        QCOMPARE(status[0]->width(), 365);
        QCOMPARE(status[1]->width(), 381);
        QCOMPARE(records(shell::RestoreKind::Status), (QStringList{"DATA-T13.DB", "DATA-T14.DB"}));

        status[0]->KL1Click();
        status[0]->Copy1->trigger();
        const QStringList lines = QApplication::clipboard()->text().split("\r\n");
        QCOMPARE(lines.size(), 14); // 13 rows and what follows the last CR LF
        QCOMPARE(lines[0], QString("A                          ,倍長整数型    ,ftInteger ,  0"));
        QCOMPARE(lines[3], QString("得意先名                   ,文字型        ,ftString  , 40"));
        QCOMPARE(lines[13], QString());

        shell::settings().quotation = 1;
        query::TComboGrid* g = status[0]->grid();
        g->clearSelection();
        g->setRangeSelected(QTableWidgetSelectionRange(1, 1, 2, 1), true);
        status[0]->Copy2->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
                 QString("'A'                         \r\n'B'                         \r\n"));

        // The user closes one: its record goes; the other stays recorded.
        status[0]->parentWidget()->close();
        QCOMPARE(records(shell::RestoreKind::Status), QStringList{"DATA-T14.DB"});
    }

    void statusWindowOfAMissingTable()
    {
        tablewin::TTableStatus* w = tablewin::openStatusWindow(session(), "GONE.DB", "DATA");
        QTRY_COMPARE(prompts_.errors(), 1);
        QCOMPARE(w->grid()->rowCount(), 0);
        QVERIFY(!shell::g_windowOpening);
    }

    void indexWindowListsAndCopies()
    {
        shell::settings().rsmIndex = true;
        TAlias_Open* db = openDatabaseWindow();
        selectTables(db, {"T13.DB", "T14.DB"});
        db->PM2Popup();
        QVERIFY(db->N2->isEnabled());
        db->N2->trigger();
        const auto idx = windows<index::TTableIndex>();
        QCOMPARE(idx.size(), 2);
        index::TTableIndex* w = idx[0];
        QCOMPARE(w->windowTitle(), QString("ｲﾝﾃﾞｯｸｽ情報 - [DATA:T13.DB]"));
        QTRY_VERIFY(w->filled());
        QCOMPARE(w->width(), 200);
        QCOMPARE(w->CB1->count(), 2);
        QCOMPARE(w->CB1->itemText(0), QString("[主キー]"));
        QCOMPARE(w->CB1->itemText(1), QString("BYABC"));
        QCOMPARE(w->LB1->count(), 1);
        QCOMPARE(w->LB1->item(0)->text(), QString("A"));
        w->CB1->setCurrentIndex(1);
        emit w->CB1->activated(1);
        QCOMPARE(w->LB1->count(), 3);
        QCOMPARE(w->LB1->item(2)->text(), QString("C"));
        emit w->Edit1->aboutToShow();
        QVERIFY(!w->Copy1->isEnabled()); // nothing selected
        w->LB1->item(0)->setSelected(true);
        w->LB1->item(2)->setSelected(true);
        emit w->PM2->aboutToShow();
        QVERIFY(w->C1->isEnabled());
        shell::settings().quotation = 1;
        w->C1->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QString("'A'\r\n'C'\r\n"));

        // A table without indexes: both lists stay empty.
        QTRY_VERIFY(idx[1]->filled());
        QCOMPARE(idx[1]->CB1->count(), 0);
        QCOMPARE(idx[1]->LB1->count(), 0);

        // Closed by the user: its record goes even with the restore setting on.
        QCOMPARE(records(shell::RestoreKind::Index).size(), 2);
        w->parentWidget()->close();
        QCOMPARE(records(shell::RestoreKind::Index), QStringList{"DATA-T14.DB"});
    }

    void everyKindComesBackAfterARestart()
    {
        shell::AppSettings& s = shell::settings();
        s.rsmTable = s.rsmSql = s.rsmSp = s.rsmStatus = s.rsmIndex = true;
        // The next frame reads its settings from the store.
        for (const char* name : {"RSM_TABLE", "RSM_SQL", "RSM_SP", "RSM_STATUS", "RSM_INDEX"})
            shell::writeSetting(shell::kRootKey, name, "True");
        // The SQL window is optional in this program: its opener, when set, is called.
        QStringList sqlOpened;
        auto savedSql = shell::windowHooks().openSqlWindow;
        if (!savedSql)
            shell::windowHooks().openSqlWindow = [&](const QString& alias) {
                sqlOpened << alias;
                shell::g_windowOpening = false;
            };
        TAlias_Open* db = openDatabaseWindow();
        selectTables(db, {"T13.DB"});
        db->Make_Child();
        db->S1Click();
        db->N2Click();
        QTRY_VERIFY(windows<index::TTableIndex>().value(0) && windows<index::TTableIndex>()[0]->filled());
        shell::writeRestoreRecord(shell::RestoreKind::Sql, "DATA", {});

        // The program ends: the frame asks every child, then everything goes away.
        QVERIFY(frame_->close());
        frame_.reset();
        QCOMPARE(records(shell::RestoreKind::Table), QStringList{"DATA-T13.DB"});
        QCOMPARE(records(shell::RestoreKind::Status), QStringList{"DATA-T13.DB"});
        QCOMPARE(records(shell::RestoreKind::Index), QStringList{"DATA-T13.DB"});

        newFrame();
        TAlias_Open* again = openDatabaseWindow();
        QTRY_VERIFY(!again->restorePending());
        QTRY_COMPARE(windows<index::TTableIndex>().size(), 1);
        QCOMPARE(windows<tablewin::TMDIChild>().size(), 1);
        QCOMPARE(windows<tablewin::TTableStatus>().size(), 1);
        QCOMPARE(windows<tablewin::TTableStatus>()[0]->windowTitle(), QString("ﾃｰﾌﾞﾙ情報 - [DATA:T13.DB]"));
        if (!savedSql)
            QCOMPARE(sqlOpened, QStringList{"DATA"});
        // Restored windows record themselves again at their next close query, except the
        // table window, which its opener records.
        QCOMPARE(records(shell::RestoreKind::Table), QStringList{"DATA-T13.DB"});
        QVERIFY(records(shell::RestoreKind::Status).isEmpty());
        QVERIFY(records(shell::RestoreKind::Index).isEmpty());
        QVERIFY(frame_->close());
        QCOMPARE(records(shell::RestoreKind::Status), QStringList{"DATA-T13.DB"});
        QCOMPARE(records(shell::RestoreKind::Index), QStringList{"DATA-T13.DB"});
        QCOMPARE(prompts_.errors(), 0);
        frame_.reset();
        newFrame();
        shell::windowHooks().openSqlWindow = savedSql;
    }
};

QTEST_MAIN(ChildWindowsTest)
#include "ChildWindowsTest.moc"
