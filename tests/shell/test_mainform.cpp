// The real main frame, offscreen: switches, settings reading, geometry, menus, merging,
// child close queries, wallpaper, about box, error boxes and fonts.
#include "engine/contract/EngineError.h"
#include "options/Hooks.h"
#include "options/TABOUTBOX.h"
#include "options/TMDIBack.h"
#include "shell/AppState.h"
#include "shell/CommandLine.h"
#include "shell/Fonts.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/TMainForm.h"
#include "shell/VemoApplication.h"
#include "shell/WindowHooks.h"

#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using namespace vemo::shell;

namespace {

class TestChild : public ChildWindow {
public:
    explicit TestChild(QStringList* log = nullptr, bool refuse = false) : log_(log), refuse_(refuse)
    {
        resize(200, 120);
    }
    QList<MenuGroup> menuGroups() const override { return groups; }
    bool closeQuery() override
    {
        if (log_)
            *log_ << "query";
        return !refuse_;
    }
    void closeHandler() override
    {
        if (log_)
            *log_ << "handler";
    }
    QList<MenuGroup> groups;

private:
    QStringList* log_;
    bool refuse_;
};

QStringList barTitles(QMainWindow* w)
{
    QStringList out;
    for (QAction* a : w->menuBar()->actions())
        out << a->text();
    return out;
}

// A plain pointer move, as the window system delivers it while hovering.
void moveMouse(QWidget* w, QPoint pos)
{
    QMouseEvent ev(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

QString reg(const char* name)
{
    return readSetting(kRootKey, QString::fromLatin1(name));
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QList<PromptRequest> asked_;
    std::optional<QString> nextFile_;

    std::unique_ptr<TMainForm> makeFrame(const QStringList& params = {})
    {
        auto f = std::make_unique<TMainForm>(params);
        return f;
    }

private slots:
    void initTestCase() { installFontSubstitutions(); }

    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        settings() = AppSettings{};
        windowHooks() = WindowHooks{};
        vemo::options::installWindowHooks(); // wallpaper, about box and options as the program wires them
        asked_.clear();
        nextFile_.reset();
        setPromptHandler([this](const PromptRequest& r) {
            asked_.append(r);
            PromptAnswer a;
            if (r.kind == PromptRequest::Kind::OpenFile) {
                a.accepted = nextFile_.has_value();
                a.text = nextFile_.value_or(QString());
            }
            return a;
        });
    }

    void cleanup() { g_registryInitialized = false; }

    void initialiseSwitchClearsEverythingAndEnds_data()
    {
        QTest::addColumn<QStringList>("params");
        QTest::newRow("-I") << QStringList{"-I"};
        QTest::newRow("lower case, longer") << QStringList{"/init"};
        QTest::newRow("help first") << QStringList{"-h", "-i", "-x"};
    }
    void initialiseSwitchClearsEverythingAndEnds()
    {
        QFETCH(QStringList, params);
        writeSetting(kRootKey, "RSM_FORM", "True");
        writeSetting(kRootKey + "\\TABLE\\DEMO-CUST", "DB_NAME", "demo");
        writeSetting(kRootKey, "QUOTATION", "1");
        bool helpOpenBeforeMessage = false;
        setPromptHandler([&](const PromptRequest& r) {
            asked_.append(r);
            helpOpenBeforeMessage = mainForm() && mainForm()->helpWindow() && mainForm()->helpWindow()->isVisible();
            return PromptAnswer{};
        });
        auto frame = makeFrame(params);
        QVERIFY(g_registryInitialized);
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].text, QString("レジストリを初期化しました。"));
        QCOMPARE(asked_[0].caption, QString("確認"));
        QCOMPARE(asked_[0].icon, QMessageBox::Warning);
        QCOMPARE(helpOpenBeforeMessage, params.first() == "-h");
        QCOMPARE(settings().quotation, 0); // nothing read
        QCOMPARE(listSubkeys(kRootKey), QStringList());
        frame->show();
        QTRY_VERIFY(!frame->isVisible()); // closes itself when shown
        QCOMPARE(reg("FORMSTATE"), QString()); // and saves nothing
    }

