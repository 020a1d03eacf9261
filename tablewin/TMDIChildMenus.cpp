// The table window's menus and the commands behind them.
#include "tablewin/TMDIChild.h"

#include "tablewin/DefinitionScript.h"
#include "tablewin/ImageEditor.h"
#include "tablewin/TDBGrid2.h"
#include "tablewin/TTableFilter.h"
#include "tablewin/TableModel.h"
#include "tablewin/TableText.h"

#include "engine/export/CsvExport.h"
#include "engine/dataset/Table.h"
#include "index/TTableIndex2.h"
#include "shell/AppState.h"
#include "shell/MenuItems.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextEdit>

namespace vemo::tablewin {

using engine::DataSetState;

namespace {

using shell::addMenuItem;
using shell::addMenuSeparator;

const QString kImeHint = QStringLiteral("ﾌｨｰﾙﾄﾞ編集時のIMEを｢%1｣に設定します");

} // namespace

void TMDIChild::buildMenus()
{
    auto imeMenu = [this](QMenu* parent, const char* name, std::array<const char*, 6> names) {
        QMenu* m = parent->addMenu(QStringLiteral("IMEﾓｰﾄﾞ(&I)"));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        addMenuItem(m, names[0], QStringLiteral("IMEを使用しない"), QStringLiteral("ﾌｨｰﾙﾄﾞ編集時にIMEを使用しません"),
             [this] { setImeModeAt(currentField_, ImeClose); });
        addMenuSeparator(m, names[0] == std::string("N7") ? "N7SEP" : "N10");
        const std::array<std::pair<const char*, int>, 5> modes{{{"全角ひらがな", ImeHira}, {"全角カタカナ", ImeKata},
                                                                {"全角ｱﾙﾌｧﾍﾞｯﾄ", ImeAlpha}, {"半角カタカナ", ImeSKata},
                                                                {"半角ｱﾙﾌｧﾍﾞｯﾄ", ImeSAlpha}}};
        for (size_t i = 0; i < modes.size(); ++i) {
            const QString caption = QString::fromUtf8(modes[i].first);
            const int code = modes[i].second;
            addMenuItem(m, names[i + 1], caption, kImeHint.arg(caption), [this, code] { setImeModeAt(currentField_, code); });
        }
        return m;
    };

    // The Edit menu and the popup share captions, hints and actions.
    auto editItems = [this](QMenu* m, std::array<const char*, 4> names) {
        addMenuItem(m, names[0], QStringLiteral("切り取り(&T)"), QStringLiteral("ﾃﾞｰﾀﾌｨｰﾙﾄﾞを切り取ります"), [this] { Cut2Click(); });
        addMenuItem(m, names[1], QStringLiteral("ｺﾋﾟｰ(&C)"), QStringLiteral("ﾃﾞｰﾀﾌｨｰﾙﾄﾞをｺﾋﾟｰします"), [this] { Copy2Click(); });
        addMenuItem(m, names[2], QStringLiteral("貼り付け(&P)"), QStringLiteral("ﾃﾞｰﾀﾌｨｰﾙﾄﾞを貼り付けます"), [this] { Paste2Click(); });
        addMenuItem(m, names[3], QStringLiteral("削除(&D)"), QStringLiteral("文字列を削除します"), [this] { Delete_Click(); });
    };
    const QString selAll = QStringLiteral("すべて選択(&A)"), selAllHint = QStringLiteral("文字列をすべて選択します。");
    const QString csv = QStringLiteral("ｶﾝﾏ区切りﾃｷｽﾄへｱｳﾄﾎﾟｰﾄ(&W)");
    const QString ref = QStringLiteral("ﾃｰﾌﾞﾙ内容のﾘﾌﾚｯｼｭ(&R)"), refHint = QStringLiteral("ﾃｰﾌﾞﾙの内容をﾘﾌﾚｯｼｭします。");

    Edit1 = new QMenu(QStringLiteral("編集(&E)"), this);
    Edit1->menuAction()->setObjectName(QStringLiteral("Edit1"));
    Edit1->menuAction()->setStatusTip(QStringLiteral("編集操作に関するｺﾏﾝﾄﾞ"));
    editItems(Edit1, {"Cut2", "Copy2", "Paste2", "Delete2"});
    addMenuSeparator(Edit1, "SEP4");
    addMenuItem(Edit1, "SelAll2", selAll, selAllHint, [this] { SelAll_Click(); });
    addMenuItem(Edit1, "CSV2", csv, {}, [this] { N14Click(); });
    addMenuSeparator(Edit1, "SEP5");
    addMenuItem(Edit1, "Ref2", ref, refHint, [this] { Refresh_Click(); });
    addMenuSeparator(Edit1, "SEP6");
    imeMenu(Edit1, "IME2", {"N7", "K5", "K6", "K7", "K8", "K9"});
    QAction* tr1 = Edit1->addAction(QStringLiteral("ｶﾝﾏ区切りﾃｷｽﾄをｲﾝﾎﾟｰﾄ(&R)"));
    tr1->setObjectName(QStringLiteral("TR1"));
    tr1->setVisible(false);

    T1 = new QMenu(QStringLiteral("ﾃｰﾌﾞﾙ(&T)"), this);
    T1->menuAction()->setObjectName(QStringLiteral("T1"));
    T1->menuAction()->setStatusTip(QStringLiteral("ﾃｰﾌﾞﾙ操作に関するｺﾏﾝﾄﾞ"));
    addMenuItem(T1, "X1", QStringLiteral("ｲﾝﾃﾞｯｸｽの設定(&X)"), QStringLiteral("ｲﾝﾃﾞｯｸｽを設定します"), [this] { X1Click(); });
    addMenuItem(T1, "F1", QStringLiteral("ﾌｨﾙﾀの設定(&F)"), QStringLiteral("ﾌｨﾙﾀを設定します"), [this] { F1Click(); });
    addMenuSeparator(T1, "N2");
    addMenuItem(T1, "K15", QString(), {}, [this] { K15Click(); });
    addMenuItem(T1, "KMode1", QStringLiteral("ﾃｰﾌﾞﾙ作成ﾙｰﾁﾝ(&Delphi)"),
         QStringLiteral("Delphiのﾃｰﾌﾞﾙ作成ﾙｰﾁﾝをｸﾘｯﾌﾟﾎﾞｰﾄﾞに吐き出します"), [this] { KMode_Click(0); });
    addMenuItem(T1, "KMode2", QStringLiteral("ﾃｰﾌﾞﾙ作成ﾙｰﾁﾝ(&C++Builder)"),
         QStringLiteral("C++Builderのﾃｰﾌﾞﾙ作成ﾙｰﾁﾝをｸﾘｯﾌﾟﾎﾞｰﾄﾞに吐き出します"), [this] { KMode_Click(1); });
    addMenuItem(T1, "KMode3", QStringLiteral("ﾃｰﾌﾞﾙ作成ﾙｰﾁﾝ(Inter&Base)"),
         QStringLiteral("InterBaseでのﾃｰﾌﾞﾙ作成ﾙｰﾁﾝをｸﾘｯﾌﾟﾎﾞｰﾄﾞに吐き出します"), [this] { KMode_Click(2); });

    R1 = new QMenu(QStringLiteral("ﾚｺｰﾄﾞ(&R)"), this);
    R1->menuAction()->setObjectName(QStringLiteral("R1"));
    R1->menuAction()->setStatusTip(QStringLiteral("ﾚｺｰﾄﾞ操作に関するｺﾏﾝﾄﾞ"));
    addMenuItem(R1, "KP1", QStringLiteral("前ﾚｺｰﾄﾞ(&P)"), QStringLiteral("前のﾚｺｰﾄﾞに移動します"), [this] { KP1Click(); });
    addMenuItem(R1, "KN1", QStringLiteral("次ﾚｺｰﾄﾞ(&N)"), QStringLiteral("次のﾚｺｰﾄﾞに移動します"), [this] { KN1Click(); });
    addMenuItem(R1, "KF1", QStringLiteral("先頭ﾚｺｰﾄﾞ(&F)"), QStringLiteral("ﾚｺｰﾄﾞの先頭に移動します"), [this] { KF1Click(); });
    addMenuItem(R1, "KL1", QStringLiteral("最終ﾚｺｰﾄﾞ(&L)"), QStringLiteral("ﾚｺｰﾄﾞの最後に移動します"), [this] { KL1Click(); });
    addMenuSeparator(R1, "N9");
    addAction(addMenuItem(R1, "KI1", QStringLiteral("ﾚｺｰﾄﾞの挿入(&I)"), QStringLiteral("ﾚｺｰﾄﾞを挿入します"),
                   [this] { KI1Click(); }, QKeySequence(Qt::Key_Insert)));
    addMenuItem(R1, "KA1", QStringLiteral("ﾚｺｰﾄﾞの追加(&A)"), QStringLiteral("ﾚｺｰﾄﾞを追加します"), [this] { KA1Click(); });
    addAction(addMenuItem(R1, "Delete1", QStringLiteral("ﾚｺｰﾄﾞの削除(&D)"), QStringLiteral("ﾚｺｰﾄﾞを削除します"),
                   [this] { Delete1Click(); }, QKeySequence(Qt::CTRL | Qt::Key_Delete)));
    addMenuSeparator(R1, "N5");
    addMenuItem(R1, "N13", QStringLiteral("ﾚｺｰﾄﾞの全削除"), QStringLiteral("表示されているすべてのﾚｺｰﾄﾞを削除します。"),
         [this] { N13Click(); });

    PM1 = new QMenu(this);
    PM1->setObjectName(QStringLiteral("PM1"));
    editItems(PM1, {"Cut1", "Copy1", "Paste1", "Delete3"});
    addMenuSeparator(PM1, "SEP1");
    addMenuItem(PM1, "SelAll1", selAll, selAllHint, [this] { SelAll_Click(); });
    addMenuItem(PM1, "CSV1", csv, {}, [this] { N14Click(); });
    addMenuSeparator(PM1, "SEP2");
    addMenuItem(PM1, "Ref1", ref, refHint, [this] { Refresh_Click(); });
    addMenuSeparator(PM1, "SEP3");
    imeMenu(PM1, "IME1", {"KIME1", "K14", "K13", "K12", "K11", "K10"});
    setK15Caption();
}

QList<shell::ChildWindow::MenuGroup> TMDIChild::menuGroups() const
{
    return {{Edit1, 2}, {T1, 3}, {R1, 4}};
}

QAction* TMDIChild::menuItem(const QString& name) const
{
    for (QMenu* m : {Edit1, T1, R1, PM1}) {
        if (m->menuAction()->objectName() == name)
            return m->menuAction();
        for (QAction* a : m->findChildren<QAction*>(QString(), Qt::FindChildrenRecursively))
            if (a->objectName() == name)
                return a;
        for (QAction* a : m->actions()) {
            if (a->objectName() == name)
                return a;
            if (a->menu())
                for (QAction* b : a->menu()->actions())
                    if (b->objectName() == name)
                        return b;
        }
    }
    return nullptr;
}

void TMDIChild::Menu_Mode()
{
    auto show = [this](std::initializer_list<const char*> names, bool on) {
        for (const char* n : names)
            if (QAction* a = menuItem(QString::fromLatin1(n)))
                a->setVisible(on);
    };
    if (gridFocused_) {
        show({"SEP1", "SEP2", "SEP3", "SEP4", "SEP5", "SEP6", "CSV1", "CSV2", "IME1", "IME2", "Ref1", "Ref2"}, true);
        show({"SelAll1", "SelAll2"}, false);
    } else {
        show({"SEP2", "SEP3", "SEP5", "SEP6", "IME1", "IME2", "CSV1", "CSV2", "Ref1", "Ref2"}, false);
        QWidget* f = QApplication::focusWidget();
        show({"SEP1", "SEP4", "SelAll1", "SelAll2"}, f == DBM1 || f == DBM2);
    }
    emit menusChanged();
}

void TMDIChild::setK15Caption()
{
    if (QAction* a = menuItem(QStringLiteral("K15")))
        a->setText(k15State_ == 1 ? QStringLiteral("ﾌｨｰﾙﾄﾞ名を通常形式にする")
                                  : QStringLiteral("ﾌｨｰﾙﾄﾞ名を'FIELD_?" "?'形式にする"));
}

// --- record commands: an edit in progress is posted first, as leaving a record does

void TMDIChild::KP1Click()
{
    if (postPending() && runGuarded([&] { table_->prior(); }))
        syncGrid();
}

void TMDIChild::KN1Click()
{
    if (postPending() && runGuarded([&] { table_->next(); }))
        syncGrid();
}

void TMDIChild::KF1Click()
{
    if (postPending() && runGuarded([&] { table_->first(); }))
        syncGrid();
}

void TMDIChild::KL1Click()
{
    if (postPending() && runGuarded([&] { table_->last(); }))
        syncGrid();
}

void TMDIChild::KI1Click()
{
    if (postPending() && runGuarded([&] { model_->beginInsert(); }))
        syncGrid();
}

void TMDIChild::KA1Click()
{
    if (postPending() && runGuarded([&] { model_->beginAppend(); }))
        syncGrid();
}

void TMDIChild::Delete1Click()
{
    storeEditorText();
    const bool ok = runGuarded([&] { model_->removeCurrent(); }); // an empty table raises the engine's error
    if (ok)
        afterWrite();
}

void TMDIChild::N13Click()
{
    if (!shell::confirm(this, QStringLiteral("ﾚｺｰﾄﾞをすべて削除しますか？")))
        return;
    if (!postPending())
        return;
    Table_Count(); // nothing may stay cached: the deletion writes straight to the table
    SB1->hide();
    PB1->setRange(0, 0); // busy: the records go in one pass
    PB1->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Every record that passes the filter goes; with no filter, every record.
    runGuarded([&] { table_->emptyTable(); });
    PB1->hide();
    PB1->setRange(0, 100);
    SB1->show();
    model_->reset();
    Table_Count();
    syncGrid();
}

void TMDIChild::Refresh_Click()
{
    if (postPending() && runGuarded([&] { table_->refresh(); })) {
        model_->reload();
        Table_Count();
        syncGrid();
    }
}

// --- clipboard commands

void TMDIChild::Cut2Click()
{
    if (gridFocused_)
        DBG1->CutCellText();
    QWidget* f = focusedEditor();
    if (f == DBI1)
        DBI1->cutPicture();
    else if (f == DBM1)
        DBM1->cut();
    else if (f == DBM2)
        DBM2->cut();
}

void TMDIChild::Copy2Click()
{
    if (gridFocused_)
        DBG1->CopyCellText();
    QWidget* f = focusedEditor();
    if (f == DBI1)
        DBI1->copyPicture();
    else if (f == DBM1)
        DBM1->copy();
    else if (f == DBM2)
        DBM2->copy();
}

void TMDIChild::Paste2Click()
{
    if (gridFocused_)
        DBG1->PasteCellText();
    QWidget* f = focusedEditor();
    if (f == DBI1)
        DBI1->pastePicture();
    else if (f == DBM1)
        DBM1->paste();
    else if (f == DBM2)
        DBM2->paste();
}

void TMDIChild::Delete_Click()
{
    if (gridFocused_)
        DBG1->ClearCellText();
    QWidget* f = focusedEditor();
    if (f == DBI1) {
        DBI1->cutPicture();
        QApplication::clipboard()->clear();
    } else if (f == DBM1) {
        DBM1->textCursor().removeSelectedText();
    } else if (f == DBM2) {
        DBM2->textCursor().removeSelectedText();
    }
}

void TMDIChild::SelAll_Click()
{
    QWidget* f = focusedEditor();
    if (f == DBM1)
        DBM1->selectAll();
    else if (f == DBM2)
        DBM2->selectAll();
}

// --- export, index, filter, naming mode, scripts

void TMDIChild::N14Click()
{
    const auto file = shell::saveFileName(
        this, QStringLiteral("ﾃｷｽﾄ形式ﾌｧｲﾙ(*.TXT)|*.TXT|CSV形式ﾌｧｲﾙ(*.CSV)|*.CSV|すべてのﾌｧｲﾙ(*.*)|*.*"),
        shell::settings().csvDir, QString::fromStdString(exportFileName(table_->tableName())), QStringLiteral("TXT"));
    if (!file)
        return;
    if (!postPending())
        return;
    SB1->hide();
    PB1->setValue(0);
    PB1->show();
    QElapsedTimer clock;
    clock.start();
    const bool ok = runGuarded([&] {
        const int64_t total = table_->recordCount();
        PB1->setRange(0, static_cast<int>(std::clamp<int64_t>(total, 1, INT32_MAX)));
        engine::exportCsv(*table_, file->toStdString(), [&](int64_t done, int64_t) {
            if (clock.elapsed() >= 50 || done == total) {
                clock.restart();
                PB1->setValue(static_cast<int>(std::min<int64_t>(done, PB1->maximum())));
                QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            }
            return true;
        });
    });
    // The bar goes away on failure too: the error box has told the user what happened.
    PB1->hide();
    SB1->show();
    if (ok)
        shell::messageBox(this, QStringLiteral("終了しました。"), QStringLiteral("確認"), QMessageBox::NoIcon);
}

void TMDIChild::X1Click()
{
    index::TTableIndex2::inputDatabase = QString::fromStdString(table_->databaseName());
    index::TTableIndex2::inputTable = QString::fromStdString(table_->tableName());
    int result = QDialog::Rejected;
    {
        index::TTableIndex2 dlg(session_, this);
        result = dlg.exec();
    }
    if (result != QDialog::Accepted || !postPending())
        return;
    QString label = index::TTableIndex2::chosenIndex;
    const std::string previous = table_->indexName();
    const std::string name = (label == index::TTableIndex2::kPrimaryLabel || label == index::TTableIndex2::kNoKeyLabel)
                                 ? std::string()
                                 : label.toStdString();
    if (index::TTableIndex2::firstIndexChosen)
        label = index::TTableIndex2::kPrimaryLabel;
    const bool ok = runGuarded([&] {
        table_->close();
        table_->setIndexName(name);
        table_->open();
    });
    if (ok) {
        setIndexLabel(label);
        return;
    }
    // The order could not be used: go back to the one the window had.
    runGuarded([&] {
        table_->close();
        table_->setIndexName(previous);
        table_->open();
    });
    if (!table_->isOpen())
        model_->reset(); // no rows of a table that is not there
}

void TMDIChild::F1Click()
{
    const QString answer = TTableFilter::run(this, QString::fromStdString(table_->filter()));
    if (answer == TTableFilter::kCancelMark || !postPending())
        return;
    const std::string oldText = table_->filter();
    const bool oldOn = table_->filtered();
    const bool ok = runGuarded([&] {
        if (answer.isEmpty()) {
            table_->setFiltered(false);
            table_->setFilter(std::string());
        } else {
            table_->setFilter(answer.toStdString());
            table_->setFiltered(true);
        }
    });
    if (!ok) {
        // A malformed filter leaves the previous one in force.
        try {
            table_->setFilter(oldText);
            table_->setFiltered(oldOn);
        } catch (const std::exception&) {
            table_->setFiltered(false);
        }
    }
    setStatusPanelText(5, table_->filtered() ? QStringLiteral("ON") : QStringLiteral("OFF"));
    model_->reset();
    Table_Count();
    if (model_->rowCount() > 0 && model_->columnCount() > 0)
        DBG1->setCurrentIndex(model_->index(0, std::min(currentField_, model_->columnCount() - 1)));
    syncGrid();
}

void TMDIChild::K15Click()
{
    k15State_ = k15State_ == 1 ? 0 : 1;
    setK15Caption();
    if (persistence() == 1)
        shell::writeSetting(shell::kRootKey, QStringLiteral("FIELDTYPE"), QString::number(k15State_));
}

void TMDIChild::KMode_Click(int kind)
{
    if (kind < 0 || kind > 2 || !postPending())
        return;
    std::string script;
    const bool ok = runGuarded([&] {
        script = definitionScript(*table_, static_cast<ScriptKind>(kind), k15State_);
    });
    if (!table_->isOpen())
        runGuarded([&] { table_->open(); });
    if (!ok)
        return;
    QClipboard* cb = QApplication::clipboard();
    cb->clear();
    cb->setText(QString::fromStdString(script));
}

} // namespace vemo::tablewin
