#pragma once
// The drawing routines of definition printing. Positions and lengths are in print units of
// 1/720 inch; a canvas turns them into device pixels. QPainterCanvas draws on a printer or a
// PDF file; tests record the calls.
#include <QString>

class QPagedPaintDevice;
class QPainter;

namespace vemo::dbwindow {

class PrintCanvas {
public:
    virtual ~PrintCanvas() = default;
    virtual void setFontName(const QString& family) = 0;
    virtual void setFontHeight(int points) = 0;    // cell height of n points (n x 10 units)
    virtual void setPenWidth(int n) = 0;           // n / 360 inch
    virtual void text(int x, int y, const QString& text) = 0; // top-left corner at (x, y)
    virtual void line(int x1, int y1, int x2, int y2) = 0;
    virtual void frame(int x1, int y1, int x2, int y2) = 0;   // rounded, filled white
    virtual void newPage() = 0;
};

// A position in print units on a device of `dpi` pixels per inch (truncating).
constexpr int toDevice(int units, int dpi)
{
    return units * dpi / 720;
}
// Pen width n (1/360 inch) in pixels.
constexpr int penPixels(int n, int dpi)
{
    return n * dpi / 360;
}

// Draws through a painter that is active on a paged device (a QPrinter or a QPdfWriter).
// Starts as the printer routines start: pen width 2, black pen, white brush, solid styles.
class QPainterCanvas : public PrintCanvas {
public:
    QPainterCanvas(QPainter& painter, QPagedPaintDevice& device);
    void setFontName(const QString& family) override;
    void setFontHeight(int points) override;
    void setPenWidth(int n) override;
    void text(int x, int y, const QString& text) override;
    void line(int x1, int y1, int x2, int y2) override;
    void frame(int x1, int y1, int x2, int y2) override;
    void newPage() override;

private:
    int dx(int units) const { return toDevice(units, dpiX_); }
    int dy(int units) const { return toDevice(units, dpiY_); }
    QPainter& p_;
    QPagedPaintDevice& device_;
    int dpiX_, dpiY_;
};

} // namespace vemo::dbwindow
