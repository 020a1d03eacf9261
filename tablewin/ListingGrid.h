#pragma once
// The definition listing in a string grid: six columns, the first row and the first column
// fixed (headings and numbers), widths from the grid's font, the sixth column (SQL type)
// hidden. Used by the status window, definition printing and the table window's scripts.
class QTableWidget;

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

// Opens the table, fills the grid and closes the table; returns the number of fields. A
// table that cannot be opened raises the engine's error before the grid is changed.
int fillListingGrid(engine::Table& table, QTableWidget& grid);

// Column widths for a font of `pixelHeight` pixels: u = height / 2, widths 4u, 20u, 15u,
// 15u, 4u and 0.
int listingColumnWidth(int column, int pixelHeight);

} // namespace vemo::tablewin
