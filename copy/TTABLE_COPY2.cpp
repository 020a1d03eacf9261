#include "copy/TTABLE_COPY2.h"

#include "copy/TableCopyRules.h"
#include "query/TCellKind.h"
#include "query/TComboGrid.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

namespace vemo::copy {

TTABLE_COPY2::TTABLE_COPY2(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("詳細設定"));
    setFixedSize(248, 224);
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    setFont(f);
    auto check = [this](const QString& caption, const QString& hint, int y) {
        auto* c = new QCheckBox(caption, this);
        c->setToolTip(hint);
        c->setGeometry(8, y, 232, 17);
        return c;
    };
    CHB1 = check(QStringLiteral("変更されたﾚｺｰﾄﾞを報告する"), QStringLiteral("変更されたﾚｺｰﾄﾞを「Changed.DB」に保存するか設定します。"), 6);
    CHB2 = check(QStringLiteral("ｷｰ違反ﾚｺｰﾄﾞを報告する"), QStringLiteral("ｷｰ違反のﾚｺｰﾄﾞを「KeyViol.DB」に保存するか設定します。"), 24);
    CHB3 = check(QStringLiteral("問題のあるﾚｺｰﾄﾞを報告する"), QStringLiteral("問題のあるﾚｺｰﾄﾞを「Problem.DB」に保存するか設定します。"), 42);
    CBG1 = new query::TComboGrid(this);
    CBG1->setGeometry(8, 62, 232, 126);
    CBG1->setToolTip(QStringLiteral("転送元のﾌｨｰﾙﾄﾞと転送先のﾌｨｰﾙﾄﾞをﾏｯﾋﾟﾝｸﾞします。"));
    CBG1->setColCount(3);
    CBG1->setRowCount(20);
    CBG1->setFixedCols(0);
    CBG1->setFixedRows(1);
    CBG1->setDefaultRowHeight(17);
    CBG1->setColumnWidth(0, 100);
    CBG1->setColumnWidth(1, 16);
    CBG1->setColumnWidth(2, 100);
    CBG1->setAlwaysShowEditor(true);
    CBG1->setEditingOption(true);
    CBG1->cellKind(0).Kind = query::KindDropDown;
    CBG1->cellKind(1).Kind = query::KindButton;
    CBG1->cellKind(1).setItems(QStringList{QStringLiteral("＞")});
    CBG1->cellKind(2).Kind = query::KindDropDown;
    CBG1->setCells(0, 0, QStringLiteral("転送元フィールド"));
    CBG1->setCells(2, 0, QStringLiteral("転送先フィールド"));
    connect(CBG1, &query::TComboGrid::OnGridBtnClick, this, &TTABLE_COPY2::CBG1GridBtnClick);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(168, 194, 72, 24);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TTABLE_COPY2::setFieldLists(const QStringList& sourceFields, const QStringList& destinationFields) {
    if (sourceFields.isEmpty()) {
        CBG1->setRowCount(2);
        CBG1->setCells(0, 1, QString());
        CBG1->setCells(2, 1, QString());
    } else {
        CBG1->setRowCount(static_cast<int>(sourceFields.size()) + 1);
        CBG1->cellKind(0).setItems(sourceFields);
    }
    CBG1->cellKind(2).setItems(destinationFields);
}

void TTABLE_COPY2::setMappingLines(const QStringList& lines) {
    for (int i = 0; i < lines.size() && i + 1 < CBG1->RowCount(); ++i) {
        const auto [source, destination] = mappingCells(lines[i]);
        CBG1->setCells(0, i + 1, source);
        CBG1->setCells(2, i + 1, destination);
    }
}

QStringList TTABLE_COPY2::mappingLines() const {
    QStringList lines;
    for (int row = 1; row < CBG1->RowCount(); ++row) {
        const QString line = mappingLine(CBG1->Cells(0, row), CBG1->Cells(2, row));
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

void TTABLE_COPY2::CBG1GridBtnClick(QObject*, int col, int row) {
    if (col != 1)
        return;
    CBG1->setCells(2, row, CBG1->Cells(0, row));
    CBG1->setCurrentCell(row, 2);
}

void TTABLE_COPY2::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (CBG1->RowCount() > 1)
        CBG1->setCurrentCell(1, 1);
}

void TTABLE_COPY2::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        focusNextChild(); // Enter acts as Tab
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace vemo::copy
