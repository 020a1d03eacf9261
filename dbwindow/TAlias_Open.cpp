#include "dbwindow/TAlias_Open.h"

#include "dbwindow/NameLists.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/Routines.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vemo::dbwindow {

namespace {
constexpr int kPanelHeight = 41;
constexpr int kShownWidth = 186;

QAction* addItem(QMenu* menu, const QString& name, const QString& caption, const QString& hint)
{
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setStatusTip(hint);
    a->setToolTip(hint);
    return a;
}
} // namespace

TAlias_Open::TAlias_Open(QWidget* parent) : TAlias_Open(engine::Session::global(), parent) {}

TAlias_Open::TAlias_Open(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), session_(session), Table1(std::make_unique<engine::Table>(session))
{
    setObjectName(QStringLiteral("Alias_Open"));
    setWindowTitle(QStringLiteral("エリアス一覧"));
    setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), -1));
    QFont f = font();
    f.setPixelSize(12);
    setFont(f);
    buildLayout();
    buildMenus();
    resize(187, 300);
}

TAlias_Open::~TAlias_Open() = default;

void TAlias_Open::buildLayout()
{
    Panel1 = new QWidget(this);
    QFont heading = font();
    heading.setPixelSize(13);
    heading.setBold(true);
    heading.setItalic(true);
    // Grey below, white on top, shifted: an embossed heading.
    Label1 = new QLabel(QStringLiteral("Alias Name:"), Panel1);
    Label2 = new QLabel(QStringLiteral("Alias Name:"), Panel1);
    for (QLabel* l : {Label1, Label2}) {
        l->setFont(heading);
        l->setAttribute(Qt::WA_TranslucentBackground);
        l->adjustSize();
    }
    Label1->setStyleSheet(QStringLiteral("color: grey; background: transparent;"));
    Label2->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    Label1->move(6, 4);
    Label2->move(2, 1);

    CB1 = new QComboBox(Panel1);
    CB1->setObjectName(QStringLiteral("CB1"));
    CB1->setToolTip(QStringLiteral("エリアスを選択します。"));
    CB1->setStatusTip(CB1->toolTip());
    CB1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CB1->setMinimumContentsLength(4);
    CB1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(CB1, &QComboBox::activated, this, [this] { runGuarded([this] { CB1Change(); }); });

    PC1 = new QTabWidget(this);
    PC1->setMinimumSize(1, 1);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    LB1 = new QListWidget(TabSheet1);
    LB2 = new QListWidget(TabSheet2);
    LB1->setObjectName(QStringLiteral("LB1"));
    LB2->setObjectName(QStringLiteral("LB2"));
    LB1->setToolTip(QStringLiteral("テーブルを選択します。"));
    LB2->setToolTip(QStringLiteral("ストアドプロシージャを選択します。"));
    QFont lb2Font(QStringLiteral("ＭＳ ゴシック"));
    lb2Font.setPixelSize(12);
    LB2->setFont(lb2Font);
    for (auto [sheet, list] : {std::pair{TabSheet1, LB1}, std::pair{TabSheet2, LB2}}) {
        list->setStatusTip(list->toolTip());
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setUniformItemSizes(true); // keeps thousands of names quick
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        list->installEventFilter(this);
        auto* lay = new QVBoxLayout(sheet);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->addWidget(list);
    }
    PC1->addTab(TabSheet1, QStringLiteral("Table"));
    PC1->addTab(TabSheet2, QStringLiteral("Stored Procedure"));
    connect(LB1, &QListWidget::itemDoubleClicked, this, [this] { Make_Child(); });
    connect(LB2, &QListWidget::itemDoubleClicked, this, [this] { runGuarded([this] { Make_SP(); }); });
    auto* copyTables = new QShortcut(QKeySequence::Copy, LB1, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyTables, &QShortcut::activated, this, [this] { runGuarded([this] { TblCpy_Click(); }); });
    auto* copyProcs = new QShortcut(QKeySequence::Copy, LB2, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyProcs, &QShortcut::activated, this, [this] { runGuarded([this] { SapCpyClick(); }); });
}

