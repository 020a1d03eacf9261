// The table window on real dBASE and Paradox files under the offscreen platform: editing
// through the grid (post, cancel, conflict), export, input-method modes, filter and index
// choice, delete all, definition scripts and opening table files.
#include "tablewin/Hooks.h"
#include "tablewin/ListingGrid.h"
#include "tablewin/TDBGrid2.h"
#include "tablewin/TMDIChild.h"
#include "tablewin/TTableFilter.h"

#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "index/TTableIndex2.h"
#include "shell/AppState.h"
#include "shell/CommandLine.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/TMainForm.h"
#include "shell/THelpWindow.h"
#include "shell/WindowHooks.h"

#include <QApplication>
#include <algorithm>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QLabel>
#include <QMenuBar>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vemo;
using engine::FieldDef;
using engine::FieldType;
using engine::IndexDef;
using tablewin::TMDIChild;

namespace {

FieldDef fd(const std::string& name, FieldType type, int size = 0)
{
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

IndexDef ix(const std::string& name, const std::string& fields, bool primary = false)
{
    IndexDef i;
    i.name = name;
    i.fields = fields;
    i.primary = primary;
    return i;
}

// Prompts answered by the test, and what was asked, in order.
struct Prompts {
    QList<shell::PromptRequest> asked;
    QString saveTo;
    QMessageBox::StandardButton confirmAnswer = QMessageBox::Yes;
    Prompts()
    {
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            asked.append(r);
            shell::PromptAnswer a;
            if (r.kind == shell::PromptRequest::Kind::SaveFile) {
                a.accepted = !saveTo.isEmpty();
                a.text = saveTo;
            } else if (r.buttons & QMessageBox::Yes) {
                a.button = confirmAnswer;
            }
            return a;
        });
    }
    ~Prompts() { shell::setPromptHandler({}); }
    QStringList texts() const
    {
        QStringList t;
        for (const auto& r : asked)
            t << r.text;
        return t;
    }
};

} // namespace

class TableWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    // A table in the DATA alias, filled with rows of texts (empty text = null).
    void makeTable(const std::string& name, const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes,
                   const std::vector<std::vector<std::string>>& rows)
    {
        engine::Table t(*session_);
        t.setDatabaseName("DATA");
        t.setTableName(name);
        t.createTable(fields, indexes);
        t.open();
        for (const auto& r : rows) {
            t.append();
            for (size_t i = 0; i < r.size(); ++i)
                if (!r[i].empty())
                    t.setFieldText(static_cast<int>(i), r[i]);
            t.post();
        }
        t.close();
    }

    // A window opened the way the database window opens one.
    std::unique_ptr<TMDIChild> openWindow(const std::string& table, bool firstIndex = true,
                                          const std::string& alias = "DATA")
    {
        auto w = std::make_unique<TMDIChild>(*session_, nullptr);
        w->setPersistence(1);
        w->Table1().setDatabaseName(alias);
        w->Table1().setTableName(table);
        w->setWindowTitle(TMDIChild::captionFor(QString::fromStdString(alias), QString::fromStdString(table)));
        w->Table1().open();
        const auto indexes = w->Table1().indexDefs();
        if (!indexes.empty()) {
            w->setIndexLabel("[主キー]");
            if (firstIndex) {
                w->Table1().close();
                w->Table1().setIndexName(indexes.front().name);
                w->Table1().open();
            }
        } else {
            w->setIndexLabel("[キー無し]");
        }
        w->show();
        if (QTest::qWaitForWindowExposed(w.get()))
            (void)QTest::qWaitFor([&] { return w->firstPaintDone(); });
        return w;
    }

    // The LITE alias: a SQLite database of this test run, made on first use.
    engine::Database& liteDatabase()
    {
        const auto names = session_->aliasNames();
        if (std::find(names.begin(), names.end(), "LITE") == names.end()) {
            const std::string file = path("lite.sqlite").toStdString();
            QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly); // an empty database
            session_->addAlias("LITE", "SQLITE", {"DATABASE=" + file});
        }
        return session_->database("LITE");
    }

    std::vector<std::string> column(const std::string& table, int field, const std::string& alias = "DATA")
    {
        engine::Table t(*session_);
        t.setDatabaseName(alias);
        t.setTableName(table);
        t.open();
        std::vector<std::string> values;
        for (t.first(); !t.eof(); t.next())
            values.push_back(t.fieldText(field));
        t.close();
        return values;
    }

    QString cell(TMDIChild& w, int row, int col) { return w.grid()->model()->index(row, col).data().toString(); }

    // Types into a cell through the grid's own line editor and leaves it with Enter.
    void typeIntoCell(TMDIChild& w, int row, int col, const QString& text)
    {
        auto* g = w.grid();
        g->setFocus();
        g->setCurrentIndex(g->model()->index(row, col));
        g->edit(g->currentIndex());
        QLineEdit* e = g->cellEditor();
        QVERIFY(e);
        e->selectAll();
        QTest::keyClicks(e, text);
        QTest::keyClick(e, Qt::Key_Return); // Enter acts as Tab: commits and moves right
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        session_ = std::make_unique<engine::Session>(path("engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();
        session_->addAlias("DATA", "STANDARD", {"PATH=" + dir_.path().toStdString()});
    }

    void init()
    {
        shell::settings() = shell::AppSettings{};
        // Rows announced to the grid must match the rows the model has.
        QTest::failOnWarning(QRegularExpression("QAbstractItemModel|QAbstractItemView"));
    }

    void gridPostCancelAndConflict()
    {
        makeTable("EDIT.DB", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 20), fd("QTY", FieldType::Integer)},
                  {ix("", "ID", true)}, {{"1", "alpha", "10"}, {"2", "beta", "20"}, {"3", "gamma", "30"}});
        Prompts prompts;
        auto w = openWindow("EDIT.DB");
        QVERIFY(w->firstPaintDone());
        QCOMPARE(w->statusPanelText(1), QString("3"));
        QVERIFY(w->Table1().cachedUpdates());

        // Post: leaving the row writes the record through the cache to the file.
        typeIntoCell(*w, 0, 1, "ALPHA");
        QCOMPARE(w->Table1().state(), engine::DataSetState::Edit);
        QCOMPARE(w->grid()->currentIndex().column(), 2); // Enter moved to the next column
        QCOMPARE(column("EDIT.DB", 1)[0], "alpha");       // not posted while on the record
        w->grid()->setCurrentIndex(w->grid()->model()->index(1, 1));
        QCOMPARE(w->Table1().state(), engine::DataSetState::Browse);
        QVERIFY(!w->Table1().updatesPending());
        QCOMPARE(column("EDIT.DB", 1), (std::vector<std::string>{"ALPHA", "beta", "gamma"}));

        // Cancel: Esc on the grid drops the edit of the record.
        typeIntoCell(*w, 1, 1, "changed");
        QCOMPARE(cell(*w, 1, 1), QString("changed"));
        if (QLineEdit* e = w->grid()->cellEditor()) // the first Esc leaves the cell editor
            QTest::keyClick(e, Qt::Key_Escape);
        QTest::keyClick(w->grid(), Qt::Key_Escape);
        QCOMPARE(w->Table1().state(), engine::DataSetState::Browse);
        QCOMPARE(cell(*w, 1, 1), QString("beta"));
        QCOMPARE(column("EDIT.DB", 1)[1], "beta");

        // Conflict: someone else changes the record the window is editing.
        w->grid()->setCurrentIndex(w->grid()->model()->index(2, 1));
        QCOMPARE(cell(*w, 2, 1), QString("gamma"));
        {
            engine::Table other(*session_);
            other.setDatabaseName("DATA");
            other.setTableName("EDIT.DB");
            other.open();
            other.last();
            other.setFieldText(1, "theirs");
            other.post();
            other.close();
        }
        typeIntoCell(*w, 2, 1, "mine");
        prompts.asked.clear();
        w->grid()->setCurrentIndex(w->grid()->model()->index(0, 1));
        QCOMPARE(prompts.texts(), QStringList{"他のユーザーとの競合により変更は更新されませんでした。"});
        QCOMPARE(prompts.asked.front().icon, QMessageBox::Warning);
        QVERIFY(!w->Table1().updatesPending());
        QCOMPARE(column("EDIT.DB", 1)[2], "theirs");
        QCOMPARE(cell(*w, 2, 1), QString("theirs"));
    }

    void bareTypedValueIsRejectedWithoutLosingTheRecord()
    {
        makeTable("TYPED.DB", {fd("ID", FieldType::Integer), fd("QTY", FieldType::Integer)}, {ix("", "ID", true)},
                  {{"1", "5"}});
        Prompts prompts;
        auto w = openWindow("TYPED.DB");
        typeIntoCell(*w, 0, 1, "abc");
        QCOMPARE(prompts.asked.size(), 1);
        QCOMPARE(cell(*w, 0, 1), QString("5"));
        QCOMPARE(column("TYPED.DB", 1), std::vector<std::string>{"5"});
    }

    void exportWritesEveryValueAsStored()
    {
        makeTable("EXPORT.DBF",
                  {fd("N", FieldType::Smallint), fd("TEXT", FieldType::String, 30), fd("NOTE", FieldType::Memo)}, {},
                  {{"1", "a,b", "line1\nline2"}, {"", "say \"hi\"", ""}, {"-3", "日本語", "x"}});
        Prompts prompts;
        prompts.saveTo = path("out.txt");
        auto w = openWindow("EXPORT.DBF");
        QCOMPARE(w->statusPanelText(3), QString("[キー無し]"));
        w->N14Click();
        QCOMPARE(prompts.asked.front().defaultText, QString("EXPORT.DBF.TXT"));
        QCOMPARE(prompts.texts().last(), QString("終了しました。"));
        QCOMPARE(prompts.asked.last().caption, QString("確認"));
        QFile f(prompts.saveTo);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text, QByteArray("1,\"a,b\",\"line1\nline2\"\r\n"
                                  ",\"say \"hi\"\",\"\"\r\n"
                                  "-3,\"日本語\",\"x\"\r\n"));

        // An empty (filtered) table still gives a file, empty, and the notice.
        w->Table1().setFilter("N > 100");
        w->Table1().setFiltered(true);
        prompts.saveTo = path("empty.txt");
        w->N14Click();
        QVERIFY(QFile::exists(prompts.saveTo));
        QCOMPARE(QFileInfo(prompts.saveTo).size(), 0);
        QCOMPARE(prompts.texts().last(), QString("終了しました。"));

        // A file that cannot be written: the error, no file, and the status bar back.
        prompts.saveTo = path("missing/dir/out.txt");
        w->N14Click();
        QVERIFY(!QFile::exists(prompts.saveTo));
        QVERIFY(prompts.texts().last() != QString("終了しました。"));
        QVERIFY(!w->findChild<QProgressBar*>("PB1")->isVisible());
    }

    // The record commands on a SQLite table: the same grid, a keyed SQL table under it.
    void recordCommandsOnASqlTable()
    {
        engine::Database& db = liteDatabase();
        db.executeSql("CREATE TABLE rec (id INTEGER PRIMARY KEY, name VARCHAR(10), n INTEGER)", {});
        db.executeSql("INSERT INTO rec VALUES (1, 'a', 1), (2, 'b', 2)", {});
        auto stored = [this](int field) { return column("rec", field, "LITE"); };
        Prompts prompts;
        auto w = openWindow("rec", true, "LITE");
        auto* g = w->grid();

        typeIntoCell(*w, 0, 1, "keep");
        QCOMPARE(stored(1)[0], "a"); // not posted while on the record
        g->setCurrentIndex(g->model()->index(1, 1));
        QCOMPARE(stored(1), (std::vector<std::string>{"keep", "b"}));

        w->KA1Click();
        QCOMPARE(g->model()->rowCount(), 3);
        typeIntoCell(*w, 2, 0, "3");
        typeIntoCell(*w, 2, 1, "c");
        w->KF1Click();
        QCOMPARE(stored(0), (std::vector<std::string>{"1", "2", "3"}));
        QCOMPARE(w->statusPanelText(1), QString("3"));

        w->KL1Click();
        w->KP1Click();
        QCOMPARE(g->currentIndex().row(), 1);
        w->Delete1Click();
        QCOMPARE(stored(0), (std::vector<std::string>{"1", "3"}));
        QCOMPARE(g->model()->rowCount(), 2);
        QCOMPARE(cell(*w, 1, 1), QString("c"));

        // A key that is already there: one error, nothing written, and the grid shows what
        // is stored (the window drops a cached change that could not be written).
        w->KA1Click();
        typeIntoCell(*w, 2, 0, "1");
        typeIntoCell(*w, 2, 1, "dup");
        w->KF1Click();
        QCOMPARE(prompts.asked.size(), 1);
        QCOMPARE(prompts.asked.front().caption, QString("エラー"));
        QCOMPARE(stored(1), (std::vector<std::string>{"keep", "c"}));
        QCOMPARE(g->model()->rowCount(), 2);
        QVERIFY(!w->Table1().updatesPending());
    }

    // A SQL table is exported in one pass while the window shows progress (and may repaint
    // from the same connection): the file holds every record in the grid's order.
    void exportOfASqlTableMatchesTheGrid()
    {
        auto& db = liteDatabase();
        db.executeSql("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20), qty INTEGER)", {});
        db.executeSql("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 30000)"
                      " INSERT INTO items SELECT i, '品目' || (i % 500), i % 7 FROM k", {});
        Prompts prompts;
        prompts.saveTo = path("items.txt");
        auto w = openWindow("items", true, "LITE");
        w->N14Click();
        QCOMPARE(prompts.texts().last(), QString("終了しました。"));
        QFile f(prompts.saveTo);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 30001); // the last line end leaves an empty piece
        QCOMPARE(lines[0], QByteArray("1,\"品目1\",1\r"));
        QCOMPARE(lines[29999], QByteArray("30000,\"品目0\",5\r"));
        QVERIFY(!w->findChild<QProgressBar*>("PB1")->isVisible());
    }

    void imeModesAreReadAppliedAndStored()
    {
        makeTable("IME.DB", {fd("A", FieldType::String, 5), fd("B", FieldType::String, 5), fd("C", FieldType::String, 5)},
                  {}, {{"x", "y", "z"}});
        shell::settings().rsmIme = true;
        shell::writeSetting("SOFTWARE\\VEMO32\\IMEMODE\\DATA", "IME.DB", "6G");
        Prompts prompts;
        auto w = openWindow("IME.DB");
        QCOMPARE(int(w->imeModes()[0]), 6);
        QCOMPARE(int(w->imeModes()[1]), 0); // "G" reads as 0
        QCOMPARE(int(w->imeModes()[2]), 0); // past the short text
        QCOMPARE(w->imeMode(), 6);
        QCOMPARE(w->grid()->inputMethodHints(), Qt::ImhNone);

        // Enter moves along the fields and wraps to the first; the mode follows.
        w->grid()->setFocus();
        w->grid()->setCurrentIndex(w->grid()->model()->index(0, 2));
        w->menuItem("K9")->trigger(); // half-width alphanumeric for field C
        QCOMPARE(w->imeMode(), 4);
        QVERIFY(w->grid()->inputMethodHints() & Qt::ImhLatinOnly);
        QTest::keyClick(w->grid(), Qt::Key_Return);
        QCOMPARE(w->currentField(), 0);
        QCOMPARE(w->imeMode(), 6);

        QVERIFY(w->close());
        const QString stored = shell::readSetting("SOFTWARE\\VEMO32\\IMEMODE\\DATA", "IME.DB");
        QCOMPARE(stored.size(), 256);
        QCOMPARE(stored.left(4), QString("6040"));
    }

    void filterChangesTheRowsAndKeepsTheOldOneOnError()
    {
        makeTable("FILT.DBF", {fd("QTY", FieldType::Integer), fd("NAME", FieldType::String, 10)}, {},
                  {{"1", "a"}, {"7", "b"}, {"9", "c"}});
        Prompts prompts;
        auto w = openWindow("FILT.DBF");
        auto answer = [](const QString& text, bool ok) {
            QTimer::singleShot(0, [text, ok] {
                auto* dlg = qobject_cast<tablewin::TTableFilter*>(QApplication::activeModalWidget());
                QVERIFY(dlg);
                dlg->editor()->setPlainText(text);
                (ok ? dlg->okButton() : dlg->cancelButton())->click();
            });
        };
        answer("QTY > 5", true);
        w->F1Click();
        QCOMPARE(w->statusPanelText(5), QString("ON"));
        QCOMPARE(w->statusPanelText(1), QString("2"));
        QCOMPARE(w->grid()->model()->rowCount(), 2);
        QCOMPARE(cell(*w, 0, 1), QString("b"));

        answer("QTY >", true); // malformed: the engine's message, the filter stays
        w->F1Click();
        QCOMPARE(prompts.asked.size(), 1);
        QCOMPARE(QString::fromStdString(w->Table1().filter()), QString("QTY > 5"));
        QCOMPARE(w->statusPanelText(5), QString("ON"));
        QCOMPARE(w->grid()->model()->rowCount(), 2);

        answer("", false); // cancel changes nothing
        w->F1Click();
        QCOMPARE(w->statusPanelText(5), QString("ON"));

        // Delete all removes only the filtered records.
        w->N13Click();
        QCOMPARE(prompts.texts().last(), QString("ﾚｺｰﾄﾞをすべて削除しますか？"));
        QCOMPARE(column("FILT.DBF", 1), std::vector<std::string>{"a"});

        answer("QTY > 0\nOR QTY < 0", true); // several lines
        w->F1Click();
        QCOMPARE(w->grid()->model()->rowCount(), 1);
        answer("", true);
        w->F1Click();
        QCOMPARE(w->statusPanelText(5), QString("OFF"));
        QVERIFY(!w->Table1().filtered());
    }

    void indexChoiceOrdersTheGrid()
    {
        makeTable("ORDER.DB", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 10)},
                  {ix("", "ID", true), ix("BYNAME", "NAME")}, {{"1", "c"}, {"2", "a"}, {"3", "b"}});
        Prompts prompts;
        auto w = openWindow("ORDER.DB");
        auto choose = [](int entry, bool ok) {
            QTimer::singleShot(0, [entry, ok] {
                auto* dlg = qobject_cast<index::TTableIndex2*>(QApplication::activeModalWidget());
                QVERIFY(dlg);
                QCOMPARE(dlg->indexList()->count(), 2);
                QCOMPARE(dlg->indexList()->itemText(0), QString("[主キー]"));
                dlg->indexList()->setCurrentIndex(entry);
                (ok ? dlg->okButton() : dlg->cancelButton())->click();
            });
        };
        choose(1, true);
        w->X1Click();
        QCOMPARE(w->statusPanelText(3), QString("BYNAME"));
        QCOMPARE(cell(*w, 0, 1), QString("a"));
        QCOMPARE(cell(*w, 2, 1), QString("c"));

        choose(0, false);
        w->X1Click();
        QCOMPARE(w->statusPanelText(3), QString("BYNAME"));

        choose(0, true);
        w->X1Click();
        QCOMPARE(w->statusPanelText(3), QString("[主キー]"));
        QCOMPARE(cell(*w, 0, 1), QString("c"));
        QVERIFY(prompts.asked.isEmpty());
    }

    void scriptGoesToTheClipboard()
    {
        makeTable("SCRIPT.DB", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 10)},
                  {ix("", "ID", true)}, {{"1", "x"}});
        auto w = openWindow("SCRIPT.DB");
        w->KMode_Click(2);
        QCOMPARE(QApplication::clipboard()->text(),
                 QString("CREATE TABLE SCRIPT\r\n(\r\n"
                         "  ID                          INTEGER            NOT NULL ,\r\n"
                         "  NAME                        VARCHAR(10)       ,\r\n"
                         "  PRIMARY KEY (ID)\r\n);\r\n\r\n"));
        QVERIFY(w->Table1().isOpen());
        QCOMPARE(w->grid()->model()->rowCount(), 1);
        w->K15Click();
        QCOMPARE(shell::readSetting("SOFTWARE\\VEMO32", "FIELDTYPE"), QString("1"));
        w->KMode_Click(2);
        QVERIFY(QApplication::clipboard()->text().contains("  FIELD_01  INTEGER"));
    }

    void recordCommandsAndCellClipboard()
    {
        makeTable("REC.DB", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 10), fd("N", FieldType::Integer)},
                  {ix("", "ID", true)}, {{"1", "a", "1"}, {"2", "b", "2"}});
        Prompts prompts;
        auto w = openWindow("REC.DB");
        auto* g = w->grid();

        // Copy with the grid focused but no cell being edited leaves the clipboard alone.
        QApplication::clipboard()->setText("keep");
        g->setFocus();
        QApplication::setActiveWindow(w.get());
        g->setCurrentIndex(g->model()->index(0, 1));
        w->Copy2Click();
        QCOMPARE(QApplication::clipboard()->text(), QString("keep"));

        // Paste goes into the cell editor only; the record is posted when the row is left.
        g->edit(g->currentIndex());
        QVERIFY(g->cellEditor());
        g->cellEditor()->selectAll();
        w->Paste2Click();
        QCOMPARE(g->cellEditor()->text(), QString("keep"));
        QCOMPARE(column("REC.DB", 1)[0], "a");
        QTest::keyClick(g->cellEditor(), Qt::Key_Return);
        g->setCurrentIndex(g->model()->index(1, 1));
        QCOMPARE(column("REC.DB", 1), (std::vector<std::string>{"keep", "b"}));

        // Append a record through the menu, fill it in the grid, post by leaving it.
        w->KA1Click();
        QCOMPARE(g->model()->rowCount(), 3);
        typeIntoCell(*w, 2, 0, "3");
        typeIntoCell(*w, 2, 1, "c");
        w->KF1Click();
        QCOMPARE(column("REC.DB", 0), (std::vector<std::string>{"1", "2", "3"}));
        QCOMPARE(w->statusPanelText(1), QString("3"));

        w->KL1Click();
        QCOMPARE(g->currentIndex().row(), 2);
        w->KP1Click();
        QCOMPARE(g->currentIndex().row(), 1);
        w->Delete1Click();
        QCOMPARE(column("REC.DB", 0), (std::vector<std::string>{"1", "3"}));
        QCOMPARE(w->statusPanelText(1), QString("2"));
        QCOMPARE(g->model()->rowCount(), 2);
        QVERIFY(prompts.asked.isEmpty());

        // The menu visibility rule follows the focus.
        QVERIFY(w->menuItem("CSV2")->isVisible());
        QVERIFY(!w->menuItem("SelAll2")->isVisible());
        w->Menu_Mode();
        auto* memo = w->findChild<QPlainTextEdit*>("DBM2");
        memo->setFocus();
        QApplication::processEvents();
        if (memo->hasFocus()) {
            QVERIFY(!w->menuItem("CSV2")->isVisible());
            QVERIFY(w->menuItem("SelAll2")->isVisible());
            QVERIFY(w->menuItem("Cut2")->isVisible());
        }
    }

    void fieldPanelEditsTheCurrentField()
    {
        makeTable("MEMO.DBF", {fd("ID", FieldType::Integer), fd("NOTE", FieldType::Memo)}, {},
                  {{"1", "first\nnote"}, {"2", "second"}});
        Prompts prompts;
        auto w = openWindow("MEMO.DBF");
        auto* g = w->grid();
        auto* memo = w->findChild<QPlainTextEdit*>("DBM2");
        g->setCurrentIndex(g->model()->index(0, 1));
        QCOMPARE(w->findChild<QLabel*>("Field_Name")->text(), QString("NOTE"));
        QCOMPARE(memo->toPlainText(), QString("first\nnote"));
        QApplication::setActiveWindow(w.get());
        memo->setFocus();
        memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(memo, " added");
        g->setFocus();
        g->setCurrentIndex(g->model()->index(1, 1)); // leaving the record posts it
        QCOMPARE(column("MEMO.DBF", 1), (std::vector<std::string>{"first\nnote added", "second"}));
        QCOMPARE(memo->toPlainText(), QString("second"));
        QVERIFY(prompts.asked.isEmpty());
    }

    // A table that opens read-only for a lost index: the window asks once whether to
    // rebuild; no leaves it read-only and untouched, yes repairs it and reopens for writing.
    void readOnlyForALostIndexOffersARepair()
    {
        makeTable("LOST.DBF", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 20)},
                  {ix("BYNAME", "NAME", false)}, {{"1", "alpha"}, {"2", "beta"}});
        QVERIFY(QFile::remove(path("LOST.MDX")));
        const QString question = QStringLiteral("インデックスを再構築");
        {
            Prompts prompts;
            prompts.confirmAnswer = QMessageBox::No;
            auto w = openWindow("LOST.DBF");
            QVERIFY(!w->Table1().canModify());
            QCOMPARE(prompts.asked.size(), 1);
            QVERIFY(prompts.asked[0].text.contains(question));
            QCOMPARE(w->statusPanelText(1), QString("2"));
        }
        QVERIFY(QFile::exists(path("LOST.DBF")));
        {
            Prompts prompts;
            auto w = openWindow("LOST.DBF");
            QCOMPARE(prompts.asked.size(), 1);
            QVERIFY(prompts.asked[0].text.contains(question));
            QVERIFY(w->Table1().canModify());
            QCOMPARE(w->statusPanelText(1), QString("2"));
        }
        {
            Prompts prompts; // writable now: nothing asked
            auto w = openWindow("LOST.DBF");
            QVERIFY(w->Table1().canModify());
            QCOMPARE(prompts.asked.size(), 0);
        }
    }

    void closeRecordsAndForgetsTheWindow()
    {
        makeTable("CLOSE.DB", {fd("ID", FieldType::Integer), fd("NAME", FieldType::String, 10)}, {ix("", "ID", true)},
                  {{"1", "a"}});
        shell::settings().rsmTable = true;
        shell::writeSetting("SOFTWARE\\VEMO32", "FIELDTYPE", "1");
        auto w = openWindow("CLOSE.DB");
        QCOMPARE(w->fieldNamingMode(), 1);
        QCOMPARE(w->menuItem("K15")->text(), QString("ﾌｨｰﾙﾄﾞ名を通常形式にする"));
        // At program end only the close query runs: the record stays for the next start.
        QVERIFY(w->closeQuery());
        QCOMPARE(shell::readSetting("SOFTWARE\\VEMO32\\TABLE\\DATA-CLOSE.DB", "TBL_NAME"), QString("CLOSE.DB"));
        // An edit still open when the window closes is posted, not dropped.
        typeIntoCell(*w, 0, 1, "z");
        QVERIFY(w->close());
        QCOMPARE(column("CLOSE.DB", 1), std::vector<std::string>{"z"});
        QVERIFY(shell::listSubkeys("SOFTWARE\\VEMO32\\TABLE").isEmpty());
    }

    void listingFillsAStringGrid()
    {
        makeTable("LIST.DB", {fd("ID", FieldType::Integer), fd("名前", FieldType::String, 100)}, {}, {});
        QTableWidget grid;
        QFont f = grid.font();
        f.setPixelSize(12);
        grid.setFont(f);
        engine::Table t(*session_);
        t.setDatabaseName("DATA");
        t.setTableName("LIST.DB");
        QCOMPARE(tablewin::fillListingGrid(t, grid), 2);
        QVERIFY(!t.isOpen());
        QCOMPARE(grid.rowCount(), 3);
        QCOMPARE(grid.item(0, 1)->text(), QString("ﾌｨｰﾙﾄﾞ名"));
        QCOMPARE(grid.item(2, 0)->text(), QString("002"));
        QCOMPARE(grid.item(2, 2)->text(), QString("文字型"));
        QCOMPARE(grid.item(2, 5)->text(), QString("VARCHAR(100)"));
        QCOMPARE(grid.item(2, 4)->text(), QString("100"));
        QCOMPARE(grid.columnWidth(1), 120);
        QVERIFY(grid.isColumnHidden(5));
        // A table that cannot be opened leaves the grid as it was.
        t.setTableName("NONE.DB");
        QVERIFY_THROWS_EXCEPTION(engine::EngineError, tablewin::fillListingGrid(t, grid));
        QCOMPARE(grid.rowCount(), 3);
    }

    void tableFilesOfEachFormat()
    {
        makeTable("FILE1.DBF", {fd("NAME", FieldType::String, 10)}, {}, {{"x"}});
        makeTable("FILE2.DB", {fd("ID", FieldType::Integer)}, {ix("", "ID", true)}, {{"1"}, {"2"}});
        Prompts prompts;
        std::unique_ptr<TMDIChild> a(tablewin::openTableFile(*session_, path("FILE1.DBF")));
        QCOMPARE(a->windowTitle(), "テーブル編集 - [" + path("FILE1.DBF") + "]");
        QCOMPARE(a->persistence(), 0);
        QCOMPARE(a->statusPanelText(3), QString("[キー無し]"));
        QVERIFY(!a->Table1().cachedUpdates());
        QCOMPARE(a->statusPanelText(1), QString("1"));
        std::unique_ptr<TMDIChild> b(tablewin::openTableFile(*session_, path("FILE2.DB")));
        QCOMPARE(b->statusPanelText(3), QString("[主キー]"));
        QVERIFY(b->Table1().cachedUpdates());
        QCOMPARE(b->statusPanelText(1), QString("2"));
        QVERIFY(prompts.asked.isEmpty());
        // A file the engine cannot open: its message, and the window stays.
        std::unique_ptr<TMDIChild> c(tablewin::openTableFile(*session_, path("NOPE.DB")));
        QVERIFY(c);
        QCOMPARE(prompts.asked.size(), 1);
        QVERIFY(!c->Table1().isOpen());
        // Record commands on it raise the engine's error each, and nothing else happens.
        c->Delete1Click();
        c->KN1Click();
        c->KA1Click();
        QCOMPARE(prompts.asked.size(), 4);
        QCOMPARE(c->grid()->model()->rowCount(), 0);
    }

    // "vemo32 A.DBF B.DB MISSING.DB": a table window for each, as File > Open makes them;
    // the missing file gets the engine's message and its half-made window, and the files
    // after it still open.
    void commandLineOpensEachFile()
    {
        makeTable("ARG1.DBF", {fd("NAME", FieldType::String, 10)}, {}, {{"a"}, {"b"}});
        makeTable("ARG2.DB", {fd("ID", FieldType::Integer)}, {ix("", "ID", true)}, {{"7"}});
        Prompts prompts;
        shell::TMainForm frame({path("ARG1.DBF"), "-H", path("MISSING.DB"), path("ARG2.DB")});
        frame.show();
        QVERIFY(frame.helpWindow() && frame.helpWindow()->isVisible()); // the switch keeps its meaning
        tablewin::installWindowHooks();
        QCOMPARE(shell::openCommandLineFiles({path("ARG1.DBF"), "-H", path("MISSING.DB"), path("ARG2.DB")}), 3);
        QStringList titles;
        QList<TMDIChild*> windows;
        for (QMdiSubWindow* sub : frame.mdiArea()->subWindowList())
            if (auto* w = qobject_cast<TMDIChild*>(sub->widget())) {
                titles << w->windowTitle();
                windows << w;
            }
        QCOMPARE(titles, (QStringList{"テーブル編集 - [" + path("ARG1.DBF") + "]", "テーブル編集 - [" + path("MISSING.DB") + "]",
                                      "テーブル編集 - [" + path("ARG2.DB") + "]"}));
        QCOMPARE(windows[0]->persistence(), 0);
        QCOMPARE(windows[0]->statusPanelText(1), QString("2"));
        QCOMPARE(windows[2]->statusPanelText(3), QString("[主キー]"));
        QVERIFY(windows[0]->Table1().isOpen() && windows[2]->Table1().isOpen() && !windows[1]->Table1().isOpen());
        QCOMPARE(prompts.asked.size(), 1);
        QCOMPARE(prompts.asked[0].caption, QString("エラー"));
        QVERIFY2(prompts.asked[0].text.contains("MISSING.DB"), qPrintable(prompts.asked[0].text));
        shell::windowHooks().openTableFile = nullptr;
    }

    void menusMergeIntoTheFrame()
    {
        makeTable("FRAME.DBF", {fd("NAME", FieldType::String, 10)}, {}, {{"x"}});
        Prompts prompts;
        shell::TMainForm frame;
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        TMDIChild* w = tablewin::openTableFile(*session_, path("FRAME.DBF"));
        QTRY_VERIFY(w->firstPaintDone());
        QApplication::processEvents();
        QStringList titles;
        for (QAction* a : frame.menuBar()->actions())
            titles << a->text();
        QVERIFY2(titles.contains("ﾚｺｰﾄﾞ(&R)") && titles.contains("ﾃｰﾌﾞﾙ(&T)") && titles.contains("編集(&E)"),
                 qPrintable(titles.join(' ')));
        QVERIFY(titles.indexOf("編集(&E)") < titles.indexOf("ﾕｰﾃｨﾘﾃｨ(&U)"));
        QVERIFY(prompts.asked.isEmpty());
    }
};

int main(int argc, char** argv)
{
    // Settings and sample data of this run live in a folder of its own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TableWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "TableWindowTest.moc"
