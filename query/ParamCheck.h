#pragma once
// Binding the rows of the SQL window's parameter grid to the query's parameters, and the
// other rules of that grid, as plain functions.
#include <QList>
#include <QString>
#include <QStringList>

namespace vemo::engine {
class Query;
}

namespace vemo::query {

// The type names of the grid's type column, in the order of its list.
QStringList paramTypeNames();

struct ParamRow {
    QString name, type, value;
};

// Digits filter for the real and currency types: "0"-"9", "-" and the decimal point, in
// order; "0" when nothing is left ("\\1,234.5" -> "1234.5").
QString decimalFilter(const QString& text);

// The date a date parameter's value stands for, with the century rule: a value of up to 8
// characters gets "20" in front, or before the year 2000 "19" when its first two digits are
// 50 or more. Empty when it is no date.
QString dateParamText(const QString& value, int currentYear);

// Binds every row to the parameters of its name. Returns false when a row could not be bound
// (no or an unknown type, a value that is no date); every row is tried. An integer, real or
// currency value that does not convert even after filtering raises its error (the run stops).
bool ParamCheck(const QList<ParamRow>& rows, engine::Query& query, int currentYear);

// engine::isSelectStatement on the editor's text.
bool isSelectText(const QString& text);
// The text without its leading blanks and control characters.
QString trimmedStatement(const QString& text);

} // namespace vemo::query
