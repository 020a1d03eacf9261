// The stored procedure window on the throwaway PostgreSQL server of the tests: opened from
// the database window, parameters of every direction bound and read back, a procedure that
// raises, one without parameters, and restore records of two aliases across a restart.
#include "dbwindow/Hooks.h"
#include "dbwindow/TAlias_Open.h"
#include "engine/dataset/Query.h"
#include "engine/dataset/StoredProc.h"
#include "engine/dataset/Table.h"
#include "engine/session/Session.h"
#include "query/SPTexts.h"
#include "query/TComboGrid.h"
#include "query/Hooks.h"
#include "query/TSPChild.h"
#include "query/TSQLChild.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "shell/TMainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

using namespace vemo;
using dbwindow::TAlias_Open;
using query::TSPChild;

class SPWindowTest : public QObject {
    Q_OBJECT

    std::vector<shell::PromptRequest> prompts_;
    std::unique_ptr<shell::TMainForm> frame_;

    engine::Session& session() { return engine::Session::global(); }
    void addAlias(const std::string& name, const std::string& schema)
    {
        const auto names = session().aliasNames();
        if (std::find(names.begin(), names.end(), name) != names.end())
            session().deleteAlias(name);
        session().addAlias(name, "POSTGRESQL",
                           {"SERVER NAME=" + qEnvironmentVariable("PGHOST").toStdString(),
                            "PORT=" + qEnvironmentVariable("PGPORT").toStdString(), "DATABASE NAME=postgres",
                            "USER NAME=postgres", "SCHEMA=" + schema, "SSLMODE=disable"});
    }
    // Statements separated by ";\n", one at a time.
    void sql(const std::string& alias, const std::string& text)
    {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(";\n", start);
            if (end == std::string::npos)
                end = text.size();
            session().database(alias).executeSql(text.substr(start, end - start), {});
            start = end + 2;
        }
    }

    void newFrame()
    {
        frame_ = std::make_unique<shell::TMainForm>();
        frame_->resize(1000, 800);
        frame_->show();
    }
    // One database window per run of the frame, as in the program.
    QPointer<TAlias_Open> db_;
    TAlias_Open* databaseWindow(const QString& alias)
    {
        if (!db_) {
            db_ = new TAlias_Open(session(), nullptr);
            frame_->addChild(db_);
            if (!QTest::qWaitForWindowExposed(db_))
                qWarning("database window not exposed");
        }
        TAlias_Open* w = db_;
        const int i = w->CB1->findText(alias);
        w->CB1->setCurrentIndex(i);
        emit w->CB1->activated(i);
        return w;
    }
    // Opens the procedure's window from the database window's procedure list.
    TSPChild* open(const QString& alias, const QString& procedure)
    {
        TAlias_Open* db = databaseWindow(alias);
        db->LB2->clearSelection();
        for (int i = 0; i < db->LB2->count(); ++i)
            if (db->LB2->item(i)->text() == procedure)
                db->LB2->item(i)->setSelected(true);
        db->PM3Popup();
        if (!db->Open2->isEnabled())
            return nullptr;
        db->Open2->trigger();
        const auto subs = frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder);
        auto* w = subs.isEmpty() ? nullptr : qobject_cast<TSPChild*>(subs.back()->widget());
        if (w && !QTest::qWaitFor([w] { return w->firstPaintDone(); }, 5000))
            return nullptr;
        return w;
    }
    int row(TSPChild* w, const QString& name)
    {
        for (int r = 1; r < w->grid()->rowCount(); ++r)
            if (w->grid()->Cells(0, r) == name)
                return r;
        return -1;
    }
    QString value(TSPChild* w, const QString& name) { return w->grid()->Cells(3, row(w, name)); }
    void type(TSPChild* w, const QString& name, const QString& text) { w->grid()->setCells(3, row(w, name), text); }
    int count(const QString& caption)
    {
        int n = 0;
        for (const auto& p : prompts_)
            n += p.caption == caption;
        return n;
    }
    QStringList spRecords() { return shell::listSubkeys(shell::restoreKindKey(shell::RestoreKind::StoredProc)); }

