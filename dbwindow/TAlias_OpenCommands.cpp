// The database window's commands on its lists and on aliases.
#include "dbwindow/TAlias_Open.h"

#include "dbwindow/NameLists.h"
#include "dbwindow/TCreate_Alias.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

namespace vemo::dbwindow {

// --- clipboard

void TAlias_Open::TblCpy_Click()
{
    QApplication::clipboard()->setText(quotedNameList(selectedNames(LB1), shell::settings().quotation));
}

void TAlias_Open::SapCpyClick()
{
    QApplication::clipboard()->setText(quotedNameList(selectedNames(LB2), shell::settings().quotation));
}

// --- refreshing

void TAlias_Open::Refresh_Click()
{
    Set_TableList();
    Set_SAPList();
    focusActiveList();
}

void TAlias_Open::Refresh1_Click()
{
    const QString alias = CB1->currentText();
    Set_Alias();
    selectAlias(alias);
    if (aliasSelected())
        CB1Change();
}

void TAlias_Open::restartSession()
{
    const QString alias = CB1->currentText();
    session_.close();
    session_.open();
    Set_Alias();
    LB1->clear();
    Set_TableList();
    Set_SAPList();
    selectAlias(alias);
    if (aliasSelected())
        CB1Change();
}

void TAlias_Open::N11Click()
{
    restartSession();
}

// --- rename and delete

void TAlias_Open::fDbiRenameTable(engine::Table& table, const QString& newName, bool reopen)
{
    if (!table.isOpen())
        throw engine::EngineError(engine::ErrGeneral, "テーブルがオープンできません。");
    if (!table.exclusive())
        throw engine::EngineError(engine::ErrExclusiveRequired,
                                  "この操作にはテーブルの排他使用が必要です。");
    table.close();
    table.renameTable(newName.toStdString());
    if (reopen) {
        table.setTableName(newName.toStdString());
        table.open();
    }
}

void TAlias_Open::N10Click()
{
    const QString oldName = currentTable();
    if (oldName.isEmpty())
        return;
    const auto answer = shell::inputBox(this, QStringLiteral("リネーム[") + oldName + u']',
                                        QStringLiteral("新しいテーブル名を入力して下さい"), oldName);
    if (!answer || *answer == oldName)
        return;
    Table1->close();
    Table1->setExclusive(true);
    Table1->setDatabaseName(selectedAlias().toStdString());
    Table1->setTableName(oldName.toStdString());
    try {
        Table1->open();
        fDbiRenameTable(*Table1, *answer, false);
    } catch (...) {
        Table1->close();
        Table1->setExclusive(false);
        throw;
    }
    // Shared with deletion: later users of this dataset must not inherit exclusive use.
    Table1->setExclusive(false);
    Set_TableList();
}

void TAlias_Open::Delete1Click()
{
    const QString name = currentTable();
    if (name.isEmpty())
        return;
    if (!shell::confirm(this, u'[' + name + QStringLiteral("]削除しますか？")))
        return;
    Table1->close();
    Table1->setDatabaseName(selectedAlias().toStdString());
    Table1->setTableName(name.toStdString());
    Table1->deleteTable();
    Set_TableList();
}

// --- aliases

void TAlias_Open::AEDIT_Click(int tag)
{
    TCreate_Alias dialog(session_, this);
    dialog.setMode(tag);
    if (tag == 1)
        dialog.ED01->setText(selectedAlias());
    if (onAliasDialog)
        onAliasDialog(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::vector<std::string> params = dialog.parameterLines();
    const std::string name = dialog.ED01->text().toStdString();
    if (tag == 0)
        session_.addAlias(name, dialog.CB01->currentText().toStdString(), params);
    else
        session_.modifyAlias(name, params);
    if (!dialog.CHB1->isChecked())
        session_.saveConfig();
    restartSession();
}

void TAlias_Open::Del_AliasClick()
{
    const QString alias = selectedAlias();
    if (!shell::confirm(this, QStringLiteral("ｴﾘｱｽ「") + alias + QStringLiteral("」を削除します。よろしいですか？")))
        return;
    session_.deleteAlias(alias.toStdString());
    session_.saveConfig();
    restartSession();
}

} // namespace vemo::dbwindow
