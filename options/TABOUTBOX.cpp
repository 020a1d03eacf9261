#include "options/TABOUTBOX.h"

#include "shell/ProgramIcon.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace vemo::options {

namespace {

QFont pixelFont(const QString& family, int px, bool bold = false)
{
    QFont f(family);
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

} // namespace

TABOUTBOX::TABOUTBOX(QWidget* parent) : QDialog(parent)
{
    const QString gothic = QStringLiteral("ＭＳ ゴシック");
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(308, 112);
    setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 12));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(3, 3, 298, 70);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(2);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setGeometry(7, 7, 55, 55);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(shell::programIconPixmap(64));

    Bevel1 = new QFrame(Panel1);
    Bevel1->setGeometry(72, 8, 213, 29);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    ProductName = new QLabel(QStringLiteral("VEMO32.EXE"), Panel1);
    ProductName->move(84, 14);
    ProductName->setFont(pixelFont(gothic, 16, true));
    ProductName->setStyleSheet(QStringLiteral("color: #0000ff;"));
    ProductName->adjustSize();

    Version = new QLabel(QStringLiteral("Version 4.72"), Panel1);
    Version->move(172, 15);
    Version->setFont(pixelFont(gothic, 15));
    Version->setStyleSheet(QStringLiteral("color: #000000;"));
    Version->adjustSize();

    Notice = new QLabel(QStringLiteral("Linux 版 フリーソフトウェア・無保証"), Panel1);
    Notice->setGeometry(72, 39, 213, 22);
    Notice->setWordWrap(true);
    Notice->setFont(pixelFont(gothic, 11, true));

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setGeometry(121, 82, 74, 24);
    OKBtn->setFont(pixelFont(gothic, 12));
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vemo::options
