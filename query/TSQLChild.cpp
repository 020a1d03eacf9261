#include "query/TSQLChild.h"

#include "query/ParamCheck.h"
#include "query/TComboGrid.h"

#include "engine/dataset/Query.h"
#include "engine/export/CsvExport.h"
#include "engine/values/Codepage.h"
#include "engine/session/Session.h"
#include "shell/AppState.h"
#include "shell/MenuItems.h"
#include "shell/Prompt.h"
#include "shell/RestoreRecords.h"
#include "shell/Routines.h"
#include "tablewin/FieldPane.h"
#include "tablewin/ImageEditor.h"
#include "tablewin/ImeHints.h"
#include "tablewin/TDBGrid2.h"
#include "tablewin/TableModel.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTextEdit>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vemo::query {

using engine::DataSetState;

namespace {

using shell::addMenuItem;
using shell::addMenuSeparator;

const QString kSqlFilter = QStringLiteral(
    "ﾒﾀﾃﾞｰﾀﾌｧｲﾙ(*.DDL)|*.DDL|SQLﾌｧｲﾙ(*.SQL)|*.SQL|ﾃｷｽﾄ形式ﾌｧｲﾙ(*.TXT)|*.TXT|すべてのﾌｧｲﾙ(*.*)|*.*");
const QString kParamError = QStringLiteral("パラメータが設定されていないか､値が不正です");

} // namespace

TSQLChild::TSQLChild(QWidget* parent) : TSQLChild(engine::Session::global(), parent) {}

TSQLChild::TSQLChild(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), session_(session), query_(std::make_unique<engine::Query>(session))
{
    setAttribute(Qt::WA_DeleteOnClose);
    imeModes_.fill(1); // FormCreate
    buildLayout();
    buildMenus();
    connect(qApp, &QApplication::focusChanged, this, &TSQLChild::focusChanged);
    query_->afterPost = [this](engine::Table&) { QRY_Count(); };
    query_->afterDelete = [this](engine::Table&) { QRY_Count(); };
    query_->onUpdateError = [this](engine::Table&, const engine::EngineError& e, engine::UpdateKind) {
        // QRY1UpdateError: the conflict message; QRY_Count then drops every pending change.
        updateFailed_ = true;
        if (e.code() == engine::ErrUpdateConflict)
            shell::messageBox(this, QStringLiteral("他のユーザーとの競合により変更は更新されませんでした。"),
                              QStringLiteral("確認"), QMessageBox::Warning);
        else
            shell::showError(this, QString::fromUtf8(e.what()));
        return engine::UpdateAction::Abort;
    };
}

TSQLChild::~TSQLChild()
{
    // The widgets die after the query: nothing may reach it from their focus changes.
    disconnect(qApp, nullptr, this, nullptr);
    if (DBG1_)
        DBG1_->setModel(nullptr);
    query_->afterPost = nullptr;
    query_->afterDelete = nullptr;
    query_->onUpdateError = nullptr;
    query_->close();
}

engine::Query& TSQLChild::QRY1() const { return *query_; }

QString TSQLChild::captionFor(const QString& alias) { return QStringLiteral("SQL Window - [") + alias + QLatin1Char(']'); }

