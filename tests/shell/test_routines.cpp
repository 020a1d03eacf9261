// Shared routines and the reading of the process-wide settings.
#include "shell/AppState.h"
#include "shell/MenuMerge.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "shell/Routines.h"

#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using namespace vemo::shell;

class TestRoutines : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        settings() = AppSettings{};
    }

    void digitsFilterAndConversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("filtered");
        QTest::addColumn<bool>("converts");
        QTest::addColumn<int>("value");
        QTest::newRow("empty") << "" << "0" << true << 0;
        QTest::newRow("digits then letters") << "123px" << "123" << true << 123;
        QTest::newRow("leading minus") << "-40" << "-40" << true << -40;
        QTest::newRow("minus between digits") << "12-3" << "12-3" << false << 0;
        QTest::newRow("letters only") << "abc" << "0" << true << 0;
        QTest::newRow("full-width digits dropped") << "１２3" << "3" << true << 3;
        QTest::newRow("too large for int") << "99999999999" << "99999999999" << false << 0;
        QTest::newRow("lone minus") << "x-" << "-" << false << 0;
    }
    void digitsFilterAndConversion()
    {
        QFETCH(QString, text);
        QFETCH(QString, filtered);
        QFETCH(bool, converts);
        QFETCH(int, value);
        QCOMPARE(digitsFilter(text), filtered);
        if (converts)
            QCOMPARE(strToInt(digitsFilter(text)), value);
        else
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, strToInt(digitsFilter(text)));
    }

    void zeroPrefixedReading()
    {
        QCOMPARE(strToInt("0" + QString("2")), 2);
        QCOMPARE(strToInt("0" + QString()), 0);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, strToInt("0" + QString("x")));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, strToInt("0" + QString(" 1")));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, strToInt("0" + QString("-1")));
    }

    void processLocaleShortDate()
    {
        applyProcessLocale();
        QCOMPARE(QLocale().dateFormat(QLocale::ShortFormat), shortDateFormat());
        QCOMPARE(QLocale().toString(QDate(2024, 3, 5), QLocale::ShortFormat), QString("2024/03/05"));
        QLocale::setDefault(QLocale::c());
    }

    void thousands()
    {
        QCOMPARE(thousandsFormat(QString("0")), QString("0"));
        QCOMPARE(thousandsFormat(QString("999")), QString("999"));
        QCOMPARE(thousandsFormat(QString("1000")), QString("1,000"));
        QCOMPARE(thousandsFormat(QString("-1234567")), QString("-1,234,567"));
        QCOMPARE(thousandsFormat(QString("1234.5")), QString("1,235"));
        QCOMPARE(thousandsFormat(qint64(9000000000)), QString("9,000,000,000"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, thousandsFormat(QString("12a")));
    }

    void tabStops()
    {
        const QList<qreal> stops = editorTabStops(10, 4); // 9 pt font, tab width 4
        QCOMPARE(stops.size(), 12);
        QCOMPARE(stops[0], 0.0);
        QCOMPARE(stops[1], 20.0);
        QCOMPARE(stops[11], 220.0);
        QCOMPARE(editorTabStops(10, 3)[1], 10.0); // width div 2

        QTextEdit edit;
        QFont f = edit.font();
        f.setPointSize(9);
        edit.setFont(f);
        setEditorTabs(&edit, 8);
        const auto tabs = edit.document()->defaultTextOption().tabs();
        QCOMPARE(tabs.size(), 11); // the stop at 0 is no stop at all
        const qreal px = edit.logicalDpiY() / 72.0;
        QCOMPARE(tabs[0].position, 40 * px);
        QPlainTextEdit plain;
        plain.setFont(f);
        setEditorTabs(&plain, 2);
        QCOMPARE(plain.document()->defaultTextOption().tabs()[1].position, 20 * px);
    }

    void settingsReadingRules()
    {
        writeSetting(kRootKey, "OPEN_DIR", "/data");
        writeSetting(kRootKey, "QUOTATION", "2");
        writeSetting(kRootKey, "WPSTRETCH", "true"); // lower case: off
        writeSetting(kRootKey, "RSM_TABLE", "True");
        writeSetting(kRootKey, "RSM_SQL", "True ");
        writeSetting(kRootKey, "FONT_SIZE", "11pt");
        writeSetting(kRootKey, "TAB_WIDTH", "0");
        writeSetting(kRootKey, "PRINTTYPE", "3");
        QStringList order;
        AppSettings s;
        readAppSettings(s, [&] { order << "wallpaper"; }, [&] { order << "font"; });
        QCOMPARE(order, (QStringList{"wallpaper", "font"}));
        QCOMPARE(s.openDir, QString("/data"));
        QCOMPARE(s.quotation, 2);
        QVERIFY(!s.wpStretch);
        QVERIFY(s.rsmTable);
        QVERIFY(!s.rsmSql);
        QCOMPARE(s.fontSize, 11);
        QCOMPARE(s.tabWidth, 2);
        QCOMPARE(s.printType, 3);
    }

    void firstFailureStopsReading()
    {
        writeSetting(kRootKey, "OPEN_DIR", "/data");
        writeSetting(kRootKey, "QUOTATION", "x");
        writeSetting(kRootKey, "WALLPAPER", "/pic.png");
        writeSetting(kRootKey, "RSM_TABLE", "True");
        AppSettings s;
        bool wallpaperApplied = false;
        try {
            readAppSettings(s, [&] { wallpaperApplied = true; });
            QFAIL("QUOTATION \"x\" must not convert");
        } catch (const std::runtime_error& e) {
            QVERIFY(QString::fromUtf8(e.what()).contains("'0x'"));
        }
        QCOMPARE(s.openDir, QString("/data"));
        QCOMPARE(s.wallpaper, QString()); // read after the failing one: untouched
        QVERIFY(!s.rsmTable);
        QVERIFY(!wallpaperApplied);
    }

    void restoreRecordNames()
    {
        QCOMPARE(restoreSubkeyName(RestoreKind::Table, "demo", "c:\\Data\\cust.db"), QString("DEMO-C:DATACUST.DB"));
        QCOMPARE(restoreSubkeyName(RestoreKind::Table, "", "/home/u/cust.db"), QString("-/HOME/U/CUST.DB"));
        QCOMPARE(restoreSubkeyName(RestoreKind::Sql, "demo", "ignored"), QString("DEMO"));
        QCOMPARE(restoreSubkeyName(RestoreKind::StoredProc, "pg", "calc"), QString("PG-CALC"));
        QCOMPARE(restoreKindKey(RestoreKind::Index), QString("SOFTWARE\\VEMO32\\INDEX"));

        writeRestoreRecord(RestoreKind::StoredProc, "pg", "Calc");
        QCOMPARE(readSetting("SOFTWARE\\VEMO32\\SP\\PG-CALC", "DB_NAME"), QString("pg"));
        QCOMPARE(readSetting("SOFTWARE\\VEMO32\\SP\\PG-CALC", "SP_NAME"), QString("Calc"));
        writeRestoreRecord(RestoreKind::Table, "demo", "Cust.DB");
        QCOMPARE(readSetting("SOFTWARE\\VEMO32\\TABLE\\DEMO-CUST.DB", "TBL_NAME"), QString("Cust.DB"));
        deleteRestoreRecord(RestoreKind::Table, "DEMO", "cust.db");
        QCOMPARE(listSubkeys("SOFTWARE\\VEMO32\\TABLE"), QStringList());
        deleteRestoreRecord(RestoreKind::Status, "never", "recorded"); // nothing to do, no error

        settings().rsmIndex = true;
        QVERIFY(restoreEnabled(RestoreKind::Index));
        QVERIFY(!restoreEnabled(RestoreKind::Table));
    }

    void menuMerging()
    {
        QMenu file, util, win, help, record, tableFile, view;
        const QList<ChildWindow::MenuGroup> frame = {{&file, 1}, {&util, 7}, {&win, 8}, {&help, 9}};
        auto menus = [](const QList<ChildWindow::MenuGroup>& groups) {
            QList<QMenu*> out;
            for (const auto& g : groups)
                out << g.menu;
            return out;
        };
        QCOMPARE(menus(mergeMenuGroups(frame, {})), (QList<QMenu*>{&file, &util, &win, &help}));
        // a child's groups sit between the frame's; one with the frame's index replaces it
        QCOMPARE(menus(mergeMenuGroups(frame, {{&view, 3}, {&record, 2}})),
                 (QList<QMenu*>{&file, &record, &view, &util, &win, &help}));
        QCOMPARE(menus(mergeMenuGroups(frame, {{&tableFile, 1}, {&record, 2}})),
                 (QList<QMenu*>{&tableFile, &record, &util, &win, &help}));
    }

    // The real login dialog (no test handler): the user name comes preset, the password is
    // typed hidden, and OK hands both back; closing it is a cancel.
    void loginDialogReturnsWhatWasTyped()
    {
        setPromptHandler({});
        auto fill = [](const QString& password, bool accept) {
            QTimer::singleShot(0, [=] {
                auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dlg);
                const auto edits = dlg->findChildren<QLineEdit*>();
                QCOMPARE(edits.size(), 2);
                QCOMPARE(edits[0]->text(), QString("scott"));
                QCOMPARE(edits[1]->echoMode(), QLineEdit::Password);
                edits[1]->setText(password);
                accept ? dlg->accept() : dlg->reject();
            });
        };
        QString user = "scott", password;
        fill("tiger", true);
        QVERIFY(loginDialog(nullptr, "SALES", user, password));
        QCOMPARE(user, QString("scott"));
        QCOMPARE(password, QString("tiger"));
        fill("ignored", false);
        password.clear();
        QVERIFY(!loginDialog(nullptr, "SALES", user, password));
        QVERIFY(password.isEmpty());
    }

    void fileFilterConversion()
    {
        QCOMPARE(qtFileFilter("Paladoxﾃｰﾌﾞﾙ(*.DB)|*.DB|すべてのﾌｧｲﾙ (*.*)|*.*"),
                 QString("Paladoxﾃｰﾌﾞﾙ (*.DB *.db);;すべてのﾌｧｲﾙ (*)"));
        QCOMPARE(qtFileFilter("SQL(*.sql;*.txt)|*.sql;*.txt"), QString("SQL (*.sql *.SQL *.txt *.TXT)"));
    }
};

QTEST_MAIN(TestRoutines)
#include "test_routines.moc"
