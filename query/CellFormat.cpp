#include "query/CellFormat.h"
#include "query/TCellKind.h"

#include <QStringList>
#include <cmath>

namespace vemo::query {

namespace {

// Splits on ";" outside quotes.
QStringList splitSections(const QString& format)
{
    QStringList out;
    QString cur;
    QChar quote;
    for (QChar c : format) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u';') {
            out << cur;
            cur.clear();
            continue;
        }
        cur += c;
    }
    out << cur;
    return out;
}

QString groupThousands(const QString& digits)
{
    QString out;
    const int n = digits.size();
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += u',';
        out += digits[i];
    }
    return out;
}

QString formatSection(const QString& section, double value, bool withMinus)
{
    // Locate the placeholder run; everything before and after it is literal text.
    int first = -1, last = -1;
    QChar quote;
    for (int i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'"' || c == u'\'') {
            quote = c;
            continue;
        }
        if (c == u'0' || c == u'#' || c == u'.' || c == u',') {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    auto literal = [](const QString& s) {
        QString out;
        QChar quote;
        for (QChar c : s) {
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
                else
                    out += c;
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else {
                out += c;
            }
        }
        return out;
    };
    if (first < 0)
        return literal(section);

    const QString body = section.mid(first, last - first + 1);
    const int dot = body.indexOf(u'.');
    const QString intPart = dot < 0 ? body : body.left(dot);
    const QString fracPart = dot < 0 ? QString() : body.mid(dot + 1);
    const bool grouping = intPart.contains(u',');
    int minInt = 0;
    for (QChar c : intPart)
        if (c == u'0')
            ++minInt;
    int minFrac = 0, maxFrac = 0;
    for (QChar c : fracPart) {
        if (c == u'0') {
            ++maxFrac;
            minFrac = maxFrac;
        } else if (c == u'#') {
            ++maxFrac;
        }
    }

    const double magnitude = std::fabs(value);
    QString digits = QString::number(magnitude, 'f', maxFrac);
    QString ip = digits, fp;
    if (const int d = digits.indexOf(u'.'); d >= 0) {
        ip = digits.left(d);
        fp = digits.mid(d + 1);
    }
    while (fp.size() > minFrac && fp.endsWith(u'0'))
        fp.chop(1);
    if (ip == u"0" && minInt == 0)
        ip.clear();
    while (ip.size() < minInt)
        ip.prepend(u'0');
    if (grouping)
        ip = groupThousands(ip);

    QString number = ip;
    if (!fp.isEmpty())
        number += u'.' + fp;
    if (number.isEmpty())
        number = QStringLiteral("0");
    // "-0.00" would be wrong: a value that rounds to zero shows no sign.
    bool nonZero = false;
    for (QChar c : number)
        if (c.isDigit() && c != u'0')
            nonZero = true;
    const bool negative = withMinus && value < 0 && nonZero;
    return literal(section.left(first)) + (negative ? QStringLiteral("-") : QString()) + number
        + literal(section.mid(last + 1));
}

} // namespace

QString formatNumber(const QString& format, double value)
{
    const QStringList sections = splitSections(format);
    if (value == 0.0 && sections.size() >= 3 && !sections[2].isEmpty())
        return formatSection(sections[2], value, false);
    if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty())
        return formatSection(sections[1], value, false);
    return formatSection(sections[0], value, true);
}

std::optional<double> cellNumber(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QString toInputMask(const QString& editMask)
{
    if (editMask.isEmpty())
        return {};
    const QStringList fields = editMask.split(u';');
    const QString body = fields.value(0);
    const QString blank = fields.size() >= 3 && !fields[2].isEmpty() ? fields[2].left(1) : QStringLiteral("_");
    static const QString qtMeta = QStringLiteral("AaNnXx90Dd#HhBb><!{}[]\\");
    QString out;
    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        switch (c.unicode()) {
        case '!': break;                           // leading-blank trimming: no counterpart
        case '>': out += u'>'; break;
        case '<':
            if (i + 1 < body.size() && body[i + 1] == u'>') {
                out += u'!';
                ++i;
            } else {
                out += u'<';
            }
            break;
        case 'L': out += u'A'; break;
        case 'l': out += u'a'; break;
        case 'A': out += u'N'; break;
        case 'a': out += u'n'; break;
        case 'C': out += u'X'; break;
        case 'c': out += u'x'; break;
        case '0': out += u'9'; break;
        case '9': out += u'0'; break;
        case '#': out += u'#'; break;
        case '_': out += u' '; break;
        case '\\':
            if (i + 1 < body.size()) {
                const QChar next = body[++i];
                if (qtMeta.contains(next))
                    out += u'\\';
                out += next;
            }
            break;
        default:
            if (qtMeta.contains(c))
                out += u'\\';
            out += c;
        }
    }
    return out + u';' + blank;
}

QRect alignedTextRect(const QRect& cell, const QSize& text, int bits, int margin, bool fixedCell)
{
    int x;
    if (bits & AlignRightBit)
        x = cell.right() + 1 - margin - text.width();
    else if (bits & AlignHCenterBit)
        x = cell.left() + (cell.width() - text.width()) / 2;
    else
        x = cell.left() + margin;
    int y;
    if (bits & AlignBottomBit)
        y = cell.bottom() + 1 - text.height() - (fixedCell ? 2 : 0);
    else if (bits & AlignTopBit)
        y = cell.top() + 2;
    else
        y = cell.top() + (cell.height() - text.height()) / 2;
    return QRect(QPoint(x, y), text);
}

} // namespace vemo::query