void TSQLChild::buildLayout()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));

    Panel1 = new QWidget(Splitter1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* left = new QVBoxLayout(Panel1);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    auto* TB1 = new QToolBar(Panel1);
    TB1->setObjectName(QStringLiteral("TB1"));
    auto tool = [&](const char* name, const QString& text, const QString& hint, std::function<void()> slot) {
        auto* b = new QToolButton(TB1);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setToolTip(hint);
        b->setStatusTip(hint);
        TB1->addWidget(b);
        connect(b, &QToolButton::clicked, this, [slot = std::move(slot)] { slot(); });
        return b;
    };
    tool("TOB5", QStringLiteral("開"), QStringLiteral("ﾒﾀﾃﾞｰﾀを開く"), [this] { TOB5Click(); });
    tool("TOB6", QStringLiteral("保"), QStringLiteral("ﾒﾀﾃﾞｰﾀを保存する"), [this] { TOB6Click(); });
    TB1->addSeparator();
    tool("TOB1", QStringLiteral("実"), QStringLiteral("ｸｴﾘｰを実行します。"), [this] { TOB1Click(); });
    tool("TOB2", QStringLiteral("閉"), QStringLiteral("開いているｸｴﾘｰを閉じます。"), [this] { TOB2Click(); });
    TB1->addSeparator();
    TOB4_ = tool("TOB4", QStringLiteral("書"), QStringLiteral("書き込みモードを試行します。"), [this] { TOB4Click(); });
    TOB4_->setCheckable(true);
    left->addWidget(TB1);

    auto* Splitter2 = new QSplitter(Qt::Vertical, Panel1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Memo1_ = new QPlainTextEdit(Splitter2);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1_->setToolTip(QStringLiteral("SQL文を入力します。"));
    Memo1_->setStatusTip(Memo1_->toolTip());
    connect(Memo1_, &QPlainTextEdit::textChanged, this, &TSQLChild::Memo1Change);

    CBG1_ = new TComboGrid(Splitter2);
    CBG1_->setObjectName(QStringLiteral("CBG1"));
    CBG1_->setToolTip(QStringLiteral("ﾊﾟﾗﾒｰﾀを設定します"));
    CBG1_->setStatusTip(CBG1_->toolTip());
    CBG1_->setColCount(3);
    CBG1_->setRowCount(2);
    CBG1_->setFixedRows(1);
    CBG1_->setFixedCols(0);
    CBG1_->setDefaultRowHeight(17);
    CBG1_->setEditingOption(true);
    CBG1_->setAlwaysShowEditor(true);
    CBG1_->setColumnSizing(true);
    CBG1_->setRangeSelection(true);
    QFont gridFont(QStringLiteral("ＭＳ ゴシック"));
    gridFont.setPixelSize(13);
    CBG1_->setFont(gridFont);
    const std::array<const char*, 3> titles{" Param ", "Type", "Value"};
    const std::array<int, 3> widths{75, 63, 86};
    for (int c = 0; c < 3; ++c) {
        CBG1_->setCells(c, 0, QString::fromLatin1(titles[c]));
        CBG1_->setColumnWidth(c, widths[c]);
        TCellKind& k = CBG1_->cellKind(c);
        k.setTitleAlignment(AlignHCenterBit | AlignVCenterBit);
        k.setCellAlignment(AlignLeftBit | AlignVCenterBit);
    }
    CBG1_->cellKind(0).CanEdit = false;
    CBG1_->cellKind(1).Kind = KindDropDown;
    CBG1_->cellKind(1).DropDownWidth = 58;
    CBG1_->cellKind(1).setItems(paramTypeNames());
    CBG1_->hide();
    connect(CBG1_, &TComboGrid::OnDrawCell, this, [this] { Panel_Resize(); });
    Splitter2->addWidget(Memo1_);
    Splitter2->addWidget(CBG1_);
    Splitter2->setSizes({108, 200});
    left->addWidget(Splitter2, 1);

    // The field pane starts one line high above the grid; the user may pull it open to see
    // a picture or a memo whole.
    auto* Panel4 = new QSplitter(Qt::Vertical, Splitter1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setChildrenCollapsible(false);
    Splitter3 = new tablewin::FieldPane(Panel4);
    Splitter3->setObjectName(QStringLiteral("Splitter3"));
    Splitter3->setMinimumHeight(1);
    Splitter3->setDataSet(query_.get());
    Splitter3->guard = [this](const std::function<void()>& action) { return runGuarded(action); };
    Splitter3->changed = [this] { model_->currentRowChanged(); };
    DBI1 = Splitter3->picture();
    DBM1 = Splitter3->formattedMemo();
    DBM2 = Splitter3->plainMemo();
    Panel4->addWidget(Splitter3);
    DBG1_ = new tablewin::TDBGrid2(Panel4);
    DBG1_->setObjectName(QStringLiteral("DBG1"));
    DBG1_->setToolTip(QStringLiteral("SQLの結果ｾｯﾄです。"));
    DBG1_->setStatusTip(DBG1_->toolTip());
    model_ = new tablewin::TableModel(*query_, this);
    model_->onError = [this](const QString& text) { shell::showError(this, text); };
    DBG1_->setModel(model_);
    DBG1_->rowChanging = [this](int row) {
        storeEditorText();
        const bool editing = query_->state() == DataSetState::Edit || query_->state() == DataSetState::Insert;
        if (!runGuarded([&] { model_->moveToRow(row); }))
            return false;
        if (editing)
            afterWrite();
        Splitter3->load();
        return true;
    };
    DBG1_->cancelRecord = [this] {
        runGuarded([&] { model_->cancel(); });
        Splitter3->load();
    };
    connect(DBG1_, &tablewin::TDBGrid2::focusedCellChanged, this, [this](int, int column) { DBG1DrawDataCell(column); });
    Panel4->addWidget(DBG1_);
    Panel4->setStretchFactor(0, 0);
    Panel4->setStretchFactor(1, 1);
    Panel4->setSizes({25, 400});
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(Panel4);
    Splitter1->setSizes({253, 400});
    outer->addWidget(Splitter1, 1);

    auto* Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(20);
    auto* bottom = new QVBoxLayout(Panel2);
    bottom->setContentsMargins(0, 0, 0, 0);
    SB1 = new QStatusBar(Panel2);
    SB1->setObjectName(QStringLiteral("SB1"));
    SB1->setSizeGripEnabled(false);
    const std::array<QString, 3> texts{QStringLiteral("該当件数"), QStringLiteral("0"), QString()};
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(texts[i], SB1);
        panels_[i]->setMinimumWidth(i == 2 ? 50 : 60);
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        if (i == 1)
            panels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        SB1->addWidget(panels_[i]);
    }
    bottom->addWidget(SB1);
    PB1 = new QProgressBar(Panel2);
    PB1->setObjectName(QStringLiteral("PB1"));
    PB1->setRange(0, 100);
    PB1->hide();
    bottom->addWidget(PB1);
    outer->addWidget(Panel2);

    Panel1->installEventFilter(this); // Panel_Resize
    for (QWidget* w : {static_cast<QWidget*>(Memo1_), static_cast<QWidget*>(CBG1_), static_cast<QWidget*>(DBG1_),
                       DBI1, DBM1, DBM2}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        QWidget* area = w == DBG1_ ? DBG1_->viewport() : w;
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, area](const QPoint& p) { popup(area->mapToGlobal(p)); });
    }
    DBG1_->installEventFilter(this); // Enter in the grid
}

