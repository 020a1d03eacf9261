#include "DbWindowFixture.h"

#include "dbwindow/TAlias_Open.h"
#include "dbwindow/TCreate_Alias.h"
#include "query/TComboGrid.h"
#include "shell/AppState.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "shell/TMainForm.h"
#include "tablewin/TMDIChild.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vemo;
using dbwindow::TAlias_Open;
namespace fs = std::filesystem;

class DbWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    fs::path cfg_, data_, other_;
    std::unique_ptr<engine::Session> session_;
    std::unique_ptr<shell::TMainForm> frame_;
    fixture::Prompts prompts_;

    TAlias_Open* openWindow()
    {
        auto* w = new TAlias_Open(*session_, nullptr);
        frame_->addChild(w);
        if (!QTest::qWaitForWindowExposed(w))
            qWarning("database window not exposed");
        return w;
    }
    void chooseAlias(TAlias_Open* w, const QString& alias)
    {
        const int i = w->CB1->findText(alias);
        QVERIFY2(i >= 0, qPrintable(alias));
        w->CB1->setCurrentIndex(i);
        emit w->CB1->activated(i); // as the user's choice
    }
    QStringList items(QListWidget* list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    void select(QListWidget* list, const QStringList& names)
    {
        list->clearSelection();
        for (int i = 0; i < list->count(); ++i)
            if (names.contains(list->item(i)->text())) {
                list->setCurrentRow(i, QItemSelectionModel::NoUpdate);
                list->item(i)->setSelected(true);
            }
    }
    QList<tablewin::TMDIChild*> tableWindows()
    {
        QList<tablewin::TMDIChild*> out;
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder))
            if (auto* t = qobject_cast<tablewin::TMDIChild*>(sub->widget()))
                out << t;
        return out;
    }
    QStringList tableRecords() { return shell::listSubkeys(shell::restoreKindKey(shell::RestoreKind::Table)); }
    QString cfgText() { return fixture::readFile(cfg_); }

