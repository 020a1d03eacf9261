#include "tablewin/TMDIChild.h"
#include "tablewin/TableRepair.h"

#include "tablewin/FieldPane.h"
#include "tablewin/ImageEditor.h"
#include "tablewin/ImeHints.h"
#include "tablewin/TDBGrid2.h"
#include "tablewin/TableModel.h"
#include "tablewin/TableText.h"

#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/RestoreRecords.h"
#include "shell/Routines.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vemo::tablewin {

using engine::DataSetState;

namespace {
const QString kImeKey = shell::kRootKey + QStringLiteral("\\IMEMODE\\");
}

TMDIChild::TMDIChild(QWidget* parent) : TMDIChild(engine::Session::global(), parent) {}

TMDIChild::TMDIChild(engine::Session& session, QWidget* parent)
    : shell::ChildWindow(parent), session_(session), table_(std::make_unique<engine::Table>(session))
{
    // FormCreate
    imeModes_ = defaultImeModes();
    table_->setCachedUpdates(true);
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setPixelSize(13);
    setFont(f);
    resize(507, 374);
    buildLayout();
    buildMenus();
    wireTable();
    connect(qApp, &QApplication::focusChanged, this, &TMDIChild::focusChanged);
    qApp->installEventFilter(this); // key preview: the window sees its controls' keys first
}

TMDIChild::~TMDIChild()
{
    qApp->removeEventFilter(this);
    // The widgets die after the table: nothing may reach it from their focus changes.
    disconnect(qApp, nullptr, this, nullptr);
    // FormDestroy: the table closes with the window; the model must not read it any more.
    if (DBG1)
        DBG1->setModel(nullptr);
    table_->afterOpen = nullptr;
    table_->onUpdateError = nullptr;
    table_->close();
}

engine::Table& TMDIChild::Table1() const
{
    return *table_;
}

QString TMDIChild::captionFor(const QString& alias, const QString& table)
{
    return QStringLiteral("テーブル編集 - [") + (alias.isEmpty() ? QString() : alias + QLatin1Char(':')) + table
           + QLatin1Char(']');
}

