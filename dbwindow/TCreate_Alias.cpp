#include "dbwindow/TCreate_Alias.h"

#include "dbwindow/NameLists.h"
#include "engine/session/Session.h"
#include "query/TComboGrid.h"
#include "shell/Prompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vemo::dbwindow {

namespace {
// The parameter grid's columns: two plain text columns under their headings.
const query::ComboGridDescription& parameterGrid()
{
    static const query::ComboGridDescription grid{
        {{0, 0, QStringLiteral("パラメータ")}, {1, 0, QStringLiteral("値")}},
        {query::CellKindEntry{}, query::CellKindEntry{}}};
    return grid;
}
} // namespace

TCreate_Alias::TCreate_Alias(engine::Session& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      session_(session)
{
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setPixelSize(12);
    setFont(f);
    setFixedSize(385, 229);

    Label1 = new QLabel(QStringLiteral("ｴﾘｱｽ名   "), this);
    Label1->setGeometry(8, 10, 80, 20);
    ED01 = new QLineEdit(this);
    ED01->setGeometry(90, 8, 287, 22);
    ED01->setToolTip(QStringLiteral("ｴﾘｱｽ名です"));
    Label2 = new QLabel(QStringLiteral("ﾄﾞﾗｲﾊﾞ名 "), this);
    Label2->setGeometry(8, 36, 80, 20);
    CB01 = new QComboBox(this);
    CB01->setGeometry(90, 34, 287, 22);
    CB01->setToolTip(QStringLiteral("ﾄﾞﾗｲﾊﾞ名です"));
    connect(CB01, &QComboBox::activated, this, [this] {
        try {
            CB01Change();
        } catch (const std::exception& e) {
            shell::showError(this, QString::fromStdString(e.what()));
        }
    });

    CBG1 = new query::TComboGrid(this);
    CBG1->setGeometry(8, 62, 369, 130);
    CBG1->setToolTip(QStringLiteral("ﾄﾞﾗｲﾊﾞのﾊﾟﾗﾒｰﾀを設定します"));
    CBG1->setColCount(2);
    CBG1->setFixedCols(0);
    CBG1->setFixedRows(1);
    CBG1->setDefaultRowHeight(16);
    CBG1->setRowCount(20);
    CBG1->setColumnWidth(0, 184);
    CBG1->setColumnWidth(1, 154);
    CBG1->setEditingOption(true);
    CBG1->setAlwaysShowEditor(true);
    CBG1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    CBG1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CBG1->setDescription(parameterGrid());

    CHB1 = new QCheckBox(QStringLiteral("ｴﾘｱｽ情報をConfigﾌｧｲﾙに保存しない"), this);
    CHB1->setGeometry(8, 200, 220, 22);
    CHB1->setToolTip(QStringLiteral("ｴﾘｱｽ情報をConfigﾌｧｲﾙに保存するか設定します"));
    Button2 = new QPushButton(QStringLiteral("OK"), this);
    Button2->setGeometry(228, 199, 72, 25);
    Button2->setDefault(true);
    Button1 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    Button1->setGeometry(305, 199, 72, 25);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

void TCreate_Alias::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (shown_)
        return;
    shown_ = true;
    try {
        FormShow();
    } catch (const std::exception& ex) {
        shell::showError(this, QString::fromStdString(ex.what()));
    }
}

void TCreate_Alias::FormShow()
{
    CB01->clear();
    for (const std::string& d : session_.driverNames())
        CB01->addItem(QString::fromStdString(d));
    CB01->setCurrentIndex(-1);
    if (mode_ == 0) {
        setWindowTitle(QStringLiteral("ｴﾘｱｽの追加"));
        ED01->setReadOnly(false);
        CB01->setEnabled(true);
    } else {
        setWindowTitle(QStringLiteral("ｴﾘｱｽの編集"));
        ED01->setReadOnly(true);
        CB01->setEnabled(false);
        const std::string alias = ED01->text().toStdString();
        CB01->setCurrentIndex(CB01->findText(QString::fromStdString(session_.aliasDriver(alias)),
                                             Qt::MatchExactly | Qt::MatchCaseSensitive));
        fillParameters(session_.aliasParams(alias));
    }
    CBG1->setCurrentCell(std::max(CBG1->currentRow(), 1), 1);
}

void TCreate_Alias::CB01Change()
{
    if (CB01->currentIndex() < 0)
        return;
    fillParameters(session_.driverDefaults(CB01->currentText().toStdString()));
    CBG1->setCurrentCell(std::max(CBG1->currentRow(), 1), 1);
}

void TCreate_Alias::fillParameters(const std::vector<std::string>& lines)
{
    // An edit open on the old rows belongs to them, not to the new ones.
    CBG1->discardEdit();
    CBG1->clearContents();
    CBG1->setRowCount(std::max<int>(2, static_cast<int>(lines.size()) + 1));
    CBG1->setCellData(parameterGrid().CellData);
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto [name, value] = splitParamLine(lines[i]);
        CBG1->setCells(0, static_cast<int>(i) + 1, name);
        CBG1->setCells(1, static_cast<int>(i) + 1, value);
    }
}

std::vector<std::string> TCreate_Alias::parameterLines() const
{
    CBG1->commitEdit();
    std::vector<std::pair<QString, QString>> rows;
    for (int r = 1; r < CBG1->RowCount(); ++r)
        rows.emplace_back(CBG1->Cells(0, r), CBG1->Cells(1, r));
    return aliasParamLines(rows);
}

} // namespace vemo::dbwindow
