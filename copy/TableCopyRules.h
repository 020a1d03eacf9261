#pragma once
// What the table copy dialogs decide without a window: the mode list, which indexes each
// mode reads, the problem-table names and the mapping lines of the mapping grid.
#include "engine/batchmove/BatchMove.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace vemo::copy {

struct CopyModeItem {
    QString text;
    engine::BatchMode mode;
    bool readsDestinationIndex; // update, append-and-update and delete seek by the destination's first index
};

// The five items of the mode box, in their order (item 3 is copy, item 4 delete).
const QList<CopyModeItem>& copyModeItems();
constexpr int kCopyModeItem = 3;

// The folder part of the problem-table names: COPY_DIR and "/", or empty for the working folder.
QString problemTablePrefix(const QString& copyDir);

// A mapping line for one grid row (source cell, destination cell); empty when either is empty.
QString mappingLine(const QString& source, const QString& destination);
// The source and destination cells a mapping line fills.
QPair<QString, QString> mappingCells(const QString& line);

} // namespace vemo::copy
