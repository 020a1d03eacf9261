// The options dialog driven as a user drives it: shown from the stored settings, changed,
// confirmed or closed, with prompts answered through the prompt layer and the settings file
// read back.
#include "options/Hooks.h"
#include "options/TOPTION_FORM.h"
#include "shell/AppState.h"
#include "shell/Fonts.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/THelpWindow.h"
#include "shell/TMainForm.h"
#include "shell/WindowHooks.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vemo::shell;
using vemo::options::TOPTION_FORM;

class OptionsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QList<PromptRequest> asked_;
    std::function<PromptAnswer(const PromptRequest&)> answer_;

    // Stores the values, reads them into memory as the program does at start.
    void store(const QList<std::pair<QString, QString>>& values)
    {
        for (const auto& [name, text] : values)
            writeSetting(kRootKey, name, text);
        readAppSettings(settings());
    }

    QString stored(const QString& name) { return readSetting(kRootKey, name); }

    QByteArray registryText()
    {
        QFile f(registryFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Shows the dialog, lets `drive` work on it, then ends it with OK or the close box.
    void runDialog(const std::function<void(TOPTION_FORM&)>& drive, bool ok)
    {
        TOPTION_FORM form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        drive(form);
        if (ok)
            QTest::mouseClick(form.Button2, Qt::LeftButton);
        else
            form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }

private slots:
    void initTestCase() { installFontSubstitutions(); }

    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        settings() = AppSettings{};
        asked_.clear();
        answer_ = nullptr;
        setPromptHandler([this](const PromptRequest& r) {
            asked_.append(r);
            return answer_ ? answer_(r) : PromptAnswer{};
        });
    }

    void cleanup() { setPromptHandler({}); }

    void layoutAndCaptions()
    {
        TOPTION_FORM form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QString("ｵﾌﾟｼｮﾝ設定"));
        QCOMPARE(form.size(), QSize(398, 226));
        QCOMPARE(form.PageControl1->count(), 5);
        QStringList pages;
        for (int i = 0; i < 5; ++i)
            pages << form.PageControl1->tabText(i);
        QCOMPARE(pages, (QStringList{"初期ﾌｫﾙﾀﾞ", "ｸｫｰﾃｰｼｮﾝ", "ｳｲﾝﾄﾞｳ", "印刷", "保存"}));
        QCOMPARE(form.PageControl1->currentIndex(), 0);
        QCOMPARE(QApplication::focusWidget(), form.Edit2);
        QCOMPARE(form.CB02->count(), 12);
        QCOMPARE(form.CB02->itemText(0), QString("7"));
        QCOMPARE(form.CB02->itemText(11), QString("18"));
        QCOMPARE(form.Button1->focusPolicy(), Qt::ClickFocus);
        // the Japanese names are offered and the installed families follow
        QVERIFY(form.CB01->findText("ＭＳ ゴシック") >= 0);
        QVERIFY(form.CB01->count() > requestedFontNames().size());
        QCOMPARE(form.CHB6->text(), QString("ﾃｰﾌﾞﾙｳｲﾝﾄﾞｳのIMEﾓｰﾄﾞを保存/復元する"));
        QCOMPARE(form.BitBtn1->toolTip(), QString("IME設定ﾃﾞｰﾀをｸﾘｱします"));
    }

    void okWritesEverySettingInOrder()
    {
        // nothing stored: defaults on show, and OK writes all twenty values in their order
        readAppSettings(settings());
        runDialog([](TOPTION_FORM& f) {
            QVERIFY(f.RB1->isChecked());
            QVERIFY(f.RB4->isChecked()); // TAB_WIDTH reads 2 when missing
            QTest::keyClicks(f.Edit2, "/data/open");
            f.Edit5->setText("/data/csv");
            f.RB3->setChecked(true);
            f.CHB1->setChecked(true);
            f.CB01->setCurrentIndex(f.CB01->findText("ＭＳ ゴシック"));
            f.CB02->setCurrentIndex(f.CB02->findText("12"));
            f.RB7->setChecked(true);
            f.CHB3->setChecked(true);
            f.CHB9->setChecked(true);
            f.CHB6->setChecked(true);
        }, true);
        const QByteArray text = registryText();
        const QStringList order{"OPEN_DIR", "COPY_DIR", "SQL_DIR", "CSV_DIR", "WP_DIR", "QUOTATION",
                                "WALLPAPER", "WPSTRETCH", "FONT_NAME", "FONT_SIZE", "TAB_WIDTH", "PRINTTYPE",
                                "RSM_FORM", "RSM_ALIAS", "RSM_TABLE", "RSM_SQL", "RSM_SP", "RSM_STATUS",
                                "RSM_INDEX", "RSM_IME"};
        qsizetype at = -1;
        for (const QString& name : order) {
            const qsizetype pos = text.indexOf(("\"" + name + "\"=").toUtf8());
            QVERIFY2(pos > at, qPrintable(name));
            at = pos;
        }
        QCOMPARE(stored("OPEN_DIR"), QString("/data/open"));
        QCOMPARE(stored("CSV_DIR"), QString("/data/csv"));
        QCOMPARE(stored("QUOTATION"), QString("2"));
        QCOMPARE(stored("WPSTRETCH"), QString("True"));
        QCOMPARE(stored("FONT_NAME"), QString("ＭＳ ゴシック"));
        QCOMPARE(stored("FONT_SIZE"), QString("12"));
        QCOMPARE(stored("TAB_WIDTH"), QString("8"));
        QCOMPARE(stored("PRINTTYPE"), QString("2"));
        QCOMPARE(stored("RSM_FORM"), QString("False"));
        QCOMPARE(stored("RSM_STATUS"), QString("True"));
        QCOMPARE(stored("RSM_IME"), QString("True"));
        // memory follows, so windows opened next use the new values
        QCOMPARE(settings().openDir, QString("/data/open"));
        QCOMPARE(settings().quotation, 2);
        QCOMPARE(settings().fontSize, 12);
        QCOMPARE(settings().tabWidth, 8);
        QCOMPARE(settings().printType, 2);
        QVERIFY(settings().rsmStatus && settings().rsmIme && !settings().rsmTable);
        // and a new dialog shows what was stored
        runDialog([](TOPTION_FORM& f) {
            QCOMPARE(f.Edit2->text(), QString("/data/open"));
            QVERIFY(f.RB3->isChecked());
            QVERIFY(f.RB7->isChecked());
            QCOMPARE(f.CB01->currentText(), QString("ＭＳ ゴシック"));
            QVERIFY(!f.CHB2->isChecked() && f.CHB3->isChecked());
            QVERIFY(f.CHB9->isChecked() && !f.CHB10->isChecked());
        }, false);
    }

    void tabWidthOutsideTheButtons()
    {
        store({{"TAB_WIDTH", "3"}});
        runDialog([](TOPTION_FORM& f) {
            for (QRadioButton* b : {f.RB4, f.RB5, f.RB6, f.RB7})
                QVERIFY(!b->isChecked());
        }, true);
        QCOMPARE(stored("TAB_WIDTH"), QString("2"));
        QCOMPARE(settings().tabWidth, 2);
    }

    void printTypeBits()
    {
        store({{"PRINTTYPE", "3"}});
        runDialog([](TOPTION_FORM& f) {
            QVERIFY(f.CHB2->isChecked());
            QVERIFY(f.CHB3->isChecked());
            f.PageControl1->setCurrentIndex(3);
            QTest::mouseClick(f.CHB2, Qt::LeftButton, {}, QPoint(8, f.CHB2->height() / 2));
            QTest::mouseClick(f.CHB3, Qt::LeftButton, {}, QPoint(8, f.CHB3->height() / 2));
        }, true);
        QCOMPARE(stored("PRINTTYPE"), QString("0"));
        store({{"PRINTTYPE", "1"}});
        runDialog([](TOPTION_FORM& f) { QVERIFY(f.CHB2->isChecked() && !f.CHB3->isChecked()); }, false);
    }

    void fontSizes_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("storedAfterOk");
        QTest::newRow("7 is the first") << "7" << 0 << "7";
        QTest::newRow("18 is the last") << "18" << 11 << "18";
        QTest::newRow("20 selects none") << "20" << -1 << "";
        QTest::newRow("empty selects none") << "" << -1 << "";
    }

    void fontSizes()
    {
        QFETCH(QString, size);
        QFETCH(int, index);
        QFETCH(QString, storedAfterOk);
        store({{"FONT_SIZE", size}});
        runDialog([&](TOPTION_FORM& f) { QCOMPARE(f.CB02->currentIndex(), index); }, true);
        QCOMPARE(stored("FONT_SIZE"), storedAfterOk);
        QVERIFY(registryText().contains(("\"FONT_SIZE\"=\"" + storedAfterOk + "\"").toUtf8()));
        QCOMPARE(settings().fontSize, storedAfterOk.toInt());
    }

    void fontNameMatchesExactCase()
    {
        QString family;
        for (const QString& f : QFontDatabase::families())
            if (f.toLower() != f && !QFontDatabase::families().contains(f.toLower())) {
                family = f;
                break;
            }
        QVERIFY(!family.isEmpty());
        store({{"FONT_NAME", family.toLower()}});
        runDialog([](TOPTION_FORM& f) { QCOMPARE(f.CB01->currentIndex(), -1); }, true);
        QCOMPARE(stored("FONT_NAME"), QString());
        store({{"FONT_NAME", family}});
        runDialog([&](TOPTION_FORM& f) { QCOMPARE(f.CB01->currentText(), family); }, true);
        QCOMPARE(stored("FONT_NAME"), family);
    }

    void folderButtonPutsThePickersLastPath()
    {
        store({{"COPY_DIR", "/saved/copy"}});
        answer_ = [](const PromptRequest& r) {
            PromptAnswer a;
            a.accepted = r.kind == PromptRequest::Kind::Folder;
            a.text = "/picked/report";
            return a;
        };
        runDialog([](TOPTION_FORM& f) {
            f.Edit3->setText("/typed/by/hand");
            QVERIFY(f.Button4->isVisible());
            QTest::mouseClick(f.Button4, Qt::LeftButton);
            QCOMPARE(f.Edit3->text(), QString("/picked/report"));
        }, true);
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].kind, PromptRequest::Kind::Folder);
        QCOMPARE(asked_[0].caption, QString("ﾃｰﾌﾞﾙｺﾋﾟｰﾌｫﾙﾀﾞ"));
        // the saved folder (not the edit) is the initial one; it does not exist: the home folder
        QCOMPARE(asked_[0].directory, QDir::homePath());
        QCOMPARE(stored("COPY_DIR"), QString("/picked/report"));
        QCOMPARE(TOPTION_FORM::lastPickedPath(), QString("/picked/report"));

        // an existing saved folder is the initial one; cancelling leaves the edit alone
        store({{"CSV_DIR", dir_->path()}});
        asked_.clear();
        answer_ = [](const PromptRequest&) {
            PromptAnswer a;
            a.accepted = false;
            return a;
        };
        runDialog([this](TOPTION_FORM& f) {
            QTest::mouseClick(f.Button6, Qt::LeftButton);
            QCOMPARE(f.Edit5->text(), dir_->path());
        }, false);
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].caption, QString("CSVﾌｧｲﾙﾌｫﾙﾀﾞ"));
        QCOMPARE(asked_[0].directory, QDir::cleanPath(dir_->path()));
        QCOMPARE(stored("CSV_DIR"), dir_->path());
    }

    void wallpaperFileAndFrameRedraw()
    {
        const QString pic = dir_->path() + "/paper.bmp";
        QImage img(20, 20, QImage::Format_RGB32);
        img.fill(Qt::blue);
        QVERIFY(img.save(pic, "BMP"));
        store({{"WP_DIR", dir_->path()}});
        answer_ = [&](const PromptRequest& r) {
            PromptAnswer a;
            if (r.kind == PromptRequest::Kind::OpenFile)
                a.text = pic;
            return a;
        };
        windowHooks() = WindowHooks{};
        vemo::options::installWindowHooks();
        TMainForm frame;
        frame.show();
        QVERIFY(!frame.wallpaperVisible());
        QTimer::singleShot(0, this, [pic] {
            auto* f = qobject_cast<TOPTION_FORM*>(QApplication::activeModalWidget());
            QVERIFY(f);
            QTest::mouseClick(f->Button1, Qt::LeftButton);
            QCOMPARE(f->Edit1->text(), pic);
            QTest::mouseClick(f->Button2, Qt::LeftButton);
        });
        QVERIFY(frame.Option1->isEnabled());
        frame.Option1->trigger(); // returns when the dialog has ended
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].directory, dir_->path());
        QVERIFY(asked_[0].filter.startsWith("BitMap形式画像(*.BMP)|*.BMP"));
        QCOMPARE(stored("WALLPAPER"), pic);
        QVERIFY(frame.wallpaperVisible()); // redrawn after the dialog
        QCOMPARE(frame.wallpaper().pixelColor(5, 5), QColor(Qt::blue));
        // F1 in the dialog opens its page of the manual
        {
            TOPTION_FORM form(&frame);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QTest::keyClick(&form, Qt::Key_F1);
            QVERIFY(frame.helpWindow() && frame.helpWindow()->isVisible());
            QVERIFY(frame.helpWindow()->browser()->toPlainText().contains("IMEﾃﾞｰﾀｸﾘｱ"));
            form.close();
        }
        windowHooks() = WindowHooks{};
    }

    void closeBoxSavesNothingButImeClearStays()
    {
        writeSetting(kRootKey + "\\IMEMODE\\ALIAS1", "CUSTOMER", "0123");
        store({{"RSM_TABLE", "True"}, {"OPEN_DIR", "/kept"}});
        const QByteArray before = registryText();
        // a question answered No changes nothing
        answer_ = [](const PromptRequest&) {
            PromptAnswer a;
            a.button = QMessageBox::No;
            return a;
        };
        runDialog([](TOPTION_FORM& f) {
            f.PageControl1->setCurrentIndex(4);
            QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
        }, false);
        QCOMPARE(registryText(), before);
        QCOMPARE(asked_.size(), 1);
        QCOMPARE(asked_[0].text, QString("IMEﾃﾞｰﾀをｸﾘｱしますか"));
        QCOMPARE(asked_[0].caption, QString("確認"));

        answer_ = [](const PromptRequest&) {
            PromptAnswer a;
            a.button = QMessageBox::Yes;
            return a;
        };
        runDialog([](TOPTION_FORM& f) {
            f.Edit2->setText("/changed");
            f.CHB7->setChecked(false);
            f.PageControl1->setCurrentIndex(4);
            QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
        }, false);
        QVERIFY(!listSubkeys(kRootKey).contains("IMEMODE", Qt::CaseInsensitive));
        QVERIFY(!registryText().contains("CUSTOMER"));
        QCOMPARE(stored("OPEN_DIR"), QString("/kept"));
        QCOMPARE(stored("RSM_TABLE"), QString("True"));
        QVERIFY(settings().rsmTable);
        QCOMPARE(settings().openDir, QString("/kept"));
    }

    void unwritableStoreKeepsTheDialogOpen()
    {
        readAppSettings(settings());
        QFile::remove(registryFilePath());
        QDir().mkpath(registryFilePath()); // a folder where the file should be: every write fails
        TOPTION_FORM form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Edit2->setText("/not/lost");
        QTest::mouseClick(form.Button2, Qt::LeftButton);
        QVERIFY(form.isVisible());
        QCOMPARE(form.Edit2->text(), QString("/not/lost"));
        QVERIFY(!asked_.isEmpty());
        QCOMPARE(asked_.last().caption, QString("エラー"));
        form.close();
        QDir(registryFilePath()).removeRecursively();
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"
