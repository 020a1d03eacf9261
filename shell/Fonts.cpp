#include "shell/Fonts.h"

#include <QFont>
#include <QFontDatabase>

namespace vemo::shell {

namespace {

struct Mapping {
    const char16_t* name;
    QStringList families;
};

const QList<Mapping>& mappings()
{
    static const QList<Mapping> m = {
        {u"ＭＳ ゴシック", {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans Mono CJK JP")}},
        {u"MS Gothic", {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans Mono CJK JP")}},
        {u"ＭＳ Ｐゴシック", {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")}},
        {u"MS PGothic", {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")}},
        {u"MS UI Gothic", {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")}},
        {u"ＭＳ 明朝", {QStringLiteral("IPAMincho"), QStringLiteral("IPAexMincho"), QStringLiteral("Noto Serif CJK JP")}},
        {u"MS Mincho", {QStringLiteral("IPAMincho"), QStringLiteral("IPAexMincho"), QStringLiteral("Noto Serif CJK JP")}},
        {u"ＭＳ Ｐ明朝", {QStringLiteral("IPAPMincho"), QStringLiteral("IPAexMincho"), QStringLiteral("Noto Serif CJK JP")}},
    };
    return m;
}

} // namespace

QStringList fontCandidates(const QString& windowsName)
{
    const QStringList installed = QFontDatabase::families();
    QStringList out;
    for (const Mapping& m : mappings())
        if (windowsName.compare(QString::fromUtf16(m.name), Qt::CaseInsensitive) == 0)
            for (const QString& f : m.families)
                if (installed.contains(f, Qt::CaseInsensitive))
                    out.append(f);
    return out;
}

QStringList requestedFontNames()
{
    QStringList out;
    for (const Mapping& m : mappings()) {
        const QString name = QString::fromUtf16(m.name);
        if (name.front().unicode() >= 0x100 && !fontCandidates(name).isEmpty())
            out.append(name);
    }
    return out;
}

void installFontSubstitutions()
{
    for (const Mapping& m : mappings()) {
        const QString name = QString::fromUtf16(m.name);
        const QStringList found = fontCandidates(name);
        if (!found.isEmpty())
            QFont::insertSubstitutions(name, found);
    }
}

} // namespace vemo::shell
