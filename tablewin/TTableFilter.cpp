#include "tablewin/TTableFilter.h"

#include "shell/AppState.h"
#include "shell/Routines.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vemo::tablewin {

namespace {

// "Filter:" drawn twice, grey under white, for an embossed heading.
QWidget* embossedHeading(QWidget* parent, const QString& text)
{
    auto* panel = new QWidget(parent);
    panel->setFixedHeight(21);
    QFont f(QStringLiteral("ＭＳ Ｐ明朝"));
    f.setPixelSize(13);
    f.setBold(true);
    f.setItalic(true);
    auto* shadow = new QLabel(text, panel);
    shadow->setFont(f);
    shadow->setStyleSheet(QStringLiteral("color: grey; background: transparent;"));
    shadow->move(6, 6);
    auto* face = new QLabel(text, panel);
    face->setFont(f);
    face->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    face->move(3, 3);
    return panel;
}

} // namespace

TTableFilter::TTableFilter(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("フィルタの設定"));
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    resize(379, 193);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(embossedHeading(this, QStringLiteral("Filter:")));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setTabChangesFocus(false);
    Memo1->setToolTip(QStringLiteral("Filter文を入力します。"));
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(Memo1, 1);

    PM1 = new QMenu(this);
    auto add = [this](const char* name, const QString& caption, const QString& hint, auto slot) {
        QAction* a = PM1->addAction(caption, Memo1, slot);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        return a;
    };
    add("Cut1", QStringLiteral("切り取り(&T)"), QStringLiteral("文字列を切り取ります"), &QPlainTextEdit::cut);
    add("Copy1", QStringLiteral("ｺﾋﾟｰ(&C)"), QStringLiteral("文字列をｺﾋﾟｰします"), &QPlainTextEdit::copy);
    add("Paste1", QStringLiteral("貼り付け(&P)"), QStringLiteral("文字列を貼り付けます"), &QPlainTextEdit::paste);
    QAction* del = PM1->addAction(QStringLiteral("削除(&D)"), Memo1,
                                  [this] { Memo1->textCursor().removeSelectedText(); });
    del->setObjectName(QStringLiteral("Delete2"));
    del->setStatusTip(QStringLiteral("文字列を削除します"));
    PM1->addSeparator()->setObjectName(QStringLiteral("SEP1"));
    add("SelAll1", QStringLiteral("すべて選択(&A)"), QStringLiteral("文字列をすべて選択します。"),
        &QPlainTextEdit::selectAll);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PM1->exec(Memo1->mapToGlobal(p)); });

    auto* buttons = new QWidget(this);
    buttons->setFixedHeight(29);
    auto* bl = new QHBoxLayout(buttons);
    bl->setContentsMargins(4, 4, 4, 4);
    bl->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("OK"), buttons);
    Button2 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), buttons);
    for (auto* b : {Button1, Button2}) {
        b->setFixedSize(85, 20);
        b->setAutoDefault(false);
        bl->addWidget(b);
    }
    layout->addWidget(buttons);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject); // Esc also rejects
    Memo1->setFocus();
}

void TTableFilter::setFilterText(const QString& text)
{
    Memo1->setPlainText(text);
}

void TTableFilter::showEvent(QShowEvent* e)
{
    const auto& s = shell::settings();
    if (const auto font = shell::settingsFont()) {
        const QFont& f = *font;
        setFont(f);
    }
    shell::setEditorTabs(Memo1, s.tabWidth);
    Memo1->setFocus();
    QDialog::showEvent(e);
}

void TTableFilter::done(int r)
{
    result_ = r == QDialog::Accepted ? Memo1->toPlainText() : kCancelMark;
    QDialog::done(r);
}

QString TTableFilter::run(QWidget* parent, const QString& current)
{
    TTableFilter dlg(parent);
    dlg.setFilterText(current);
    dlg.exec();
    return dlg.resultText();
}

} // namespace vemo::tablewin