void TMDIChild::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter1 = new FieldPane(Splitter2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setDataSet(table_.get());
    Splitter1->guard = [this](const std::function<void()>& action) { return runGuarded(action); };
    Splitter1->changed = [this] { model_->currentRowChanged(); };
    Field_Name = Splitter1->nameLabel();
    DBI1 = Splitter1->picture();
    DBM1 = Splitter1->formattedMemo();
    DBM2 = Splitter1->plainMemo();
    for (QWidget* w : {static_cast<QWidget*>(DBI1), static_cast<QWidget*>(DBM1), static_cast<QWidget*>(DBM2)}) {
        if (w != DBM2) {
            w->setToolTip(QStringLiteral("ﾃﾞｰﾀ入力ﾎﾞｯｸｽです。"));
            w->setStatusTip(w->toolTip());
        }
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& p) { PM1->exec(w->mapToGlobal(p)); });
    }

    DBG1 = new TDBGrid2(Splitter2);
    DBG1->setObjectName(QStringLiteral("DBG1"));
    DBG1->setToolTip(QStringLiteral("ﾃｰﾌﾞﾙの結果ｾｯﾄです。"));
    DBG1->setStatusTip(DBG1->toolTip());
    QFont title(QStringLiteral("ＭＳ ゴシック"));
    title.setPixelSize(13);
    DBG1->horizontalHeader()->setFont(title);
    DBG1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBG1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PM1->exec(DBG1->viewport()->mapToGlobal(p)); });
    model_ = new TableModel(*table_, this);
    model_->onError = [this](const QString& text) { shell::showError(this, text); };
    DBG1->setModel(model_);
    DBG1->rowChanging = [this](int row) {
        storeEditorText();
        const bool editing = table_->state() == DataSetState::Edit || table_->state() == DataSetState::Insert;
        if (!runGuarded([&] { model_->moveToRow(row); }))
            return false;
        if (editing) {
            // Applying the cache may move records; the grid's row is the one to stand on.
            try {
                model_->reload();
            } catch (const std::exception&) {
                // Table_Count meets the same failure and reports it
            }
            Table_Count();
            try {
                table_->moveTo(row);
            } catch (const std::exception& e) {
                if (!updateFailed_) // else Table_Count has told the user already
                    shell::showError(this, QString::fromUtf8(e.what()));
            }
        }
        loadEditors();
        return true;
    };
    DBG1->cancelRecord = [this] { runGuarded([&] { model_->cancel(); loadEditors(); }); };
    connect(DBG1, &TDBGrid2::focusedCellChanged, this, [this](int, int column) { DBG1DrawDataCell(column); });
    Splitter2->addWidget(DBG1);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({25, 329});
    layout->addWidget(Splitter2, 1);

    auto* panel1 = new QWidget(this);
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setFixedHeight(20);
    auto* pl = new QVBoxLayout(panel1);
    pl->setContentsMargins(0, 0, 0, 0);
    SB1 = new QStatusBar(panel1);
    SB1->setObjectName(QStringLiteral("SB1"));
    SB1->setSizeGripEnabled(false);
    const std::array<QString, 6> texts{QStringLiteral("該当件数"), QStringLiteral("0"), QStringLiteral("ｲﾝﾃﾞｯｸｽ"),
                                       QString(), QStringLiteral("ﾌｨﾙﾀ"), QStringLiteral("OFF")};
    const std::array<int, 6> widths{60, 60, 60, 90, 40, 30};
    for (int i = 0; i < 6; ++i) {
        panels_[i] = new QLabel(texts[i], SB1);
        panels_[i]->setMinimumWidth(widths[i]);
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        if (i == 1)
            panels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        SB1->addWidget(panels_[i], i == 3 ? 1 : 0);
    }
    pl->addWidget(SB1);
    PB1 = new QProgressBar(panel1);
    PB1->setObjectName(QStringLiteral("PB1"));
    PB1->setRange(0, 100);
    PB1->hide();
    pl->addWidget(PB1);
    layout->addWidget(panel1);

    // The memo editors write into the current record when they lose the focus.
    DBM1->installEventFilter(this);
    DBM2->installEventFilter(this);
}

void TMDIChild::wireTable()
{
    table_->afterOpen = [this](engine::Table&) {
        if (offerRepair())
            return;
        model_->reset();
        currentField_ = 0;
        Table_Count();
        if (table_->fieldCount() > 0)
            DBG1->setCurrentIndex(model_->index(0, 0));
        DBG1DrawDataCell(0);
    };
    table_->onUpdateError = [this](engine::Table&, const engine::EngineError& e, engine::UpdateKind) {
        // Table1UpdateError: answer "abort"; Table_Count then drops the pending changes.
        updateFailed_ = true;
        if (e.code() == engine::ErrUpdateConflict)
            shell::messageBox(this, QStringLiteral("他のユーザーとの競合により変更は更新されませんでした。"),
                              QStringLiteral("確認"), QMessageBox::Warning);
        else
            shell::showError(this, QString::fromUtf8(e.what()));
        return engine::UpdateAction::Abort;
    };
}

bool TMDIChild::offerRepair()
{
    if (repairOffered_)
        return false;
    repairOffered_ = true;
    const std::string question = repairQuestion(session_, *table_);
    if (question.empty() || !shell::confirm(this, QString::fromStdString(question)))
        return false;
    shell::runShowingError(this, [&] {
        const std::string left = repairAndReopen(session_, *table_);
        if (!left.empty())
            shell::messageBox(this, QStringLiteral("修復できなかったものがあります:\n") + QString::fromStdString(left),
                              QStringLiteral("確認"), QMessageBox::Warning);
    });
    return true; // reopened (or, after an error, closed): the nested open did the rest
}