void TSQLChild::popup(const QPoint& globalPos)
{
    Menu_Mode();
    if (popupAuto_)
        PM1->exec(globalPos);
}

void TSQLChild::buildMenus()
{
    auto editOps = [this](QMenu* m, std::array<const char*, 7> names) {
        actions_ << addMenuItem(m, names[0], QStringLiteral("切り取り(&T)"), QStringLiteral("文字列を切り取ります"),
                                [this] { Cut_Click(); });
        actions_ << addMenuItem(m, names[1], QStringLiteral("ｺﾋﾟｰ(&C)"), QStringLiteral("文字列をｺﾋﾟｰします"),
                                [this] { Copy_Click(); });
        actions_ << addMenuItem(m, names[2], QStringLiteral("貼り付け(&P)"), QStringLiteral("文字列を貼り付けます"),
                                [this] { Paste_Click(); });
        // Delete removes the selection in both menus (the window menu's item did nothing before).
        actions_ << addMenuItem(m, names[3], QStringLiteral("削除(&D)"), QStringLiteral("文字列を削除します"),
                                [this] { Delete_Click(); });
        actions_ << addMenuSeparator(m, names[4]);
        actions_ << addMenuItem(m, names[5], QStringLiteral("すべて選択(&A)"), QStringLiteral("文字列をすべて選択します。"),
                                [this] { SelAll_Click(); });
        actions_ << addMenuItem(m, names[6], QStringLiteral("ｶﾝﾏ区切りﾃｷｽﾄへｱｳﾄﾎﾟｰﾄ(&W)"),
                                QStringLiteral("ｶﾝﾏ区切りﾃｷｽﾄを書き出します。"), [this] { CSV2Click(); });
    };
    auto imeMenu = [this](QMenu* parent, const char* name, std::array<const char*, 7> names) {
        QMenu* m = parent->addMenu(QStringLiteral("IMEﾓｰﾄﾞ(&I)"));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setStatusTip(QStringLiteral("IMEの動作を設定します。"));
        actions_ << m->menuAction();
        actions_ << addMenuItem(m, names[0], QStringLiteral("IMEを使用しない"), QStringLiteral("ﾌｨｰﾙﾄﾞ編集時にIMEを使用しません"),
                         [this] { setImeCode(1); });
        actions_ << addMenuSeparator(m, names[1]);
        const std::array<std::pair<const char*, int>, 5> modes{
            {{"全角ひらがな", 6}, {"全角カタカナ", 8}, {"全角ｱﾙﾌｧﾍﾞｯﾄ", 5}, {"半角カタカナ", 7}, {"半角ｱﾙﾌｧﾍﾞｯﾄ", 4}}};
        for (int i = 0; i < 5; ++i) {
            const QString caption = QString::fromUtf8(modes[i].first);
            const int code = modes[i].second;
            const bool noHint = QLatin1String(names[i + 2]) == QLatin1String("K13");
            actions_ << addMenuItem(m, names[i + 2], caption,
                             noHint ? QString() : QStringLiteral("ﾌｨｰﾙﾄﾞ編集時のIMEを｢%1｣に設定します").arg(caption),
                             [this, code] { setImeCode(code); });
        }
    };

    Edit1 = new QMenu(QStringLiteral("編集(&E)"), this);
    Edit1->menuAction()->setObjectName(QStringLiteral("Edit1"));
    Edit1->menuAction()->setStatusTip(QStringLiteral("編集操作に関するｺﾏﾝﾄﾞ"));
    editOps(Edit1, {"Cut2", "Copy2", "Paste2", "Delete1", "SEP3", "SelAll2", "CSV2"});
    actions_ << addMenuSeparator(Edit1, "SEP4");
    imeMenu(Edit1, "IME2", {"N7", "N8", "K5", "K6", "K7", "K8", "K9"});

    R1 = new QMenu(QStringLiteral("ﾚｺｰﾄﾞ(&R)"), this);
    R1->menuAction()->setObjectName(QStringLiteral("R1"));
    R1->menuAction()->setStatusTip(QStringLiteral("ﾚｺｰﾄﾞ操作に関するｺﾏﾝﾄﾞ"));
    R1->setEnabled(false);
    actions_ << addMenuItem(R1, "KP1", QStringLiteral("前ﾚｺｰﾄﾞ(&P)"), QStringLiteral("前のﾚｺｰﾄﾞに移動します"), [this] { QRY_PRIOR(); });
    actions_ << addMenuItem(R1, "KN1", QStringLiteral("次ﾚｺｰﾄﾞ(&N)"), QStringLiteral("次のﾚｺｰﾄﾞに移動します"), [this] { QRY_NEXT(); });
    actions_ << addMenuItem(R1, "KF1", QStringLiteral("先頭ﾚｺｰﾄﾞ(&F)"), QStringLiteral("ﾚｺｰﾄﾞの先頭に移動します"), [this] { QRY_FIRST(); });
    actions_ << addMenuItem(R1, "KL1", QStringLiteral("最終ﾚｺｰﾄﾞ(&L)"), QStringLiteral("ﾚｺｰﾄﾞの最後に移動します"), [this] { QRY_LAST(); });
    actions_ << addMenuSeparator(R1, "N9");
    actions_ << addMenuItem(R1, "Q_Ins", QStringLiteral("ﾚｺｰﾄﾞの挿入(&I)"), QStringLiteral("ﾚｺｰﾄﾞを挿入します"),
                     [this] { QRY_INSERT(); }, QKeySequence(Qt::Key_Insert));
    actions_ << addMenuItem(R1, "Q_App", QStringLiteral("ﾚｺｰﾄﾞの追加(&A)"), QStringLiteral("ﾚｺｰﾄﾞを追加します"), [this] { QRY_APPEND(); });
    actions_ << addMenuItem(R1, "Q_Del", QStringLiteral("ﾚｺｰﾄﾞの削除(&D)"), QStringLiteral("ﾚｺｰﾄﾞを削除します"), [this] { Q_DelClick(); });

    PM1 = new QMenu(this);
    PM1->setObjectName(QStringLiteral("PM1"));
    editOps(PM1, {"Cut1", "Copy1", "Paste1", "Delete2", "SEP1", "SelAll1", "CSV1"});
    actions_ << addMenuSeparator(PM1, "SEP2");
    imeMenu(PM1, "IME1", {"KIME1", "N10", "K14", "K13", "K12", "K11", "K10"});
    for (QAction* a : {Edit1->menuAction(), R1->menuAction()})
        actions_ << a;
    addActions(R1->actions()); // the Insert shortcut works while the window has the focus
}

