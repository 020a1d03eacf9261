#include "shell/Routines.h"
#include "shell/AppState.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTextOption>
#include <cmath>
#include <stdexcept>

namespace vemo::shell {

QString shortDateFormat()
{
    return QStringLiteral("yyyy/MM/dd");
}

void applyProcessLocale()
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

QString digitsFilter(const QString& text)
{
    QString out;
    for (const QChar c : text)
        if ((c >= u'0' && c <= u'9') || c == u'-')
            out.append(c);
    return out.isEmpty() ? QStringLiteral("0") : out;
}

int strToInt(const QString& text)
{
    bool ok = false;
    int value = 0;
    bool shaped = !text.isEmpty();
    for (qsizetype i = 0; i < text.size() && shaped; ++i) {
        const QChar c = text[i];
        shaped = (c >= u'0' && c <= u'9') || (i == 0 && text.size() > 1 && (c == u'-' || c == u'+'));
    }
    if (shaped)
        value = text.toInt(&ok, 10);
    if (!ok)
        throw std::runtime_error(QStringLiteral("'%1' は整数値として正しくありません。").arg(text).toStdString());
    return value;
}

QString thousandsFormat(qint64 value)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::DefaultNumberOptions);
    return c.toString(value); // the C locale groups with "," every three digits
}

QString thousandsFormat(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) >= 9.2e18)
        throw std::runtime_error(QStringLiteral("'%1' は数値として正しくありません。").arg(text).toStdString());
    return thousandsFormat(qint64(std::llround(v)));
}

QString quotedNameList(const QStringList& names, int quotation)
{
    const QString quote = quotation == 1 ? QStringLiteral("'") : quotation == 2 ? QStringLiteral("\"") : QString();
    QString text;
    for (const QString& n : names)
        text += quote + n + quote + QStringLiteral("\r\n");
    return text;
}

QList<qreal> editorTabStops(qreal unit, int tabWidth)
{
    QList<qreal> stops;
    for (int i = 0; i < 12; ++i)
        stops.append(unit * (tabWidth / 2) * i);
    return stops;
}

namespace {

void applyStops(QTextDocument* doc, QWidget* editor, const QList<qreal>& points)
{
    // Qt measures tab positions in device pixels.
    const qreal pxPerPt = editor->logicalDpiY() / 72.0;
    QList<QTextOption::Tab> tabs;
    for (const qreal p : points)
        if (p > 0)
            tabs.append(QTextOption::Tab(p * pxPerPt, QTextOption::LeftTab));
    QTextOption opt = doc->defaultTextOption();
    opt.setTabs(tabs);
    doc->setDefaultTextOption(opt);
    editor->update();
}

qreal pointUnit(const QFont& f)
{
    const qreal pt = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 72.0 / 96.0;
    return std::round(pt) + 1;
}

} // namespace

void setEditorTabs(QTextEdit* editor, int tabWidth)
{
    applyStops(editor->document(), editor, editorTabStops(pointUnit(editor->font()), tabWidth));
}

void setEditorTabs(QPlainTextEdit* editor, int tabWidth)
{
    applyStops(editor->document(), editor, editorTabStops(pointUnit(editor->font()), tabWidth));
}

void setEditorTabsByPixelHeight(QTextEdit* editor, int tabWidth)
{
    applyStops(editor->document(), editor, editorTabStops(QFontMetrics(editor->font()).height(), tabWidth));
}

std::optional<QFont> settingsFont()
{
    const AppSettings& s = settings();
    if (s.fontName.isEmpty())
        return std::nullopt;
    QFont f(s.fontName);
    if (s.fontSize > 0)
        f.setPointSize(s.fontSize);
    return f;
}

} // namespace vemo::shell