QString TMDIChild::statusPanelText(int panel) const
{
    return panel >= 0 && panel < 6 ? panels_[panel]->text() : QString();
}

void TMDIChild::setStatusPanelText(int panel, const QString& text)
{
    if (panel >= 0 && panel < 6)
        panels_[panel]->setText(text);
}

void TMDIChild::Table_Count()
{
    if (!table_->isOpen())
        return;
    // Whatever fails here (a server gone away, say) is reported once, and the window stays
    // usable: this runs from inside grid and menu handlers.
    updateFailed_ = false;
    auto report = [this](const std::exception& e) {
        if (!updateFailed_)
            shell::showError(this, QString::fromUtf8(e.what()));
        updateFailed_ = true;
    };
    try {
        setStatusPanelText(1, QString::fromStdString(thousands(table_->recordCount())));
    } catch (const std::exception& e) {
        report(e);
    }
    if (!table_->cachedUpdates() || !table_->updatesPending())
        return;
    bool applied = false;
    try {
        applied = table_->applyUpdates();
    } catch (const std::exception& e) {
        report(e);
    }
    if (applied) {
        table_->commitUpdates();
        return;
    }
    // Pending changes that did not reach the table are dropped, so the grid shows what is stored.
    try {
        table_->cancelUpdates();
        model_->reload();
        setStatusPanelText(1, QString::fromStdString(thousands(table_->recordCount())));
        loadEditors();
    } catch (const std::exception& e) {
        report(e);
    }
}

void TMDIChild::afterWrite()
{
    model_->reload();
    Table_Count();
    syncGrid();
}

bool TMDIChild::postPending()
{
    storeEditorText();
    const DataSetState st = table_->state();
    if (st != DataSetState::Edit && st != DataSetState::Insert)
        return true;
    if (!runGuarded([&] { model_->post(); }))
        return false;
    afterWrite();
    return true;
}

bool TMDIChild::runGuarded(const std::function<void()>& action)
{
    return shell::runShowingError(this, action);
}

void TMDIChild::syncGrid()
{
    const int row = model_->currentRow();
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0)
        return;
    const int col = std::clamp(DBG1->currentIndex().isValid() ? DBG1->currentIndex().column() : currentField_, 0,
                               model_->columnCount() - 1);
    if (DBG1->currentIndex().row() != row) {
        const auto keep = DBG1->rowChanging;
        DBG1->rowChanging = nullptr; // the dataset is already there
        DBG1->setCurrentIndex(model_->index(row, col));
        DBG1->rowChanging = keep;
    }
    loadEditors();
}

void TMDIChild::setImeModeAt(int position, int code)
{
    if (position < 0 || position >= kImeEntries)
        return;
    imeModes_[position] = static_cast<uint8_t>(code);
    if (position == currentField_)
        applyImeMode(code);
}

void TMDIChild::applyImeMode(int code)
{
    currentIme_ = code;
    setProperty(kImeModeProperty, code);
    for (QWidget* w : {static_cast<QWidget*>(DBG1), static_cast<QWidget*>(DBM1), static_cast<QWidget*>(DBM2)})
        tablewin::applyImeMode(w, code);
    if (auto* e = DBG1->cellEditor())
        tablewin::applyImeMode(e, code);
}

void TMDIChild::DBG1DrawDataCell(int field)
{
    if (!table_->isOpen() || field < 0 || field >= table_->fieldCount())
        return;
    storeEditorText();
    currentField_ = field;
    if (field < kImeEntries)
        applyImeMode(imeModes_[field]);
    Splitter1->showField(field);
}

void TMDIChild::loadEditors()
{
    Splitter1->load();
}

void TMDIChild::storeEditorText()
{
    Splitter1->store();
}

QWidget* TMDIChild::focusedEditor() const
{
    return Splitter1->focusedEditor();
}