QList<shell::ChildWindow::MenuGroup> TSQLChild::menuGroups() const { return {{Edit1, 2}, {R1, 4}}; }

QAction* TSQLChild::menuItem(const QString& name) const
{
    for (QAction* a : actions_)
        if (a->objectName() == name)
            return a;
    return nullptr;
}

QString TSQLChild::statusPanelText(int panel) const
{
    return panel >= 0 && panel < 3 ? panels_[panel]->text() : QString();
}

void TSQLChild::Menu_Mode()
{
    auto set = [this](const char* name, bool enabled) {
        if (QAction* a = menuItem(QString::fromLatin1(name)))
            a->setEnabled(enabled);
    };
    auto show = [this](const char* name, bool visible) {
        if (QAction* a = menuItem(QString::fromLatin1(name)))
            a->setVisible(visible);
    };
    const bool write = TOB4_->isChecked();
    const bool open = query_->isOpen() && !busy();
    for (const char* n : {"Q_Ins", "Q_App", "Q_Del"})
        set(n, write);
    R1->setEnabled(open);
    R1->menuAction()->setEnabled(open);
    for (const char* n : {"CSV1", "IME1", "CSV2", "IME2"})
        set(n, open);
    QWidget* f = QApplication::focusWidget();
    if (f && (f == DBG1_ || DBG1_->isAncestorOf(f))) {
        Edit1->menuAction()->setEnabled(open);
        popupAuto_ = open;
        for (const char* n : {"SEP1", "SEP2", "SEP3", "SEP4", "CSV1", "CSV2", "IME1", "IME2"})
            show(n, true);
        for (const char* n : {"SelAll1", "SelAll2"})
            show(n, false);
    } else {
        const bool fieldEditor = f && (f == DBM1 || f == DBM2 || f == DBI1);
        Edit1->menuAction()->setEnabled(fieldEditor ? open : true);
        popupAuto_ = fieldEditor ? open : true;
        for (const char* n : {"SEP2", "SEP4", "IME1", "IME2", "CSV1", "CSV2"})
            show(n, false);
        const bool text = f && (f == Memo1_ || f == DBM1 || f == DBM2);
        for (const char* n : {"SEP1", "SEP3", "SelAll1", "SelAll2"})
            show(n, text);
    }
    emit menusChanged();
}

