// A table window on a PostgreSQL table whose server goes away while the user edits: the
// post fails with a clear error, the window and the typed values survive, nothing is half
// written, and once the server is back the same edit posts. Runs against the tests' private
// server that may be stopped and started (PG_DOWN_DIR, PG_DOWN_PORT).
#include "tablewin/TDBGrid2.h"
#include "tablewin/TMDIChild.h"

#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/Prompt.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

using namespace vemo;
using tablewin::TMDIChild;

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

int pgCtl(const std::string& args)
{
    const std::string cmd = "runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D '" + env("PG_DOWN_DIR") +
                            "/data' -w " + args + " > /dev/null 2>&1";
    return std::system(cmd.c_str());
}

int startServer()
{
    const std::string dir = env("PG_DOWN_DIR"), port = env("PG_DOWN_PORT");
    return pgCtl("-l '" + dir + "/server.log' -o \"-p " + port + " -k " + dir + " -c listen_addresses=''\" start");
}

} // namespace

class PgOutageWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;
    QStringList errors_;

    // The amount of account 1 as another session reads it.
    std::string amountOfFirst()
    {
        auto s = std::make_unique<engine::Session>((dir_.path() + "/check.cfg").toStdString());
        engine::registerBuiltinDrivers(*s);
        s->open();
        s->addAlias("CHECK", "POSTGRESQL", aliasLines());
        engine::Table t(*s);
        t.setDatabaseName("CHECK");
        t.setTableName("win_acct");
        t.open();
        return t.fieldText(1);
    }
    static std::vector<std::string> aliasLines()
    {
        return {"SERVER NAME=" + env("PG_DOWN_DIR"), "PORT=" + env("PG_DOWN_PORT"), "DATABASE NAME=postgres",
                "USER NAME=postgres", "SSLMODE=disable"};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!env("PG_DOWN_DIR").empty());
        session_ = std::make_unique<engine::Session>((dir_.path() + "/engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();
        session_->addAlias("DOWNWIN", "POSTGRESQL", aliasLines());
        auto& db = session_->database("DOWNWIN");
        db.executeSql("DROP TABLE IF EXISTS win_acct", {});
        db.executeSql("CREATE TABLE win_acct (id integer PRIMARY KEY, amount integer)", {});
        db.executeSql("INSERT INTO win_acct VALUES (1, 100), (2, 200)", {});
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            errors_ << r.text;
            return shell::PromptAnswer{};
        });
    }
    void cleanupTestCase() { shell::setPromptHandler({}); }

    void serverGoingAwayDuringAnEditLosesNothing()
    {
        auto w = std::make_unique<TMDIChild>(*session_, nullptr);
        w->Table1().setDatabaseName("DOWNWIN");
        w->Table1().setTableName("win_acct");
        w->Table1().open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->Table1().recordCount(), 2);

        QCOMPARE(pgCtl("-m fast stop"), 0);
        auto* g = w->grid();
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, 1));
        g->edit(g->currentIndex());
        QLineEdit* e = g->cellEditor();
        QVERIFY(e);
        e->selectAll();
        QTest::keyClicks(e, "150");
        // The last column: Enter moves on to the next row, whose cell editor opens on a value
        // the dead server could not give. Leaving the row posts; the server is gone: one
        // clear error, and the change that could not be written is dropped so that the grid
        // shows what is stored.
        QTest::keyClick(e, Qt::Key_Return);
        QVERIFY2(errors_.size() == 1, qPrintable(errors_.join(" | ")));
        QVERIFY2(errors_.last().contains("サーバー"), qPrintable(errors_.last()));
        QVERIFY(w->isVisible());
        QCOMPARE(w->Table1().state(), engine::DataSetState::Browse);
        QVERIFY(!w->Table1().updatesPending());

        QCOMPARE(startServer(), 0);
        QCOMPARE(amountOfFirst(), std::string("100")); // nothing half written
        // The same window and connection work again.
        g->setCurrentIndex(g->model()->index(0, 1));
        g->edit(g->currentIndex());
        e = g->cellEditor();
        QVERIFY(e);
        e->selectAll();
        QTest::keyClicks(e, "150");
        QTest::keyClick(e, Qt::Key_Return);
        QVERIFY2(errors_.size() == 1, qPrintable(errors_.join(" | ")));
        QCOMPARE(amountOfFirst(), std::string("150"));
        // The cell the failed read left empty was never written back.
        QCOMPARE(w->Table1().recordCount(), 2);
        w->Table1().moveTo(1);
        QCOMPARE(w->Table1().fieldText(0), std::string("2"));
        QCOMPARE(g->model()->index(0, 1).data().toString(), QString("150"));
    }
};

QTEST_MAIN(PgOutageWindowTest)
#include "PgOutageWindowTest.moc"
