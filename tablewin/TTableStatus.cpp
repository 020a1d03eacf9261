#include "tablewin/TTableStatus.h"

#include "tablewin/ListingGrid.h"
#include "tablewin/StatusCopy.h"

#include "engine/dataset/Table.h"
#include "engine/session/Session.h"
#include "query/TComboGrid.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/RestoreRecords.h"

#include <QApplication>
#include <QClipboard>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

namespace vemo::tablewin {

TTableStatus::TTableStatus(QWidget* parent) : TTableStatus(engine::Session::global(), parent) {}

TTableStatus::TTableStatus(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), Table1_(std::make_unique<engine::Table>(session))
{
    Table1_->setReadOnly(true);
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setPixelSize(13);
    setFont(f);
    resize(461, 369);
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    SG1 = new query::TComboGrid(this);
    SG1->setObjectName(QStringLiteral("SG1"));
    SG1->setToolTip(QStringLiteral("ﾃｰﾌﾞﾙ情報です。"));
    SG1->setDefaultRowHeight(17);
    SG1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    SG1->setColumnCount(0);
    SG1->setRowCount(0);
    SG1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(SG1);

    Edit1 = new QMenu(QStringLiteral("編集(&E)"), this);
    Edit1->menuAction()->setObjectName(QStringLiteral("Edit1"));
    Copy1 = Edit1->addAction(QStringLiteral("ｺﾋﾟｰ(&C)"), this, &TTableStatus::Copy1Click);
    Copy1->setObjectName(QStringLiteral("Copy1"));
    Copy1->setStatusTip(QStringLiteral("範囲指定された項目をｸﾘｯﾌﾟﾎﾞｰﾄﾞに吐き出します"));
    Copy1->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    Copy1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(Copy1);
    KL1 = Edit1->addAction(QStringLiteral("すべてを選択(&L)"), this, &TTableStatus::KL1Click);
    KL1->setObjectName(QStringLiteral("KL1"));
    KL1->setStatusTip(QStringLiteral("すべての範囲を選択します"));

    PopupMenu1 = new QMenu(this);
    Copy2 = PopupMenu1->addAction(QStringLiteral("ｺﾋﾟｰ(&C)"), this, &TTableStatus::Copy1Click);
    Copy2->setObjectName(QStringLiteral("Copy2"));
    Copy2->setStatusTip(QStringLiteral("選択項目をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします。"));
    Copy2->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    N2 = PopupMenu1->addAction(QStringLiteral("すべてを選択(&L)"), this, &TTableStatus::KL1Click);
    N2->setObjectName(QStringLiteral("N2"));
    N2->setStatusTip(QStringLiteral("表のすべての項目を選択します。"));
    connect(SG1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->popup(SG1->viewport()->mapToGlobal(p)); });
}

TTableStatus::~TTableStatus() = default;

QString TTableStatus::captionFor(const QString& alias, const QString& table)
{
    return QStringLiteral("ﾃｰﾌﾞﾙ情報 - [") + (alias.isEmpty() ? QString() : alias + QLatin1Char(':')) + table
           + QLatin1Char(']');
}

QList<shell::ChildWindow::MenuGroup> TTableStatus::menuGroups() const
{
    return {{Edit1, 2}};
}

void TTableStatus::firstPaint()
{
    // The engine's error box runs an event loop of its own: not from inside the paint.
    QTimer::singleShot(0, this, [this] { FormPaint(); });
}

void TTableStatus::FormPaint()
{
    int fields = 0;
    try {
        fields = fillListingGrid(*Table1_, *SG1);
    } catch (const std::exception& e) {
        shell::showError(this, QString::fromUtf8(e.what()));
        return; // the grid stays empty
    }
    SG1->setFixedRows(1);
    SG1->setFixedCols(1);
    setClientWidth(fields >= 14 ? 381 : 365);
}

void TTableStatus::setClientWidth(int width)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        const QMargins m = sub->contentsMargins();
        sub->resize(width + m.left() + m.right(), sub->height());
    } else {
        resize(width, height());
    }
}

void TTableStatus::KL1Click()
{
    const int last = SG1->rowCount() - 1;
    if (last < 1 || SG1->columnCount() < 5)
        return;
    SG1->clearSelection();
    SG1->setRangeSelected(QTableWidgetSelectionRange(1, 1, last, 4), true);
}

std::string TTableStatus::selectionText() const
{
    const QList<QTableWidgetSelectionRange> ranges = SG1->selectedRanges();
    if (ranges.isEmpty())
        return {};
    // The selection is one rectangle; its bounds span every selected range.
    int top = ranges.front().topRow(), bottom = ranges.front().bottomRow();
    int left = ranges.front().leftColumn(), right = ranges.front().rightColumn();
    for (const auto& r : ranges) {
        top = std::min(top, r.topRow());
        bottom = std::max(bottom, r.bottomRow());
        left = std::min(left, r.leftColumn());
        right = std::max(right, r.rightColumn());
    }
    std::vector<engine::ListingRow> cells(SG1->rowCount());
    for (int r = 0; r < SG1->rowCount(); ++r)
        for (int c = 0; c < engine::kListingColumns && c < SG1->columnCount(); ++c)
            cells[r][c] = SG1->Cells(c, r).toStdString();
    return statusCopyText(cells, left, top, right, bottom, shell::settings().quotation);
}

void TTableStatus::Copy1Click()
{
    QClipboard* clip = QApplication::clipboard();
    clip->clear();
    clip->setText(QString::fromStdString(selectionText()));
}

bool TTableStatus::closeQuery()
{
    if (shell::restoreEnabled(shell::RestoreKind::Status))
        shell::writeRestoreRecord(shell::RestoreKind::Status, QString::fromStdString(Table1_->databaseName()),
                                  QString::fromStdString(Table1_->tableName()));
    return true;
}

void TTableStatus::closeHandler()
{
    shell::deleteRestoreRecord(shell::RestoreKind::Status, QString::fromStdString(Table1_->databaseName()),
                               QString::fromStdString(Table1_->tableName()));
}

} // namespace vemo::tablewin
