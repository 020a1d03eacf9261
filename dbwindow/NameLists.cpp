#include "dbwindow/NameLists.h"

#include "shell/Registry.h"
#include "shell/RestoreRecords.h"

#include <algorithm>

namespace vemo::dbwindow {

QStringList sortedNames(const std::vector<std::string>& names)
{
    QStringList out;
    out.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& n : names)
        out << QString::fromStdString(n);
    std::sort(out.begin(), out.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return out;
}

TableMenuEnabling tableMenuEnabling(int selected)
{
    TableMenuEnabling m;
    if (selected >= 1)
        m.open = m.copy = m.status = m.index = m.print = true;
    if (selected == 1)
        m.rename = m.remove = true;
    return m;
}

std::vector<std::string> aliasParamLines(const std::vector<std::pair<QString, QString>>& rows)
{
    std::vector<std::string> out;
    for (const auto& [name, value] : rows)
        if (!name.isEmpty() && !value.isEmpty())
            out.push_back((name + u'=' + value).toStdString());
    return out;
}

std::pair<QString, QString> splitParamLine(const std::string& line)
{
    const QString s = QString::fromStdString(line);
    const qsizetype eq = s.indexOf(u'=');
    if (eq < 0)
        return {s, QString()};
    return {s.left(eq), s.mid(eq + 1)};
}

void restoreRecordedWindows(const std::array<RestoreOpener, 5>& openers)
{
    using shell::RestoreKind;
    static const std::array<RestoreKind, 5> order{RestoreKind::Table, RestoreKind::Sql, RestoreKind::StoredProc,
                                                  RestoreKind::Status, RestoreKind::Index};
    for (size_t k = 0; k < order.size(); ++k) {
        const RestoreKind kind = order[k];
        if (!shell::restoreEnabled(kind) || !openers[k])
            continue;
        const QString key = shell::restoreKindKey(kind);
        const QString nameValue = kind == RestoreKind::StoredProc ? QStringLiteral("SP_NAME")
                                                                  : QStringLiteral("TBL_NAME");
        struct Record { QString alias, name; };
        std::vector<Record> records;
        for (const QString& sub : shell::listSubkeys(key)) {
            const QString path = key + u'\\' + sub;
            Record r{shell::readSetting(path, QStringLiteral("DB_NAME")),
                     kind == RestoreKind::Sql ? QString() : shell::readSetting(path, nameValue)};
            const bool skip = kind == RestoreKind::Sql ? r.alias.isEmpty() : r.alias.isEmpty() && r.name.isEmpty();
            if (!skip)
                records.push_back(r);
        }
        // The restored windows record themselves again under this key, so it is cleared first
        // and the records are read before any window opens.
        shell::deleteKey(key);
        for (const Record& r : records)
            openers[k](r.alias, r.name);
    }
}

} // namespace vemo::dbwindow