void TAlias_Open::buildMenus()
{
    PM1 = new QMenu(this);
    Open_SQL = addItem(PM1, "Open_SQL", "SQL Window(&Q)", "SQLｳｨﾝﾄﾞｳを開きます。");
    Add_Alias = addItem(PM1, "Add_Alias", "ｴﾘｱｽの追加(&A)", "ｴﾘｱｽを追加します");
    Mod_Alias = addItem(PM1, "Mod_Alias", "ｴﾘｱｽの編集(&E)", "ｴﾘｱｽを編集します");
    Del_Alias = addItem(PM1, "Del_Alias", "ｴﾘｱｽの削除(&D)", "ｴﾘｱｽを削除します");
    R2 = addItem(PM1, "R2", "ｴﾘｱｽﾘｽﾄのﾘﾌﾚｯｼｭ(&R)", "ｴﾘｱｽﾘｽﾄをﾘﾌﾚｯｼｭします。");
    N11 = addItem(PM1, "N11", "ｾｯｼｮﾝのﾘﾌﾚｯｼｭ(&S)", "ｾｯｼｮﾝをﾘﾌﾚｯｼｭします。");
    Add_Alias->setData(0);
    Mod_Alias->setData(1);
    Del_Alias->setData(2);

    PM2 = new QMenu(this);
    Open1 = addItem(PM2, "Open1", "開く(&O)", "ﾃｰﾌﾞﾙ編集ｳｨﾝﾄﾞｳを開きます。");
    C1 = addItem(PM2, "C1", "ﾃｰﾌﾞﾙ名をｺﾋﾟｰ(&C)", "ﾃｰﾌﾞﾙ名をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします。");
    C1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    C1->setShortcutContext(Qt::WidgetShortcut); // the list's own shortcut does the work
    S1 = addItem(PM2, "S1", "ﾃｰﾌﾞﾙ情報(&S)", "ﾃｰﾌﾞﾙ情報を表示します");
    N2 = addItem(PM2, "N2", "ｲﾝﾃﾞｯｸｽ情報(&I)", "ｲﾝﾃﾞｯｸｽ情報を表示します");
    Print1 = addItem(PM2, "Print1", "印刷(&P)", "印刷操作に関するｺﾏﾝﾄﾞ");
    R1 = addItem(PM2, "R1", "ﾃｰﾌﾞﾙﾘｽﾄのﾘﾌﾚｯｼｭ(&R)", "ﾃｰﾌﾞﾙﾘｽﾄをﾘﾌﾚｯｼｭします。");
    N10 = addItem(PM2, "N10", "ﾘﾈｰﾑ（&N）", "テーブル名をﾘﾈｰﾑします。");
    Delete1 = addItem(PM2, "Delete1", "削除(&D)", "ﾃｰﾌﾞﾙを削除します。");

    PM3 = new QMenu(this);
    Open2 = addItem(PM3, "Open2", "開く(&O)", "ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬｳｨﾝﾄﾞｳを開きます。");
    SapCpy = addItem(PM3, "SapCpy", "ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬ名をｺﾋﾟｰ(&C)", "ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬ名をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします。");
    SapCpy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    SapCpy->setShortcutContext(Qt::WidgetShortcut);
    Print2 = addItem(PM3, "Print2", "印刷(&P)", "印刷操作に関するｺﾏﾝﾄﾞ");
    Refresh2 = addItem(PM3, "Refresh2", "ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬﾘｽﾄのﾘﾌﾚｯｼｭ(&R)", "ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬﾘｽﾄをﾘﾌﾚｯｼｭします。");

    auto on = [this](QAction* a, void (TAlias_Open::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { runGuarded([this, handler] { (this->*handler)(); }); });
    };
    on(Open_SQL, &TAlias_Open::Open_SQLClick);
    connect(Add_Alias, &QAction::triggered, this, [this] { runGuarded([this] { AEDIT_Click(0); }); });
    connect(Mod_Alias, &QAction::triggered, this, [this] { runGuarded([this] { AEDIT_Click(1); }); });
    on(Del_Alias, &TAlias_Open::Del_AliasClick);
    on(R2, &TAlias_Open::Refresh1_Click);
    on(N11, &TAlias_Open::N11Click);
    on(Open1, &TAlias_Open::Make_Child);
    on(C1, &TAlias_Open::TblCpy_Click);
    on(S1, &TAlias_Open::S1Click);
    on(Print1, &TAlias_Open::Print1Click);
    on(N2, &TAlias_Open::N2Click);
    on(R1, &TAlias_Open::Refresh_Click);
    on(N10, &TAlias_Open::N10Click);
    on(Delete1, &TAlias_Open::Delete1Click);
    on(Open2, &TAlias_Open::Make_SP);
    on(SapCpy, &TAlias_Open::SapCpyClick);
    on(Refresh2, &TAlias_Open::Refresh_Click);

    connect(CB1, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PM1Popup();
        PM1->popup(CB1->mapToGlobal(p));
    });
    connect(LB1, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PM2Popup();
        PM2->popup(LB1->viewport()->mapToGlobal(p));
    });
    connect(LB2, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PM3Popup();
        PM3->popup(LB2->viewport()->mapToGlobal(p));
    });
}

