// The SQL window's field pane and clipboard commands, driven under the offscreen platform on
// a Paradox table with a graphic and a formatted memo field: the editor follows the current
// field's type, pictures and memo text go through the clipboard and into the table (read
// back by an engine of its own), the parameter grid's cell editor cuts, copies and pastes.
#include "query/Hooks.h"
#include "query/TComboGrid.h"
#include "query/TSQLChild.h"

#include "engine/dataset/Query.h"
#include "engine/dataset/Table.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "tablewin/FieldPane.h"
#include "tablewin/ImageEditor.h"
#include "tablewin/ImeHints.h"
#include "tablewin/TDBGrid2.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>

using namespace vemo;
using query::TSQLChild;

namespace {

struct Prompts {
    QStringList asked;
    Prompts()
    {
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            asked << r.caption + ":" + r.text;
            return shell::PromptAnswer{};
        });
    }
    ~Prompts() { shell::setPromptHandler({}); }
};

QImage picture(int w, int h, QColor color)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

engine::Bytes bmpBytes(const QImage& img)
{
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "BMP");
    return engine::Bytes(data.begin(), data.end());
}

QImage decoded(const engine::Value& v)
{
    const auto* b = std::get_if<engine::Bytes>(&v);
    return b ? QImage::fromData(b->data(), static_cast<int>(b->size())) : QImage();
}

bool sameColour(const QImage& a, const QImage& b)
{
    return !a.isNull() && !b.isNull() && a.size() == b.size() && a.pixelColor(0, 0) == b.pixelColor(0, 0) &&
           a.pixelColor(a.width() - 1, a.height() - 1) == b.pixelColor(b.width() - 1, b.height() - 1);
}

} // namespace

class SqlFieldPaneTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    // The table's rows as another program sees them: a second engine opening the file.
    std::vector<engine::Row> stored()
    {
        engine::Session other(path("other.cfg").toStdString());
        engine::registerBuiltinDrivers(other);
        other.open();
        other.addAlias("X", "STANDARD", {"PATH=" + path("px").toStdString(), "DEFAULT DRIVER=PARADOX"});
        engine::Table t(other);
        t.setDatabaseName("X");
        t.setTableName("PANE.DB");
        t.open();
        std::vector<engine::Row> rows;
        for (t.first(); !t.eof(); t.next()) {
            engine::Row r;
            for (int i = 0; i < t.fieldCount(); ++i)
                r.push_back(t.fieldValue(i));
            rows.push_back(r);
        }
        return rows;
    }

    std::unique_ptr<TSQLChild> openWindow()
    {
        std::unique_ptr<TSQLChild> w(query::openSqlWindow(*session_, QStringLiteral("PX")));
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->resize(800, 500);
        shell::g_windowOpening = true;
        shell::waitForFirstPaint();
        QApplication::setActiveWindow(w.get());
        w->activateWindow();
        return w;
    }

    // Runs a statement in the window, in write mode when asked.
    static void run(TSQLChild& w, const QString& sql, bool write)
    {
        w.TOB4()->setChecked(write);
        w.TOB4Click();
        w.Memo1()->setPlainText(sql);
        w.TOB1Click();
    }

    static void goTo(TSQLChild& w, int row, int column)
    {
        w.DBG1()->setFocus();
        w.DBG1()->setCurrentIndex(w.DBG1()->model()->index(row, column));
        QApplication::processEvents();
    }

    static bool focus(QWidget* widget)
    {
        widget->setFocus();
        QApplication::processEvents();
        return widget->hasFocus() || widget->isAncestorOf(QApplication::focusWidget());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        session_ = std::make_unique<engine::Session>(path("engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();
        QDir(dir_.path()).mkdir("px");
        session_->addAlias("PX", "STANDARD", {"PATH=" + path("px").toStdString(), "DEFAULT DRIVER=PARADOX"});
    }

    void init()
    {
        shell::settings() = shell::AppSettings{};
        // A fresh table for every case: ID key, NAME, a formatted memo and a picture.
        auto field = [](const char* name, engine::FieldType t, int size) {
            engine::FieldDef d;
            d.name = name;
            d.type = t;
            d.size = size;
            return d;
        };
        QFile::remove(path("px/PANE.DB"));
        QFile::remove(path("px/PANE.MB"));
        QFile::remove(path("px/PANE.PX"));
        engine::IndexDef key;
        key.fields = "ID";
        key.primary = key.unique = true;
        auto& db = session_->database("PX");
        db.createTable("PANE.DB",
                       {field("ID", engine::FieldType::Integer, 0), field("NAME", engine::FieldType::String, 20),
                        field("NOTE", engine::FieldType::FmtMemo, 10), field("PIC", engine::FieldType::Graphic, 10)},
                       {key});
        engine::Table t(*session_);
        t.setDatabaseName("PX");
        t.setTableName("PANE.DB");
        t.open();
        const std::array<QColor, 2> colours{QColor(Qt::red), QColor(Qt::blue)};
        for (int i = 0; i < 2; ++i) {
            t.append();
            t.setFieldValue(0, engine::Value{int64_t(i + 1)});
            t.setFieldText(1, i == 0 ? "りんご" : "みかん");
            t.setFieldText(2, i == 0 ? "一行目\n二行目" : "memo two");
            t.setFieldValue(3, engine::Value{bmpBytes(picture(8 + i, 6, colours[static_cast<size_t>(i)]))});
            t.post();
        }
        t.close();
        QApplication::clipboard()->clear();
    }

    void editorFollowsTheFieldType()
    {
        Prompts prompts;
        auto w = openWindow();
        run(*w, "SELECT ID, NAME, NOTE, PIC FROM PANE ORDER BY ID", true);
        QVERIFY(w->QRY1().isOpen());
        QCOMPARE(w->statusPanelText(2), QStringLiteral("共有可能"));
        auto* pane = w->fieldPane();
        auto* name = pane->nameLabel();
        goTo(*w, 0, 1);
        QCOMPARE(name->text(), QString("NAME"));
        QVERIFY(!pane->plainMemo()->isHidden());
        QVERIFY(pane->formattedMemo()->isHidden() && pane->picture()->isHidden());
        QCOMPARE(pane->plainMemo()->toPlainText(), QStringLiteral("りんご"));
        goTo(*w, 0, 2);
        QCOMPARE(name->text(), QString("NOTE"));
        QVERIFY(!pane->formattedMemo()->isHidden());
        QVERIFY(pane->plainMemo()->isHidden() && pane->picture()->isHidden());
        QCOMPARE(pane->formattedMemo()->toPlainText(), QStringLiteral("一行目\n二行目"));
        goTo(*w, 1, 3);
        QCOMPARE(name->text(), QString("PIC"));
        QVERIFY(!pane->picture()->isHidden());
        QVERIFY(pane->plainMemo()->isHidden() && pane->formattedMemo()->isHidden());
        QCOMPARE(pane->picture()->pixmap().size(), QSize(9, 6));
        // The record commands keep the pane on the current record.
        w->QRY_FIRST();
        QCOMPARE(pane->picture()->pixmap().size(), QSize(8, 6));

        // Closing the result empties the pane and resets the input-method list.
        w->setImeCode(6);
        QCOMPARE(w->imeModes()[3], uint8_t(6));
        w->TOB2Click();
        QCOMPARE(name->text(), QString());
        QVERIFY(pane->picture()->pixmap().isNull());
        QVERIFY(!pane->plainMemo()->isHidden());
        QCOMPARE(pane->plainMemo()->toPlainText(), QString());
        QCOMPARE(w->imeModes()[3], uint8_t(1));
        QVERIFY(prompts.asked.isEmpty());
    }

    void readOnlyResultShowsButKeeps()
    {
        Prompts prompts;
        auto w = openWindow();
        // Without write mode the result is read-only; the fields keep their table's types.
        run(*w, "SELECT ID, NOTE, PIC FROM PANE ORDER BY ID", false);
        QCOMPARE(w->statusPanelText(2), QStringLiteral("共有不可"));
        auto* pane = w->fieldPane();
        goTo(*w, 0, 1);
        QVERIFY(!pane->formattedMemo()->isHidden());
        QCOMPARE(pane->formattedMemo()->toPlainText(), QStringLiteral("一行目\n二行目"));
        QVERIFY(pane->formattedMemo()->isReadOnly());
        // A picture pasted or cut is refused: the editor shows the record's picture again
        // and the table keeps it.
        goTo(*w, 0, 2);
        auto* pic = pane->picture();
        QVERIFY(focus(pic));
        QApplication::clipboard()->setImage(picture(4, 4, Qt::green));
        w->Paste_Click();
        QCOMPARE(pic->pixmap().size(), QSize(8, 6));
        w->Cut_Click();
        QCOMPARE(pic->pixmap().size(), QSize(8, 6));
        QVERIFY(sameColour(QApplication::clipboard()->image(), picture(8, 6, Qt::red)));
        w->QRY_NEXT();
        const auto rows = stored();
        QVERIFY(sameColour(decoded(rows[0][3]), picture(8, 6, Qt::red)));
        QVERIFY(sameColour(decoded(rows[1][3]), picture(9, 6, Qt::blue)));
        QVERIFY(prompts.asked.isEmpty());
    }

    void pictureThroughTheClipboardIntoTheTable()
    {
        Prompts prompts;
        auto w = openWindow();
        run(*w, "SELECT ID, PIC FROM PANE ORDER BY ID", true);
        goTo(*w, 0, 1);
        auto* pic = w->fieldPane()->picture();
        QVERIFY(focus(pic));
        // Copy puts the record's picture on the clipboard; the table is untouched.
        w->Copy_Click();
        QVERIFY(sameColour(QApplication::clipboard()->image(), picture(8, 6, Qt::red)));
        // Paste over the second record's picture; leaving the record writes it.
        goTo(*w, 1, 1);
        QVERIFY(focus(pic));
        w->Paste_Click();
        QVERIFY(sameColour(pic->pixmap().toImage(), picture(8, 6, Qt::red)));
        goTo(*w, 0, 1);
        auto rows = stored();
        QCOMPARE(rows.size(), size_t(2));
        QVERIFY(sameColour(decoded(rows[1][3]), picture(8, 6, Qt::red)));
        // Cut empties the field and leaves the picture on the clipboard.
        QApplication::clipboard()->clear();
        QVERIFY(focus(pic));
        w->Cut_Click();
        QVERIFY(pic->pixmap().isNull());
        QVERIFY(sameColour(QApplication::clipboard()->image(), picture(8, 6, Qt::red)));
        w->QRY_NEXT();
        rows = stored();
        QVERIFY(std::holds_alternative<std::monostate>(rows[0][3]));
        QVERIFY(sameColour(decoded(rows[1][3]), picture(8, 6, Qt::red)));
        // Delete empties the field and the clipboard alike.
        QVERIFY(focus(pic));
        w->Delete_Click();
        QVERIFY(QApplication::clipboard()->image().isNull());
        w->QRY_FIRST();
        rows = stored();
        QVERIFY(std::holds_alternative<std::monostate>(rows[1][3]));
        QVERIFY(prompts.asked.isEmpty());
    }

    void memoEditorsWriteTheirText()
    {
        Prompts prompts;
        auto w = openWindow();
        run(*w, "SELECT ID, NAME, NOTE FROM PANE ORDER BY ID", true);
        auto* pane = w->fieldPane();
        goTo(*w, 0, 2);
        QTextEdit* fmt = pane->formattedMemo();
        QVERIFY(focus(fmt));
        // Its tab stops follow the setting.
        QVERIFY(!fmt->document()->defaultTextOption().tabs().isEmpty());
        // The window menu offers select all for a memo, and no export or input-method items.
        QVERIFY(w->menuItem("SelAll2")->isVisible());
        QVERIFY(!w->menuItem("CSV2")->isVisible());
        QVERIFY(w->menuItem("Edit1")->isEnabled());
        w->SelAll_Click();
        w->Copy_Click();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("一行目\n二行目"));
        QApplication::clipboard()->setText(QStringLiteral("新しいメモ"));
        w->SelAll_Click();
        w->Paste_Click();
        QCOMPARE(fmt->toPlainText(), QStringLiteral("新しいメモ"));
        // The plain memo of another field: select all and cut.
        goTo(*w, 1, 1);
        QCOMPARE(pane->nameLabel()->text(), QString("NAME"));
        QPlainTextEdit* plain = pane->plainMemo();
        QVERIFY(focus(plain));
        w->SelAll_Click();
        w->Cut_Click();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("みかん"));
        QTest::keyClicks(plain, "banana");
        w->QRY_FIRST();
        const auto rows = stored();
        QCOMPARE(std::get<std::string>(rows[0][2]), std::string("新しいメモ"));
        QCOMPARE(std::get<std::string>(rows[1][1]), std::string("banana"));
        QVERIFY(prompts.asked.isEmpty());
    }

    // Whatever was edited in a live result reaches the table before the result closes:
    // closing it, a new text, closing the window.
    void editsAreWrittenBeforeTheResultCloses()
    {
        Prompts prompts;
        auto w = openWindow();
        auto* model = w->DBG1()->model();
        run(*w, "SELECT ID, NAME FROM PANE ORDER BY ID", true);
        QVERIFY(model->setData(model->index(0, 1), QStringLiteral("梨"), Qt::EditRole));
        w->TOB2Click();
        QCOMPARE(std::get<std::string>(stored()[0][1]), std::string("梨"));

        // Text still in the grid's cell editor counts too.
        run(*w, "SELECT ID, NAME FROM PANE ORDER BY ID", true);
        goTo(*w, 1, 1);
        w->DBG1()->edit(model->index(1, 1));
        QVERIFY(w->DBG1()->cellEditor());
        w->DBG1()->cellEditor()->selectAll();
        QTest::keyClicks(w->DBG1()->cellEditor(), "kaki");
        w->Memo1()->setPlainText("SELECT ID FROM PANE");
        QVERIFY(!w->QRY1().isOpen());
        QCOMPARE(std::get<std::string>(stored()[1][1]), std::string("kaki"));

        // A duplicate key cannot be written: closing reports it and the table keeps its rows.
        run(*w, "SELECT ID, NAME FROM PANE ORDER BY ID", true);
        QVERIFY(model->setData(model->index(1, 0), QStringLiteral("1"), Qt::EditRole));
        QVERIFY(w->closeQuery());
        QCOMPARE(prompts.asked.size(), 1);
        const auto rows = stored();
        QCOMPARE(std::get<int64_t>(rows[1][0]), int64_t(2));
        QCOMPARE(std::get<std::string>(rows[1][1]), std::string("kaki"));
    }

    void menuRuleFollowsTheFocus()
    {
        auto w = openWindow();
        // Nothing open: the grid's popup does not open, its edit menu is off.
        QVERIFY(focus(w->DBG1()));
        w->Menu_Mode();
        QVERIFY(!w->popupEnabled());
        QVERIFY(!w->menuItem("Edit1")->isEnabled());
        QVERIFY(w->menuItem("CSV2")->isVisible());
        QVERIFY(!w->menuItem("SelAll2")->isVisible());
        // The SQL text: the popup opens and select all is offered.
        QVERIFY(focus(w->Memo1()));
        QVERIFY(w->popupEnabled());
        QVERIFY(w->menuItem("Edit1")->isEnabled());
        QVERIFY(w->menuItem("SelAll1")->isVisible());
        QVERIFY(!w->menuItem("CSV1")->isVisible());
        // Tab stops follow the setting when the text gets the focus.
        const auto firstStop = [&] {
            const auto tabs = w->Memo1()->document()->defaultTextOption().tabs();
            return tabs.isEmpty() ? 0.0 : tabs.first().position;
        };
        shell::settings().tabWidth = 8;
        QVERIFY(focus(w->DBG1()));
        QVERIFY(focus(w->Memo1()));
        const qreal eight = firstStop();
        shell::settings().tabWidth = 2;
        QVERIFY(focus(w->DBG1()));
        QVERIFY(focus(w->Memo1()));
        QVERIFY(eight > 0);
        QCOMPARE(firstStop() * 4, eight);
        // A field editor with nothing open: no edit menu, no popup, no select all.
        QVERIFY(focus(w->fieldPane()->plainMemo()));
        QVERIFY(!w->popupEnabled());
        QVERIFY(!w->menuItem("Edit1")->isEnabled());
        QVERIFY(w->menuItem("SelAll2")->isVisible());
        run(*w, "SELECT ID, PIC FROM PANE", true);
        goTo(*w, 0, 1);
        QVERIFY(focus(w->fieldPane()->picture()));
        QVERIFY(w->popupEnabled());
        QVERIFY(w->menuItem("Edit1")->isEnabled());
        QVERIFY(!w->menuItem("SelAll2")->isVisible());
        QVERIFY(!w->menuItem("IME2")->isVisible());
    }

    void inputMethodFollowsTheField()
    {
        Prompts prompts;
        auto w = openWindow();
        run(*w, "SELECT ID, NAME, NOTE FROM PANE ORDER BY ID", true);
        goTo(*w, 0, 1);
        w->setImeCode(6);
        // The new mode applies when a cell of that field next gets the focus.
        QCOMPARE(w->imeMode(), 1);
        goTo(*w, 0, 0);
        goTo(*w, 0, 1);
        QCOMPARE(w->imeMode(), 6);
        QCOMPARE(w->fieldPane()->plainMemo()->property(tablewin::kImeModeProperty).toInt(), 6);
        goTo(*w, 0, 2);
        w->setImeCode(8);
        // Enter on the last column wraps to the first and takes its mode.
        goTo(*w, 0, 0);
        QCOMPARE(w->imeMode(), 1);
        goTo(*w, 0, 2);
        QCOMPARE(w->imeMode(), 8);
        QCOMPARE(w->fieldPane()->formattedMemo()->property(tablewin::kImeModeProperty).toInt(), 8);
        QTest::keyClick(w->DBG1(), Qt::Key_Return);
        QCOMPARE(w->currentField(), 0);
        QCOMPARE(w->DBG1()->currentIndex().column(), 0);
        QCOMPARE(w->DBG1()->currentIndex().row(), 1); // as Tab: on to the next record
        QCOMPARE(w->QRY1().recNo(), 1);
        QCOMPARE(w->imeMode(), 1);
        QTest::keyClick(w->DBG1(), Qt::Key_Return);
        QCOMPARE(w->currentField(), 1);
        QCOMPARE(w->imeMode(), 6);

        // The list has 256 entries: the fields after them use no input method, and a mode
        // chosen on them is not kept (nor written past the list).
        QStringList columns;
        for (int i = 0; i < 260; ++i)
            columns << QString("%1 AS C%1").arg(i);
        run(*w, "SELECT " + columns.join(", "), false);
        QCOMPARE(w->QRY1().fieldCount(), 260);
        goTo(*w, 0, 255);
        w->setImeCode(6);
        goTo(*w, 0, 258);
        QCOMPARE(w->currentField(), 258);
        QCOMPARE(w->imeMode(), 1);
        w->setImeCode(8);
        goTo(*w, 0, 259);
        goTo(*w, 0, 258);
        QCOMPARE(w->imeMode(), 1);
        goTo(*w, 0, 255);
        QCOMPARE(w->imeMode(), 6);
        // A new run keeps the list: only the NOTE column's 8 from before is in it.
        QCOMPARE(std::count(w->imeModes().begin(), w->imeModes().end(), uint8_t(8)), 1);
        QVERIFY(prompts.asked.isEmpty());
    }

    void parameterGridClipboard()
    {
        auto w = openWindow();
        w->Memo1()->setPlainText("SELECT * FROM PANE WHERE ID = :ID");
        auto* grid = w->CBG1();
        QVERIFY(!grid->isHidden());
        // Entering the grid on the name column moves to the type column.
        QVERIFY(focus(w->Memo1()));
        grid->setCurrentCell(1, 0);
        QVERIFY(focus(grid));
        QCOMPARE(grid->currentColumn(), 1);
        grid->setCurrentCell(1, 2);
        QApplication::processEvents();
        QLineEdit* editor = grid->inplaceEditor();
        QVERIFY(editor);
        QVERIFY(focus(editor));
        editor->setText("12345");
        editor->setSelection(1, 2);
        w->Copy_Click();
        QCOMPARE(QApplication::clipboard()->text(), QString("23"));
        w->Cut_Click();
        QCOMPARE(editor->text(), QString("145"));
        editor->setCursorPosition(3);
        w->Paste_Click();
        QCOMPARE(editor->text(), QString("14523"));
        // Delete takes the selection only; without one it leaves the text alone.
        editor->setCursorPosition(0);
        w->Delete_Click();
        QCOMPARE(editor->text(), QString("14523"));
        editor->setSelection(0, 2);
        w->Delete_Click();
        QCOMPARE(editor->text(), QString("523"));
        QCOMPARE(QApplication::clipboard()->text(), QString("23"));
        // The value reaches the run.
        grid->setCells(1, 1, QStringLiteral("整数型"));
        grid->commitEdit();
        QCOMPARE(grid->Cells(2, 1), QString("523"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SqlFieldPaneTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "SqlFieldPaneTest.moc"

