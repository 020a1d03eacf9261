#include "index/Embossed.h"

#include <QLabel>

namespace vemo::index {

void embossed(QWidget* parent, const QString& text, QPoint grey, QPoint white)
{
    QFont f(QStringLiteral("ＭＳ Ｐ明朝"));
    f.setPixelSize(13);
    f.setBold(true);
    f.setItalic(true);
    auto* shadow = new QLabel(text, parent);
    shadow->setFont(f);
    shadow->setStyleSheet(QStringLiteral("color: grey; background: transparent;"));
    shadow->move(grey);
    auto* face = new QLabel(text, parent);
    face->setFont(f);
    face->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    face->move(white);
}

} // namespace vemo::index
