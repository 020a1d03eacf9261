#pragma once
// Small routines several windows share; plain functions so tests can call them.
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class QTextEdit;
class QPlainTextEdit;

namespace vemo::shell {

// Makes the process's default locale Japanese with the short date format "yyyy/MM/dd"
// (what QLocale().dateFormat(QLocale::ShortFormat) and toString(date, ShortFormat) use).
void applyProcessLocale();
QString shortDateFormat();

// Keeps only "0"-"9" and "-", in order; "0" when nothing is left.
QString digitsFilter(const QString& text);
// Integer of a decimal text (optional sign, digits only, fits an int); anything else throws
// std::runtime_error with the message the user sees.
int strToInt(const QString& text);
// "#,##0": grouped every three digits, no decimals (rounded half away from zero).
QString thousandsFormat(const QString& text);
QString thousandsFormat(qint64 value);

// Clipboard name lists: each name quoted by `quotation` (QUOTATION: 0 none, 1 ', 2 ") and
// followed by CR LF. The text is never cut, however many names there are.
QString quotedNameList(const QStringList& names, int quotation);

// The 12 tab stops of an editor in points: stop i at unit * (tabWidth div 2) * i, where unit
// is the font size in points + 1 (or, for data-aware editors, the font height in pixels).
QList<qreal> editorTabStops(qreal unit, int tabWidth);
// Applies those stops to an editor, with the unit taken from the editor's own font.
void setEditorTabs(QTextEdit* editor, int tabWidth);
void setEditorTabs(QPlainTextEdit* editor, int tabWidth);
// Variant for editors bound to a field: the unit is the font's height in pixels.
void setEditorTabsByPixelHeight(QTextEdit* editor, int tabWidth);

// The font of the FONT_NAME and FONT_SIZE settings; none when no font name is set (each
// window then keeps its own).
std::optional<QFont> settingsFont();

} // namespace vemo::shell
