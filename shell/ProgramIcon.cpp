#include "shell/ProgramIcon.h"

#include <QPainter>

namespace vemo::shell {

QPixmap programIconPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    const QRectF sheet(1.5 * u, 2 * u, 13 * u, 12 * u);
    p.setPen(QPen(QColor(0, 0, 96), u * 0.6));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.fillRect(QRectF(sheet.left(), sheet.top(), sheet.width(), 3 * u), QColor(0, 0, 128));
    p.setPen(QPen(QColor(0, 0, 128), u * 0.35));
    for (int row = 1; row < 4; ++row)
        p.drawLine(QPointF(sheet.left(), sheet.top() + 3 * u + row * 2.25 * u),
                   QPointF(sheet.right(), sheet.top() + 3 * u + row * 2.25 * u));
    for (int col = 1; col < 3; ++col)
        p.drawLine(QPointF(sheet.left() + col * sheet.width() / 3, sheet.top() + 3 * u),
                   QPointF(sheet.left() + col * sheet.width() / 3, sheet.bottom()));
    return pm;
}

} // namespace vemo::shell