    void helpSwitchOpensManual()
    {
        auto frame = makeFrame({"/Help"});
        QVERIFY(frame->helpWindow() && frame->helpWindow()->isVisible());
        QVERIFY(frame->helpWindow()->browser()->toPlainText().contains("VEMO32"));
        QVERIFY(!g_registryInitialized);
    }

    void defaultGeometryWhenNothingStored()
    {
        writeSetting(kRootKey, "RSM_FORM", "True");
        auto frame = makeFrame();
        QCOMPARE(frame->size(), QSize(640, 480));
        QCOMPARE(frame->pos(), QPoint(0, 0));
    }

    void geometrySavedOnlyInNormalState()
    {
        writeSetting(kRootKey, "RSM_FORM", "True");
        writeSetting(kRootKey, "FORMTOP ", "30");
        writeSetting(kRootKey, "FORMTOP", "999"); // the name without the blank is not used
        writeSetting(kRootKey, "FORMLEFT", "40px");
        writeSetting(kRootKey, "FORMHEIGHT", "300");
        writeSetting(kRootKey, "FORMWIDTH", "500");
        {
            auto frame = makeFrame();
            QCOMPARE(frame->pos(), QPoint(40, 30));
            QCOMPARE(frame->size(), QSize(500, 300));
            frame->show();
            frame->setGeometry(QRect(frame->pos(), QSize(520, 310)));
            frame->move(50, 60);
            QVERIFY(frame->close());
        }
        QCOMPARE(reg("FORMSTATE"), QString("0"));
        QCOMPARE(reg("FORMTOP "), QString("60"));
        QCOMPARE(reg("FORMLEFT"), QString("50"));
        QCOMPARE(reg("FORMWIDTH"), QString("520"));
        QCOMPARE(reg("FORMHEIGHT"), QString("310"));
        {
            auto frame = makeFrame();
            QCOMPARE(frame->pos(), QPoint(50, 60));
            frame->showMaximized();
            QVERIFY(frame->close());
        }
        QCOMPARE(reg("FORMSTATE"), QString("1"));
        QCOMPARE(reg("FORMLEFT"), QString("50"));
        QCOMPARE(reg("FORMWIDTH"), QString("520"));
        {
            auto frame = makeFrame(); // maximised again from the stored state
            QVERIFY(frame->windowState().testFlag(Qt::WindowMaximized));
        }
    }

