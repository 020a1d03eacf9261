// The folder picker: placement arithmetic, flags and status/OK rules as plain functions, and
// the real dialog driven offscreen (selection event, OK state, show-path, cancel, confirm).
#include "shell/Prompt.h"
#include "shell/TSHBrowseForFolderEx.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace vemo::shell;

class FolderPickerTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString sub(const QString& name)
    {
        const QString p = dir_.path() + "/" + name;
        QDir().mkpath(p);
        return QDir::cleanPath(p);
    }

    // Runs the real dialog; `drive` works on it while it is modal.
    bool runReal(TSHBrowseForFolderEx& picker, const std::function<void(TFolderDialog*)>& drive)
    {
        QTimer::singleShot(0, this, [&] {
            auto* dlg = qobject_cast<TFolderDialog*>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            drive(dlg);
            if (dlg->isVisible())
                dlg->reject();
        });
        return picker.Execute();
    }

private slots:
    void placementArithmetic()
    {
        QCOMPARE(centerScreenPosition(QRect(0, 0, 1024, 768), QSize(400, 300)), QPoint(312, 156));
        QCOMPARE(centerScreenPosition(QRect(0, 0, 1025, 769), QSize(400, 300)), QPoint(312, 156)); // truncated
        QCOMPARE(centerScreenPosition(QRect(100, 50, 1024, 768), QSize(400, 300)), QPoint(412, 206));
        QCOMPARE(centerScreenPosition(QRect(0, 0, 300, 200), QSize(400, 300)), QPoint(-50, -33));
    }

    void optionFlags()
    {
        bool showPath = true;
        QCOMPARE(browseFlags({TSHBrowseOption::sboReturnOnlyFSDirs}, &showPath), 1u);
        QVERIFY(!showPath);
        QCOMPARE(browseFlags({TSHBrowseOption::sboDontGoBelowDomain, TSHBrowseOption::sboStatusText}, &showPath), 6u);
        QVERIFY(!showPath);
        // the walk stops at show-path: return-only-dirs before it counts, nothing after it does
        QCOMPARE(browseFlags({TSHBrowseOption::sboStatusTextAndShowPath, TSHBrowseOption::sboReturnOnlyFSDirs,
                              TSHBrowseOption::sboReturnFSAncestors},
                             &showPath),
                 13u);
        QVERIFY(showPath);
    }

    void statusAndOkRules()
    {
        PickerState s;
        s = pickerCallbackStep(s, false, "/a", "chosen", TOKButtonState::obsDisable);
        QCOMPARE(s.statusText, QString("chosen"));
        QVERIFY(!s.okEnabled);
        s = pickerCallbackStep(s, false, "/b", "", TOKButtonState::obsLeave);
        QVERIFY(!s.okEnabled); // stays greyed until enabled
        s = pickerCallbackStep(s, false, "/c", "", TOKButtonState::obsEnable);
        QVERIFY(s.okEnabled);
        s = pickerCallbackStep(s, true, "/d", "event text", TOKButtonState::obsLeave);
        QCOMPARE(s.statusText, QString("/d")); // show-path wins over the event's text
    }

    void resolvingFolders()
    {
        const QString existing = sub("there");
        QCOMPARE(resolveFolder(true, existing, 0, false), existing);
        QCOMPARE(resolveFolder(true, existing + "/missing", 0, false), QDir::homePath()); // the desktop
        QCOMPARE(resolveFolder(true, "", 17, false), QDir::homePath());
        QCOMPARE(resolveFolder(false, existing, 17, true), QString("/")); // not manual: the name is ignored
        QCOMPARE(resolveFolder(false, {}, 0, true), QString("/"));
        QCOMPARE(folderIdentifier(TSelectFolder::sfDrives), 17);
        QCOMPARE(folderIdentifier(TRootFolder::rfTemplates), 21);
        QCOMPARE(folderIdentifier(TSelectFolder::sfManual), 0);
        for (int id : {0, 2, 6, 7, 8, 9, 11, 16, 17, 21})
            QVERIFY2(QFileInfo(specialFolderPath(id, false)).isDir(), qPrintable(QString::number(id)));
    }

    void realDialogSelectionEvents()
    {
        const QString a = sub("pick/a"), b = sub("pick/b");
        QWidget owner;
        TSHBrowseForFolderEx picker(&owner);
        picker.RootFolder = TRootFolder::rfManual;
        picker.RootFolderName = dir_.path();
        picker.SelectFolder = TSelectFolder::sfManual;
        picker.SelectFolderName = a;
        picker.Caption = "ﾃｰﾌﾞﾙｺﾋﾟｰﾌｫﾙﾀﾞ";
        picker.Options = {TSHBrowseOption::sboStatusText};
        QStringList reported;
        picker.OnSelectionChanged = [&](TSHBrowseForFolderEx* sender, QWidget* wnd, const QString& path,
                                        QString& text, TOKButtonState& ok) {
            QCOMPARE(sender, &picker);
            QVERIFY(qobject_cast<TFolderDialog*>(wnd));
            QVERIFY(text.isEmpty());
            QCOMPARE(ok, TOKButtonState::obsLeave);
            reported << path;
            if (path.endsWith("/b")) {
                text = "使えません";
                ok = TOKButtonState::obsDisable;
            } else if (path.endsWith("/a")) {
                ok = TOKButtonState::obsEnable;
            }
        };
        const bool ok = runReal(picker, [&](TFolderDialog* dlg) {
            QCOMPARE(dlg->TitleLabel->text(), QString("ﾃｰﾌﾞﾙｺﾋﾟｰﾌｫﾙﾀﾞ"));
            QCOMPARE(dlg->selectedPath(), a); // the initial folder
            QPushButton* okButton = dlg->Buttons->button(QDialogButtonBox::Ok);
            QVERIFY(dlg->selectPath(b));
            QVERIFY(!okButton->isEnabled());
            QCOMPARE(dlg->StatusLabel->text(), QString("使えません"));
            QVERIFY(dlg->selectPath(dir_.path() + "/pick"));
            QVERIFY(!okButton->isEnabled()); // still greyed
            QCOMPARE(dlg->StatusLabel->text(), QString());
            QVERIFY(dlg->selectPath(a));
            QVERIFY(okButton->isEnabled());
            QTest::mouseClick(okButton, Qt::LeftButton);
        });
        QVERIFY(ok);
        QCOMPARE(picker.FolderName, a);
        QCOMPARE(picker.DisplayName, QString("a"));
        QCOMPARE(reported.last(), a);
        QVERIFY(reported.contains(b));
    }

    void showPathAndCancel()
    {
        const QString a = sub("show/a");
        TSHBrowseForFolderEx picker(nullptr);
        picker.RootFolder = TRootFolder::rfManual;
        picker.RootFolderName = dir_.path();
        picker.SelectFolder = TSelectFolder::sfManual;
        picker.SelectFolderName = dir_.path() + "/does-not-exist"; // falls back to the home folder
        picker.Options = {TSHBrowseOption::sboStatusTextAndShowPath};
        picker.OnSelectionChanged = [](TSHBrowseForFolderEx*, QWidget*, const QString&, QString& text,
                                       TOKButtonState&) { text = "ignored"; };
        picker.FolderName = "old";
        const bool ok = runReal(picker, [&](TFolderDialog* dlg) {
            QVERIFY(dlg->selectPath(a));
            QCOMPARE(dlg->StatusLabel->text(), a);
            dlg->reject();
        });
        QVERIFY(!ok);
        QVERIFY(picker.FolderName.isEmpty());
        QVERIFY(picker.DisplayName.isEmpty());
    }

    void unresolvableManualRootFallsBackToTheTop()
    {
        TSHBrowseForFolderEx picker(nullptr);
        picker.RootFolder = TRootFolder::rfManual;
        picker.RootFolderName = dir_.path() + "/no-root"; // falls back to the desktop, the top
        int asked = 0;
        setPromptHandler([&](const PromptRequest& r) {
            ++asked;
            PromptAnswer an;
            an.accepted = true;
            an.text = r.defaultText;
            return an;
        });
        QVERIFY(picker.Execute());
        QCOMPARE(picker.FolderName, QString("/"));
        QCOMPARE(asked, 1);
        setPromptHandler({});
    }
};

QTEST_MAIN(FolderPickerTest)
#include "test_folderpicker.moc"