void TMDIChild::focusChanged(QWidget* old, QWidget* now)
{
    const bool wasGrid = old && (old == DBG1 || DBG1->isAncestorOf(old));
    const bool isGrid = now && (now == DBG1 || DBG1->isAncestorOf(now));
    if (isGrid && !wasGrid)
        DBG1Enter();
    else if (wasGrid && !isGrid)
        DBG1Exit();
    if (now == DBI1 || now == DBM1)
        Menu_Change(now);
    else if (now == DBM2)
        Menu_Mode();
    if (old == DBM1 || old == DBM2)
        storeEditorText();
    if (now && isAncestorOf(now) && currentField_ < kImeEntries)
        tablewin::applyImeMode(now, currentIme_);
}

void TMDIChild::DBG1Enter()
{
    gridFocused_ = true;
    Menu_Mode();
}

void TMDIChild::DBG1Exit()
{
    gridFocused_ = false;
}

void TMDIChild::Menu_Change(QWidget* editor)
{
    if (editor == DBM1)
        shell::setEditorTabsByPixelHeight(DBM1, shell::settings().tabWidth);
    Menu_Mode();
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* ke = static_cast<QKeyEvent*>(e);
        if (w && w->window() == window() && (w == this || isAncestorOf(w))
            && (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter)
            && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            // FormKeyDown: Enter acts as Tab, and the IME mode follows the next field.
            const int fields = table_->isOpen() ? table_->fieldCount() : 0;
            currentField_ = fields > 0 && currentField_ + 1 < fields ? currentField_ + 1 : 0;
            if (currentField_ < kImeEntries)
                applyImeMode(imeModes_[currentField_]);
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
            QApplication::sendEvent(w, &tab);
            return true;
        }
    }
    return shell::ChildWindow::eventFilter(watched, e);
}

void TMDIChild::applyFont()
{
    if (const auto font = shell::settingsFont())
        setFont(*font);
}

void TMDIChild::firstPaint()
{
    Splitter2->setSizes({25, std::max(0, Splitter2->height() - 25)});
    applyFont();
    if (persistence() == 1) {
        int state = 0;
        try {
            state = shell::strToInt(QStringLiteral("0") + shell::readSetting(shell::kRootKey, QStringLiteral("FIELDTYPE")));
        } catch (const std::exception&) {
            state = 0; // an unreadable setting leaves the normal naming
        }
        k15State_ = state == 1 ? 1 : 0;
    }
    setK15Caption();
    if (shell::settings().rsmIme && persistence() == 1) {
        const QString text = shell::readSetting(kImeKey + QString::fromStdString(table_->databaseName()).toUpper(),
                                                QString::fromStdString(table_->tableName()).toUpper());
        imeModes_ = readImeModes(text.toStdString());
        if (currentField_ < kImeEntries)
            applyImeMode(imeModes_[currentField_]);
    }
    Menu_Mode();
}

bool TMDIChild::closeQuery()
{
    // An edit still open is posted rather than dropped; if it cannot be, the window stays.
    if (!postPending())
        return false;
    if (shell::settings().rsmIme && persistence() == 1)
        shell::writeSetting(kImeKey + QString::fromStdString(table_->databaseName()).toUpper(),
                            QString::fromStdString(table_->tableName()).toUpper(),
                            QString::fromStdString(writeImeModes(imeModes_)));
    if (shell::settings().rsmTable && persistence() == 1)
        shell::writeRestoreRecord(shell::RestoreKind::Table, QString::fromStdString(table_->databaseName()),
                                  QString::fromStdString(table_->tableName()));
    return true;
}

void TMDIChild::closeHandler()
{
    if (persistence() == 1)
        shell::deleteRestoreRecord(shell::RestoreKind::Table, QString::fromStdString(table_->databaseName()),
                                   QString::fromStdString(table_->tableName()));
}

} // namespace vemo::tablewin