void TSQLChild::Memo1Change()
{
    // The query's text: each editor line followed by one blank.
    const QStringList lines = Memo1_->toPlainText().split(QLatin1Char('\n'));
    std::string text;
    for (const QString& line : lines) {
        text += line.toStdString();
        text += " \n";
    }
    const bool wasOpen = query_->isOpen();
    if (wasOpen)
        postPending(); // a new text closes the result: what was edited is written first
    query_->setSql(text);
    if (wasOpen) {
        model_->reset();
        Splitter3->clear();
    }
    paramNames_.clear();
    for (const auto& n : engine::distinctParamNames(text))
        paramNames_ << QString::fromStdString(n);
    if (paramNames_.isEmpty()) {
        CBG1_->hide();
        for (int c = 0; c < 3; ++c)
            CBG1_->setCells(c, 1, QString());
    } else {
        CBG1_->setCurrentCell(CBG1_->currentRow() < 1 ? 1 : CBG1_->currentRow(), 1);
        CBG1_->show();
        CBG1_->setRowCount(paramNames_.size() + 1);
        for (int r = 0; r < paramNames_.size(); ++r)
            CBG1_->setCells(0, r + 1, paramNames_[r]);
    }
    Menu_Mode();
    panels_[1]->setText(QStringLiteral("0"));
    panels_[2]->clear();
}

bool TSQLChild::runGuarded(const std::function<void()>& action)
{
    return shell::runShowingError(this, action);
}

void TSQLChild::TOB1Click()
{
    if (busy())
        return;
    CBG1_->commitEdit();
    if (!postPending())
        return;
    query_->close();
    model_->reset();
    Splitter3->clear();
    bool bound = false;
    QList<ParamRow> rows;
    for (int r = 0; r < paramNames_.size(); ++r)
        rows << ParamRow{CBG1_->Cells(0, r + 1), CBG1_->Cells(1, r + 1), CBG1_->Cells(2, r + 1)};
    query_->clearParamValues();
    if (!runGuarded([&] { bound = ParamCheck(rows, *query_, QDate::currentDate().year()); })) {
        Menu_Mode();
        return;
    }
    if (!bound) {
        shell::messageBox(this, kParamError, QStringLiteral("エラー"), QMessageBox::Critical);
        Menu_Mode();
        return;
    }
    panels_[1]->setText(QStringLiteral("0"));
    const QString text = Memo1_->toPlainText();
    const QString trimmed = trimmedStatement(text);
    if (trimmed != text) {
        // Parameter values survive: the grid's rows stay with the names still in the text.
        Memo1_->setPlainText(trimmed);
        rows.clear();
        for (int r = 0; r < paramNames_.size(); ++r)
            rows << ParamRow{CBG1_->Cells(0, r + 1), CBG1_->Cells(1, r + 1), CBG1_->Cells(2, r + 1)};
        runGuarded([&] { ParamCheck(rows, *query_, QDate::currentDate().year()); });
    }
    if (isSelectText(trimmed)) {
        openResult();
    } else {
        if (runGuarded([&] { query_->execSql(); }))
            shell::messageBox(this, QStringLiteral("SQLの実行が完了しました。"), QStringLiteral("終了"), QMessageBox::Warning);
    }
    Menu_Mode();
}

void TSQLChild::openResult()
{
    query_->setRequestLive(TOB4_->isChecked());
    bool cached = true;
    try {
        query_->setCachedUpdates(true);
        query_->open();
    } catch (const std::exception&) {
        // Once more without cached updates; only a failure of this open is reported.
        cached = false;
        query_->close();
        if (!runGuarded([&] {
                query_->setCachedUpdates(false);
                query_->open();
            }))
            return;
    }
    // "共有可能": the result can be edited here and each posted change is written at once;
    // "共有不可": the result is read-only (write mode off, or rows the server cannot identify),
    // or was opened without cached updates.
    panels_[2]->setText(cached && query_->isLive() ? QStringLiteral("共有可能") : QStringLiteral("共有不可"));
    model_->reset();
    currentField_ = 0;
    runGuarded([&] { panels_[1]->setText(shell::thousandsFormat(static_cast<qint64>(query_->recordCount()))); });
    if (query_->fieldCount() > 0)
        DBG1_->setCurrentIndex(model_->index(0, 0));
    DBG1DrawDataCell(0);
    DBG1_->setFocus();
}

