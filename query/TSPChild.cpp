#include "query/TSPChild.h"

#include "query/SPTexts.h"
#include "query/TComboGrid.h"
#include "query/TComboInplaceEdit.h"

#include "engine/dataset/StoredProc.h"
#include "engine/session/Session.h"
#include "shell/Routines.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/RestoreRecords.h"
#include "shell/TMainForm.h"

#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace vemo::query {

namespace {
constexpr int kFixedWidths = 93 + 47 + 96;
}

TSPChild::TSPChild(QWidget* parent) : TSPChild(engine::Session::global(), parent) {}

TSPChild::TSPChild(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), SP1_(std::make_unique<engine::StoredProc>(session))
{
    resize(360, 240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* p1 = new QVBoxLayout(Panel1);
    p1->setContentsMargins(0, 0, 0, 0);
    p1->setSpacing(0);
    TB1 = new QToolBar(Panel1);
    TOB1 = TB1->addAction(style()->standardIcon(QStyle::SP_MediaPlay), QString(), this, &TSPChild::TOB1Click);
    TOB1->setObjectName(QStringLiteral("TOB1"));
    TOB1->setToolTip(QStringLiteral("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬを実行します。"));
    TOB1->setStatusTip(TOB1->toolTip());
    p1->addWidget(TB1);
    ScrollBox1 = new QScrollArea(Panel1);
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    p1->addWidget(ScrollBox1, 1);
    layout->addWidget(Panel1, 1);

    CBG1 = new TComboGrid(ScrollBox1);
    CBG1->setObjectName(QStringLiteral("CBG1"));
    CBG1->setToolTip(QStringLiteral("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬのﾊﾟﾗﾒｰﾀを入力/出力します。"));
    QFont gf(QStringLiteral("ＭＳ ゴシック"));
    gf.setPixelSize(13);
    CBG1->setFont(gf);
    CBG1->setColumnCount(4);
    CBG1->setRowCount(2);
    CBG1->setFixedRows(1);
    CBG1->setFixedCols(0);
    CBG1->horizontalHeader()->setDefaultSectionSize(60);
    CBG1->setDefaultRowHeight(17);
    CBG1->setEditingOption(true);
    CBG1->setAlwaysShowEditor(true);
    const int widths[] = {93, 47, 96, 78};
    const QString titles[] = {QStringLiteral(" Param "), QStringLiteral("I/O"), QStringLiteral("Type"),
                              QStringLiteral("Value")};
    for (int c = 0; c < 4; ++c) {
        CBG1->setColumnWidth(c, widths[c]);
        CBG1->setCells(c, 0, titles[c]);
        TCellKind& k = CBG1->cellKind(c);
        k.CanEdit = c == 3;
        k.setTitleAlignment(18);
        k.setCellAlignment(c == 1 ? 18 : 17);
    }
    // The design's placeholders; the first paint replaces or clears them.
    CBG1->setCells(0, 1, QStringLiteral("ABCDEFGH"));
    CBG1->setCells(1, 1, QStringLiteral("IN/OUT"));
    CBG1->setCells(2, 1, QStringLiteral("自動ｲﾝｸﾘﾒﾝﾄ型"));
    CBG1->setContextMenuPolicy(Qt::CustomContextMenu);
    CBG1->hide();
    ScrollBox1->setWidget(CBG1);

    Panel2 = new QWidget(this);
    auto* p2 = new QVBoxLayout(Panel2);
    p2->setContentsMargins(0, 0, 0, 0);
    SB1 = new QStatusBar(Panel2);
    p2->addWidget(SB1);
    layout->addWidget(Panel2);

    Edit1 = new QMenu(QStringLiteral("編集(&E)"), this);
    Edit1->menuAction()->setObjectName(QStringLiteral("Edit1"));
    Edit1->menuAction()->setStatusTip(QStringLiteral("編集操作に関するｺﾏﾝﾄﾞ"));
    addEditItems(Edit1, Cut2, Copy2, Paste2, Delete1);
    PM1 = new QMenu(this);
    addEditItems(PM1, Cut1, Copy1, Paste1, Delete2);
    connect(CBG1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PM1->popup(CBG1->viewport()->mapToGlobal(p)); });

    Panel1->installEventFilter(this);
    CBG1->installEventFilter(this);
    // Column 3 keeps the width of the panel less the other columns, as the grid draws.
    connect(CBG1, &TComboGrid::OnDrawCell, this, [this] { Panel_Resize(); });
}

TSPChild::~TSPChild() = default;

void TSPChild::addEditItems(QMenu* menu, QAction*& cut, QAction*& copy, QAction*& paste, QAction*& del)
{
    cut = menu->addAction(QStringLiteral("切り取り(&T)"), this, &TSPChild::Cut_Click);
    cut->setStatusTip(QStringLiteral("文字列を切り取ります"));
    copy = menu->addAction(QStringLiteral("ｺﾋﾟｰ(&C)"), this, &TSPChild::Copy_Click);
    copy->setStatusTip(QStringLiteral("文字列をｺﾋﾟｰします"));
    paste = menu->addAction(QStringLiteral("貼り付け(&P)"), this, &TSPChild::Paste_Click);
    paste->setStatusTip(QStringLiteral("文字列を貼り付けます"));
    del = menu->addAction(QStringLiteral("削除(&D)"), this, &TSPChild::Delete_Click);
    del->setStatusTip(QStringLiteral("文字列を削除します"));
}

