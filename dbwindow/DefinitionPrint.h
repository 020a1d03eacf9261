#pragma once
// The two printed forms of table definitions, laid out in print units (1/720 inch): style 1
// lists the fields on ruled pages of 50 lines, style 2 the indexes, three blocks side by side
// on a page. `pageDone` runs once per page or block so the caller can let window messages run.
#include "engine/contract/Definitions.h"
#include "engine/values/FieldTypeNames.h"

#include <QString>
#include <functional>
#include <vector>

namespace vemo::dbwindow {

class PrintCanvas;

namespace printlayout {
constexpr int u = 60;           // layout unit
constexpr int rowHeight = 128;
constexpr int bodyLines = 50;   // per page or block
constexpr int top = 840;        // the frame's top
constexpr int x0 = 6 * u + u / 2;
} // namespace printlayout

// "Page:" with the number right-aligned in four characters.
QString pageLabel(int page);
// The title line of both styles.
QString printTitle(const QString& table);

// Style 1. `rows` is the definition listing (row 0 the headings). No page when there are no
// fields.
void printFieldDefinitions(PrintCanvas& canvas, const QString& table, const std::vector<engine::ListingRow>& rows,
                           const std::function<void()>& pageDone = {});

// Style 2. An index with more fields than a block has lines goes on in the next block (the
// next position, or the next page), headed by its name and "(続き)" and numbered on.
void printIndexDefinitions(PrintCanvas& canvas, const QString& table, const std::vector<engine::IndexDef>& indexes,
                           const std::function<void()>& pageDone = {});

// The PDF file of one job: the chosen file when the run has one job, else the chosen name
// with the table and the style added before ".pdf" ("defs.pdf" -> "defs-CUSTOMER-1.pdf").
QString jobFileName(const QString& chosen, const QString& table, int style, int jobs);

} // namespace vemo::dbwindow