private slots:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariable("PGHOST").isEmpty());
        QApplication::setQuitOnLastWindowClosed(false);
        session().open();
        addAlias("PGA", "sp_a");
        addAlias("PGB", "sp_b");
        addAlias("PGADMIN", "public");
        sql("PGADMIN", "DROP SCHEMA IF EXISTS sp_a CASCADE;\nDROP SCHEMA IF EXISTS sp_b CASCADE;\n"
                       "CREATE SCHEMA sp_a;\nCREATE SCHEMA sp_b;\n"
                       "CREATE FUNCTION sp_a.add_tax(price numeric, rate numeric) RETURNS numeric LANGUAGE sql "
                       "AS 'SELECT price * (1 + rate)';\n"
                       "CREATE FUNCTION sp_a.split(IN whole integer, OUT half integer, INOUT note text) "
                       "LANGUAGE sql AS 'SELECT whole / 2, note || ''!''';\n"
                       "CREATE PROCEDURE sp_a.bump(INOUT n integer, OUT twice integer) LANGUAGE plpgsql "
                       "AS $$BEGIN n := n + 1; twice := n * 2; END$$;\n"
                       "CREATE FUNCTION sp_a.fail(x integer) RETURNS integer LANGUAGE plpgsql "
                       "AS $$BEGIN RAISE EXCEPTION '在庫が足りません: %', x; END$$;\n"
                       "CREATE TABLE sp_a.log (n integer);\n"
                       "CREATE PROCEDURE sp_a.noargs() LANGUAGE sql AS 'INSERT INTO sp_a.log VALUES (1)';\n"
                       "CREATE PROCEDURE sp_a.same() LANGUAGE sql AS 'SELECT 1';\n"
                       "CREATE FUNCTION sp_a.above(lim integer, OUT n integer, OUT label text) RETURNS SETOF record "
                       "LANGUAGE sql AS 'SELECT g, ''#'' || g FROM generate_series(lim + 1, 5) g';\n"
                       "CREATE PROCEDURE sp_b.same() LANGUAGE sql AS 'SELECT 1';");
        dbwindow::installWindowHooks();
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            prompts_.push_back(r);
            return shell::PromptAnswer{QMessageBox::Ok, true, r.defaultText, {}};
        });
        newFrame();
    }

    void init()
    {
        shell::deleteKey(shell::kRootKey);
        shell::settings() = shell::AppSettings{};
        prompts_.clear();
    }

    void cleanup()
    {
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList())
            delete sub;
    }

    void texts()
    {
        using D = engine::ProcParam::Direction;
        QCOMPARE(query::directionText(D::Input), QString("IN"));
        QCOMPARE(query::directionText(D::Output), QString("OUT"));
        QCOMPARE(query::directionText(D::InputOutput), QString("IN/OUT"));
        QCOMPARE(query::directionText(D::Result), QString());
        QCOMPARE(query::procTypeText(0), QString("???"));
        QCOMPARE(query::procTypeText(14), QString("自動ｲﾝｸﾘﾒﾝﾄ型"));
        QCOMPARE(query::procTypeText(22), QString("Oracle SP C型"));
        QCOMPARE(query::procTypeText(29), QString("データセット"));
        QCOMPARE(query::procTypeText(30), QString());
    }

    void everyDirectionIsBoundAndReadBack()
    {
        TSPChild* w = open("PGA", "split");
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString("Stored Procedure Window - [PGA:split]"));
        query::TComboGrid* g = w->grid();
        QVERIFY(g->isVisible());
        QCOMPARE(g->rowCount(), 4);
        QCOMPARE(g->Cells(0, 0), QString(" Param "));
        QCOMPARE(g->Cells(1, row(w, "whole")), QString("IN"));
        QCOMPARE(g->Cells(1, row(w, "half")), QString("OUT"));
        QCOMPARE(g->Cells(1, row(w, "note")), QString("IN/OUT"));
        QCOMPARE(g->Cells(2, row(w, "whole")), QString("倍長整数型"));
        type(w, "whole", "9");
        type(w, "half", "123"); // an output's typed value is ignored
        type(w, "note", "メモ");
        w->TOB1->trigger();
        QCOMPARE(count("終了"), 1);
        QCOMPARE(prompts_.back().text, QString("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬの実行が完了しました。"));
        QCOMPARE(value(w, "whole"), QString("9"));
        QCOMPARE(value(w, "half"), QString("4"));
        QCOMPARE(value(w, "note"), QString("メモ!"));

        // A procedure with IN/OUT and OUT, run twice from what it returned.
        TSPChild* b = open("PGA", "bump");
        QVERIFY(b);
        type(b, "n", "4");
        b->TOB1->trigger();
        QCOMPARE(value(b, "n"), QString("5"));
        QCOMPARE(value(b, "twice"), QString("10"));
        b->TOB1->trigger();
        QCOMPARE(value(b, "n"), QString("6"));
        QCOMPARE(value(b, "twice"), QString("12"));

        // A function's result has no direction text and is read back too.
        TSPChild* t = open("PGA", "add_tax");
        QVERIFY(t);
        QCOMPARE(t->grid()->rowCount(), 4);
        QCOMPARE(t->grid()->Cells(1, row(t, "Result")), QString());
        type(t, "price", "100");
        type(t, "rate", "0.08");
        t->TOB1->trigger();
        QCOMPARE(value(t, "Result").toDouble(), 108.0);
        QCOMPARE(count("エラー"), 0);
    }

    void errorsKeepTheTypedValues()
    {
        TSPChild* w = open("PGA", "fail");
        QVERIFY(w);
        type(w, "x", "7");
        w->TOB1->trigger();
        QCOMPARE(count("エラー"), 1);
        QVERIFY2(prompts_.back().text.contains("在庫が足りません: 7"), qPrintable(prompts_.back().text));
        QCOMPARE(count("終了"), 0);
        QCOMPARE(value(w, "x"), QString("7"));
        QCOMPARE(value(w, "Result"), QString());

        // A value the parameter's type cannot take is refused before anything runs.
        TSPChild* s = open("PGA", "split");
        type(s, "whole", "abc");
        type(s, "note", "keep");
        s->TOB1->trigger();
        QCOMPARE(count("エラー"), 2);
        QCOMPARE(value(s, "whole"), QString("abc"));
        QCOMPARE(value(s, "note"), QString("keep"));
    }

    void setReturningFunctionWithAndWithoutRows()
    {
        TSPChild* w = open("PGA", "above");
        QVERIFY(w);
        type(w, "lim", "3");
        w->TOB1->trigger();
        // The first row comes back.
        QCOMPARE(prompts_.back().text, QString("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬの実行が完了しました。"));
        QCOMPARE(value(w, "n"), QString("4"));
        QCOMPARE(value(w, "label"), QString("#4"));
        // No row: a message says so instead of the completion message, and the outputs
        // are empty rather than the last run's.
        type(w, "lim", "9");
        w->TOB1->trigger();
        QCOMPARE(prompts_.back().caption, QString("終了"));
        QCOMPARE(prompts_.back().text, QString("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬは行を返しませんでした。出力パラメータに値はありません。"));
        QCOMPARE(value(w, "n"), QString());
        QCOMPARE(value(w, "label"), QString());
        QCOMPARE(value(w, "lim"), QString("9"));
        QCOMPARE(count("エラー"), 0);
    }

    void procedureMenuPrintItem()
    {
        // Enabled with the other three once a procedure is selected; the item has no command
        // of its own, so choosing it opens nothing and asks nothing.
        TAlias_Open* db = databaseWindow("PGA");
        db->LB2->clearSelection();
        db->PM3Popup();
        QVERIFY(!db->Print2->isEnabled());
        QVERIFY(db->LB2->count() > 0);
        db->LB2->item(0)->setSelected(true);
        db->PM3Popup();
        for (QAction* a : {db->Open2, db->SapCpy, db->Print2, db->Refresh2})
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        const int windows = static_cast<int>(frame_->mdiArea()->subWindowList().size());
        db->Print2->trigger();
        QCOMPARE(static_cast<int>(frame_->mdiArea()->subWindowList().size()), windows);
        QVERIFY(prompts_.empty());
    }

    void procedureWithoutParameters()
    {
        TSPChild* w = open("PGA", "noargs");
        QVERIFY(w);
        QVERIFY(!w->grid()->isVisible());
        w->TOB1->trigger();
        w->TOB1->trigger();
        QCOMPARE(count("終了"), 2);
        engine::Table log(session());
        log.setDatabaseName("PGA");
        log.setTableName("log");
        log.open();
        QCOMPARE(log.recordCount(), int64_t(2));
    }

    void unknownProcedureOpensNoWindow()
    {
        shell::settings().rsmSp = true;
        QVERIFY_THROWS_EXCEPTION(std::exception, query::openStoredProcWindow(session(), "PGA", "missing"));
        QVERIFY(spRecords().isEmpty());
    }

    void sqlWindowComesBackAfterARestart()
    {
        // The program's own opener, as main installs it; the setting as the store holds it.
        query::installWindowHooks();
        shell::settings().rsmSql = true;
        shell::writeSetting(shell::kRootKey, "RSM_SQL", "True");
        auto sqlTitles = [this] {
            QStringList titles;
            for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder))
                if (auto* w = qobject_cast<query::TSQLChild*>(sub->widget()))
                    titles << w->windowTitle();
            return titles;
        };
        auto records = [] { return shell::listSubkeys(shell::restoreKindKey(shell::RestoreKind::Sql)); };
        databaseWindow("PGB")->Open_SQLClick();
        databaseWindow("PGA")->Open_SQLClick();
        QCOMPARE(sqlTitles(), (QStringList{"SQL Window - [PGB]", "SQL Window - [PGA]"}));
        QVERIFY(frame_->close());
        frame_.reset();
        QCOMPARE(records(), (QStringList{"PGA", "PGB"}));

        // The next run: the database window's first paint opens them again, a working
        // window on its alias, and their records go until their next close query.
        newFrame();
        TAlias_Open* db = databaseWindow("PGA");
        QTRY_VERIFY(!db->restorePending());
        QTRY_COMPARE(sqlTitles().size(), 2);
        QStringList restored = sqlTitles();
        restored.sort();
        QCOMPARE(restored, (QStringList{"SQL Window - [PGA]", "SQL Window - [PGB]"}));
        QVERIFY(records().isEmpty());
        query::TSQLChild* w = nullptr;
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList())
            if (auto* c = qobject_cast<query::TSQLChild*>(sub->widget()); c && c->windowTitle().endsWith("[PGA]"))
                w = c;
        QVERIFY(w);
        QTRY_VERIFY(w->firstPaintDone());
        w->Memo1()->setPlainText("SELECT count(*) FROM sp_a.log");
        w->TOB1Click();
        QVERIFY(w->QRY1().isOpen());
        QVERIFY(frame_->close());
        QCOMPARE(records(), (QStringList{"PGA", "PGB"}));
        frame_.reset();
        newFrame();
        shell::settings().rsmSql = false;
        shell::writeSetting(shell::kRootKey, "RSM_SQL", "False");
    }

    void sameNameInTwoAliasesAcrossARestart()
    {
        shell::settings().rsmSp = true;
        shell::writeSetting(shell::kRootKey, "RSM_SP", "True");
        QVERIFY(open("PGA", "same"));
        QVERIFY(open("PGB", "same"));
        QCOMPARE(spRecords(), (QStringList{"PGA-SAME", "PGB-SAME"}));
        QVERIFY(frame_->close());
        frame_.reset();
        QCOMPARE(spRecords(), (QStringList{"PGA-SAME", "PGB-SAME"}));
        newFrame();
        TAlias_Open* db = databaseWindow("PGA");
        QTRY_VERIFY(!db->restorePending());
        QStringList titles;
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder))
            if (auto* w = qobject_cast<TSPChild*>(sub->widget()))
                titles << w->windowTitle();
        QCOMPARE(titles, (QStringList{"Stored Procedure Window - [PGA:same]", "Stored Procedure Window - [PGB:same]"}));
        QVERIFY(spRecords().isEmpty()); // written again at their next close query
        QVERIFY(frame_->close());
        QCOMPARE(spRecords(), (QStringList{"PGA-SAME", "PGB-SAME"}));
        frame_.reset();
        newFrame();
    }
};

QTEST_MAIN(SPWindowTest)
#include "SPWindowTest.moc"