void TAlias_Open::resizeEvent(QResizeEvent* e)
{
    shell::ChildWindow::resizeEvent(e);
    Panel1->setGeometry(0, 0, width(), kPanelHeight);
    CB1->setGeometry(0, kPanelHeight - CB1->sizeHint().height(), Panel1->width(), CB1->sizeHint().height());
    PC1->setGeometry(0, kPanelHeight, width(), std::max(0, height() - kPanelHeight));
}

bool TAlias_Open::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress && (watched == LB1 || watched == LB2)) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == LB1)
                Make_Child();
            else
                runGuarded([this] { Make_SP(); }); // a procedure that cannot be prepared
            return true;
        }
    }
    return shell::ChildWindow::eventFilter(watched, e);
}

bool TAlias_Open::aliasSelected() const
{
    return CB1->currentIndex() >= 0;
}

QString TAlias_Open::selectedAlias() const
{
    return CB1->currentText();
}

// --- fills

void TAlias_Open::Set_Alias()
{
    const QStringList names = sortedNames(session_.aliasNames());
    CB1->clear();
    CB1->addItems(names);
    CB1->setCurrentIndex(-1);
    LB1->clear();
}

void TAlias_Open::Set_TableList()
{
    loginFailed_ = false;
    try {
        const QStringList names = sortedNames(
            session_.tableNames(selectedAlias().toStdString(), "*.*", true, false));
        LB1->setUpdatesEnabled(false);
        LB1->clear();
        LB1->addItems(names);
        LB1->setUpdatesEnabled(true);
    } catch (const engine::EngineError& e) {
        LB1->setUpdatesEnabled(true); // the list keeps its old names
        // A server that wants a login: a refused one is reported (other failures leave the
        // list as it is, quietly), and neither is asked again for the procedure list.
        loginFailed_ = e.code() == engine::ErrLogin || e.code() == engine::ErrLoginCancelled;
        if (e.code() == engine::ErrLogin)
            shell::showError(this, QString::fromStdString(e.what()));
    } catch (const std::exception&) {
        LB1->setUpdatesEnabled(true);
    }
    if (LB1->count() > 0) {
        LB1->setCurrentRow(0);
        LB1->item(0)->setSelected(true);
    }
}

void TAlias_Open::Set_SAPList()
{
    if (loginFailed_)
        return;
    try {
        const QStringList names = sortedNames(session_.procedureNames(selectedAlias().toStdString()));
        LB2->clear();
        LB2->addItems(names);
    } catch (const std::exception&) {
    }
    if (LB2->count() > 0) {
        LB2->setCurrentRow(0);
        LB2->item(0)->setSelected(true);
    }
}

void TAlias_Open::focusActiveList()
{
    (PC1->currentIndex() == 0 ? LB1 : LB2)->setFocus();
}

void TAlias_Open::CB1Change()
{
    LB1->clear();
    LB2->clear();
    Set_TableList();
    Set_SAPList();
    focusActiveList();
}

