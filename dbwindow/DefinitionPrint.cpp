#include "dbwindow/DefinitionPrint.h"

#include "dbwindow/PrintCanvas.h"

#include <QFileInfo>
#include <QStringList>

namespace vemo::dbwindow {

using namespace printlayout;

namespace {

const QString kMincho = QStringLiteral("ＭＳ 明朝");
const QString kGothic = QStringLiteral("ＭＳ ゴシック");
constexpr int bottom = top + (bodyLines + 1) * rowHeight;

QString fromStd(const std::string& s)
{
    return QString::fromStdString(s);
}

// The frame, the 50 rules (the first thick) and the vertical rules (the first thick).
void ruledForm(PrintCanvas& c, int left, int right, const std::vector<int>& columns)
{
    c.setPenWidth(4);
    c.frame(left, top, right, bottom);
    for (int i = 1; i <= bodyLines; ++i) {
        c.setPenWidth(i == 1 ? 4 : 2);
        c.line(left, top + i * rowHeight, right, top + i * rowHeight);
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        c.setPenWidth(i == 0 ? 4 : 2);
        c.line(columns[i] - 30, top, columns[i] - 30, bottom);
    }
}

void title(PrintCanvas& c, const QString& table)
{
    c.setFontHeight(12);
    c.setFontName(kGothic);
    c.text(x0, 480, printTitle(table));
    c.setFontName(kMincho);
}

} // namespace

QString pageLabel(int page)
{
    return QStringLiteral("Page:") + (QStringLiteral("    ") + QString::number(page)).right(4);
}

QString printTitle(const QString& table)
{
    return QStringLiteral("■■■  ") + table + QStringLiteral(" ■■■ ");
}

void printFieldDefinitions(PrintCanvas& c, const QString& table, const std::vector<engine::ListingRow>& rows,
                           const std::function<void()>& pageDone)
{
    const int x1 = x0 + 4 * u, x2 = x1 + 22 * u, x3 = x2 + 15 * u, x4 = x3 + 15 * u, x5 = x4 + 4 * u,
              x6 = x5 + 24 * u;
    const int xs[] = {x0, x1, x2, x3, x4};
    c.setFontName(kMincho);
    c.setFontHeight(10);
    size_t row = 1;
    int page = 1;
    while (row < rows.size()) {
        if (pageDone)
            pageDone();
        title(c, table);
        ruledForm(c, x0 - 30, x6 - 30, {x1, x2, x3, x4, x5});
        c.text(81 * u, top + 52 * rowHeight, pageLabel(page++));
        c.text(x0, 844, QStringLiteral("No."));
        c.text(x1, 844, QStringLiteral("　　　項　目　名"));
        c.text(x2, 844, QStringLiteral("  変  数  型  "));
        c.text(x3, 844, QStringLiteral("   TField型   "));
        c.text(x4, 844, QStringLiteral("幅"));
        c.text(x5, 844, QStringLiteral("　　　備　 考　 欄"));
        for (int f = 1; f <= bodyLines; ++f, ++row) {
            if (row >= rows.size())
                continue;
            for (int col = 0; col < 5; ++col)
                c.text(xs[col], top + f * rowHeight + 4, fromStd(rows[row][col]));
        }
        if (row < rows.size())
            c.newPage();
    }
}

void printIndexDefinitions(PrintCanvas& c, const QString& table, const std::vector<engine::IndexDef>& indexes,
                           const std::function<void()>& pageDone)
{
    const int c0 = x0, c1 = c0 + 3 * u, c2 = c1 + 25 * u;
    c.setFontName(kMincho);
    c.setFontHeight(12);
    int page = 1;
    bool pageStart = true;
    // One block per index, or more for an index longer than a block.
    struct Block {
        QString heading;
        QStringList fields;
        int firstNumber;
    };
    std::vector<Block> blocks;
    for (const engine::IndexDef& index : indexes) {
        const QString name = index.name.empty() ? QStringLiteral("[主キー]") : fromStd(index.name);
        const QStringList fields = fromStd(index.fields).split(u';', Qt::SkipEmptyParts);
        int first = 0;
        do {
            blocks.push_back({first == 0 ? name : name + QStringLiteral(" (続き)"), fields.mid(first, bodyLines),
                              first + 1});
            first += bodyLines;
        } while (first < fields.size());
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& b = blocks[i];
        const int dx = int(i % 3) * 29 * u;
        if (pageDone)
            pageDone();
        c.setPenWidth(4);
        c.frame(dx + c0 - 30, top, dx + c2 - 30, bottom);
        for (int r = 1; r <= bodyLines; ++r) {
            c.setPenWidth(r == 1 ? 4 : 2);
            c.line(dx + c0 - 30, top + r * rowHeight, dx + c2 - 30, top + r * rowHeight);
        }
        c.setPenWidth(4);
        c.line(dx + c1 - 30, top, dx + c1 - 30, bottom);
        if (pageStart) {
            title(c, table);
            c.text(83 * u, top + 52 * rowHeight, pageLabel(page++));
        }
        c.setFontName(kGothic);
        c.text(dx + c1, 716, b.heading);
        c.setFontName(kMincho);
        c.text(dx + c0, 844, QStringLiteral("No"));
        c.text(dx + c1, 844, QStringLiteral("    項    目    名"));
        for (qsizetype k = 0; k < b.fields.size(); ++k) {
            const int y = top + int(k + 1) * rowHeight + 4;
            c.text(dx + c0, y, QStringLiteral("%1").arg(b.firstNumber + k, 2, 10, QLatin1Char('0')));
            c.text(dx + c1, y, b.fields[k].left(24));
        }
        pageStart = i % 3 == 2;
        if (pageStart && i + 1 < blocks.size())
            c.newPage();
    }
}

QString jobFileName(const QString& chosen, const QString& table, int style, int jobs)
{
    if (jobs <= 1)
        return chosen;
    QString safe = table;
    for (QChar& ch : safe)
        if (ch == u'/' || ch == u'\\' || ch == u':' || ch.isSpace())
            ch = u'_';
    const QFileInfo fi(chosen);
    const QString stem = fi.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
                             ? fi.path() + u'/' + fi.completeBaseName()
                             : chosen;
    return QStringLiteral("%1-%2-%3.pdf").arg(stem, safe).arg(style);
}

} // namespace vemo::dbwindow