void TSQLChild::TOB2Click()
{
    if (busy() || !postPending())
        return;
    imeModes_.fill(1);
    Splitter3->clear();
    query_->close();
    model_->reset();
    TOB4_->setChecked(false);
    panels_[2]->clear();
    query_->setRequestLive(false);
    Menu_Mode();
}

void TSQLChild::TOB4Click()
{
    panels_[1]->setText(QStringLiteral("0"));
    query_->setRequestLive(TOB4_->isChecked());
    Menu_Mode();
}

void TSQLChild::QRY_Count()
{
    if (!query_->cachedUpdates() || !query_->updatesPending())
        return;
    updateFailed_ = false;
    bool applied = false;
    runGuarded([&] { applied = query_->applyUpdates(); });
    if (applied) {
        query_->commitUpdates();
        return;
    }
    runGuarded([&] {
        query_->cancelUpdates();
        model_->reload();
    });
}

void TSQLChild::afterWrite()
{
    runGuarded([&] {
        model_->reload();
        panels_[1]->setText(shell::thousandsFormat(static_cast<qint64>(query_->recordCount())));
    });
}

void TSQLChild::moveRecord(const std::function<void()>& move)
{
    if (!query_->isOpen())
        return;
    if (!postPending())
        return;
    runGuarded(move);
    const int row = model_->currentRow();
    if (row >= 0 && query_->fieldCount() > 0) {
        const auto keep = DBG1_->rowChanging;
        DBG1_->rowChanging = nullptr; // the dataset is already there
        DBG1_->setCurrentIndex(model_->index(row, std::clamp(currentField_, 0, query_->fieldCount() - 1)));
        DBG1_->rowChanging = keep;
    }
    DBG1DrawDataCell(currentField_);
}

void TSQLChild::QRY_PRIOR() { moveRecord([this] { query_->prior(); }); }
void TSQLChild::QRY_NEXT() { moveRecord([this] { query_->next(); }); }
void TSQLChild::QRY_FIRST() { moveRecord([this] { query_->first(); }); }
void TSQLChild::QRY_LAST() { moveRecord([this] { query_->last(); }); }

void TSQLChild::QRY_INSERT()
{
    if (!query_->isOpen())
        return;
    storeEditorText();
    runGuarded([&] { model_->beginInsert(); });
    Splitter3->load();
}

void TSQLChild::QRY_APPEND()
{
    if (!query_->isOpen())
        return;
    storeEditorText();
    runGuarded([&] { model_->beginAppend(); });
    Splitter3->load();
}

void TSQLChild::Q_DelClick()
{
    if (!query_->isOpen())
        return;
    if (query_->state() != DataSetState::Browse) {
        runGuarded([&] { model_->cancel(); });
        Splitter3->load();
        return;
    }
    if (runGuarded([&] { model_->removeCurrent(); }))
        afterWrite();
    Splitter3->load();
}

// --- clipboard commands: the result grid's cell editor, the parameter grid's cell editor,
// the SQL text, the picture, or the memo, whichever has the focus.

namespace {

void removeSelection(QLineEdit* e)
{
    if (e->hasSelectedText())
        e->del();
}
void removeSelection(QPlainTextEdit* e) { e->textCursor().removeSelectedText(); }
void removeSelection(QTextEdit* e) { e->textCursor().removeSelectedText(); }

template <class Editor>
void textCommand(Editor* e, TSQLChild::EditOp op)
{
    switch (op) {
    case TSQLChild::EditOp::Cut: e->cut(); break;
    case TSQLChild::EditOp::Copy: e->copy(); break;
    case TSQLChild::EditOp::Paste: e->paste(); break;
    case TSQLChild::EditOp::Delete: removeSelection(e); break;
    }
}

} // namespace

void TSQLChild::editCommand(EditOp op)
{
    if (gridFocused_) {
        switch (op) {
        case EditOp::Cut: DBG1_->CutCellText(); break;
        case EditOp::Copy: DBG1_->CopyCellText(); break;
        case EditOp::Paste: DBG1_->PasteCellText(); break;
        case EditOp::Delete: DBG1_->ClearCellText(); break;
        }
    }
    if (paramFocused_) {
        // Only an open cell editor takes the command.
        if (QLineEdit* e = CBG1_->inplaceEditor())
            textCommand(e, op);
        return;
    }
    QWidget* f = QApplication::focusWidget();
    tablewin::ImageEditor* picture = Splitter3->picture();
    if (f == Memo1_) {
        textCommand(Memo1_, op);
    } else if (f == DBI1) {
        switch (op) {
        case EditOp::Cut: picture->cutPicture(); break;
        case EditOp::Copy: picture->copyPicture(); break;
        case EditOp::Paste: picture->pastePicture(); break;
        case EditOp::Delete:
            // The picture goes, and does not stay behind on the clipboard either.
            picture->cutPicture();
            QApplication::clipboard()->clear();
            break;
        }
    } else if (f == DBM1) {
        textCommand(Splitter3->formattedMemo(), op);
    } else if (f == DBM2) {
        textCommand(Splitter3->plainMemo(), op);
    }
}

