// The index selection dialog on real tables: listing, field list, copy, and the answer it
// leaves for the table window.
#include "index/IndexFields.h"
#include "index/TTableIndex2.h"

#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vemo;
using index::TTableIndex2;

class IndexDialogTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;

    void makeTable(const std::string& name, const std::vector<engine::IndexDef>& indexes)
    {
        engine::FieldDef a;
        a.name = "ID";
        a.type = engine::FieldType::Integer;
        engine::FieldDef b;
        b.name = "NAME";
        b.type = engine::FieldType::String;
        b.size = 10;
        engine::Table t(*session_);
        t.setDatabaseName("DATA");
        t.setTableName(name);
        t.createTable({a, b}, indexes);
    }

    // Runs the dialog on a table; `act` works the dialog, then presses a button.
    int run(const QString& table, const std::function<void(TTableIndex2&)>& act)
    {
        TTableIndex2::inputDatabase = "DATA";
        TTableIndex2::inputTable = table;
        TTableIndex2 dlg(*session_, nullptr);
        QTimer::singleShot(0, [&] { act(dlg); });
        return dlg.exec();
    }

private slots:
    void initTestCase()
    {
        session_ = std::make_unique<engine::Session>(dir_.filePath("engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();
        session_->addAlias("DATA", "STANDARD", {"PATH=" + dir_.path().toStdString()});
        engine::IndexDef primary;
        primary.fields = "ID;NAME";
        primary.primary = true;
        engine::IndexDef byName;
        byName.name = "BYNAME";
        byName.fields = "NAME";
        makeTable("KEYED.DB", {primary, byName});
        makeTable("PLAIN.DB", {});
    }

    void splitsFieldLists()
    {
        using V = std::vector<std::string>;
        QCOMPARE(index::splitIndexFields("A;B;C"), (V{"A", "B", "C"}));
        QCOMPARE(index::splitIndexFields("A;;B"), (V{"A", "", "B"}));
        QCOMPARE(index::splitIndexFields(""), (V{""}));
        QCOMPARE(index::splitIndexFields(std::string(300, ';')).size(), size_t(255));
    }

    void listsIndexesAndCopiesTheSelectedField()
    {
        QApplication::clipboard()->setText("old");
        const int r = run("KEYED.DB", [](TTableIndex2& d) {
            QCOMPARE(d.windowTitle(), QString("ｲﾝﾃﾞｯｸｽ変更      "));
            QCOMPARE(d.indexList()->count(), 2);
            QCOMPARE(d.indexList()->itemText(0), QString("[主キー]"));
            QCOMPARE(d.indexList()->itemText(1), QString("BYNAME"));
            QCOMPARE(d.fieldList()->count(), 2);
            QVERIFY(!d.copyAction()->isEnabled()); // nothing selected yet
            d.fieldList()->setCurrentRow(0);
            QVERIFY(d.copyAction()->isEnabled());
            d.copyAction()->trigger();
            d.indexList()->setCurrentIndex(1);
            QCOMPARE(d.fieldList()->count(), 1);
            QCOMPARE(d.fieldList()->item(0)->text(), QString("NAME"));
            d.okButton()->click();
        });
        QCOMPARE(r, int(QDialog::Accepted));
        QCOMPARE(QApplication::clipboard()->text(), QString("ID\r\n"));
        QCOMPARE(TTableIndex2::chosenIndex, QString("BYNAME"));
        QVERIFY(!TTableIndex2::firstIndexChosen);
    }

    void cancelAndTablesWithoutIndexes()
    {
        int r = run("KEYED.DB", [](TTableIndex2& d) { d.cancelButton()->click(); });
        QCOMPARE(r, int(QDialog::Rejected));
        QCOMPARE(TTableIndex2::chosenIndex, QString("[主キー]"));
        QVERIFY(TTableIndex2::firstIndexChosen);

        r = run("PLAIN.DB", [](TTableIndex2& d) {
            QCOMPARE(d.indexList()->count(), 0);
            d.okButton()->click();
        });
        QCOMPARE(r, int(QDialog::Accepted));
        QCOMPARE(TTableIndex2::chosenIndex, QString("[キー無し]"));
        QVERIFY(!TTableIndex2::firstIndexChosen);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    IndexDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "IndexDialogTest.moc"
