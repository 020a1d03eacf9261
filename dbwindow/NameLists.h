#pragma once
// What the database window computes without a window: sorted name lists, clipboard name
// lists, menu enabling, alias parameter lines, and restoring recorded windows.
#include "shell/Routines.h"

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace vemo::dbwindow {

// Names as a sorted list box shows them: case-insensitive order, ties broken by case.
QStringList sortedNames(const std::vector<std::string>& names);

// Clipboard name lists (the shell's shared routine).
using shell::quotedNameList;

// Which items of the table list's menu are enabled.
struct TableMenuEnabling {
    bool open = false, copy = false, status = false, index = false, print = false;
    bool refresh = true, rename = false, remove = false;
};
// `selected` is the number of selected tables.
TableMenuEnabling tableMenuEnabling(int selected);

// "NAME=value" lines from (name, value) rows; rows with an empty name or value are left out.
std::vector<std::string> aliasParamLines(const std::vector<std::pair<QString, QString>>& rows);

// Splits "NAME=value" at the first "=".
std::pair<QString, QString> splitParamLine(const std::string& line);

// Reopens the windows recorded at the end of the last run, kind by kind (table, SQL, stored
// procedure, status, index). `openers[k]` opens one window (alias, name); an empty opener
// leaves that kind's records alone (its window is not part of this build). A kind runs only
// when its restore setting is on; after it, its whole key is deleted, also when an opening
// failed, and a failure stops the kinds after it (the error is rethrown).
using RestoreOpener = std::function<void(const QString& alias, const QString& name)>;
void restoreRecordedWindows(const std::array<RestoreOpener, 5>& openers);

} // namespace vemo::dbwindow
