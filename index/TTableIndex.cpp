#include "index/TTableIndex.h"

#include "index/Embossed.h"
#include "index/IndexFields.h"

#include "engine/dataset/Table.h"
#include "engine/session/Session.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/RestoreRecords.h"
#include "shell/Routines.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

namespace vemo::index {

namespace {

// Reads the table's index definitions with the table open for that read only.
std::vector<engine::IndexDef> readIndexes(engine::Table& t)
{
    t.open();
    std::vector<engine::IndexDef> indexes;
    try {
        indexes = t.indexDefs();
    } catch (...) {
        t.close();
        throw;
    }
    t.close();
    return indexes;
}

} // namespace

TTableIndex::TTableIndex(QWidget* parent) : TTableIndex(engine::Session::global(), parent) {}

TTableIndex::TTableIndex(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), Table1_(std::make_unique<engine::Table>(session))
{
    Table1_->setReadOnly(true);
    setWindowTitle(QStringLiteral("キー情報"));
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setPixelSize(13);
    setFont(f);
    resize(200, 270);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(57);
    embossed(Panel1, QStringLiteral("IndexName:"), {6, 4}, {2, 1});
    embossed(Panel1, QStringLiteral("KeyList:"), {8, 43}, {3, 40});
    CB1 = new QComboBox(Panel1);
    CB1->setObjectName(QStringLiteral("CB1"));
    CB1->setToolTip(QStringLiteral("ｲﾝﾃﾞｯｸｽのﾘｽﾄです。"));
    CB1->setGeometry(0, 18, 200, 22);
    layout->addWidget(Panel1);

    LB1 = new QListWidget(this);
    LB1->setObjectName(QStringLiteral("LB1"));
    LB1->setSelectionMode(QAbstractItemView::MultiSelection);
    LB1->setToolTip(QStringLiteral("ｲﾝﾃﾞｯｸｽのﾌｨｰﾙﾄﾞの並びです。"));
    LB1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(LB1, 1);

    const QString caption = QStringLiteral("ｲﾝﾃﾞｯｸｽﾌｨｰﾙﾄﾞ名をｺﾋﾟｰ(&C)");
    const QString hint = QStringLiteral("ｲﾝﾃﾞｯｸｽﾌｨｰﾙﾄﾞ名をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします。");
    Edit1 = new QMenu(QStringLiteral("編集(&E)"), this);
    Edit1->menuAction()->setObjectName(QStringLiteral("Edit1"));
    Copy1 = Edit1->addAction(caption, this, &TTableIndex::TblCpy_Click);
    Copy1->setObjectName(QStringLiteral("Copy1"));
    PM2 = new QMenu(this);
    C1 = PM2->addAction(caption, this, &TTableIndex::TblCpy_Click);
    C1->setObjectName(QStringLiteral("C1"));
    for (QAction* a : {Copy1, C1}) {
        a->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
        a->setStatusTip(hint);
    }
    // Ctrl+C works while the window has the focus, whichever menu is merged.
    Copy1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(Copy1);
    connect(Edit1, &QMenu::aboutToShow, this, &TTableIndex::Menu_State);
    connect(PM2, &QMenu::aboutToShow, this, &TTableIndex::Menu_State);
    connect(LB1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PM2->popup(LB1->viewport()->mapToGlobal(p)); });
    // The shortcut must not copy an empty selection either.
    connect(LB1, &QListWidget::itemSelectionChanged, this, &TTableIndex::Menu_State);
    connect(CB1, &QComboBox::activated, this, [this] { key_set(); }); // CB1Change
    Menu_State();
}

TTableIndex::~TTableIndex() = default;

QString TTableIndex::captionFor(const QString& alias, const QString& table)
{
    return QStringLiteral("ｲﾝﾃﾞｯｸｽ情報 - [") + (alias.isEmpty() ? QString() : alias + QLatin1Char(':')) + table
           + QLatin1Char(']');
}

QList<shell::ChildWindow::MenuGroup> TTableIndex::menuGroups() const
{
    return {{Edit1, 2}};
}

void TTableIndex::showEvent(QShowEvent* e)
{
    shell::ChildWindow::showEvent(e);
    if (firstFill_)
        FormShow();
}

void TTableIndex::FormShow()
{
    forceWidth();
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        CB1->setFont(f);
        LB1->setFont(f);
    }
}

void TTableIndex::forceWidth()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        const QMargins m = sub->contentsMargins();
        sub->resize(200 + m.left() + m.right(), sub->height());
    } else {
        resize(200, height());
    }
}

void TTableIndex::paintEvent(QPaintEvent* e)
{
    shell::ChildWindow::paintEvent(e);
    // Engine work and its error box run event loops: after the paint, not inside it.
    if (firstFill_ && !filling_ && !Table1_->tableName().empty()) {
        filling_ = true;
        QTimer::singleShot(0, this, [this] { FormPaint(); });
    }
}

void TTableIndex::FormPaint()
{
    try {
        const std::vector<engine::IndexDef> indexes = readIndexes(*Table1_);
        CB1->clear();
        LB1->clear();
        for (const auto& ix : indexes)
            CB1->addItem(ix.name.empty() ? QStringLiteral("[主キー]") : QString::fromStdString(ix.name));
        if (!indexes.empty()) {
            CB1->setCurrentIndex(0);
            key_set();
        }
        firstFill_ = false;
    } catch (const std::exception& ex) {
        // The next paint tries again.
        shell::showError(this, QString::fromUtf8(ex.what()));
    }
    filling_ = false;
    Menu_State();
}

void TTableIndex::key_set()
{
    if (Table1_->tableName().empty())
        return;
    try {
        const std::vector<engine::IndexDef> indexes = readIndexes(*Table1_);
        LB1->clear();
        const int at = CB1->currentIndex();
        if (at >= 0 && at < static_cast<int>(indexes.size()))
            for (const std::string& name : splitIndexFields(indexes[at].fields))
                LB1->addItem(QString::fromStdString(name));
    } catch (const std::exception& ex) {
        shell::showError(this, QString::fromUtf8(ex.what()));
    }
    Menu_State();
}

void TTableIndex::Menu_State()
{
    const bool any = !LB1->selectedItems().isEmpty();
    Copy1->setEnabled(any);
    C1->setEnabled(any);
}

void TTableIndex::TblCpy_Click()
{
    QStringList names;
    for (int i = 0; i < LB1->count(); ++i)
        if (LB1->item(i)->isSelected())
            names << LB1->item(i)->text();
    if (names.isEmpty())
        return;
    QClipboard* clip = QApplication::clipboard();
    clip->clear();
    clip->setText(shell::quotedNameList(names, shell::settings().quotation));
}

void TTableIndex::resizeEvent(QResizeEvent* e)
{
    shell::ChildWindow::resizeEvent(e);
    CB1->setFixedWidth(Panel1->width());
}

bool TTableIndex::closeQuery()
{
    if (shell::restoreEnabled(shell::RestoreKind::Index))
        shell::writeRestoreRecord(shell::RestoreKind::Index, QString::fromStdString(Table1_->databaseName()),
                                  QString::fromStdString(Table1_->tableName()));
    return true;
}

void TTableIndex::closeHandler()
{
    shell::deleteRestoreRecord(shell::RestoreKind::Index, QString::fromStdString(Table1_->databaseName()),
                               QString::fromStdString(Table1_->tableName()));
}

} // namespace vemo::index
