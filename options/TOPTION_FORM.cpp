#include "options/TOPTION_FORM.h"

#include "shell/AppState.h"
#include "shell/Fonts.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/TMainForm.h"
#include "shell/TSHBrowseForFolderEx.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QShowEvent>
#include <QTabWidget>

#include <algorithm>

namespace vemo::options {

using shell::kRootKey;
using shell::settings;
using shell::writeSetting;

namespace {

QFont pixelFont(const QString& family, int px)
{
    QFont f(family);
    f.setPixelSize(px);
    return f;
}

void hint(QWidget* w, const QString& text)
{
    w->setToolTip(text);
    w->setStatusTip(text);
}

QString flagText(bool on)
{
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

struct FolderLine {
    const char16_t* label;
    const char16_t* hint;
    const char16_t* title;
};
const FolderLine kFolderLines[] = {
    {u"ﾃｰﾌﾞﾙｵｰﾌﾟﾝ", u"ﾃｰﾌﾞﾙｵｰﾌﾟﾝ時の初期ﾌｫﾙﾀﾞを指定します。", u"ﾃｰﾌﾞﾙｵｰﾌﾟﾝﾌｫﾙﾀﾞ"},
    {u"ﾃｰﾌﾞﾙｺﾋﾟｰ", u"ﾃｰﾌﾞﾙｺﾋﾟｰ時の報告ﾃｰﾌﾞﾙの保存ﾌｫﾙﾀﾞを指定します。", u"ﾃｰﾌﾞﾙｺﾋﾟｰﾌｫﾙﾀﾞ"},
    {u"SQLﾒﾀﾃﾞｰﾀ", u"SQLﾒﾀﾃﾞｰﾀの初期ﾌｫﾙﾀﾞを指定します。", u"SQLﾒﾀﾃﾞｰﾀﾌｫﾙﾀﾞ"},
    {u"CSV", u"CSVﾌｧｲﾙの初期保存ﾌｫﾙﾀﾞを指定します。", u"CSVﾌｧｲﾙﾌｫﾙﾀﾞ"},
    {u"壁紙", u"壁紙指定の初期ﾌｫﾙﾀﾞを指定します。", u"壁紙ﾌｫﾙﾀﾞ"},
};

QString savedFolder(int tag)
{
    const shell::AppSettings& s = settings();
    switch (tag) {
    case 0: return s.openDir;
    case 1: return s.copyDir;
    case 2: return s.sqlDir;
    case 3: return s.csvDir;
    default: return s.wpDir;
    }
}

} // namespace

QString& TOPTION_FORM::lastPickedPath()
{
    static QString path;
    return path;
}

TOPTION_FORM::TOPTION_FORM(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ設定"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(398, 226);
    setFont(pixelFont(QStringLiteral("ＭＳ ゴシック"), 13));
    auto* help = new QShortcut(QKeySequence::HelpContents, this); // F1: this dialog's manual page
    connect(help, &QShortcut::activated, this, [] {
        if (shell::TMainForm* frame = shell::mainForm())
            frame->openHelpPage(QStringLiteral("options.html"));
    });

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(4, 4, 389, 193);

    // 初期ﾌｫﾙﾀﾞ
    auto* folders = new QWidget;
    QLineEdit** edits[] = {&Edit2, &Edit3, &Edit4, &Edit5, &Edit6};
    QPushButton** buttons[] = {&Button3, &Button4, &Button5, &Button6, &Button7};
    for (int i = 0; i < 5; ++i) {
        const FolderLine& line = kFolderLines[i];
        const int y = 10 + i * 30;
        auto* label = new QLabel(QString::fromUtf16(line.label), folders);
        label->setGeometry(6, y + 3, 80, 16);
        QLineEdit* e = new QLineEdit(folders);
        e->setGeometry(78, y, 281, 21);
        hint(e, QString::fromUtf16(line.hint));
        QPushButton* b = new QPushButton(QStringLiteral("･･･"), folders);
        b->setGeometry(361, y, 18, 21);
        b->setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 11));
        b->setProperty("tag", i);
        connect(b, &QPushButton::clicked, this, &TOPTION_FORM::Button_Click);
        label->setBuddy(e);
        *edits[i] = e;
        *buttons[i] = b;
    }
    PageControl1->addTab(folders, QStringLiteral("初期ﾌｫﾙﾀﾞ"));
    PageControl1->setTabToolTip(0, QStringLiteral("各種初期ﾌｫﾙﾀﾞを設定します。"));

