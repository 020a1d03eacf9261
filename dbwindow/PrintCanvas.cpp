#include "dbwindow/PrintCanvas.h"

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>

namespace vemo::dbwindow {

QPainterCanvas::QPainterCanvas(QPainter& painter, QPagedPaintDevice& device)
    : p_(painter), device_(device), dpiX_(device.logicalDpiX()), dpiY_(device.logicalDpiY())
{
    setPenWidth(2);
    p_.setBrush(QBrush(Qt::white, Qt::SolidPattern));
}

void QPainterCanvas::setFontName(const QString& family)
{
    QFont f = p_.font();
    f.setFamily(family);
    p_.setFont(f);
}

void QPainterCanvas::setFontHeight(int points)
{
    QFont f = p_.font();
    f.setPixelSize(std::max(1, dy(points * 10)));
    p_.setFont(f);
}

void QPainterCanvas::setPenWidth(int n)
{
    p_.setPen(QPen(QBrush(Qt::black), penPixels(n, dpiX_), Qt::SolidLine));
}

void QPainterCanvas::text(int x, int y, const QString& text)
{
    p_.drawText(dx(x), dy(y) + QFontMetrics(p_.font(), &device_).ascent(), text);
}

void QPainterCanvas::line(int x1, int y1, int x2, int y2)
{
    p_.drawLine(dx(x1), dy(y1), dx(x2), dy(y2));
}

void QPainterCanvas::frame(int x1, int y1, int x2, int y2)
{
    // the corner ellipse is 50 x 50 device pixels, not converted
    p_.drawRoundedRect(QRect(QPoint(dx(x1), dy(y1)), QPoint(dx(x2), dy(y2))), 25, 25, Qt::AbsoluteSize);
}

void QPainterCanvas::newPage()
{
    device_.newPage();
}

} // namespace vemo::dbwindow
