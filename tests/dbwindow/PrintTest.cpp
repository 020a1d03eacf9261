// Definition printing: the two forms recorded call by call, and real PDF files printed from
// the database window, read back with pdftotext / pdfinfo and rendered with pdftoppm.
#include "DbWindowFixture.h"

#include "dbwindow/DefinitionPrint.h"
#include "dbwindow/PrintCanvas.h"
#include "dbwindow/TAlias_Open.h"
#include "shell/AppState.h"
#include "shell/Fonts.h"
#include "shell/Registry.h"
#include "shell/TMainForm.h"
#include "tablewin/DefinitionListing.h"

#include <QComboBox>
#include <QImage>
#include <QRegularExpression>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vemo;
using dbwindow::PrintCanvas;
namespace fs = std::filesystem;

namespace {

struct Call {
    QString op; // text line frame pen font height page
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    QString text = {};
};

class RecordingCanvas : public PrintCanvas {
public:
    std::vector<Call> calls;
    QString font;
    int height = 0, pen = 0;
    void setFontName(const QString& f) override { font = f; calls.push_back({"font", 0, 0, 0, 0, f}); }
    void setFontHeight(int n) override { height = n; calls.push_back({"height", n}); }
    void setPenWidth(int n) override { pen = n; calls.push_back({"pen", n}); }
    void text(int x, int y, const QString& t) override { calls.push_back({"text", x, y, height, pen, font + "|" + t}); }
    void line(int a, int b, int c, int d) override { calls.push_back({"line", a, b, c, d, QString::number(pen)}); }
    void frame(int a, int b, int c, int d) override { calls.push_back({"frame", a, b, c, d, QString::number(pen)}); }
    void newPage() override { calls.push_back({"page"}); }