    // ｸｫｰﾃｰｼｮﾝ
    auto* quoting = new QWidget;
    RB1 = new QRadioButton(QStringLiteral("ｸｫｰﾃｰｼｮﾝなし"), quoting);
    RB2 = new QRadioButton(QStringLiteral("ｼﾝｸﾞﾙｸｫｰﾃｰｼｮﾝで括る"), quoting);
    RB3 = new QRadioButton(QStringLiteral("ﾀﾞﾌﾞﾙｸｫｰﾃｰｼｮﾝで括る"), quoting);
    hint(RB1, QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞｺﾋﾟｰ時にｸｫｰﾃｰｼｮﾝを付けません。"));
    hint(RB2, QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞｺﾋﾟｰ時にｼﾝｸﾞﾙｸｫｰﾃｰｼｮﾝを付けます。"));
    hint(RB3, QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞｺﾋﾟｰ時にﾀﾞﾌﾞﾙｸｫｰﾃｰｼｮﾝを付けます。"));
    RB1->setGeometry(16, 16, 300, 20);
    RB2->setGeometry(16, 46, 300, 20);
    RB3->setGeometry(16, 76, 300, 20);
    PageControl1->addTab(quoting, QStringLiteral("ｸｫｰﾃｰｼｮﾝ"));
    PageControl1->setTabToolTip(1, QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞｺﾋﾟｰ時のｸｫｰﾃｰｼｮﾝを設定します。"));

    // ｳｲﾝﾄﾞｳ
    auto* window = new QWidget;
    auto* wpLabel = new QLabel(QStringLiteral("壁紙"), window);
    wpLabel->setGeometry(6, 13, 60, 16);
    Edit1 = new QLineEdit(window);
    Edit1->setGeometry(70, 10, 289, 21);
    hint(Edit1, QStringLiteral("ﾒｲﾝｳｨﾝﾄﾞｳの壁紙を指定します。"));
    Button1 = new QPushButton(QStringLiteral("･･･"), window);
    Button1->setGeometry(361, 10, 18, 21);
    Button1->setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 11));
    Button1->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    connect(Button1, &QPushButton::clicked, this, &TOPTION_FORM::Button1Click);
    CHB1 = new QCheckBox(QStringLiteral("壁紙をｳｲﾝﾄﾞｳの大きさにあわせて拡大/縮小する"), window);
    CHB1->setGeometry(70, 36, 310, 20);
    hint(CHB1, QStringLiteral("壁紙をｳｲﾝﾄﾞｳの大きさにあわせて拡大/縮小するかどうか指定します。"));
    auto* fontLabel = new QLabel(QStringLiteral("ﾌｫﾝﾄ名"), window);
    fontLabel->setGeometry(6, 67, 60, 16);
    CB01 = new QComboBox(window);
    CB01->setGeometry(70, 64, 200, 22);
    auto* sizeLabel = new QLabel(QStringLiteral("ｻｲｽﾞ"), window);
    sizeLabel->setGeometry(280, 67, 40, 16);
    CB02 = new QComboBox(window);
    CB02->setGeometry(320, 64, 59, 22);
    for (int i = 7; i <= 18; ++i)
        CB02->addItem(QString::number(i));
    auto* tabLabel = new QLabel(QStringLiteral("ﾀﾌﾞ幅"), window);
    tabLabel->setGeometry(6, 103, 60, 16);
    QRadioButton** tabs[] = {&RB4, &RB5, &RB6, &RB7};
    for (int i = 0; i < 4; ++i) {
        *tabs[i] = new QRadioButton(QString::number(2 + 2 * i), window);
        (*tabs[i])->setGeometry(70 + i * 50, 100, 45, 20);
    }
    RB5->setChecked(true);
    PageControl1->addTab(window, QStringLiteral("ｳｲﾝﾄﾞｳ"));
    PageControl1->setTabToolTip(2, QStringLiteral("ﾒｲﾝﾇｨﾝﾄﾞｳの壁紙を設定します。"));

    // 印刷
    auto* printing = new QWidget;
    CHB2 = new QCheckBox(QStringLiteral("ﾃｰﾌﾞﾙ情報を印刷する"), printing);
    CHB3 = new QCheckBox(QStringLiteral("ｲﾝﾃﾞｯｸｽ情報を印刷する"), printing);
    hint(CHB2, QStringLiteral("ﾃｰﾌﾞﾙ情報を印刷します。"));
    hint(CHB3, QStringLiteral("ｲﾝﾃﾞｯｸｽ情報を印刷します。"));
    CHB2->setGeometry(16, 16, 300, 20);
    CHB3->setGeometry(16, 46, 300, 20);
    PageControl1->addTab(printing, QStringLiteral("印刷"));
    PageControl1->setTabToolTip(3, QStringLiteral("情報印刷を設定します。"));

    // 保存
    auto* keep = new QWidget;
    struct Box {
        QCheckBox** box;
        const char16_t* caption;
        const char16_t* hint;
    };
    const Box boxes[] = {
        {&CHB4, u"ﾒｲﾝｳｲﾝﾄﾞｳの位置/ｻｲｽﾞを保存/復元する", u"ﾒｲﾝｳｲﾝﾄﾞｳの位置/ｻｲｽﾞを保存/復元するかどうかを指定します。"},
        {&CHB5, u"ｴﾘｱｽｳｲﾝﾄﾞｳのｴﾘｱｽを保存/復元する", u"ｴﾘｱｽｳｲﾝﾄﾞｳのｴﾘｱｽを保存/復元するかどうか指定します"},
        {&CHB7, u"ﾃｰﾌﾞﾙｳｲﾝﾄﾞｳを保存/復元する", u"ﾃｰﾌﾞﾙｳｲﾝﾄﾞｳを保存/復元するかどうか指定します"},
        {&CHB8, u"SQLｳｲﾝﾄﾞｳを保存/復元する", u"SQLｳｲﾝﾄﾞｳを保存/復元するかどうか指定します"},
        {&CHB11, u"ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬｳｲﾝﾄﾞｳを保存/復元する", u"ｽﾄｱﾄﾞﾌﾟﾛｼｰｼﾞｬｳｲﾝﾄﾞｳを保存/復元するかどうか指定します"},
        {&CHB9, u"ﾃｰﾌﾞﾙ情報ｳｲﾝﾄﾞｳを保存/復元する", u"ﾃｰﾌﾞﾙ情報ｳｲﾝﾄﾞｳを保存/復元するかどうか指定します"},
        {&CHB10, u"ｲﾝﾃﾞｯｸｽ情報ｳｲﾝﾄﾞｳを保存/復元する", u"ｲﾝﾃﾞｯｸｽ情報ｳｲﾝﾄﾞｳを保存/復元するかどうか指定します"},
        {&CHB6, u"ﾃｰﾌﾞﾙｳｲﾝﾄﾞｳのIMEﾓｰﾄﾞを保存/復元する", u"ﾃｰﾌﾞﾙｳｲﾝﾄﾞｳのIMEﾓｰﾄﾞを保存/復元するかどうか指定します"},
    };
    for (int i = 0; i < 8; ++i) {
        QCheckBox* b = new QCheckBox(QString::fromUtf16(boxes[i].caption), keep);
        b->setGeometry(8, 4 + i * 19, 280, 18);
        hint(b, QString::fromUtf16(boxes[i].hint));
        *boxes[i].box = b;
    }
    BitBtn1 = new QPushButton(QStringLiteral("IMEﾃﾞｰﾀｸﾘｱ"), keep);
    BitBtn1->setGeometry(290, 4 + 7 * 19 - 2, 88, 22);
    hint(BitBtn1, QStringLiteral("IME設定ﾃﾞｰﾀをｸﾘｱします"));
    connect(BitBtn1, &QPushButton::clicked, this, &TOPTION_FORM::BitBtn1Click);
    PageControl1->addTab(keep, QStringLiteral("保存"));
    PageControl1->setCurrentIndex(0);

    Button2 = new QPushButton(QStringLiteral("OK"), this);
    Button2->setGeometry(318, 200, 75, 23);
    Button2->setDefault(true);
    connect(Button2, &QPushButton::clicked, this, &TOPTION_FORM::Button2Click);

    OD2 = new shell::TSHBrowseForFolderEx(this);
    OD2->Caption = QStringLiteral("フォルダ参照");
    OD2->SelectFolder = shell::TSelectFolder::sfManual;
    OD2->ShowStyle = shell::TShowStyle::ssCenterScreen;
    OD2->OnSelectionChanged = [this](shell::TSHBrowseForFolderEx*, QWidget*, const QString& path, QString&,
                                     shell::TOKButtonState&) { OD2SelectionChanged(path); };
}

void TOPTION_FORM::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TOPTION_FORM::FormShow()
{
    const shell::AppSettings& s = settings();
    Edit2->setText(s.openDir);
    Edit3->setText(s.copyDir);
    Edit4->setText(s.sqlDir);
    Edit5->setText(s.csvDir);
    Edit6->setText(s.wpDir);
    (s.quotation == 1 ? RB2 : s.quotation == 2 ? RB3 : RB1)->setChecked(true);
    Edit1->setText(s.wallpaper);
    CHB1->setChecked(s.wpStretch);

    CB01->clear();
    QStringList names = shell::requestedFontNames();
    for (const QString& family : QFontDatabase::families())
        if (!QFontDatabase::isPrivateFamily(family) && !names.contains(family))
            names.append(family);
    for (const QString& name : names) {
        CB01->addItem(name);
        const QStringList resolved = shell::fontCandidates(name);
        if (!resolved.isEmpty())
            CB01->setItemData(CB01->count() - 1, resolved.first(), Qt::ToolTipRole);
    }
    int fontIndex = -1;
    for (int i = 0; i < CB01->count(); ++i)
        if (CB01->itemText(i) == s.fontName) // exact case; the last match wins
            fontIndex = i;
    CB01->setCurrentIndex(fontIndex);

    const int sizeIndex = s.fontSize - 7;
    CB02->setCurrentIndex(sizeIndex >= 0 && sizeIndex < CB02->count() ? sizeIndex : -1);

    // Exclusive buttons cannot all be off while grouped; clear the group's exclusivity
    // while none matches so that no button shows checked.
    QRadioButton* tabs[] = {RB4, RB5, RB6, RB7};
    for (QRadioButton* b : tabs)
        b->setAutoExclusive(false);
    for (int i = 0; i < 4; ++i)
        tabs[i]->setChecked(s.tabWidth == 2 + 2 * i);
    for (QRadioButton* b : tabs)
        b->setAutoExclusive(true);

    CHB2->setChecked(s.printType % 2 != 0);
    CHB3->setChecked(s.printType / 2 == 1);
    CHB4->setChecked(s.rsmForm);
    CHB5->setChecked(s.rsmAlias);
    CHB7->setChecked(s.rsmTable);
    CHB8->setChecked(s.rsmSql);
    CHB11->setChecked(s.rsmSp);
    CHB9->setChecked(s.rsmStatus);
    CHB10->setChecked(s.rsmIndex);
    CHB6->setChecked(s.rsmIme);
    Edit2->setFocus();
}

void TOPTION_FORM::Button2Click()
{
    try {
        shell::AppSettings& s = settings();
        auto store = [](QString& field, const char* name, const QString& value) {
            field = value;
            writeSetting(kRootKey, QString::fromLatin1(name), value);
        };
        auto storeFlag = [](bool& field, const char* name, bool value) {
            field = value;
            writeSetting(kRootKey, QString::fromLatin1(name), flagText(value));
        };
        auto storeInt = [](int& field, const char* name, int value) {
            field = value;
            writeSetting(kRootKey, QString::fromLatin1(name), QString::number(value));
        };
        store(s.openDir, "OPEN_DIR", Edit2->text());
        store(s.copyDir, "COPY_DIR", Edit3->text());
        store(s.sqlDir, "SQL_DIR", Edit4->text());
        store(s.csvDir, "CSV_DIR", Edit5->text());
        store(s.wpDir, "WP_DIR", Edit6->text());
        int quotation = s.quotation;
        if (RB1->isChecked())
            quotation = 0;
        else if (RB2->isChecked())
            quotation = 1;
        else if (RB3->isChecked())
            quotation = 2;
        storeInt(s.quotation, "QUOTATION", quotation);
        store(s.wallpaper, "WALLPAPER", Edit1->text());
        storeFlag(s.wpStretch, "WPSTRETCH", CHB1->isChecked());
        store(s.fontName, "FONT_NAME", CB01->currentIndex() >= 0 ? CB01->currentText() : QString());
        const QString size = CB02->currentIndex() >= 0 ? CB02->currentText() : QString();
        s.fontSize = size.toInt(); // empty: 0, each window then keeps its own size
        writeSetting(kRootKey, QStringLiteral("FONT_SIZE"), size);
        const int tab = RB5->isChecked() ? 4 : RB6->isChecked() ? 6 : RB7->isChecked() ? 8 : 2;
        storeInt(s.tabWidth, "TAB_WIDTH", tab);
        storeInt(s.printType, "PRINTTYPE", (CHB2->isChecked() ? 1 : 0) + (CHB3->isChecked() ? 2 : 0));
        storeFlag(s.rsmForm, "RSM_FORM", CHB4->isChecked());
        storeFlag(s.rsmAlias, "RSM_ALIAS", CHB5->isChecked());
        storeFlag(s.rsmTable, "RSM_TABLE", CHB7->isChecked());
        storeFlag(s.rsmSql, "RSM_SQL", CHB8->isChecked());
        storeFlag(s.rsmSp, "RSM_SP", CHB11->isChecked());
        storeFlag(s.rsmStatus, "RSM_STATUS", CHB9->isChecked());
        storeFlag(s.rsmIndex, "RSM_INDEX", CHB10->isChecked());
        storeFlag(s.rsmIme, "RSM_IME", CHB6->isChecked());
    } catch (const std::exception& e) {
        // The store could not be written: say so and stay open, so nothing typed is lost.
        shell::showError(this, QString::fromStdString(e.what()));
        return;
    }
    accept();
}

QLineEdit* TOPTION_FORM::folderEdit(int tag) const
{
    QLineEdit* const edits[] = {Edit2, Edit3, Edit4, Edit5, Edit6};
    return edits[std::clamp(tag, 0, 4)];
}

void TOPTION_FORM::Button_Click()
{
    const int tag = sender() ? sender()->property("tag").toInt() : 0;
    OD2->Caption = QString::fromUtf16(kFolderLines[std::clamp(tag, 0, 4)].title);
    OD2->SelectFolderName = savedFolder(tag);
    if (OD2->Execute())
        folderEdit(tag)->setText(lastPickedPath());
}

void TOPTION_FORM::OD2SelectionChanged(const QString& path)
{
    lastPickedPath() = path;
}

void TOPTION_FORM::Button1Click()
{
    const QString filter = QStringLiteral("BitMap形式画像(*.BMP)|*.BMP|すべてのﾌｧｲﾙ (*.*)|*.*");
    if (const auto file = shell::openFileName(this, filter, settings().wpDir))
        Edit1->setText(QFileInfo(*file).absoluteFilePath());
}

void TOPTION_FORM::BitBtn1Click()
{
    if (!shell::confirm(this, QStringLiteral("IMEﾃﾞｰﾀをｸﾘｱしますか")))
        return;
    try {
        shell::deleteKey(kRootKey + QStringLiteral("\\IMEMODE"));
    } catch (const std::exception& e) {
        shell::showError(this, QString::fromStdString(e.what()));
    }
}

} // namespace vemo::options
