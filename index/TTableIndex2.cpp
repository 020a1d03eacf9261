#include "index/TTableIndex2.h"

#include "index/Embossed.h"
#include "index/IndexFields.h"

#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/Routines.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vemo::index {

QString TTableIndex2::inputDatabase;
QString TTableIndex2::inputTable;
QString TTableIndex2::chosenIndex;
bool TTableIndex2::firstIndexChosen = false;

namespace {

// Opens the input table for the length of one read and closes it again, even on errors.
struct OpenTable {
    engine::Table table;
    explicit OpenTable(engine::Session& s) : table(s)
    {
        table.setDatabaseName(TTableIndex2::inputDatabase.toStdString());
        table.setTableName(TTableIndex2::inputTable.toStdString());
        table.setReadOnly(true);
        table.open();
    }
    ~OpenTable() { table.close(); }
};

} // namespace

TTableIndex2::TTableIndex2(QWidget* parent) : TTableIndex2(engine::Session::global(), parent) {}

TTableIndex2::TTableIndex2(engine::Session& session, QWidget* parent) : QDialog(parent), session_(session)
{
    setWindowTitle(QStringLiteral("ｲﾝﾃﾞｯｸｽ変更      "));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(200, 224);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    menuBar_ = new QMenuBar(this);
    QMenu* edit = menuBar_->addMenu(QStringLiteral("編集(&E)"));
    Copy1 = edit->addAction(QStringLiteral("ｲﾝﾃﾞｯｸｽﾌｨｰﾙﾄﾞ名をｺﾋﾟｰ(&C)"), this, &TTableIndex2::C1Click);
    Copy1->setObjectName(QStringLiteral("Copy1"));
    Copy1->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    Copy1->setStatusTip(QStringLiteral("ｲﾝﾃﾞｯｸｽﾌｨｰﾙﾄﾞ名をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします。"));
    connect(edit, &QMenu::aboutToShow, this, &TTableIndex2::updateCopyEnabled); // Edit1Click
    layout->setMenuBar(menuBar_);

    auto* panel1 = new QWidget(this);
    panel1->setFixedHeight(58);
    embossed(panel1, QStringLiteral("IndexName:"), {7, 5}, {3, 2});
    embossed(panel1, QStringLiteral("KeyList:"), {9, 44}, {4, 41});
    CB1 = new QComboBox(panel1);
    CB1->setObjectName(QStringLiteral("CB1"));
    CB1->setToolTip(QStringLiteral("変更するｲﾝﾃﾞｯｸｽを選択します。"));
    CB1->setGeometry(3, 19, 186, 22);
    layout->addWidget(panel1);

    LB1 = new QListWidget(this);
    LB1->setObjectName(QStringLiteral("LB1"));
    LB1->setSelectionMode(QAbstractItemView::SingleSelection);
    LB1->setToolTip(QStringLiteral("選択したｲﾝﾃﾞｯｸｽの並びを表示します。"));
    LB1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(LB1, 1);

    PM2 = new QMenu(this);
    C1 = PM2->addAction(QStringLiteral("ｲﾝﾃﾞｯｸｽﾌｨｰﾙﾄﾞ名をｺﾋﾟｰ(&C)"), this, &TTableIndex2::C1Click);
    C1->setObjectName(QStringLiteral("C1"));
    C1->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    connect(LB1, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        updateCopyEnabled(); // PM2Popup
        PM2->exec(LB1->mapToGlobal(p));
    });

    auto* panel3 = new QWidget(this);
    panel3->setFixedHeight(27);
    auto* bl = new QHBoxLayout(panel3);
    bl->setContentsMargins(4, 3, 4, 3);
    QFont bf(QStringLiteral("ＭＳ ゴシック"));
    Button1 = new QPushButton(QStringLiteral("OK"), panel3);
    Button2 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), panel3);
    for (auto* b : {Button1, Button2}) {
        b->setFont(bf);
        b->setAutoDefault(false);
        bl->addWidget(b);
    }
    layout->addWidget(panel3);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(CB1, &QComboBox::currentIndexChanged, this, [this] { key_set(); }); // CB1Change
    connect(LB1, &QListWidget::itemSelectionChanged, this, &TTableIndex2::updateCopyEnabled);
    updateCopyEnabled();
}

void TTableIndex2::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TTableIndex2::FormShow()
{
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        CB1->setFont(f);
        LB1->setFont(f);
    }
    if (inputTable.isEmpty())
        return;
    try {
        std::vector<engine::IndexDef> indexes;
        {
            OpenTable t(session_);
            indexes = t.table.indexDefs();
        }
        const QSignalBlocker block(CB1);
        CB1->clear();
        LB1->clear();
        for (const auto& ix : indexes)
            CB1->addItem(ix.name.empty() ? kPrimaryLabel : QString::fromStdString(ix.name));
        if (CB1->count() > 0)
            CB1->setCurrentIndex(0);
    } catch (const std::exception& ex) {
        shell::showError(this, QString::fromUtf8(ex.what()));
        return;
    }
    if (CB1->count() > 0)
        key_set();
}

void TTableIndex2::key_set()
{
    if (inputTable.isEmpty())
        return;
    const int at = CB1->currentIndex();
    try {
        std::vector<engine::IndexDef> indexes;
        {
            OpenTable t(session_);
            indexes = t.table.indexDefs();
        }
        LB1->clear();
        if (at >= 0 && at < static_cast<int>(indexes.size()))
            for (const auto& name : splitIndexFields(indexes[at].fields))
                LB1->addItem(QString::fromStdString(name));
    } catch (const std::exception& ex) {
        shell::showError(this, QString::fromUtf8(ex.what()));
    }
    updateCopyEnabled();
}

void TTableIndex2::updateCopyEnabled()
{
    const bool selected = LB1->currentRow() >= 0 && !LB1->selectedItems().isEmpty();
    Copy1->setEnabled(selected);
    C1->setEnabled(selected);
}

void TTableIndex2::C1Click()
{
    const auto items = LB1->selectedItems();
    if (items.isEmpty())
        return;
    QApplication::clipboard()->setText(items.front()->text() + QStringLiteral("\r\n"));
}

void TTableIndex2::done(int r)
{
    // FormCloseQuery: the choice is recorded on OK and on cancel alike.
    chosenIndex = CB1->count() == 0 ? kNoKeyLabel : CB1->currentText();
    firstIndexChosen = CB1->count() > 0 && CB1->currentIndex() == 0;
    QDialog::done(r);
}

} // namespace vemo::index