void TSQLChild::SelAll_Click()
{
    QWidget* f = QApplication::focusWidget();
    if (f == Memo1_)
        Memo1_->selectAll();
    else if (f == DBM1)
        Splitter3->formattedMemo()->selectAll();
    else if (f == DBM2)
        Splitter3->plainMemo()->selectAll();
}

void TSQLChild::storeEditorText()
{
    Splitter3->store();
}

bool TSQLChild::postPending()
{
    if (!query_->isOpen())
        return true;
    DBG1_->commitCellEditor();
    storeEditorText();
    const DataSetState st = query_->state();
    if (st != DataSetState::Edit && st != DataSetState::Insert)
        return true;
    if (!runGuarded([&] { model_->post(); }))
        return false;
    afterWrite();
    return true;
}

void TSQLChild::focusChanged(QWidget* old, QWidget* now)
{
    const auto inGrid = [this](QWidget* w) { return w && (w == DBG1_ || DBG1_->isAncestorOf(w)); };
    const auto inParams = [this](QWidget* w) { return w && (w == CBG1_ || CBG1_->isAncestorOf(w)); };
    if (inGrid(now) && !inGrid(old)) {
        Menu_Mode(); // DBG1Enter
        gridFocused_ = true;
    } else if (inGrid(old) && !inGrid(now)) {
        gridFocused_ = false; // DBG1Exit
    }
    if (inParams(now) && !inParams(old)) {
        // Col_Move: the name column is not for typing; the type column takes the focus.
        if (CBG1_->currentColumn() == 0)
            CBG1_->setCurrentCell(std::max(1, CBG1_->currentRow()), 1);
        Menu_Mode();
        paramFocused_ = true;
    } else if (inParams(old) && !inParams(now)) {
        paramFocused_ = false; // CBG1Exit
    }
    if (old == DBM1 || old == DBM2)
        storeEditorText();
    if (now == Memo1_ || now == DBI1 || now == DBM1)
        Menu_Change(now);
    else if (now == DBM2)
        Menu_Mode();
    if (now == DBG1_ || now == DBM1 || now == DBM2 || (now && DBG1_->isAncestorOf(now)))
        tablewin::applyImeMode(now, currentIme_);
}

void TSQLChild::Menu_Change(QWidget* editor)
{
    if (editor == Memo1_)
        shell::setEditorTabs(Memo1_, shell::settings().tabWidth);
    else if (editor == DBM1)
        shell::setEditorTabsByPixelHeight(Splitter3->formattedMemo(), shell::settings().tabWidth);
    Menu_Mode();
}

void TSQLChild::applyImeMode(int code)
{
    currentIme_ = code;
    setProperty(tablewin::kImeModeProperty, code);
    for (QWidget* w : {static_cast<QWidget*>(DBG1_), DBM1, DBM2})
        tablewin::applyImeMode(w, code);
    if (QWidget* e = DBG1_->cellEditor())
        tablewin::applyImeMode(e, code);
}

void TSQLChild::setImeCode(int code)
{
    if (currentField_ >= 0 && currentField_ < kImeEntries)
        imeModes_[static_cast<size_t>(currentField_)] = static_cast<uint8_t>(code);
}

void TSQLChild::DBG1DrawDataCell(int field)
{
    if (!query_->isOpen() || field < 0 || field >= query_->fieldCount())
        return;
    storeEditorText();
    currentField_ = field;
    // Fields past the list's end have no entry of their own: no input method for them.
    applyImeMode(field < kImeEntries ? imeModes_[static_cast<size_t>(field)] : 1);
    Splitter3->showField(field);
}

void TSQLChild::Panel_Resize()
{
    const int w = Memo1_->width() - CBG1_->columnWidth(0) - CBG1_->columnWidth(1) - 6;
    if (w > 0 && CBG1_->columnWidth(2) != w)
        CBG1_->setColumnWidth(2, w);
}

bool TSQLChild::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == Panel1 && e->type() == QEvent::Resize)
        Panel_Resize();
    if (watched == DBG1_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && !DBG1_->editorMode() && query_->isOpen()) {
            // FormKeyDown: Enter acts as Tab (after the last column, the first of the next
            // row); the new cell brings its field's IME mode (DBG1DrawDataCell).
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
            QApplication::sendEvent(DBG1_, &tab);
            return true;
        }
    }
    return shell::ChildWindow::eventFilter(watched, e);
}