    // The calls of page p (0-based).
    std::vector<Call> page(int p) const
    {
        std::vector<Call> out;
        int at = 0;
        for (const Call& c : calls) {
            if (c.op == "page")
                ++at;
            else if (at == p)
                out.push_back(c);
        }
        return out;
    }
    int pages() const
    {
        int n = 1;
        for (const Call& c : calls)
            n += c.op == "page";
        return n;
    }
};

// Texts of a page with their positions: "x,y:text" (font left out).
QStringList texts(const std::vector<Call>& calls)
{
    QStringList out;
    for (const Call& c : calls)
        if (c.op == "text")
            out << QStringLiteral("%1,%2:%3").arg(c.x1).arg(c.y1).arg(c.text.section('|', 1));
    return out;
}

const Call* findText(const std::vector<Call>& calls, const QString& text)
{
    for (const Call& c : calls)
        if (c.op == "text" && c.text.section('|', 1) == text)
            return &c;
    return nullptr;
}

std::vector<engine::FieldDef> fields(int n)
{
    std::vector<engine::FieldDef> out;
    for (int i = 1; i <= n; ++i) {
        engine::FieldDef f;
        f.name = "F" + std::to_string(i);
        f.type = engine::FieldType::String;
        f.size = 10;
        out.push_back(f);
    }
    return out;
}

engine::IndexDef index(const std::string& name, const std::string& flds)
{
    engine::IndexDef d;
    d.name = name;
    d.fields = flds;
    return d;
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(QString::fromLocal8Bit(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class PrintTest : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    fs::path cfg_, data_;
    std::unique_ptr<engine::Session> session_;
    std::unique_ptr<shell::TMainForm> frame_;
    fixture::Prompts prompts_;

    dbwindow::TAlias_Open* openWindow()
    {
        auto* w = new dbwindow::TAlias_Open(*session_, nullptr);
        frame_->addChild(w);
        const int i = w->CB1->findText("PRINTDB");
        w->CB1->setCurrentIndex(i);
        emit w->CB1->activated(i);
        return w;
    }
    void closeWindow(QWidget* w)
    {
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList())
            if (sub->widget() == w)
                sub->deleteLater(); // its own close only minimises it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void select(QListWidget* list, const QStringList& names)
    {
        list->clearSelection();
        for (int i = 0; i < list->count(); ++i)
            if (names.contains(list->item(i)->text()))
                list->item(i)->setSelected(true);
    }
    // Prints the selected tables to `pdf` through the table list's menu.
    void printTo(dbwindow::TAlias_Open* w, const QString& pdf)
    {
        shell::PromptAnswer a;
        a.accepted = true;
        a.text = pdf;
        prompts_.answers.push_back(a);
        w->PM2Popup();
        QVERIFY(w->Print1->isEnabled());
        w->Print1->trigger();
    }

private slots:
    void initTestCase()
    {
        shell::installFontSubstitutions();
        // VEMO32_KEEP_TEST_FILES=1 keeps the printed files to look at
        root_.setAutoRemove(qEnvironmentVariableIsEmpty("VEMO32_KEEP_TEST_FILES"));
        const fs::path root = root_.path().toStdString();
        cfg_ = root / "engine.cfg";
        data_ = root / "data";
        fs::create_directories(data_);
        session_ = fixture::makeSession(cfg_);
        session_->addAlias("PRINTDB", "STANDARD", {"PATH=" + data_.string(), "DEFAULT DRIVER=DBASE"});
        session_->saveConfig();
        engine::Table t(*session_);
        t.setDatabaseName("PRINTDB");
        t.setTableName("WIDE.DBF");
        t.createTable(fields(51), {});
        fixture::makeTable(*session_, "PRINTDB", "SMALL.DBF");
        prompts_.install();
        frame_ = std::make_unique<shell::TMainForm>();
        frame_->show();
    }

    void init()
    {
        shell::settings() = shell::AppSettings{};
        prompts_.seen.clear();
        prompts_.answers.clear();
    }

    void cleanupTestCase()
    {
        frame_.reset();
        shell::setPromptHandler({});
    }

    void unitConversion()
    {
        QCOMPARE(dbwindow::toDevice(840, 600), 700);
        QCOMPARE(dbwindow::toDevice(7, 300), 2); // truncated
        QCOMPARE(dbwindow::penPixels(4, 600), 6);
        QCOMPARE(dbwindow::penPixels(2, 1200), 6);
        QCOMPARE(dbwindow::pageLabel(2), QString("Page:   2"));
        QCOMPARE(dbwindow::pageLabel(12345), QString("Page:2345"));
    }

    void fieldFormFiftyFitsOnePage()
    {
        RecordingCanvas c;
        int pagesDone = 0;
        dbwindow::printFieldDefinitions(c, "CUST", tablewin::definitionListing(fields(50)), [&] { ++pagesDone; });
        QCOMPARE(c.pages(), 1);
        QCOMPARE(pagesDone, 1);
        const auto p = c.page(0);
        const Call* title = findText(p, "■■■  CUST ■■■ ");
        QVERIFY(title);
        QCOMPARE(title->x1, 390);
        QCOMPARE(title->y1, 480);
        QVERIFY(title->text.startsWith("ＭＳ ゴシック|"));
        const Call* label = findText(p, "Page:   1");
        QVERIFY(label);
        QCOMPARE(QPoint(label->x1, label->y1), QPoint(4860, 840 + 52 * 128));
        // frame and rules
        const auto frame = std::find_if(p.begin(), p.end(), [](const Call& x) { return x.op == "frame"; });
        QVERIFY(frame != p.end());
        QCOMPARE(QRect(QPoint(frame->x1, frame->y1), QPoint(frame->x2, frame->y2)),
                 QRect(QPoint(360, 840), QPoint(5400, 840 + 51 * 128)));
        QCOMPARE(frame->text, QString("4"));
        int rules = 0, thick = 0;
        QList<int> verticals;
        for (const Call& x : p) {
            if (x.op == "line" && x.y1 == x.y2) {
                ++rules;
                thick += x.text == "4";
            }
            if (x.op == "line" && x.x1 == x.x2)
                verticals << x.x1;
        }
        QCOMPARE(rules, 50);
        QCOMPARE(thick, 1);
        QCOMPARE(verticals, (QList<int>{600, 1920, 2820, 3720, 3960}));
        // the last body line holds field 50 in the Mincho face at height 12
        const Call* last = findText(p, "F50");
        QVERIFY(last);
        QCOMPARE(QPoint(last->x1, last->y1), QPoint(630, 840 + 50 * 128 + 4));
        QVERIFY(last->text.startsWith("ＭＳ 明朝|"));
        QCOMPARE(last->x2, 12);
        QVERIFY(findText(p, "050"));
        QVERIFY(findText(p, "　　　備　 考　 欄"));
    }

    void fieldFormFiftyOneTakesTwoPages()
    {
        RecordingCanvas c;
        dbwindow::printFieldDefinitions(c, "CUST", tablewin::definitionListing(fields(51)));
        QCOMPARE(c.pages(), 2);
        QVERIFY(c.calls.back().op != "page"); // no blank page after the last
        const auto p2 = c.page(1);
        QVERIFY(findText(p2, "Page:   2"));
        QVERIFY(findText(p2, "■■■  CUST ■■■ "));
        QStringList body;
        for (const QString& t : texts(p2))
            if (t.section(',', 1).section(':', 0, 0).toInt() > 844 && !t.contains("Page:"))
                body << t;
        QCOMPARE(body.size(), 5); // one line: number, name, type, class, width
        QVERIFY(body.contains("390,972:051"));
        QVERIFY(body.contains("630,972:F51"));
        QVERIFY(!findText(c.page(0), "F51"));
    }

    void noFieldsNoPage()
    {
        RecordingCanvas c;
        dbwindow::printFieldDefinitions(c, "EMPTY", tablewin::definitionListing({}));
        for (const Call& x : c.calls)
            QVERIFY(x.op != "text" && x.op != "page");
    }

    void indexFormThreeBlocksAPage()
    {
        RecordingCanvas c;
        const std::vector<engine::IndexDef> defs{index("", "ID"), index("BYNAME", "NAME;KANA"),
                                                 index("BYDATE", "DATE"),
                                                 index("LONGNAME", "A_FIELD_NAME_LONGER_THAN_24_CHARACTERS")};
        int blocks = 0;
        dbwindow::printIndexDefinitions(c, "CUST", defs, [&] { ++blocks; });
        QCOMPARE(blocks, 4);
        QCOMPARE(c.pages(), 2);
        QVERIFY(c.calls.back().op != "page");
        const auto p1 = c.page(0);
        const Call* primary = findText(p1, "[主キー]");
        QVERIFY(primary);
        QCOMPARE(QPoint(primary->x1, primary->y1), QPoint(570, 716));
        QVERIFY(primary->text.startsWith("ＭＳ ゴシック|"));
        QCOMPARE(findText(p1, "BYNAME")->x1, 570 + 1740);
        QCOMPARE(findText(p1, "BYDATE")->x1, 570 + 3480);
        QVERIFY(texts(p1).contains(QStringLiteral("%1,%2:02").arg(390 + 1740).arg(840 + 2 * 128 + 4)));
        QVERIFY(texts(p1).contains(QStringLiteral("%1,%2:KANA").arg(570 + 1740).arg(840 + 2 * 128 + 4)));
        QCOMPARE(QPoint(findText(p1, "Page:   1")->x1, findText(p1, "Page:   1")->y1), QPoint(4980, 840 + 52 * 128));
        int titles = 0;
        for (const Call& x : p1)
            titles += x.op == "text" && x.text.endsWith("■■■  CUST ■■■ ");
        QCOMPARE(titles, 1); // once a page, not once a block
        const auto p2 = c.page(1);
        const Call* fourth = findText(p2, "LONGNAME");
        QVERIFY(fourth);
        QCOMPARE(fourth->x1, 570); // back at the left
        QVERIFY(findText(p2, "■■■  CUST ■■■ "));
        const Call* label = findText(p2, "Page:   2");
        QVERIFY(label);
        QCOMPARE(label->x1, 4980);
        QVERIFY(findText(p2, "A_FIELD_NAME_LONGER_THAN")); // cut to 24 characters
    }

    void indexFormLongIndexGoesOnInTheNextBlock()
    {
        QStringList names;
        for (int i = 1; i <= 60; ++i)
            names << QStringLiteral("K%1").arg(i);
        RecordingCanvas c;
        dbwindow::printIndexDefinitions(c, "T", {index("BIG", names.join(';').toStdString()), index("NEXT", "X")});
        QCOMPARE(c.pages(), 1);
        const auto p = c.page(0);
        const Call* cont = findText(p, "BIG (続き)");
        QVERIFY(cont);
        QCOMPARE(cont->x1, 570 + 1740);
        QCOMPARE(findText(p, "NEXT")->x1, 570 + 3480);
        const Call* k51 = findText(p, "K51");
        QCOMPARE(QPoint(k51->x1, k51->y1), QPoint(570 + 1740, 840 + 128 + 4));
        QCOMPARE(findText(p, "51")->x1, 390 + 1740); // numbering goes on
        for (const Call& x : p)
            if (x.op == "text")
                QVERIFY2(x.y1 <= 840 + 52 * 128, qPrintable(x.text)); // nothing below the form
    }

    void indexFormWithoutIndexesIsEmpty()
    {
        RecordingCanvas c;
        dbwindow::printIndexDefinitions(c, "T", {});
        for (const Call& x : c.calls)
            QVERIFY(x.op != "text" && x.op != "page");
    }

    void jobFiles()
    {
        QCOMPARE(dbwindow::jobFileName("/tmp/defs.pdf", "CUST.DB", 1, 1), QString("/tmp/defs.pdf"));
        QCOMPARE(dbwindow::jobFileName("/tmp/defs.pdf", "CUST.DB", 2, 4), QString("/tmp/defs-CUST.DB-2.pdf"));
        QCOMPARE(dbwindow::jobFileName("/tmp/defs", "sub/a b", 1, 2), QString("/tmp/defs-sub_a_b-1.pdf"));
    }

    void printsRealPdfFromTheTableList()
    {
        auto* w = openWindow();
        select(w->LB1, {"WIDE.DBF"});
        shell::settings().printType = 1;
        const QString pdf = root_.filePath("fields.pdf");
        printTo(w, pdf);
        QCOMPARE(prompts_.errors(), 0);
        QCOMPARE(prompts_.seen.front().kind, shell::PromptRequest::Kind::PrinterSetup);
        QVERIFY(QFile::exists(pdf));
        const QString info = run("pdfinfo", {pdf});
        QVERIFY2(info.contains(QRegularExpression("Pages:\\s+2\\b")), qPrintable(info));
        const QString text = run("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(text.contains("WIDE.DBF"), qPrintable(text.left(400)));
        QVERIFY(text.contains("F1 "));
        QVERIFY(text.contains("F51"));
        QVERIFY(text.contains("Page:"));
        QVERIFY(text.contains("項"));
        // rendered: a ruled page, not a blank one
        const QString png = root_.filePath("page");
        run("pdftoppm", {"-r", "40", "-png", "-f", "1", "-l", "1", pdf, png});
        QImage img;
        for (const QString& candidate : {png + "-1.png", png + "-01.png"})
            if (img.load(candidate))
                break;
        QVERIFY(!img.isNull());
        int dark = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                dark += qGray(img.pixel(x, y)) < 128;
        QVERIFY2(dark > img.width() * 10, qPrintable(QString::number(dark)));
        closeWindow(w);
    }

    void bothStylesTwoJobsPerTable()
    {
        auto* w = openWindow();
        select(w->LB1, {"WIDE.DBF", "SMALL.DBF"});
        shell::settings().printType = 3;
        printTo(w, root_.filePath("all.pdf"));
        QCOMPARE(prompts_.errors(), 0);
        for (const char* f : {"all-SMALL.DBF-1.pdf", "all-SMALL.DBF-2.pdf", "all-WIDE.DBF-1.pdf", "all-WIDE.DBF-2.pdf"})
            QVERIFY2(QFile::exists(root_.filePath(f)), f);
        QVERIFY(run("pdftotext", {root_.filePath("all-SMALL.DBF-1.pdf"), "-"}).contains("NAME"));
        QVERIFY(!QFile::exists(root_.filePath("all.pdf")));
        closeWindow(w);
    }

    void cancelledOrNothingToPrint()
    {
        auto* w = openWindow();
        select(w->LB1, {"SMALL.DBF"});
        shell::settings().printType = 1;
        shell::PromptAnswer no;
        no.accepted = false;
        prompts_.answers.push_back(no);
        w->Print1->trigger();
        QCOMPARE(prompts_.seen.size(), size_t(1));
        shell::settings().printType = 0;
        printTo(w, root_.filePath("none.pdf"));
        QVERIFY(!QFile::exists(root_.filePath("none.pdf")));
        closeWindow(w);
    }

    void tableThatCannotBeOpenedIsReportedOthersPrint()
    {
        auto* w = openWindow();
        QFile::copy(QString::fromStdString((data_ / "SMALL.DBF").string()), QString::fromStdString((data_ / "BAD.DBF").string()));
        w->Refresh_Click();
        {
            QFile bad(QString::fromStdString((data_ / "BAD.DBF").string()));
            QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
            bad.write("not a table");
        }
        select(w->LB1, {"BAD.DBF", "SMALL.DBF"});
        QCOMPARE(w->LB1->selectedItems().size(), 2);
        shell::settings().printType = 1;
        printTo(w, root_.filePath("mixed.pdf"));
        QCOMPARE(prompts_.errors(), 1);
        QVERIFY(!QFile::exists(root_.filePath("mixed-BAD.DBF-1.pdf"))); // nothing half-written
        QVERIFY(QFile::exists(root_.filePath("mixed-SMALL.DBF-1.pdf")));
        QFile::remove(QString::fromStdString((data_ / "BAD.DBF").string()));
        closeWindow(w);
    }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
