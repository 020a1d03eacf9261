#include "tablewin/ImeHints.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QWidget>

namespace vemo::tablewin {

Qt::InputMethodHints imeHints(int code)
{
    switch (code) {
    case 0: // disabled
    case 1: // closed: typed keys go straight in
    case 4: // half-width alphanumeric
        return Qt::ImhLatinOnly | Qt::ImhPreferLatin | Qt::ImhNoPredictiveText;
    case 5: // full-width alphanumeric
        return Qt::ImhPreferLatin;
    default: // open, don't care, kana, Chinese, Hangul: the input method decides
        return Qt::ImhNone;
    }
}

void applyImeMode(QWidget* widget, int code)
{
    if (!widget)
        return;
    widget->setInputMethodHints(imeHints(code));
    widget->setAttribute(Qt::WA_InputMethodEnabled, code != 0);
    widget->setProperty(kImeModeProperty, code);
    if (widget->hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImHints | Qt::ImEnabled);
}

} // namespace vemo::tablewin