private slots:
    void initTestCase()
    {
        QVERIFY(root_.isValid());
        const fs::path root = root_.path().toStdString();
        cfg_ = root / "engine.cfg";
        data_ = root / "data";
        other_ = root / "other";
        fs::create_directories(data_);
        fs::create_directories(other_);
        fs::create_directories(root / "gone");
        session_ = fixture::makeSession(cfg_);
        session_->addAlias("TESTDB", "STANDARD", {"PATH=" + data_.string(), "DEFAULT DRIVER=DBASE"});
        session_->addAlias("BROKEN", "STANDARD", {"PATH=" + (root / "gone").string()});
        session_->saveConfig();
        fs::remove(root / "gone");
        for (const char* t : {"C.DBF", "A.DBF", "B.DBF"})
            fixture::makeTable(*session_, "TESTDB", t);
        prompts_.install();
        frame_ = std::make_unique<shell::TMainForm>();
        frame_->resize(900, 700);
        frame_->show();
    }

    void init()
    {
        shell::deleteKey(shell::kRootKey);
        shell::settings() = shell::AppSettings{};
        shell::g_registryInitialized = false;
        prompts_.seen.clear();
        prompts_.answers.clear();
    }

    void cleanup()
    {
        for (QMdiSubWindow* sub : frame_->mdiArea()->subWindowList()) {
            if (qobject_cast<TAlias_Open*>(sub->widget()))
                sub->deleteLater(); // its own close only minimises it
            else
                sub->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(1);
    }

    void cleanupTestCase()
    {
        frame_.reset();
        shell::setPromptHandler({});
    }

    void aliasBoxAndListFills()
    {
        TAlias_Open* w = openWindow();
        QCOMPARE(w->width(), 186);
        QCOMPARE(w->CB1->currentIndex(), -1);
        QVERIFY(!w->aliasSelected());
        QCOMPARE(items(w->LB1), QStringList());
        QVERIFY(w->CB1->findText("TESTDB") >= 0);
        QVERIFY(w->CB1->itemText(0).compare(w->CB1->itemText(1), Qt::CaseInsensitive) <= 0);

        chooseAlias(w, "TESTDB");
        QCOMPARE(w->selectedAlias(), QString("TESTDB"));
        QCOMPARE(items(w->LB1), (QStringList{"A.DBF", "B.DBF", "C.DBF"}));
        QVERIFY(w->LB1->item(0)->isSelected());
        QCOMPARE(w->LB2->count(), 0);

        // An alias whose folder is gone: empty lists, no message.
        chooseAlias(w, "BROKEN");
        QCOMPARE(w->LB1->count(), 0);
        QCOMPARE(prompts_.seen.size(), size_t(0));

        // Refreshing on a failing alias keeps what the list had.
        chooseAlias(w, "TESTDB");
        w->CB1->setCurrentIndex(w->CB1->findText("BROKEN"));
        w->Refresh_Click();
        QCOMPARE(w->LB1->count(), 3);
        QCOMPARE(prompts_.seen.size(), size_t(0));

        // Every show brings the width back.
        w->parentWidget()->resize(400, 300);
        w->parentWidget()->hide();
        w->parentWidget()->show();
        QCOMPARE(w->width(), 186);
    }

    void lastAliasAndCloseQuery()
    {
        shell::settings().rsmAlias = true;
        shell::settings().fontName = "IPAGothic";
        shell::settings().fontSize = 14;
        shell::writeSetting(shell::kRootKey, "AWALIAS", "TESTDB");
        TAlias_Open* w = openWindow();
        QCOMPARE(w->LB1->font().pointSize(), 14);
        QCOMPARE(w->LB2->font().family(), QString("IPAGothic"));
        QCOMPARE(w->selectedAlias(), QString("TESTDB"));
        QCOMPARE(w->LB1->count(), 3);

        chooseAlias(w, "BROKEN");
        QPointer<TAlias_Open> guard(w);
        w->parentWidget()->close();
        QVERIFY(guard); // minimised, not destroyed
        QCOMPARE(shell::readSetting(shell::kRootKey, "AWALIAS"), QString("BROKEN"));
        QVERIFY(fixture::readFile(shell::registryFilePath().toStdString()).contains("\"AWALIAS\"=\"BROKEN\""));

        shell::g_registryInitialized = true;
        chooseAlias(w, "TESTDB");
        QVERIFY(w->closeQuery());
        QCOMPARE(shell::readSetting(shell::kRootKey, "AWALIAS"), QString("BROKEN"));
        shell::g_registryInitialized = false;

        // A remembered alias that no longer exists selects nothing.
        shell::writeSetting(shell::kRootKey, "AWALIAS", "NOSUCH");
        TAlias_Open* w2 = openWindow();
        QVERIFY(!w2->aliasSelected());
        QCOMPARE(w2->LB1->count(), 0);
        QCOMPARE(w2->LB2->count(), 0);
    }

    void menuEnablingFollowsSelection()
    {
        TAlias_Open* w = openWindow();
        w->PM1Popup();
        QVERIFY(!w->Open_SQL->isEnabled() && !w->Mod_Alias->isEnabled() && !w->Del_Alias->isEnabled());
        QVERIFY(w->Add_Alias->isEnabled() && w->R2->isEnabled() && w->N11->isEnabled());
        chooseAlias(w, "TESTDB");
        w->PM1Popup();
        QVERIFY(w->Mod_Alias->isEnabled() && w->Del_Alias->isEnabled());

        select(w->LB1, {});
        w->PM2Popup();
        for (QAction* a : {w->Open1, w->C1, w->S1, w->N2, w->Print1, w->N10, w->Delete1})
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        QVERIFY(w->R1->isEnabled());
        select(w->LB1, {"B.DBF"});
        w->PM2Popup();
        for (QAction* a : {w->Open1, w->C1, w->Print1, w->N10, w->Delete1, w->R1})
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        select(w->LB1, {"A.DBF", "C.DBF"});
        w->PM2Popup();
        QVERIFY(w->Open1->isEnabled() && w->C1->isEnabled());
        QVERIFY(!w->N10->isEnabled() && !w->Delete1->isEnabled());

        w->PM3Popup(); // no procedures on a folder of tables
        for (QAction* a : {w->Open2, w->SapCpy, w->Print2, w->Refresh2})
            QVERIFY(!a->isEnabled());
    }

    void copyNames_data()
    {
        QTest::addColumn<int>("quotation");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << 0 << "A.DBF\r\nC.DBF\r\n";
        QTest::newRow("single") << 1 << "'A.DBF'\r\n'C.DBF'\r\n";
        QTest::newRow("double") << 2 << "\"A.DBF\"\r\n\"C.DBF\"\r\n";
    }
    void copyNames()
    {
        QFETCH(int, quotation);
        QFETCH(QString, expected);
        shell::settings().quotation = quotation;
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        select(w->LB1, {"A.DBF", "C.DBF"});
        QApplication::clipboard()->setText("old");
        w->LB1->setFocus();
        QTest::keyClick(w->LB1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), expected);
        select(w->LB1, {});
        w->TblCpy_Click();
        QCOMPARE(QApplication::clipboard()->text(), QString());
    }

    void opensSelectedTablesInListOrder()
    {
        shell::settings().rsmTable = true;
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        select(w->LB1, {"C.DBF", "A.DBF", "B.DBF"});
        w->PM2Popup();
        w->Open1->trigger();
        const auto windows = tableWindows();
        QCOMPARE(windows.size(), 3);
        QStringList captions;
        for (auto* t : windows) {
            captions << t->windowTitle();
            QVERIFY(t->firstPaintDone());
            QCOMPARE(t->persistence(), 1);
            QCOMPARE(t->statusPanelText(3), QString("[キー無し]"));
        }
        QCOMPARE(captions, (QStringList{"テーブル編集 - [TESTDB:A.DBF]", "テーブル編集 - [TESTDB:B.DBF]",
                                        "テーブル編集 - [TESTDB:C.DBF]"}));
        QVERIFY(!shell::g_windowOpening);
        const QStringList recs = tableRecords();
        QVERIFY(recs.contains("TESTDB-A.DBF") && recs.contains("TESTDB-B.DBF") && recs.contains("TESTDB-C.DBF"));
        QCOMPARE(shell::readSetting(shell::restoreKindKey(shell::RestoreKind::Table) + "\\TESTDB-B.DBF", "TBL_NAME"),
                 QString("B.DBF"));
    }

    void keyedTableEnterKeyAndSessionRestart()
    {
        {
            engine::Table t(*session_);
            t.setDatabaseName("TESTDB");
            t.setTableName("KEYED.DB");
            engine::FieldDef f;
            f.name = "CODE";
            f.type = engine::FieldType::String;
            f.size = 10;
            engine::IndexDef pk;
            pk.fields = "CODE";
            pk.primary = true;
            pk.unique = true;
            t.createTable({f}, {pk});
            t.open();
            t.append();
            t.setFieldText(0, "K1");
            t.post();
            t.close();
        }
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        select(w->LB1, {"KEYED.DB"});
        w->LB1->setFocus();
        QTest::keyClick(w->LB1, Qt::Key_Return);
        QCOMPARE(tableWindows().size(), 1);
        tablewin::TMDIChild* t = tableWindows().front();
        QCOMPARE(t->statusPanelText(3), QString("[主キー]"));
        QVERIFY(t->Table1().isOpen());

        // Restarting the session leaves open windows working.
        w->N11->trigger();
        QCOMPARE(prompts_.errors(), 0);
        QCOMPARE(w->selectedAlias(), QString("TESTDB"));
        t->Table1().first();
        QCOMPARE(QString::fromStdString(t->Table1().fieldText(0)), QString("K1"));
    }

    void childThatNeverPaintsDoesNotHang()
    {
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        select(w->LB1, {"A.DBF", "B.DBF"});
        w->firstPaintBoundMs = 300;
        frame_->hide(); // nothing inside a hidden frame paints
        w->Make_Child();
        QCOMPARE(tableWindows().size(), 2);
        QVERIFY(!shell::g_windowOpening);
        QVERIFY(!tableWindows().front()->firstPaintDone());
        frame_->show();
        QTRY_VERIFY(tableWindows().back()->firstPaintDone());
    }

    void tableThatCannotOpenLeavesNothingBehind()
    {
        shell::settings().rsmTable = true;
        fixture::makeTable(*session_, "TESTDB", "AA.DBF");
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        fs::remove(data_ / "AA.DBF");
        select(w->LB1, {"AA.DBF", "B.DBF"});
        w->PM2Popup();
        w->Open1->trigger();
        QCOMPARE(prompts_.errors(), 1);
        QVERIFY(!prompts_.lastText().isEmpty());
        QCOMPARE(tableWindows().size(), 0); // and B.DBF was not opened after the failure
        QVERIFY(tableRecords().isEmpty());
        QVERIFY(!shell::g_windowOpening);
    }

    void restoresRecordedWindowsAtFirstPaint()
    {
        shell::AppSettings& s = shell::settings();
        s.rsmTable = true;
        s.rsmSql = true;
        shell::writeRestoreRecord(shell::RestoreKind::Table, "TESTDB", "B.DBF");
        shell::writeRestoreRecord(shell::RestoreKind::Table, "TESTDB", "MISSING.DBF");
        shell::writeRestoreRecord(shell::RestoreKind::Sql, "TESTDB", {});
        TAlias_Open* w = openWindow();
        QTRY_VERIFY(!w->restorePending());
        QTRY_COMPARE(prompts_.errors(), 1);
        QCOMPARE(tableWindows().size(), 1);
        QCOMPARE(tableWindows().front()->windowTitle(), QString("テーブル編集 - [TESTDB:B.DBF]"));
        // The kind's old records are gone; the restored window recorded itself again.
        QCOMPARE(tableRecords(), QStringList{"TESTDB-B.DBF"});
        // No SQL window in this build: its record waits for one.
        QCOMPARE(shell::listSubkeys(shell::restoreKindKey(shell::RestoreKind::Sql)), QStringList{"TESTDB"});
    }

    void renameTable()
    {
        fixture::makeTable(*session_, "TESTDB", "R1.DBF");
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        auto runRename = [&](std::optional<QString> answer) {
            select(w->LB1, {w->LB1->currentItem() ? w->LB1->currentItem()->text() : QString()});
            prompts_.answers.push_back({QMessageBox::Ok, answer.has_value(), answer.value_or(QString()), {}});
            w->PM2Popup();
            w->N10->trigger();
        };
        w->LB1->setCurrentRow(items(w->LB1).indexOf("R1.DBF"));
        runRename(std::nullopt); // cancelled
        runRename(QString("R1.DBF")); // unchanged
        QVERIFY(fs::exists(data_ / "R1.DBF"));
        QCOMPARE(prompts_.seen.front().caption, QString("リネーム[R1.DBF]"));
        QCOMPARE(prompts_.seen.front().text, QString("新しいテーブル名を入力して下さい"));
        QCOMPARE(prompts_.seen.front().defaultText, QString("R1.DBF"));

        runRename(QString("R2.DBF"));
        QCOMPARE(prompts_.errors(), 0);
        QVERIFY(!fs::exists(data_ / "R1.DBF"));
        QVERIFY(fs::exists(data_ / "R2.DBF"));
        QVERIFY(items(w->LB1).contains("R2.DBF") && !items(w->LB1).contains("R1.DBF"));

        // Open elsewhere: exclusive use is refused with the engine's message, nothing moves.
        {
            engine::Table other(*session_);
            other.setDatabaseName("TESTDB");
            other.setTableName("R2.DBF");
            other.open();
            std::string engineMessage;
            try {
                engine::Table probe(*session_);
                probe.setDatabaseName("TESTDB");
                probe.setTableName("R2.DBF");
                probe.setExclusive(true);
                probe.open();
            } catch (const engine::EngineError& e) {
                engineMessage = e.what();
            }
            QVERIFY(!engineMessage.empty());
            w->LB1->setCurrentRow(items(w->LB1).indexOf("R2.DBF"));
            runRename(QString("R3.DBF"));
            QCOMPARE(prompts_.errors(), 1);
            QCOMPARE(prompts_.lastText(), QString::fromStdString(engineMessage));
            QVERIFY(fs::exists(data_ / "R2.DBF"));
            QVERIFY(!fs::exists(data_ / "R3.DBF"));
        }

        // The rename step itself refuses a dataset that is closed or shared.
        engine::Table t(*session_);
        t.setDatabaseName("TESTDB");
        t.setTableName("R2.DBF");
        try {
            TAlias_Open::fDbiRenameTable(t, "X.DBF", false);
            QFAIL("renamed a closed table");
        } catch (const engine::EngineError& e) {
            QCOMPARE(QString::fromStdString(e.what()), QString("テーブルがオープンできません。"));
        }
        t.open();
        try {
            TAlias_Open::fDbiRenameTable(t, "X.DBF", false);
            QFAIL("renamed a shared table");
        } catch (const engine::EngineError& e) {
            QCOMPARE(e.code(), 10253);
        }
    }

    void deleteTable()
    {
        fixture::makeTable(*session_, "TESTDB", "DEL.DBF");
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        // The focus item on another name than the one selected: the selected one is meant.
        select(w->LB1, {"DEL.DBF"});
        w->LB1->setCurrentRow(items(w->LB1).indexOf("A.DBF"), QItemSelectionModel::NoUpdate);
        QVERIFY(!w->LB1->currentItem()->isSelected());
        prompts_.answers.push_back({QMessageBox::No, false, {}, {}});
        w->PM2Popup();
        w->Delete1->trigger();
        QCOMPARE(prompts_.seen.back().text, QString("[DEL.DBF]削除しますか？"));
        QCOMPARE(prompts_.seen.back().caption, QString("確認"));
        QVERIFY(fs::exists(data_ / "DEL.DBF"));
        w->Delete1->trigger(); // Yes
        QVERIFY(!fs::exists(data_ / "DEL.DBF"));
        QVERIFY(!items(w->LB1).contains("DEL.DBF"));
        QCOMPARE(prompts_.errors(), 0);
    }

    void addEditAndDeleteAliases()
    {
        TAlias_Open* w = openWindow();
        chooseAlias(w, "TESTDB");
        const QString otherPath = QString::fromStdString(other_.string());
        fixture::makeTable(*session_, "TESTDB", "ONLYDATA.DBF");

        // Add, saved.
        QStringList drivers;
        QString firstParam;
        w->onAliasDialog = [&](dbwindow::TCreate_Alias& d) {
            QTimer::singleShot(0, &d, [&] {
                for (int i = 0; i < d.CB01->count(); ++i)
                    drivers << d.CB01->itemText(i);
                d.ED01->setText("NEWDB");
                d.CB01->setCurrentIndex(0);
                d.CB01Change();
                firstParam = d.CBG1->Cells(0, 1);
                d.CBG1->setCells(1, 1, otherPath);
                d.accept();
            });
        };
        w->Add_Alias->trigger();
        QCOMPARE(prompts_.errors(), 0);
        QCOMPARE(drivers.value(0), QString("STANDARD"));
        QCOMPARE(firstParam, QString("PATH"));
        QVERIFY(cfgText().contains("NEWDB"));
        QVERIFY(w->CB1->findText("NEWDB") >= 0);
        QCOMPARE(w->selectedAlias(), QString("TESTDB")); // kept across the restart
        QVERIFY(items(w->LB1).contains("ONLYDATA.DBF"));

        // Add, not saved: the session keeps it across restarts, the file does not have it.
        w->onAliasDialog = [&](dbwindow::TCreate_Alias& d) {
            QTimer::singleShot(0, &d, [&] {
                d.ED01->setText("TEMPDB");
                d.CB01->setCurrentIndex(0);
                d.CB01Change();
                d.CBG1->setCells(1, 1, otherPath);
                d.CHB1->setChecked(true);
                d.accept();
            });
        };
        w->Add_Alias->trigger();
        QVERIFY(!cfgText().contains("TEMPDB"));
        QVERIFY(w->CB1->findText("TEMPDB") >= 0);
        w->N11->trigger();
        QVERIFY(w->CB1->findText("TEMPDB") >= 0);

        // Edit: name and driver fixed, an emptied value is left out.
        chooseAlias(w, "NEWDB");
        std::vector<std::string> lines;
        bool nameLocked = false, driverLocked = false;
        QString driverShown;
        const QString newPath = QString::fromStdString(data_.string());
        w->onAliasDialog = [&](dbwindow::TCreate_Alias& d) {
            QTimer::singleShot(0, &d, [&] {
                nameLocked = d.ED01->isReadOnly();
                driverLocked = !d.CB01->isEnabled();
                driverShown = d.CB01->currentText();
                for (int r = 1; r < d.CBG1->RowCount(); ++r) {
                    if (d.CBG1->Cells(0, r) == "PATH")
                        d.CBG1->setCells(1, r, newPath);
                    if (d.CBG1->Cells(0, r) == "DEFAULT DRIVER")
                        d.CBG1->setCells(1, r, "");
                }
                lines = d.parameterLines();
                d.accept();
            });
        };
        w->PM1Popup();
        w->Mod_Alias->trigger();
        QCOMPARE(prompts_.errors(), 0);
        QVERIFY(nameLocked && driverLocked);
        QCOMPARE(driverShown, QString("STANDARD"));
        QCOMPARE(lines, (std::vector<std::string>{"PATH=" + data_.string(), "LANGDRIVER=932"}));
        QVERIFY(cfgText().contains(newPath));
        QCOMPARE(w->selectedAlias(), QString("NEWDB"));
        QVERIFY(items(w->LB1).contains("A.DBF"));

        // Cancel changes nothing.
        const QString before = cfgText();
        w->onAliasDialog = [&](dbwindow::TCreate_Alias& d) { QTimer::singleShot(0, &d, [&d] { d.reject(); }); };
        w->Mod_Alias->trigger();
        QCOMPARE(cfgText(), before);

        // An alias name already in use: the engine's message, nothing refreshed.
        w->onAliasDialog = [&](dbwindow::TCreate_Alias& d) {
            QTimer::singleShot(0, &d, [&d] {
                d.ED01->setText("TESTDB");
                d.CB01->setCurrentIndex(0);
                d.accept();
            });
        };
        w->Add_Alias->trigger();
        QCOMPARE(prompts_.errors(), 1);

        // Delete, always saved; nothing selected afterwards.
        w->PM1Popup();
        w->Del_Alias->trigger();
        QCOMPARE(prompts_.seen.back().text, QString("ｴﾘｱｽ「NEWDB」を削除します。よろしいですか？"));
        QVERIFY(!cfgText().contains("NEWDB"));
        QVERIFY(w->CB1->findText("NEWDB") < 0);
        QVERIFY(!w->aliasSelected());
    }

    void aliasDialogKeepsAnEditInProgress()
    {
        dbwindow::TCreate_Alias d(*session_);
        d.setMode(0);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QString("ｴﾘｱｽの追加"));
        QVERIFY(!d.ED01->isReadOnly());
        d.CB01->setCurrentIndex(0);
        d.CB01Change();
        QCOMPARE(d.CBG1->currentColumn(), 1);
        d.CBG1->setCurrentCell(1, 1);
        QVERIFY(d.CBG1->inplaceEditor());
        d.CBG1->inplaceEditor()->setFocus();
        QTest::keyClicks(d.CBG1->inplaceEditor(), "/srv/tables");
        // OK pressed while the editor still has the text: the text counts.
        const auto lines = d.parameterLines();
        QVERIFY(std::find(lines.begin(), lines.end(), std::string("PATH=/srv/tables")) != lines.end());
        // Choosing a driver again starts from its defaults, the typed text does not leak in.
        d.CB01Change();
        QCOMPARE(d.CBG1->Cells(1, 1), QString());
        QCOMPARE(d.CBG1->Cells(0, 0), QString("パラメータ"));
        QCOMPARE(d.CBG1->Cells(1, 0), QString("値"));
        QCOMPARE(d.CBG1->RowCount(), 4); // heading and the driver's three parameters
    }

    void fillsFiveThousandTables()
    {
        const fs::path big = fs::path(root_.path().toStdString()) / "big";
        fs::create_directories(big);
        fs::copy_file(data_ / "A.DBF", big / "T00000.DBF");
        for (int i = 1; i < 5000; ++i)
            fs::copy_file(big / "T00000.DBF", big / QStringLiteral("T%1.DBF").arg(i, 5, 10, QChar(u'0')).toStdString());
        session_->addAlias("BIG", "STANDARD", {"PATH=" + big.string(), "DEFAULT DRIVER=DBASE"});
        TAlias_Open* w = openWindow();
        w->Set_Alias();
        w->CB1->setCurrentIndex(w->CB1->findText("BIG"));
        QElapsedTimer clock;
        clock.start();
        w->Set_TableList();
        const qint64 firstFill = clock.elapsed();
        clock.restart();
        w->Set_TableList();
        const qint64 secondFill = clock.elapsed();
        QCOMPARE(w->LB1->count(), 5000);
        QCOMPARE(w->LB1->item(4999)->text(), QString("T04999.DBF"));
        qInfo("table list of 5000 tables: first fill %lld ms, refill %lld ms", firstFill, secondFill);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    QApplication app(argc, argv);
    DbWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "DbWindowTest.moc"
