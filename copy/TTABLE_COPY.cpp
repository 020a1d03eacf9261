#include "copy/TTABLE_COPY.h"

#include "copy/TTABLE_COPY2.h"
#include "copy/TableCopyRules.h"
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <filesystem>

namespace vemo::copy {
namespace {

QStringList toList(const std::vector<std::string>& names) {
    QStringList out;
    for (const auto& n : names)
        out << QString::fromStdString(n);
    return out;
}

QStringList fieldNames(engine::Session& session, const QString& alias, const QString& table) {
    engine::OpenOptions readOnly;
    readOnly.readOnly = true;
    auto cursor = session.openTable(alias.toStdString(), table.toStdString(), readOnly);
    QStringList names;
    for (const auto& f : cursor->fields())
        names << QString::fromStdString(f.name);
    return names;
}

std::string firstIndexName(engine::Session& session, const QString& alias, const QString& table) {
    engine::OpenOptions readOnly;
    readOnly.readOnly = true;
    const auto indexes = session.openTable(alias.toStdString(), table.toStdString(), readOnly)->indexes();
    return indexes.empty() ? std::string() : indexes.front().name;
}

// Runs a user action; an error is shown with its own text and the dialog stays as it was.
template <typename F> void guardedAction(QWidget* parent, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        shell::showError(parent, QString::fromUtf8(e.what()));
    }
}

} // namespace

