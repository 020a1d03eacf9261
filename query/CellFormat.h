#pragma once
// Plain formatting helpers of the combo grid: number display formats, edit masks and the
// placement of text by alignment bits.
#include <QRect>
#include <QString>
#include <optional>

namespace vemo::query {

// Formats a number with a display format such as "#,##0.00" or "0.0;(0.0);-": placeholders
// "0" (digit always shown) and "#" (digit when significant), "," anywhere in the integer part
// for thousands grouping, "." for the decimal point, quoted or other characters as literals,
// and up to three ";"-separated sections (positive, negative, zero).
QString formatNumber(const QString& format, double value);

// The number a cell text stands for, when it is one (surrounding blanks allowed).
std::optional<double> cellNumber(const QString& text);

// Converts an edit mask of the program's form ("!999-0000;1;_": body, save-literals flag,
// blank character) to a QLineEdit input mask. An empty mask gives an empty result.
QString toInputMask(const QString& editMask);

// Where text of the given size goes in a cell, following alignment bits (1 left, 2 centre,
// 4 right, 8 top, 16 middle, 32 bottom) with `margin` from a left or right edge.
QRect alignedTextRect(const QRect& cell, const QSize& text, int bits, int margin, bool fixedCell);

} // namespace vemo::query
