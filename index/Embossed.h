#pragma once
// A heading drawn twice, grey below and white on top, shifted: an embossed label.
#include <QPoint>
#include <QString>

class QWidget;

namespace vemo::index {

// Two transparent labels on `parent` in "ＭＳ Ｐ明朝" bold italic, 13 pixels.
void embossed(QWidget* parent, const QString& text, QPoint grey, QPoint white);

} // namespace vemo::index