    void firstFailingSettingIsReportedRestStayEmpty()
    {
        writeSetting(kRootKey, "OPEN_DIR", "/data");
        writeSetting(kRootKey, "QUOTATION", "x");
        writeSetting(kRootKey, "FONT_NAME", "IPAMincho");
        writeSetting(kRootKey, "RSM_TABLE", "True");
        auto frame = makeFrame();
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].caption, QString("エラー"));
        QVERIFY(asked_[0].text.contains("'0x'"));
        QCOMPARE(settings().openDir, QString("/data"));
        QCOMPARE(settings().fontName, QString());
        QVERIFY(!settings().rsmTable);
        QCOMPARE(frame->font().family(), QString("ＭＳ ゴシック"));
    }

    void badGeometryIsReported()
    {
        writeSetting(kRootKey, "RSM_FORM", "True");
        writeSetting(kRootKey, "FORMTOP ", "1-2");
        auto frame = makeFrame();
        QCOMPARE(asked_.size(), 1);
        QVERIFY(asked_[0].text.contains("'1-2'"));
        QVERIFY(settings().rsmForm);
    }

    void fontRule()
    {
        {
            auto frame = makeFrame();
            QCOMPARE(settings().fontName, QString("ＭＳ ゴシック"));
            QCOMPARE(settings().fontSize, 9);
            QCOMPARE(reg("FONT_NAME"), QString()); // not written back
        }
        writeSetting(kRootKey, "FONT_NAME", "IPAMincho");
        {
            auto frame = makeFrame();
            QCOMPARE(settings().fontSize, 9); // no size stored: the frame's
            QCOMPARE(frame->font().pointSize(), 9);
        }
        writeSetting(kRootKey, "FONT_SIZE", "12");
        auto frame = makeFrame();
        QCOMPARE(frame->font().family(), QString("IPAMincho"));
        QCOMPARE(frame->font().pointSize(), 12);
    }

    void japaneseFontsResolveWithGlyphs()
    {
        const QString text = QStringLiteral("ﾃｰﾌﾞﾙ操作ﾕｰﾃｨﾘﾃｨ ｱｲｺﾝの整列");
        for (const QString& name : {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("ＭＳ 明朝")}) {
            const QFont f(name);
            QVERIFY2(QFontInfo(f).family().startsWith("IPA"), qPrintable(QFontInfo(f).family()));
            const QFontMetrics fm(f);
            for (const QChar c : text)
                QVERIFY2(c.isSpace() || fm.inFont(c), qPrintable(name + " lacks " + QString(c)));
        }
    }

    void menusEnableWithChildren()
    {
        auto frame = makeFrame();
        frame->show();
        QVERIFY(!frame->FileCloseItem->isEnabled());
        QVERIFY(!frame->WindowTileItem->isEnabled());
        QVERIFY(!frame->FileOpenItem->isEnabled()); // no table window behind it yet
        QVERIFY(frame->Option1->isEnabled());
        auto* child = new TestChild;
        QMdiSubWindow* sub = frame->addChild(child);
        QCOMPARE(child->size(), QSize(200, 120)); // the child keeps the size it asked for
        for (QAction* a : {frame->FileCloseItem, frame->WindowCascadeItem, frame->WindowTileItem,
                           frame->WindowArrangeItem, frame->WindowMinimizeItem})
            QVERIFY(a->isEnabled());
        QPointer<QMdiSubWindow> guard(sub);
        frame->FileCloseItem->trigger();
        QTRY_VERIFY(!guard);
        QTRY_VERIFY(!frame->FileCloseItem->isEnabled());
        QVERIFY(!frame->WindowMinimizeItem->isEnabled());
    }

    void windowCommands()
    {
        auto frame = makeFrame();
        frame->show();
        QList<QMdiSubWindow*> subs;
        for (int i = 0; i < 3; ++i) {
            auto* c = new TestChild;
            c->setWindowTitle(QStringLiteral("子%1").arg(i));
            subs << frame->addChild(c);
        }
        emit frame->Window1->aboutToShow();
        QStringList listed;
        QAction* second = nullptr;
        for (QAction* a : frame->Window1->actions())
            if (a->isCheckable()) {
                listed << a->text();
                if (a->text().endsWith("子1"))
                    second = a;
            }
        QCOMPARE(listed, (QStringList{"&1 子0", "&2 子1", "&3 子2"}));
        second->trigger();
        QCOMPARE(frame->mdiArea()->activeSubWindow(), subs[1]);
        frame->WindowMinimizeItem->trigger();
        for (QMdiSubWindow* s : subs)
            QVERIFY(s->isMinimized());
        frame->WindowArrangeItem->trigger();
        const int bottom = frame->mdiArea()->viewport()->height();
        for (QMdiSubWindow* s : subs)
            QCOMPARE(s->geometry().bottom() + 1, bottom);
        QVERIFY(subs[0]->x() < subs[1]->x());
    }

    void childMenusMergeWhileActive()
    {
        auto frame = makeFrame();
        frame->show();
        auto* a = new TestChild;
        auto* record = new QMenu(QStringLiteral("ﾚｺｰﾄﾞ(&R)"), a);
        auto* childFile = new QMenu(QStringLiteral("ﾌｧｲﾙ(&F) 子"), a);
        a->groups = {{record, 2}, {childFile, 1}};
        auto* b = new TestChild;
        frame->addChild(a);
        const QStringList frameOnly = {"ﾌｧｲﾙ(&F)", "ﾕｰﾃｨﾘﾃｨ(&U)", "ｳｨﾝﾄﾞｳ(&W)", "ﾍﾙﾌﾟ(&H)"};
        QCOMPARE(barTitles(frame.get()), (QStringList{"ﾌｧｲﾙ(&F) 子", "ﾚｺｰﾄﾞ(&R)", "ﾕｰﾃｨﾘﾃｨ(&U)", "ｳｨﾝﾄﾞｳ(&W)", "ﾍﾙﾌﾟ(&H)"}));
        QMdiSubWindow* subB = frame->addChild(b);
        frame->mdiArea()->setActiveSubWindow(subB);
        QCOMPARE(barTitles(frame.get()), frameOnly);
        auto* view = new QMenu(QStringLiteral("表示(&V)"), b);
        b->groups = {{view, 3}};
        emit b->menusChanged();
        QCOMPARE(barTitles(frame.get()), (QStringList{"ﾌｧｲﾙ(&F)", "表示(&V)", "ﾕｰﾃｨﾘﾃｨ(&U)", "ｳｨﾝﾄﾞｳ(&W)", "ﾍﾙﾌﾟ(&H)"}));
        subB->close();
        QTRY_COMPARE(barTitles(frame.get()).first(), QString("ﾌｧｲﾙ(&F) 子"));
    }

    void frameCloseRunsOnlyChildCloseQueries()
    {
        QStringList log;
        {
            auto frame = makeFrame();
            frame->show();
            frame->addChild(new TestChild(&log, true));
            QVERIFY(!frame->close()); // a child that refuses keeps everything open
            QCOMPARE(reg("FORMSTATE"), QString());
            QCOMPARE(log, QStringList{"query"});
        }
        log.clear();
        {
            auto frame = makeFrame();
            frame->show();
            frame->addChild(new TestChild(&log));
            frame->addChild(new TestChild(&log));
            QVERIFY(frame->close());
            QCOMPARE(log, (QStringList{"query", "query"})); // no close handler at exit
            QCOMPARE(reg("FORMSTATE"), QString("0"));
        }
        log.clear();
        auto frame = makeFrame();
        frame->show();
        QMdiSubWindow* sub = frame->addChild(new TestChild(&log));
        sub->close(); // closing the window itself runs both
        QCOMPARE(log, (QStringList{"query", "handler"}));
    }

    // Table files beside the switches: absolute paths are files even where they begin with
    // "/h" or "/i"; each file is handed to File > Open's path, and one that fails is reported
    // without stopping the others.
    void commandLineFilesBesideSwitches()
    {
        QCOMPARE(tableFileParameters({"-h", "/home/me/CUST.DBF", "rel/../B.DB", "-x", "/I", "/help", "", "/img/C.DB"}),
                 (QStringList{"/home/me/CUST.DBF", QDir::current().filePath("B.DB"), "/img/C.DB"}));
        QVERIFY(isSwitchParameter("/hElp") && isSwitchParameter("-i") && !isSwitchParameter("/home/x"));
        auto frame = makeFrame({"/home/me/CUST.DBF", "/init/T.DB"});
        QVERIFY(!g_registryInitialized);
        QVERIFY(!frame->helpWindow() || !frame->helpWindow()->isVisible());
        QStringList opened;
        windowHooks().openTableFile = [&](const QString& p) {
            opened << p;
            if (p.endsWith("BAD.DB"))
                throw vemo::engine::EngineError("表が壊れています");
        };
        QCOMPARE(openCommandLineFiles({"/t/BAD.DB", "-H", "/t/GOOD.DBF"}), 2);
        QCOMPARE(opened, (QStringList{"/t/BAD.DB", "/t/GOOD.DBF"}));
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].caption, QString("エラー"));
        QCOMPARE(asked_[0].text, QString("表が壊れています"));
        windowHooks().openTableFile = nullptr; // no table window in this build: nothing happens
        QCOMPARE(openCommandLineFiles({"/t/GOOD.DBF"}), 0);
    }

    void fileOpenAsksWithFilterAndFolder()
    {
        QStringList opened;
        windowHooks().openTableFile = [&](const QString& p) { opened << p; };
        writeSetting(kRootKey, "OPEN_DIR", "/srv/tables");
        auto frame = makeFrame();
        QVERIFY(frame->FileOpenItem->isEnabled());
        nextFile_ = "/srv/tables/CUST.DB";
        frame->FileOpenItem->trigger();
        QCOMPARE(asked_.last().kind, PromptRequest::Kind::OpenFile);
        QCOMPARE(asked_.last().filter, QString("Paladoxﾃｰﾌﾞﾙ(*.DB)|*.DB|dBASEﾃｰﾌﾞﾙ(*.DBF)|*.DBF|すべてのﾌｧｲﾙ (*.*)|*.*"));
        QCOMPARE(asked_.last().directory, QString("/srv/tables"));
        QCOMPARE(opened, QStringList{"/srv/tables/CUST.DB"});
        nextFile_.reset();
        frame->FileOpenItem->trigger();
        QCOMPARE(opened.size(), 1); // cancelled: nothing opened
        windowHooks().openTableFile = [](const QString&) { throw vemo::engine::EngineError("表が壊れています"); };
        nextFile_ = "/x.DB";
        frame->FileOpenItem->trigger();
        QCOMPARE(asked_.last().caption, QString("エラー"));
        QCOMPARE(asked_.last().text, QString("表が壊れています"));
    }

    void sqlItemFollowsSelectedAlias()
    {
        QString alias;
        QStringList opened;
        windowHooks().selectedAlias = [&] { return alias; };
        windowHooks().openSqlWindow = [&](const QString& a) { opened << a; };
        auto frame = makeFrame();
        emit frame->File1->aboutToShow();
        QVERIFY(!frame->SQLQ1->isEnabled());
        frame->SQLQ1Click();
        QVERIFY(opened.isEmpty());
        alias = "demo";
        emit frame->File1->aboutToShow();
        QVERIFY(frame->SQLQ1->isEnabled());
        frame->SQLQ1->trigger();
        QCOMPARE(opened, QStringList{"demo"});
    }

    void hintsShowInStatusBar()
    {
        auto frame = makeFrame();
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QMenuBar* bar = frame->menuBar();
        moveMouse(bar, bar->actionGeometry(frame->Window1->menuAction()).center());
        QTRY_COMPARE(frame->statusBar()->currentMessage(), QString("ｳｨﾝﾄﾞｳ操作に関するｺﾏﾝﾄﾞ"));
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(frame->File1->menuAction()).center());
        QTRY_VERIFY(frame->File1->isVisible());
        moveMouse(frame->File1, frame->File1->actionGeometry(frame->FileExitItem).center());
        QTRY_COMPARE(frame->statusBar()->currentMessage(), QString("ｱﾌﾟﾘｹｰｼｮﾝの終了"));
        frame->File1->close();
    }

    void wallpaperCentredOrStretched()
    {
        const QString pic = dir_->path() + "/wp.png";
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(Qt::red);
        QVERIFY(img.save(pic));
        writeSetting(kRootKey, "WALLPAPER", pic);
        auto frame = makeFrame();
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QWidget* vp = frame->mdiArea()->viewport();
        QVERIFY(frame->mdiArea()->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff);
        QImage shot = vp->grab().toImage();
        QCOMPARE(shot.pixelColor(vp->width() / 2, vp->height() / 2), QColor(Qt::red));
        QVERIFY(shot.pixelColor(2, 2) != QColor(Qt::red));
        // a child moved over it and away again leaves the picture intact
        QMdiSubWindow* sub = frame->addChild(new TestChild);
        sub->move(vp->width() / 2 - 50, vp->height() / 2 - 50);
        sub->move(0, 0);
        shot = vp->grab().toImage();
        QCOMPARE(shot.pixelColor(vp->width() / 2, vp->height() / 2), QColor(Qt::red));

        settings().wpStretch = true;
        frame->ImageDraw();
        sub->close();
        QTRY_VERIFY(frame->mdiArea()->subWindowList().isEmpty());
        shot = vp->grab().toImage();
        QCOMPARE(shot.pixelColor(2, 2), QColor(Qt::red));

        settings().wallpaper = dir_->path() + "/missing.png";
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, frame->ImageDraw());
        settings().wallpaper.clear();
        frame->ImageDraw();
        QVERIFY(!frame->wallpaperVisible());
        shot = vp->grab().toImage();
        QCOMPARE(shot.pixelColor(vp->width() / 2, vp->height() / 2).rgb(), frame->mdiArea()->background().color().rgb());
    }

    void unreadableWallpaperReportedAtStart()
    {
        writeSetting(kRootKey, "WALLPAPER", dir_->path() + "/nope.bmp");
        writeSetting(kRootKey, "RSM_TABLE", "True");
        auto frame = makeFrame();
        QCOMPARE(asked_.size(), 1);
        QVERIFY(asked_[0].text.contains("nope.bmp"));
        QVERIFY(!settings().rsmTable);
    }

    void backgroundComponentErrors()
    {
        {
            auto frame = makeFrame();
            try {
                vemo::options::TMDIBack second(frame.get());
                QFAIL("a second component must fail");
            } catch (const vemo::options::EMDIBackError& e) {
                QCOMPARE(QString(e.what()), QString("Only single component allowed"));
            }
        }
        QWidget plain;
        vemo::options::TMDIBack back(&plain);
        try {
            back.Loaded({});
            QFAIL("a plain widget is no MDI frame");
        } catch (const vemo::options::EMDIBackError& e) {
            QCOMPARE(QString(e.what()), QString("Owner must be a MDI Form"));
        }
    }

    void aboutBoxClosesOnEnter()
    {
        auto frame = makeFrame();
        frame->show();
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<vemo::options::TABOUTBOX*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen = true;
            QCOMPARE(box->windowTitle(), QString("ﾊﾞｰｼﾞｮﾝ情報"));
            QCOMPARE(box->size(), QSize(308, 112));
            QCOMPARE(box->ProductName->text(), QString("VEMO32.EXE"));
            QCOMPARE(box->Version->text(), QString("Version 4.72"));
            QTest::keyClick(box, Qt::Key_Return);
        });
        frame->HelpAboutItem->trigger(); // returns once the box has closed
        QVERIFY(seen);
    }

    void firstPaintHandshake()
    {
        auto frame = makeFrame();
        frame->show();
        g_windowOpening = true;
        auto* child = new TestChild;
        bool signalled = false;
        connect(child, &ChildWindow::firstPainted, this, [&] { signalled = true; });
        frame->addChild(child);
        QVERIFY(waitForFirstPaint());
        QVERIFY(!g_windowOpening);
        QVERIFY(child->firstPaintDone() && signalled);
        // a child that never shows cannot hang the opener
        g_windowOpening = true;
        TestChild hidden;
        QVERIFY(!waitForFirstPaint(50));
        QVERIFY(!g_windowOpening);
    }

    void escapedErrorsShowInErrorBox()
    {
        QPushButton button("x");
        connect(&button, &QPushButton::clicked, this, [] { throw vemo::engine::EngineError(10024, "ﾃｰﾌﾞﾙがありません"); });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].caption, QString("エラー"));
        QCOMPARE(asked_[0].text, QString("ﾃｰﾌﾞﾙがありません"));
        QVERIFY(button.isVisible());
    }
};

int main(int argc, char** argv)
{
    VemoApplication app(argc, argv);
    TestMainForm t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_mainform.moc"
