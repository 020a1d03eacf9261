#include "tablewin/ListingGrid.h"

#include "tablewin/DefinitionListing.h"

#include <QFontInfo>
#include <QHeaderView>
#include <QTableWidget>

namespace vemo::tablewin {

int listingColumnWidth(int column, int pixelHeight)
{
    static constexpr int kUnits[] = {4, 20, 15, 15, 4, 0};
    const int u = pixelHeight / 2;
    return column >= 0 && column < 6 ? kUnits[column] * u : 0;
}

int fillListingGrid(engine::Table& table, QTableWidget& grid)
{
    Listing rows;
    const int count = fillListing(table, rows);

    grid.clear();
    grid.setColumnCount(engine::kListingColumns);
    grid.setRowCount(static_cast<int>(rows.size()));
    // The fixed row and column are the grid's first row and column, as the readers expect.
    grid.horizontalHeader()->setVisible(false);
    grid.verticalHeader()->setVisible(false);
    const int height = QFontInfo(grid.font()).pixelSize();
    for (int c = 0; c < engine::kListingColumns; ++c)
        grid.setColumnWidth(c, listingColumnWidth(c, height));
    grid.setColumnHidden(5, true);
    const QBrush fixed = grid.palette().button();
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < engine::kListingColumns; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(rows[r][c]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (r == 0 || c == 0)
                item->setBackground(fixed);
            grid.setItem(r, c, item);
        }
    }
    return count;
}

} // namespace vemo::tablewin
