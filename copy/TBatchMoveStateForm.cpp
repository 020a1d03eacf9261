#include "copy/TBatchMoveStateForm.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace vemo::copy {

TBatchMoveStateForm::TBatchMoveStateForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("BatchMove"));
    setFixedSize(331, 60);
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    setFont(f);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(8, 12, 313, 21);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);
    Label1 = new QLabel(this);
    Label1->setGeometry(8, 38, 313, 15);
    Label1->setAlignment(Qt::AlignCenter);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TBatchMoveStateForm::showProgress(const engine::ProgressRecord& record) {
    const int position = engine::progressPosition(record);
    // The bar keeps within its range; the percentage is computed from the position itself.
    ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
    Label1->setText(QString::number(engine::progressPercent(position, ProgressBar1->maximum())) + QStringLiteral("%"));
    repaint();
}

} // namespace vemo::copy
