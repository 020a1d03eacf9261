// The database window on a PostgreSQL alias without a stored password, against the
// throwaway server of the tests (its role vemo_pw needs a password): the window asks
// through the login dialog, lists the tables once logged in, reports a refused login, and
// asks only once when the user cancels.
#include "DbWindowFixture.h"

#include "dbwindow/Hooks.h"
#include "dbwindow/TAlias_Open.h"
#include "shell/TMainForm.h"

#include <QComboBox>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace vemo;
using dbwindow::TAlias_Open;

class PgLoginTest : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    fixture::Prompts prompts_;
    std::unique_ptr<shell::TMainForm> frame_;

    // A fresh session (no connection yet) with the alias, and its database window.
    std::unique_ptr<engine::Session> session_;
    TAlias_Open* openAlias()
    {
        session_ = fixture::makeSession(std::filesystem::path(root_.path().toStdString()) / "engine.cfg");
        session_->setLoginCallback(dbwindow::windowLogin());
        session_->addAlias("PGLOGIN", "POSTGRESQL",
                           {"SERVER NAME=" + qEnvironmentVariable("PGHOST").toStdString(),
                            "PORT=" + qEnvironmentVariable("PGPORT").toStdString(), "DATABASE NAME=postgres",
                            "USER NAME=vemo_pw", "SCHEMA=login test", "SSLMODE=disable"});
        auto* w = new TAlias_Open(*session_, nullptr);
        frame_->addChild(w);
        if (!QTest::qWaitForWindowExposed(w))
            qWarning("database window not exposed");
        const int i = w->CB1->findText("PGLOGIN");
        w->CB1->setCurrentIndex(i);
        emit w->CB1->activated(i);
        return w;
    }
    void answerLogin(const QString& user, const QString& password)
    {
        shell::PromptAnswer login;
        login.text = user;
        login.password = password;
        prompts_.answers.push_back(login);
    }
    int logins() const
    {
        int n = 0;
        for (const auto& r : prompts_.seen)
            n += r.kind == shell::PromptRequest::Kind::Login;
        return n;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(root_.isValid());
        QVERIFY(!qEnvironmentVariable("PGHOST").isEmpty());
        // The table to list, made through an alias that stores the password.
        auto admin = fixture::makeSession(std::filesystem::path(root_.path().toStdString()) / "admin.cfg");
        admin->addAlias("ADMIN", "POSTGRESQL",
                        {"SERVER NAME=" + qEnvironmentVariable("PGHOST").toStdString(),
                         "PORT=" + qEnvironmentVariable("PGPORT").toStdString(), "DATABASE NAME=postgres",
                         "USER NAME=vemo_pw", "PASSWORD=secret", "SSLMODE=disable"});
        admin->database("ADMIN").executeSql("DROP SCHEMA IF EXISTS \"login test\" CASCADE", {});
        admin->database("ADMIN").executeSql("CREATE SCHEMA \"login test\"", {});
        admin->database("ADMIN").executeSql("CREATE TABLE \"login test\".visits (id integer PRIMARY KEY)", {});
        prompts_.install();
        frame_ = std::make_unique<shell::TMainForm>();
        frame_->show();
    }

    void init() { prompts_.seen.clear(); prompts_.answers.clear(); }
    void cleanup()
    {
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList())
            sub->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void cleanupTestCase()
    {
        frame_.reset();
        session_.reset();
        shell::setPromptHandler({});
    }

    void loginDialogAnswersTheServer()
    {
        answerLogin("vemo_pw", "secret");
        TAlias_Open* w = openAlias();
        QCOMPARE(logins(), 1);
        QCOMPARE(prompts_.seen.front().text, QString("PGLOGIN"));
        QCOMPARE(prompts_.seen.front().defaultText, QString("vemo_pw"));
        QCOMPARE(w->LB1->count(), 1);
        QCOMPARE(w->LB1->item(0)->text(), QString("visits"));
        QCOMPARE(prompts_.errors(), 0);
    }

    void refusedLoginIsReportedOnce()
    {
        answerLogin("vemo_pw", "wrong");
        TAlias_Open* w = openAlias();
        QCOMPARE(logins(), 1); // the procedure list does not ask again
        QCOMPARE(prompts_.errors(), 1);
        QVERIFY(prompts_.lastText().contains("password"));
        QCOMPARE(w->LB1->count(), 0);
    }

    void cancelledLoginIsQuiet()
    {
        shell::PromptAnswer cancel;
        cancel.accepted = false;
        prompts_.answers.push_back(cancel);
        TAlias_Open* w = openAlias();
        QCOMPARE(logins(), 1);
        QCOMPARE(prompts_.errors(), 0);
        QCOMPARE(w->LB1->count(), 0);
    }
};

QTEST_MAIN(PgLoginTest)
#include "PgLoginTest.moc"
