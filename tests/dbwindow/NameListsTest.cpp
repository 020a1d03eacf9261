#include "dbwindow/NameLists.h"
#include "shell/AppState.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

using namespace vemo;
using namespace vemo::dbwindow;

class NameListsTest : public QObject {
    Q_OBJECT
private slots:
    void quotingEndsEveryLineWithCrLf()
    {
        const QStringList two{"CUSTOMER.DB", "注文.DBF"};
        QCOMPARE(quotedNameList(two, 0), QString("CUSTOMER.DB\r\n注文.DBF\r\n"));
        QCOMPARE(quotedNameList(two, 1), QString("'CUSTOMER.DB'\r\n'注文.DBF'\r\n"));
        QCOMPARE(quotedNameList(two, 2), QString("\"CUSTOMER.DB\"\r\n\"注文.DBF\"\r\n"));
        QCOMPARE(quotedNameList({}, 2), QString());
        // A list far beyond 16 KB comes out whole.
        QStringList many;
        for (int i = 0; i < 3000; ++i)
            many << QStringLiteral("TABLE_%1.DBF").arg(i, 5, 10, QChar(u'0'));
        const QString text = quotedNameList(many, 1);
        QVERIFY(text.toLocal8Bit().size() > 16384);
        QCOMPARE(text.count(QStringLiteral("\r\n")), 3000);
        QVERIFY(text.endsWith(QStringLiteral("'TABLE_02999.DBF'\r\n")));
    }

    void namesSortLikeAListBox()
    {
        const QStringList s = sortedNames({"orders.dbf", "Customer.db", "ANIMALS.DBF", "customer.db", "b.db"});
        QCOMPARE(s, (QStringList{"ANIMALS.DBF", "b.db", "Customer.db", "customer.db", "orders.dbf"}));
    }

    void tableMenuFollowsSelection()
    {
        const TableMenuEnabling none = tableMenuEnabling(0);
        QVERIFY(!none.open && !none.copy && !none.status && !none.index && !none.print);
        QVERIFY(none.refresh && !none.rename && !none.remove);
        const TableMenuEnabling one = tableMenuEnabling(1);
        QVERIFY(one.open && one.copy && one.status && one.index && one.print && one.rename && one.remove);
        const TableMenuEnabling many = tableMenuEnabling(3);
        QVERIFY(many.open && many.copy && many.refresh && !many.rename && !many.remove);
    }

    void parameterRowsWithoutValueAreLeftOut()
    {
        const auto lines = aliasParamLines({{"PATH", "/data"}, {"DEFAULT DRIVER", ""}, {"", "x"}, {"A", "b=c"}});
        QCOMPARE(lines, (std::vector<std::string>{"PATH=/data", "A=b=c"}));
        QCOMPARE(splitParamLine("A=b=c"), (std::pair<QString, QString>{"A", "b=c"}));
        QCOMPARE(splitParamLine("NOVALUE"), (std::pair<QString, QString>{"NOVALUE", ""}));
    }

    void restoreRunsKindsInOrderAndClearsTheirKeys()
    {
        using shell::RestoreKind;
        shell::deleteKey(shell::kRootKey);
        shell::AppSettings& s = shell::settings();
        s.rsmTable = s.rsmSql = s.rsmStatus = s.rsmIndex = true;
        s.rsmSp = false;
        shell::writeRestoreRecord(RestoreKind::Table, "DB1", "A.DB");
        shell::writeRestoreRecord(RestoreKind::Sql, "DB1", {});
        shell::writeRestoreRecord(RestoreKind::StoredProc, "DB1", "P1");
        shell::writeRestoreRecord(RestoreKind::Index, "DB2", "C.DB");
        // A record with neither alias nor name is skipped.
        shell::writeSetting(shell::restoreKindKey(RestoreKind::Table) + "\\EMPTY", "OTHER", "x");

        QStringList opened;
        auto opener = [&](const char* kind) {
            return [&opened, kind](const QString& a, const QString& n) { opened << QString(kind) + ":" + a + ":" + n; };
        };
        std::array<RestoreOpener, 5> openers{opener("T"), opener("Q"), opener("P"), opener("S"), RestoreOpener{}};
        restoreRecordedWindows(openers);
        QCOMPARE(opened, (QStringList{"T:DB1:A.DB", "Q:DB1:"}));
        QVERIFY(shell::listSubkeys(shell::restoreKindKey(RestoreKind::Table)).isEmpty());
        QVERIFY(shell::listSubkeys(shell::restoreKindKey(RestoreKind::Sql)).isEmpty());
        // Setting off, or no window of that kind in this build: the records stay.
        QCOMPARE(shell::listSubkeys(shell::restoreKindKey(RestoreKind::StoredProc)).size(), 1);
        QCOMPARE(shell::listSubkeys(shell::restoreKindKey(RestoreKind::Index)).size(), 1);
    }

    void restoreFailureStopsLaterKindsButClearsItsKey()
    {
        using shell::RestoreKind;
        shell::deleteKey(shell::kRootKey);
        shell::AppSettings& s = shell::settings();
        s.rsmTable = s.rsmSql = true;
        shell::writeRestoreRecord(RestoreKind::Table, "DB1", "BAD.DB");
        shell::writeRestoreRecord(RestoreKind::Sql, "DB1", {});
        bool sqlOpened = false;
        std::array<RestoreOpener, 5> openers{
            [](const QString&, const QString&) { throw std::runtime_error("cannot open"); },
            [&](const QString&, const QString&) { sqlOpened = true; }, {}, {}, {}};
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, restoreRecordedWindows(openers));
        QVERIFY(!sqlOpened);
        QVERIFY(shell::listSubkeys(shell::restoreKindKey(RestoreKind::Table)).isEmpty());
        QCOMPARE(shell::listSubkeys(shell::restoreKindKey(RestoreKind::Sql)).size(), 1);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    QApplication app(argc, argv);
    NameListsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "NameListsTest.moc"
