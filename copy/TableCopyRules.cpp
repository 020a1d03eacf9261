#include "copy/TableCopyRules.h"

namespace vemo::copy {

const QList<CopyModeItem>& copyModeItems() {
    using engine::BatchMode;
    static const QList<CopyModeItem> items = {
        {QStringLiteral("追加  (batAppend)"), BatchMode::Append, false},
        {QStringLiteral("更新  (batUpdate)"), BatchMode::Update, true},
        {QStringLiteral("追加･更新  (batAppendUpdate)"), BatchMode::AppendUpdate, true},
        {QStringLiteral("ｺﾋﾟｰ  (batCopy)"), BatchMode::Copy, false},
        {QStringLiteral("削除  (batDelete)"), BatchMode::Delete, true},
    };
    return items;
}

QString problemTablePrefix(const QString& copyDir) {
    if (copyDir.isEmpty())
        return {};
    return copyDir.endsWith(QLatin1Char('/')) ? copyDir : copyDir + QLatin1Char('/');
}

QString mappingLine(const QString& source, const QString& destination) {
    if (source.isEmpty() || destination.isEmpty())
        return {};
    if (source == destination)
        return source;
    return destination + QStringLiteral(" = ") + source;
}

QPair<QString, QString> mappingCells(const QString& line) {
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {line, line};
    return {line.mid(eq + 1).trimmed().left(255), line.left(eq).trimmed()};
}

} // namespace vemo::copy
