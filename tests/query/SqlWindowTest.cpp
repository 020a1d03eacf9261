// The SQL window driven under the offscreen platform on a SQLite alias: parameters typed in
// the grid, run as a result set or a statement, close, save and load, export, restore record.
#include "query/Hooks.h"
#include "query/TComboGrid.h"
#include "query/TSQLChild.h"

#include "engine/dataset/Query.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/values/Codepage.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "tablewin/TDBGrid2.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace vemo;
using query::TSQLChild;

namespace {

struct Prompts {
    QList<shell::PromptRequest> asked;
    QString fileAnswer;
    QMessageBox::StandardButton yesNo = QMessageBox::Yes;
    Prompts()
    {
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            asked.append(r);
            shell::PromptAnswer a;
            if (r.kind == shell::PromptRequest::Kind::SaveFile || r.kind == shell::PromptRequest::Kind::OpenFile) {
                a.accepted = !fileAnswer.isEmpty();
                a.text = fileAnswer;
            } else if (r.buttons & QMessageBox::Yes) {
                a.button = yesNo;
            }
            return a;
        });
    }
    ~Prompts() { shell::setPromptHandler({}); }
    QString last() const { return asked.isEmpty() ? QString() : asked.last().caption + ":" + asked.last().text; }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

QByteArray local(const char* utf8)
{
    const std::string e = engine::encodeForLocale(utf8);
    return QByteArray(e.data(), static_cast<qsizetype>(e.size()));
}

} // namespace

class SqlWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;

    std::unique_ptr<TSQLChild> openWindow()
    {
        std::unique_ptr<TSQLChild> w(query::openSqlWindow(*session_, QStringLiteral("LITE")));
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        shell::g_windowOpening = true;
        shell::waitForFirstPaint();
        return w;
    }
    static void setText(TSQLChild& w, const QString& text) { w.Memo1()->setPlainText(text); }
    static void setParam(TSQLChild& w, int row, const QString& type, const QString& value)
    {
        w.CBG1()->setCells(1, row, type);
        w.CBG1()->setCells(2, row, value);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        session_ = std::make_unique<engine::Session>(dir_.filePath("engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();
        const QString db = dir_.filePath("q.sqlite");
        QFile(db).open(QIODevice::WriteOnly);
        session_->addAlias("LITE", "SQLITE", {"DATABASE=" + db.toStdString()});
        auto& d = session_->database("LITE");
        d.executeSql("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20), price NUMERIC(10,2))", {});
        d.executeSql("INSERT INTO items VALUES (1, 'りんご', 12.50), (2, 'a,\"b', NULL), (3, 'みかん', 100)", {});
    }

    void init() { shell::settings() = shell::AppSettings{}; }

    void parameterGridFollowsTheText()
    {
        auto w = openWindow();
        QCOMPARE(w->windowTitle(), QString("SQL Window - [LITE]"));
        QVERIFY(w->CBG1()->isHidden());
        setText(*w, "SELECT * FROM items WHERE id = :A OR id = :B OR name = :A");
        QCOMPARE(w->paramNames(), (QStringList{"A", "B"}));
        QVERIFY(!w->CBG1()->isHidden());
        QCOMPARE(w->CBG1()->RowCount(), 3);
        QCOMPARE(w->CBG1()->Cells(0, 2), QString("B"));
        setParam(*w, 1, QStringLiteral("整数型"), "1");
        // Type and value stay with their row whatever name it carries now.
        setText(*w, "SELECT :X");
        QCOMPARE(w->CBG1()->Cells(0, 1), QString("X"));
        QCOMPARE(w->CBG1()->Cells(2, 1), QString("1"));
        setText(*w, "SELECT ':X', 1::int");
        QVERIFY(w->CBG1()->isHidden());
        QCOMPARE(w->CBG1()->Cells(0, 1), QString());
        QCOMPARE(w->CBG1()->Cells(1, 1), QString());
        QCOMPARE(w->CBG1()->Cells(2, 1), QString());
        setText(*w, "SELECT :Y");
        QCOMPARE(w->CBG1()->Cells(0, 1), QString("Y"));
        QCOMPARE(w->CBG1()->Cells(1, 1), QString());
    }

    void runSelectWithParameters()
    {
        Prompts prompts;
        auto w = openWindow();
        setText(*w, "  \n select id, name, price from items where id >= :LO and id <= :HI order by id");
        // A row without a type stops the run.
        setParam(*w, 1, QStringLiteral("整数型"), "1");
        w->TOB1Click();
        QCOMPARE(prompts.last(), QStringLiteral("エラー:パラメータが設定されていないか､値が不正です"));
        QVERIFY(!w->QRY1().isOpen());
        setParam(*w, 2, QStringLiteral("整数型"), "2");
        w->TOB1Click();
        QVERIFY(w->QRY1().isOpen());
        QCOMPARE(w->Memo1()->toPlainText(), QString("select id, name, price from items where id >= :LO and id <= :HI order by id"));
        QCOMPARE(w->statusPanelText(1), QString("2"));
        QCOMPARE(w->statusPanelText(2), QStringLiteral("共有不可"));
        QCOMPARE(w->DBG1()->model()->rowCount(), 2);
        QCOMPARE(w->DBG1()->model()->index(0, 2).data().toString(), QString("12.5"));
        QVERIFY(w->menuItem("R1")->isEnabled());
        QVERIFY(!w->menuItem("Q_Ins")->isEnabled());
        w->QRY_LAST();
        QCOMPARE(w->QRY1().fieldText(0), std::string("2"));
        // Write mode enables the record commands; closing releases it.
        w->TOB4()->setChecked(true);
        w->TOB4Click();
        QVERIFY(w->QRY1().requestLive());
        QVERIFY(w->menuItem("Q_Ins")->isEnabled());
        w->TOB2Click();
        QVERIFY(!w->QRY1().isOpen());
        QVERIFY(!w->TOB4()->isChecked());
        QVERIFY(!w->QRY1().requestLive());
        QVERIFY(!w->menuItem("R1")->isEnabled());
        QCOMPARE(w->statusPanelText(2), QString());
        // A value that does not convert reaches the error box and nothing runs.
        setParam(*w, 1, QStringLiteral("整数型"), "1-2");
        w->TOB1Click();
        QCOMPARE(prompts.asked.last().caption, QStringLiteral("エラー"));
        QVERIFY(!w->QRY1().isOpen());
    }

    void statementsThatAreNotSelect()
    {
        Prompts prompts;
        auto w = openWindow();
        setText(*w, "UPDATE items SET price = :P WHERE id = 3");
        setParam(*w, 1, QStringLiteral("金額型"), "99.5");
        w->TOB1Click();
        QCOMPARE(prompts.last(), QStringLiteral("終了:SQLの実行が完了しました。"));
        QCOMPARE(w->statusPanelText(1), QString("0"));
        // WITH runs as a statement too (no result set is opened).
        setText(*w, "WITH k AS (SELECT 1) SELECT * FROM k");
        w->TOB1Click();
        QCOMPARE(prompts.last(), QStringLiteral("終了:SQLの実行が完了しました。"));
        QVERIFY(!w->QRY1().isOpen());
        setText(*w, "SELECT price FROM items WHERE id = 3");
        w->TOB1Click();
        QCOMPARE(w->QRY1().fieldText(0), std::string("99.5"));
        // An engine error is shown and no completion message follows.
        const int before = prompts.asked.size();
        setText(*w, "DELETE FROM no_such_table");
        w->TOB1Click();
        QCOMPARE(prompts.asked.size(), before + 1);
        QCOMPARE(prompts.asked.last().caption, QStringLiteral("エラー"));
    }

    void saveLoadAndExport()
    {
        Prompts prompts;
        auto w = openWindow();
        const QString sqlFile = dir_.filePath("q.DDL");
        setText(*w, QStringLiteral("SELECT id, name\nFROM items -- 品目\nORDER BY id"));
        prompts.fileAnswer = sqlFile;
        w->TOB6Click();
        // Lines ended by CR LF, in the locale's encoding as the export writes.
        QCOMPARE(fileBytes(sqlFile), local("SELECT id, name\r\nFROM items -- 品目\r\nORDER BY id\r\n"));
        // Overwriting asks; No keeps the file.
        setText(*w, "SELECT 1");
        prompts.yesNo = QMessageBox::No;
        w->TOB6Click();
        QCOMPARE(prompts.last(), QStringLiteral("確認:既にファイルは存在します。上書きしますか？"));
        QVERIFY(fileBytes(sqlFile).startsWith("SELECT id"));
        w->TOB5Click();
        QCOMPARE(w->Memo1()->toPlainText(), QStringLiteral("SELECT id, name\nFROM items -- 品目\nORDER BY id"));

        w->TOB1Click();
        const QString csv = dir_.filePath("out.TXT");
        prompts.fileAnswer = csv;
        w->CSV2Click();
        QCOMPARE(prompts.last(), QStringLiteral("確認:終了しました。"));
        QCOMPARE(fileBytes(csv), local("1,\"りんご\"\r\n2,\"a,\"b\"\r\n3,\"みかん\"\r\n"));
        QCOMPARE(w->QRY1().recNo(), 2); // left at the last record
        // An empty result writes an empty file.
        setText(*w, "SELECT id FROM items WHERE id < 0");
        w->TOB1Click();
        w->CSV2Click();
        QCOMPARE(fileBytes(csv), QByteArray());
    }

    void restoreRecord()
    {
        shell::settings().rsmSql = true;
        const QString key = shell::restoreKindKey(shell::RestoreKind::Sql) + QStringLiteral("\\LITE");
        {
            auto w = openWindow();
            QVERIFY(w->closeQuery());
            QCOMPARE(shell::readSetting(key, "DB_NAME"), QString("LITE"));
            w->close(); // close query writes it again, the close handler deletes it
        }
        QCOMPARE(shell::readSetting(key, "DB_NAME"), QString());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SqlWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "SqlWindowTest.moc"
