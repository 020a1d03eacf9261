// The frame's menus: creation, merging with the active child's, and their commands.
#include "shell/TMainForm.h"

#include "shell/AppState.h"
#include "shell/MenuMerge.h"
#include "shell/Prompt.h"
#include "shell/THelpWindow.h"
#include "shell/WindowHooks.h"

#include <QDesktopServices>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QUrl>

namespace vemo::shell {

const QString TMainForm::kDownloadUrl = QStringLiteral("https://vemo32.example.org/download/");
const QString TMainForm::kOpenFilter =
    QStringLiteral("Paladoxﾃｰﾌﾞﾙ(*.DB)|*.DB|dBASEﾃｰﾌﾞﾙ(*.DBF)|*.DBF|すべてのﾌｧｲﾙ (*.*)|*.*");

namespace {

QMenu* makeMenu(QWidget* owner, const QString& caption, const QString& hint)
{
    auto* m = new QMenu(caption, owner);
    m->menuAction()->setStatusTip(hint);
    return m;
}

QAction* makeItem(QMenu* menu, const QString& caption, const QString& hint)
{
    QAction* a = menu->addAction(caption);
    a->setStatusTip(hint);
    return a;
}

// Runs a command and shows what it throws in the standard error box.
template <typename F>
void guarded(QWidget* w, F f)
{
    try {
        f();
    } catch (const std::exception& e) {
        showError(w, QString::fromStdString(e.what()));
    }
}

} // namespace

void TMainForm::createMenus()
{
    const WindowHooks& hooks = windowHooks();

    File1 = makeMenu(this, QStringLiteral("ﾌｧｲﾙ(&F)"), QStringLiteral("ﾌｧｲﾙ操作に関するｺﾏﾝﾄﾞ"));
    FileOpenItem = makeItem(File1, QStringLiteral("開く(&O)"), QStringLiteral("既存のﾃﾞｰﾀﾍﾞｰｽを開く"));
    FileCloseItem = makeItem(File1, QStringLiteral("閉じる(&C)"), QStringLiteral("ｳｨﾝﾄﾞｳを閉じる"));
    SQLQ1 = makeItem(File1, QStringLiteral("SQL Window(&Q)"), QStringLiteral("SQLｳｨﾝﾄﾞｳを開きます。"));
    File1->addSeparator();
    FileExitItem = makeItem(File1, QStringLiteral("終了(&X)"), QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了"));
    connect(File1, &QMenu::aboutToShow, this, &TMainForm::File1Click);
    connect(FileOpenItem, &QAction::triggered, this, &TMainForm::FileOpenItemClick);
    connect(FileCloseItem, &QAction::triggered, this, &TMainForm::FileCloseItemClick);
    connect(SQLQ1, &QAction::triggered, this, &TMainForm::SQLQ1Click);
    connect(FileExitItem, &QAction::triggered, this, &QWidget::close);
    FileOpenItem->setEnabled(bool(hooks.openTableFile));

    turu1 = makeMenu(this, QStringLiteral("ﾕｰﾃｨﾘﾃｨ(&U)"), QStringLiteral("ﾕｰﾃｨﾘﾃｨ操作に関するｺﾏﾝﾄﾞ"));
    C1 = makeItem(turu1, QStringLiteral("ﾃｰﾌﾞﾙｺﾋﾟｰ(&C)"), QStringLiteral("ﾃｰﾌﾞﾙｺﾋﾟｰｳｲﾝﾄﾞｳを開きます。"));
    connect(C1, &QAction::triggered, this, &TMainForm::C1Click);
    C1->setEnabled(bool(hooks.showTableCopy));
    connect(turu1, &QMenu::aboutToShow, this, [this] { C1->setEnabled(bool(windowHooks().showTableCopy)); });

    Window1 = makeMenu(this, QStringLiteral("ｳｨﾝﾄﾞｳ(&W)"), QStringLiteral("ｳｨﾝﾄﾞｳ操作に関するｺﾏﾝﾄﾞ"));
    WindowCascadeItem = makeItem(Window1, QStringLiteral("重ねて表示(&C)"), QStringLiteral("ｳｨﾝﾄﾞｳを重なりあうように並べ直す"));
    WindowTileItem = makeItem(Window1, QStringLiteral("並べて表示(&T)"), QStringLiteral("ｳｨﾝﾄﾞｳを重ならないように並べ直す"));
    WindowArrangeItem = makeItem(Window1, QStringLiteral("ｱｲｺﾝの整列(&A)"), QStringLiteral("ｱｲｺﾝをｳｨﾝﾄﾞｳの下に並べ直す"));
    WindowMinimizeItem = makeItem(Window1, QStringLiteral("すべてをｱｲｺﾝ化(&M)"), QStringLiteral("すべてのｳｨﾝﾄﾞｳをｱｲｺﾝ状態にする"));
    Window1->addSeparator();
    Option1 = makeItem(Window1, QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"), QString());
    connect(WindowCascadeItem, &QAction::triggered, MDIClient, &QMdiArea::cascadeSubWindows);
    connect(WindowTileItem, &QAction::triggered, MDIClient, &QMdiArea::tileSubWindows);
    connect(WindowArrangeItem, &QAction::triggered, this, &TMainForm::WindowArrangeItemClick);
    connect(WindowMinimizeItem, &QAction::triggered, this, &TMainForm::WindowMinimizeItemClick);
    connect(Option1, &QAction::triggered, this, &TMainForm::Option1Click);
    connect(Window1, &QMenu::aboutToShow, this, &TMainForm::fillWindowList);
    Option1->setEnabled(bool(hooks.showOptions));

    Help1 = makeMenu(this, QStringLiteral("ﾍﾙﾌﾟ(&H)"), QStringLiteral("ﾍﾙﾌﾟﾄﾋﾟｯｸ"));
    Contents1 = makeItem(Help1, QStringLiteral("目次(&C)"), QString());
    D1 = makeItem(Help1, QStringLiteral("最新ｿﾌﾄｳｪｱのﾀﾞｳﾝﾛｰﾄﾞ(&D)"), QStringLiteral("最新のｿﾌﾄｳｪｱをWebからﾀﾞｳﾝﾛｰﾄﾞできます。"));
    Help1->addSeparator();
    HelpAboutItem = makeItem(Help1, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報を表示します"));
    connect(Contents1, &QAction::triggered, this, &TMainForm::openHelpContents);
    connect(D1, &QAction::triggered, this, &TMainForm::D1Click);
    connect(HelpAboutItem, &QAction::triggered, this, &TMainForm::HelpAboutItemClick);
    HelpAboutItem->setEnabled(bool(hooks.showAbout));

    // The hint of a menu title under the mouse goes to the status bar like an item's.
    connect(menuBar(), &QMenuBar::hovered, this, [this](QAction* a) {
        if (a && !a->statusTip().isEmpty())
            statusBar()->showMessage(a->statusTip());
    });
    rebuildMenuBar();
}

void TMainForm::rebuildMenuBar()
{
    const QList<ChildWindow::MenuGroup> frame = {{File1, 1}, {turu1, 7}, {Window1, 8}, {Help1, 9}};
    const ChildWindow* child = activeChild();
    const auto merged = mergeMenuGroups(frame, child ? child->menuGroups() : QList<ChildWindow::MenuGroup>{});
    menuBar()->clear();
    for (const auto& g : merged)
        if (g.menu)
            menuBar()->addMenu(g.menu);
}

void TMainForm::activeChildChanged()
{
    ChildWindow* child = activeChild();
    if (child != menuChild_) {
        disconnect(menuChildConn_);
        menuChild_ = child;
        if (child)
            menuChildConn_ = connect(child, &ChildWindow::menusChanged, this, &TMainForm::rebuildMenuBar);
    }
    rebuildMenuBar();
}

void TMainForm::UpdateMenuItems()
{
    const bool any = !MDIClient->subWindowList().isEmpty();
    for (QAction* a : {FileCloseItem, WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem})
        a->setEnabled(any);
}

void TMainForm::File1Click()
{
    const WindowHooks& hooks = windowHooks();
    FileOpenItem->setEnabled(bool(hooks.openTableFile));
    SQLQ1->setEnabled(hooks.openSqlWindow && hooks.selectedAlias && !hooks.selectedAlias().isEmpty());
}

void TMainForm::fillWindowList()
{
    Option1->setEnabled(bool(windowHooks().showOptions));
    qDeleteAll(windowListActions_);
    windowListActions_.clear();
    const QList<QMdiSubWindow*> subs = MDIClient->subWindowList();
    if (subs.isEmpty())
        return;
    windowListActions_.append(Window1->addSeparator());
    for (qsizetype i = 0; i < subs.size(); ++i) {
        QMdiSubWindow* sub = subs[i];
        const QString prefix = i < 9 ? QStringLiteral("&%1 ").arg(i + 1) : QStringLiteral("%1 ").arg(i + 1);
        QAction* a = Window1->addAction(prefix + sub->windowTitle());
        a->setCheckable(true);
        a->setChecked(sub == MDIClient->activeSubWindow());
        connect(a, &QAction::triggered, MDIClient, [this, sub = QPointer<QMdiSubWindow>(sub)] {
            if (sub)
                MDIClient->setActiveSubWindow(sub);
        });
        windowListActions_.append(a);
    }
}

void TMainForm::FileOpenItemClick()
{
    guarded(this, [this] {
        const WindowHooks& hooks = windowHooks();
        if (!hooks.openTableFile)
            return;
        if (const auto path = openFileName(this, kOpenFilter, settings().openDir))
            hooks.openTableFile(*path);
    });
}

void TMainForm::FileCloseItemClick()
{
    if (QMdiSubWindow* sub = MDIClient->activeSubWindow())
        sub->close();
}

void TMainForm::SQLQ1Click()
{
    guarded(this, [] {
        const WindowHooks& hooks = windowHooks();
        if (!hooks.selectedAlias || !hooks.openSqlWindow)
            return;
        const QString alias = hooks.selectedAlias();
        if (!alias.isEmpty())
            hooks.openSqlWindow(alias);
    });
}

void TMainForm::C1Click()
{
    guarded(this, [this] {
        if (windowHooks().showTableCopy)
            windowHooks().showTableCopy(this);
    });
}

void TMainForm::WindowArrangeItemClick()
{
    // Minimised children line up along the bottom edge, left to right.
    const QRect area = MDIClient->viewport()->rect();
    int x = 0;
    int y = area.bottom();
    for (QMdiSubWindow* sub : MDIClient->subWindowList()) {
        if (!sub->isMinimized())
            continue;
        const QSize sz = sub->size();
        if (x > 0 && x + sz.width() > area.width()) {
            x = 0;
            y -= sz.height();
        }
        sub->move(x, y - sz.height() + 1);
        x += sz.width();
    }
}

void TMainForm::WindowMinimizeItemClick()
{
    const QList<QMdiSubWindow*> subs = MDIClient->subWindowList();
    for (auto it = subs.crbegin(); it != subs.crend(); ++it)
        (*it)->showMinimized();
}

void TMainForm::Option1Click()
{
    guarded(this, [this] {
        if (!windowHooks().showOptions)
            return;
        windowHooks().showOptions(this);
        ImageDraw();
    });
}

void TMainForm::D1Click()
{
    if (!QDesktopServices::openUrl(QUrl(kDownloadUrl)))
        showError(this, QStringLiteral("Web ページ %1 を開けません。").arg(kDownloadUrl));
}

void TMainForm::HelpAboutItemClick()
{
    guarded(this, [this] {
        if (windowHooks().showAbout)
            windowHooks().showAbout(this);
    });
}

} // namespace vemo::shell