void TAlias_Open::selectAlias(const QString& alias)
{
    CB1->setCurrentIndex(CB1->findText(alias, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// --- life cycle

void TAlias_Open::showEvent(QShowEvent* e)
{
    shell::ChildWindow::showEvent(e);
    if (firstShow_)
        runGuarded([this] { FormShow(); });
    QWidget* frame = qobject_cast<QMdiSubWindow*>(parentWidget()) ? parentWidget() : this;
    frame->resize(frame == this ? kShownWidth : kShownWidth + (frame->width() - width()), frame->height());
}

void TAlias_Open::FormShow()
{
    const shell::AppSettings& s = shell::settings();
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        setFont(f);
        LB1->setFont(f);
        LB2->setFont(f);
    }
    firstShow_ = false;
    Set_Alias();
    if (s.rsmAlias) {
        selectAlias(shell::readSetting(shell::kRootKey, QStringLiteral("AWALIAS")));
        if (aliasSelected()) {
            Set_TableList();
            Set_SAPList();
            focusActiveList();
        }
    }
}

void TAlias_Open::firstPaint()
{
    // Opening windows runs nested event loops: not from inside a paint.
    if (restorePending_)
        QTimer::singleShot(0, this, [this] { runGuarded([this] { restoreWindows(); }); });
}

void TAlias_Open::restoreWindows()
{
    if (!restorePending_)
        return;
    restorePending_ = false;
    std::array<RestoreOpener, 5> openers;
    if (canOpenTables())
        openers[0] = [this](const QString& a, const QString& n) { Make_Child2(a, n); };
    if (canOpenSql())
        openers[1] = [this](const QString& a, const QString&) { Make_SQL(a); };
    if (canOpenProcedures())
        openers[2] = [this](const QString& a, const QString& n) { Make_SP2(a, n); };
    if (canOpenStatus())
        openers[3] = [this](const QString& a, const QString& n) { Make_Status(a, n); };
    if (canOpenIndex())
        openers[4] = [this](const QString& a, const QString& n) { Make_Index(a, n); };
    restoreRecordedWindows(openers);
}

bool TAlias_Open::closeQuery()
{
    if (!shell::g_registryInitialized)
        shell::writeSetting(shell::kRootKey, QStringLiteral("AWALIAS"), CB1->currentText());
    return true;
}

void TAlias_Open::closeEvent(QCloseEvent* e)
{
    // The one database window is never destroyed by its own close: it is minimised.
    try {
        closeQuery();
    } catch (const std::exception& ex) {
        shell::showError(this, QString::fromStdString(ex.what()));
    }
    e->ignore();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->showMinimized();
    else
        showMinimized();
}

// --- menus

void TAlias_Open::PM1Popup()
{
    const bool selected = aliasSelected();
    Open_SQL->setEnabled(selected && canOpenSql());
    Mod_Alias->setEnabled(selected);
    Del_Alias->setEnabled(selected);
}

void TAlias_Open::PM2Popup()
{
    const TableMenuEnabling m = tableMenuEnabling(static_cast<int>(LB1->selectedItems().size()));
    Open1->setEnabled(m.open && canOpenTables());
    C1->setEnabled(m.copy);
    S1->setEnabled(m.status && canOpenStatus());
    N2->setEnabled(m.index && canOpenIndex());
    Print1->setEnabled(m.print);
    R1->setEnabled(m.refresh);
    N10->setEnabled(m.rename);
    Delete1->setEnabled(m.remove);
}

void TAlias_Open::PM3Popup()
{
    const bool any = !LB2->selectedItems().isEmpty();
    Open2->setEnabled(any && canOpenProcedures());
    SapCpy->setEnabled(any);
    Print2->setEnabled(any); // enabled with the others; it has no command
    Refresh2->setEnabled(any);
}

void TAlias_Open::runGuarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        shell::showError(this, QString::fromStdString(e.what()));
    }
}

QStringList TAlias_Open::selectedNames(QListWidget* list) const
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            names << list->item(i)->text();
    return names;
}

QString TAlias_Open::currentTable() const
{
    // Rename and delete act on what the user sees selected; the focus item can sit on
    // another, unselected name after a Ctrl-click.
    const QList<QListWidgetItem*> selected = LB1->selectedItems();
    if (selected.size() == 1)
        return selected.front()->text();
    const QListWidgetItem* it = LB1->currentItem();
    return it ? it->text() : QString();
}

} // namespace vemo::dbwindow