QString TSPChild::captionFor(const QString& alias, const QString& procedure)
{
    return QStringLiteral("Stored Procedure Window - [") + (alias.isEmpty() ? QString() : alias + QLatin1Char(':'))
           + procedure + QLatin1Char(']');
}

QList<shell::ChildWindow::MenuGroup> TSPChild::menuGroups() const
{
    return {{Edit1, 2}};
}

void TSPChild::firstPaint()
{
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        setFont(f);
    }
    Set_Param();
}

void TSPChild::Set_Param()
{
    CBG1->discardEdit();
    CBG1->setRowCount(2);
    const int count = SP1_->paramCount();
    CBG1->setVisible(count > 0);
    for (int i = 0; i < count; ++i) {
        const engine::ProcParam& p = SP1_->param(i);
        const int row = CBG1->rowCount() - 1;
        CBG1->setCells(0, row, QString::fromStdString(p.name));
        CBG1->setCells(1, row, directionText(p.direction));
        CBG1->setCells(2, row, procTypeText(engine::typeCode(p.type)));
        CBG1->setCells(3, row, QString());
        CBG1->setRowCount(row + 2);
    }
    if (CBG1->rowCount() > 2) {
        CBG1->setRowCount(CBG1->rowCount() - 1);
    } else {
        for (int c = 0; c < 4; ++c)
            CBG1->setCells(c, 1, QString());
    }
    Panel_Resize();
}

void TSPChild::Panel_Resize()
{
    const int want = std::max(0, Panel1->width() - kFixedWidths - 8);
    if (CBG1->columnWidth(3) != want)
        CBG1->setColumnWidth(3, want);
}

bool TSPChild::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == Panel1 && e->type() == QEvent::Resize)
        Panel_Resize();
    else if (watched == CBG1 && e->type() == QEvent::FocusIn)
        CBG1->setCurrentCell(std::max(1, CBG1->currentRow()), 3); // Col_Move
    return shell::ChildWindow::eventFilter(watched, e);
}

void TSPChild::TOB1Click()
{
    CBG1->commitEdit();
    try {
        for (int row = 1; row < CBG1->rowCount(); ++row) {
            const QString name = CBG1->Cells(0, row);
            if (CBG1->Cells(1, row).left(2) == QStringLiteral("IN") && !name.isEmpty())
                SP1_->setParamText(name.toStdString(), CBG1->Cells(3, row).toStdString());
        }
        SP1_->execute();
        Get_Param();
    } catch (const std::exception& e) {
        // The values the user typed stay in their cells.
        shell::showError(this, QString::fromUtf8(e.what()));
        return;
    }
    if (SP1_->lastRunGaveNoRow()) {
        // A set-returning function that found nothing: said so, rather than empty values
        // that look like nulls.
        shell::messageBox(this, QStringLiteral("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬは行を返しませんでした。出力パラメータに値はありません。"),
                          QStringLiteral("終了"), QMessageBox::Warning);
        return;
    }
    shell::messageBox(this, QStringLiteral("ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬの実行が完了しました。"), QStringLiteral("終了"),
                      QMessageBox::Warning);
}

void TSPChild::Get_Param()
{
    if (SP1_->paramCount() == 0)
        return;
    CBG1->discardEdit();
    for (int row = 1; row < CBG1->rowCount(); ++row) {
        const QString name = CBG1->Cells(0, row);
        if (!name.isEmpty())
            CBG1->setCells(3, row, QString::fromStdString(SP1_->paramText(name.toStdString())));
    }
}

void TSPChild::Cut_Click()
{
    if (TComboInplaceEdit* e = CBG1->inplaceEditor())
        e->cut();
}

void TSPChild::Copy_Click()
{
    if (TComboInplaceEdit* e = CBG1->inplaceEditor())
        e->copy();
}

void TSPChild::Paste_Click()
{
    if (TComboInplaceEdit* e = CBG1->inplaceEditor())
        e->paste();
}

void TSPChild::Delete_Click()
{
    if (TComboInplaceEdit* e = CBG1->inplaceEditor())
        e->del();
}

bool TSPChild::closeQuery()
{
    if (shell::restoreEnabled(shell::RestoreKind::StoredProc))
        shell::writeRestoreRecord(shell::RestoreKind::StoredProc, QString::fromStdString(SP1_->databaseName()),
                                  QString::fromStdString(SP1_->procedureName()));
    return true;
}

void TSPChild::closeHandler()
{
    shell::deleteRestoreRecord(shell::RestoreKind::StoredProc, QString::fromStdString(SP1_->databaseName()),
                               QString::fromStdString(SP1_->procedureName()));
}

TSPChild* openStoredProcWindow(engine::Session& session, const QString& alias, const QString& procedure)
{
    auto w = std::make_unique<TSPChild>(session, shell::g_childOwner);
    w->setPersistence(1);
    w->SP1().setDatabaseName(alias.toStdString());
    w->SP1().setProcedureName(procedure.toStdString());
    w->SP1().prepare();
    w->setWindowTitle(TSPChild::captionFor(alias, procedure));
    TSPChild* child = w.release();
    if (shell::TMainForm* frame = shell::mainForm())
        frame->addChild(child);
    else
        child->show();
    return child;
}

} // namespace vemo::query