TTABLE_COPY::TTABLE_COPY(engine::Session& session, QWidget* parent)
    : QDialog(parent), BM1(session), session_(session) {
    setWindowTitle(QStringLiteral("ﾃｰﾌﾞﾙｺﾋﾟｰ"));
    setFixedSize(483, 191);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setPixelSize(13);
    setFont(f);
    auto* bevel1 = new QFrame(this);
    bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel1->setGeometry(4, 4, 475, 68);
    auto* bevel2 = new QFrame(this);
    bevel2->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel2->setGeometry(4, 76, 475, 78);
    auto combo = [this](const QString& label, const QString& hint, int x, int y, bool editable) {
        auto* l = new QLabel(label, this);
        l->setGeometry(x, y, 90, 21);
        auto* c = new QComboBox(this);
        c->setGeometry(x + 92, y, 136, 21);
        c->setToolTip(hint);
        c->setEditable(editable);
        l->setBuddy(c);
        return c;
    };
    CB1 = combo(QStringLiteral("転送元ｴﾘｱｽ"), QStringLiteral("転送元のｴﾘｱｽを選択します。"), 10, 12, false);
    CB3 = combo(QStringLiteral("転送元ﾃｰﾌﾞﾙ"), QStringLiteral("転送元のﾃｰﾌﾞﾙを選択します。"), 10, 40, false);
    CB2 = combo(QStringLiteral("転送先ｴﾘｱｽ"), QStringLiteral("転送先のｴﾘｱｽを選択します。"), 246, 12, false);
    CB4 = combo(QStringLiteral("転送先ﾃｰﾌﾞﾙ"), QStringLiteral("転送先のﾃｰﾌﾞﾙを選択または入力します。"), 246, 40, true);
    CB5 = combo(QStringLiteral("ｺﾋﾟｰﾓｰﾄﾞ"), QStringLiteral("ｺﾋﾟｰﾓｰﾄﾞを選択します。"), 10, 84, false);
    CB5->setGeometry(102, 84, 240, 21);
    for (const auto& item : copyModeItems())
        CB5->addItem(item.text);
    CHB1 = new QCheckBox(QStringLiteral("キー違反があった場合に転送を中止する"), this);
    CHB1->setToolTip(QStringLiteral("キー違反があった場合に転送を中止するかどうかを指定します。"));
    CHB1->setGeometry(10, 110, 460, 18);
    CHB2 = new QCheckBox(QStringLiteral("データの切り詰めが発生した場合に転送を中止する。"), this);
    CHB2->setToolTip(QStringLiteral("データの切り詰めが発生した場合に転送を中止するかどうかを指定します。"));
    CHB2->setGeometry(10, 130, 460, 18);
    Button3 = new QPushButton(QStringLiteral("詳細設定"), this);
    Button3->setToolTip(QStringLiteral("ﾃｰﾌﾞﾙｺﾋﾟｰの詳細設定を行います。"));
    Button3->setGeometry(8, 160, 90, 25);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(300, 160, 85, 25);
    Button2 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    Button2->setGeometry(390, 160, 85, 25);
    Button1->setAutoDefault(false);
    Button3->setAutoDefault(false);
    BM1.ShowProgressBar = true;

    // FormCreate
    Set_Alias();
    CB5->setCurrentIndex(kCopyModeItem);
    CHB1->setChecked(false);
    CHB2->setChecked(false);
    connect(CB1, &QComboBox::activated, this, [this] { guardedAction(this, [this] { CB1Change(); }); });
    connect(CB2, &QComboBox::activated, this, [this] { guardedAction(this, [this] { CB2Change(); }); });
    connect(CB5, &QComboBox::activated, this, [this] { CB5Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { guardedAction(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, [this] { guardedAction(this, [this] { Button3Click(); }); });
}

void TTABLE_COPY::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    BM1.settings.changedTableName.clear();
    BM1.settings.keyViolTableName.clear();
    BM1.settings.problemTableName.clear();
    BM1.settings.mappings.clear();
}

void TTABLE_COPY::Set_Alias() {
    QStringList aliases = toList(session_.aliasNames());
    aliases.sort();
    CB1->clear();
    CB2->clear();
    CB1->addItems(aliases);
    CB2->addItems(aliases);
    CB1->setCurrentIndex(-1);
    CB2->setCurrentIndex(-1);
    CB3->clear();
    CB4->clear();
}

void TTABLE_COPY::Set_TableList(QComboBox* aliasBox, QComboBox* tableBox) {
    QStringList names = toList(session_.tableNames(aliasBox->currentText().toStdString(), "*.*", false, false));
    names.sort();
    const QString typed = tableBox->isEditable() ? tableBox->currentText() : QString();
    tableBox->clear();
    tableBox->addItems(names);
    tableBox->setCurrentIndex(-1);
    if (tableBox->isEditable())
        tableBox->setEditText(typed);
}

void TTABLE_COPY::CB1Change() {
    Set_TableList(CB1, CB3);
    if (CB3->count() > 0)
        CB3->setCurrentIndex(0);
}

void TTABLE_COPY::CB2Change() { Set_TableList(CB2, CB4); }

void TTABLE_COPY::CB5Change() {
    const bool copy = CB5->currentIndex() == kCopyModeItem;
    const QString text = CB4->currentText();
    CB4->setEditable(copy);
    if (!copy)
        CB4->setCurrentIndex(CB4->findText(text));
}

void TTABLE_COPY::Button1Click() {
    const int item = CB5->currentIndex();
    const CopyModeItem& mode = copyModeItems().at(item < 0 ? kCopyModeItem : item);
    auto& s = BM1.settings;
    s.sourceAlias = CB1->currentText().toStdString();
    s.sourceTable = CB3->currentText().toStdString();
    s.sourceIndex.clear();
    s.sourceIndex = firstIndexName(session_, CB1->currentText(), CB3->currentText());
    s.destinationAlias = CB2->currentText().toStdString();
    s.destinationTable = CB4->currentText().toStdString();
    s.destinationIndex.clear();
    if (mode.readsDestinationIndex)
        s.destinationIndex = firstIndexName(session_, CB2->currentText(), CB4->currentText());
    s.mode = mode.mode;
    s.abortOnKeyViol = CHB1->isChecked();
    s.abortOnProblem = CHB2->isChecked();
    const QString prefix = problemTablePrefix(shell::settings().copyDir);
    for (const char* name : {"Changed.DB", "KeyViol.DB", "Problem.DB"}) {
        std::error_code ec;
        std::filesystem::remove((prefix + QLatin1String(name)).toStdString(), ec);
    }
    BM1.Execute();
    shell::messageBox(this, QStringLiteral("終了しました。"), QStringLiteral("確認"), QMessageBox::NoIcon, QMessageBox::Ok);
}

void TTABLE_COPY::Button3Click() {
    TTABLE_COPY2 dialog(this);
    auto& s = BM1.settings;
    dialog.CHB1->setChecked(!s.changedTableName.empty());
    dialog.CHB2->setChecked(!s.keyViolTableName.empty());
    dialog.CHB3->setChecked(!s.problemTableName.empty());
    const QStringList sourceFields = fieldNames(session_, CB1->currentText(), CB3->currentText());
    const bool copy = CB5->currentIndex() == kCopyModeItem;
    const QStringList destinationFields = copy ? sourceFields : fieldNames(session_, CB2->currentText(), CB4->currentText());
    dialog.setFieldLists(sourceFields, destinationFields);
    QStringList lines;
    for (const auto& l : s.mappings)
        lines << QString::fromStdString(l);
    dialog.setMappingLines(lines);
    if (onMappingDialog)
        onMappingDialog(dialog);
    else
        dialog.exec();
    // Read back whatever ended the dialog, the close box included.
    const std::string prefix = problemTablePrefix(shell::settings().copyDir).toStdString();
    s.changedTableName = dialog.CHB1->isChecked() ? prefix + "Changed.DB" : std::string();
    s.keyViolTableName = dialog.CHB2->isChecked() ? prefix + "KeyViol.DB" : std::string();
    s.problemTableName = dialog.CHB3->isChecked() ? prefix + "Problem.DB" : std::string();
    s.mappings.clear();
    for (const QString& line : dialog.mappingLines())
        s.mappings.push_back(line.toStdString());
}

void showTableCopy(QWidget* parent) {
    TTABLE_COPY dialog(engine::Session::global(), parent);
    dialog.exec();
}

} // namespace vemo::copy
