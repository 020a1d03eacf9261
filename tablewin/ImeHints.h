#pragma once
// Input method modes of the table window applied to Qt widgets: the closest input-method
// hints, and the mode code kept on the widget (property "imeMode") so it can be read back.
#include <Qt>

class QWidget;

namespace vemo::tablewin {

inline constexpr const char* kImeModeProperty = "imeMode";

Qt::InputMethodHints imeHints(int code);
// Sets hints, enables or disables input methods (code 0 disables them) and records the code.
void applyImeMode(QWidget* widget, int code);

} // namespace vemo::tablewin