void TSQLChild::TOB5Click()
{
    const auto file = shell::openFileName(this, kSqlFilter, shell::settings().sqlDir);
    if (!file)
        return;
    runGuarded([&] {
        QFile f(*file);
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error(("ファイル " + *file + " を開けません: " + f.errorString()).toStdString());
        const QByteArray bytes = f.readAll();
        // UTF-8 text is taken as it is; anything else is read as Shift-JIS.
        QString text;
        auto utf8 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = utf8.decode(bytes);
        if (utf8.hasError()) {
            auto sjis = QStringDecoder("Shift_JIS");
            text = sjis.decode(bytes);
        }
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        Memo1_->setPlainText(text);
    });
}

void TSQLChild::TOB6Click()
{
    const auto file = shell::saveFileName(this, kSqlFilter, shell::settings().sqlDir, QStringLiteral("*.DDL"),
                                          QStringLiteral("DDL"));
    if (!file)
        return;
    if (QFileInfo::exists(*file) &&
        shell::messageBox(this, QStringLiteral("既にファイルは存在します。上書きしますか？"), QStringLiteral("確認"),
                          QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    runGuarded([&] {
        QString text;
        for (const QString& line : Memo1_->toPlainText().split(QLatin1Char('\n')))
            text += line + QStringLiteral("\r\n");
        // In the locale's text encoding, as the export writes its files.
        const std::string encoded = engine::encodeForLocale(text.toStdString());
        const QByteArray bytes(encoded.data(), static_cast<qsizetype>(encoded.size()));
        // Written beside the file and renamed, so a failed write never leaves half a file.
        const QString temp = *file + QStringLiteral(".tmp");
        QFile f(temp);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush()) {
            const QString error = f.errorString();
            f.close();
            QFile::remove(temp);
            throw std::runtime_error(("ファイル " + *file + " に書き込めません: " + error).toStdString());
        }
        f.close();
        QFile::remove(*file);
        if (!QFile::rename(temp, *file)) {
            QFile::remove(temp);
            throw std::runtime_error(("ファイル " + *file + " に書き込めません。").toStdString());
        }
    });
}

void TSQLChild::CSV2Click()
{
    if (!query_->isOpen() || busy())
        return;
    const auto file = shell::saveFileName(
        this, QStringLiteral("ﾃｷｽﾄ形式ﾌｧｲﾙ(*.TXT)|*.TXT|CSV形式ﾌｧｲﾙ(*.CSV)|*.CSV|すべてのﾌｧｲﾙ(*.*)|*.*"),
        shell::settings().csvDir, QStringLiteral("*.TXT"), QStringLiteral("TXT"));
    if (!file)
        return;
    if (!postPending())
        return;
    SB1->hide();
    PB1->setValue(0);
    PB1->show();
    exporting_ = true;
    Menu_Mode();
    QElapsedTimer clock;
    clock.start();
    const bool ok = runGuarded([&] {
        const int64_t total = query_->recordCount();
        PB1->setRange(0, static_cast<int>(std::clamp<int64_t>(total, 1, INT32_MAX)));
        engine::exportCsv(*query_, file->toStdString(), [&](int64_t done, int64_t) {
            if (clock.elapsed() >= 50 || done == total) {
                clock.restart();
                PB1->setValue(static_cast<int>(std::min<int64_t>(done, PB1->maximum())));
                // User input waits: nothing may change the result while it is written.
                QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            }
            return true;
        });
    });
    exporting_ = false;
    PB1->hide();
    SB1->show();
    Menu_Mode();
    if (ok) {
        moveRecord([this] { query_->last(); }); // left at the end, as the export walked it
        shell::messageBox(this, QStringLiteral("終了しました。"), QStringLiteral("確認"), QMessageBox::NoIcon);
    }
}

void TSQLChild::firstPaint()
{
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        setFont(f);
        CBG1_->setFont([] {
            QFont g(QStringLiteral("ＭＳ ゴシック"));
            g.setPixelSize(13);
            return g;
        }());
    }
    Menu_Mode();
}

bool TSQLChild::closeQuery()
{
    if (exporting_)
        return false; // the export finishes first
    // An edit still open is posted rather than dropped; if it cannot be, the window stays.
    if (!postPending())
        return false;
    if (persistence() == 1 && shell::restoreEnabled(shell::RestoreKind::Sql))
        shell::writeRestoreRecord(shell::RestoreKind::Sql, QString::fromStdString(query_->databaseName()), QString());
    return true;
}

void TSQLChild::closeHandler()
{
    shell::deleteRestoreRecord(shell::RestoreKind::Sql, QString::fromStdString(query_->databaseName()), QString());
}

} // namespace vemo::query
