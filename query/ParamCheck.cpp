#include "query/ParamCheck.h"

#include "engine/dataset/Query.h"
#include "engine/values/DateText.h"
#include "shell/Routines.h"

#include <stdexcept>

namespace vemo::query {

QStringList paramTypeNames()
{
    return {QStringLiteral("整数型"), QStringLiteral("実数型"), QStringLiteral("金額型"),
            QStringLiteral("文字型"), QStringLiteral("日付型"), QStringLiteral("論理型")};
}

QString decimalFilter(const QString& text)
{
    QString out;
    for (QChar c : text)
        if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('.'))
            out += c;
    return out.isEmpty() ? QStringLiteral("0") : out;
}

QString dateParamText(const QString& value, int currentYear)
{
    QString text = value;
    if (value.size() <= 8) {
        if (currentYear >= 2000)
            text = QStringLiteral("20") + value;
        else
            text = (shell::digitsFilter(value.left(2)).toInt() <= 49 ? QStringLiteral("20") : QStringLiteral("19")) + value;
    }
    // Only a four-digit year is taken: the century has been settled above.
    const QString year = text.section(QLatin1Char('/'), 0, 0);
    if (year.size() != 4 || !engine::parseDateText(text.toStdString()))
        return {};
    return text;
}

namespace {
double decimalValue(const QString& value)
{
    const QString filtered = decimalFilter(value);
    bool ok = false;
    const double d = filtered.toDouble(&ok);
    if (!ok)
        throw std::runtime_error(("'" + filtered + "' は正しい数値ではありません。").toStdString());
    return d;
}
} // namespace

bool ParamCheck(const QList<ParamRow>& rows, engine::Query& query, int currentYear)
{
    const QStringList types = paramTypeNames();
    bool ok = true;
    for (const ParamRow& r : rows) {
        const std::string name = r.name.toStdString();
        switch (types.indexOf(r.type)) {
        case 0:
            query.setParamInteger(name, shell::strToInt(shell::digitsFilter(r.value)));
            break;
        case 1:
            query.setParamFloat(name, decimalValue(r.value));
            break;
        case 2:
            query.setParamCurrency(name, decimalValue(r.value));
            break;
        case 3:
            query.setParamText(name, r.value.toStdString());
            break;
        case 4: {
            const QString text = dateParamText(r.value, currentYear);
            if (text.isEmpty()) {
                ok = false;
                break;
            }
            query.setParamDate(name, *engine::parseDateText(text.toStdString()));
            break;
        }
        case 5:
            query.setParamBoolean(name, r.value.toUpper().startsWith(QLatin1Char('T')));
            break;
        default:
            ok = false;
        }
    }
    return ok;
}

QString trimmedStatement(const QString& text)
{
    int i = 0;
    while (i < text.size() && text[i].unicode() <= ' ')
        ++i;
    return text.mid(i);
}

bool isSelectText(const QString& text) { return engine::isSelectStatement(text.toStdString()); }

} // namespace vemo::query
