#pragma once
// Menu merging by group index: a child's group replaces the frame's group of the same index,
// every other group keeps its place, and the bar is ordered by group index.
#include "shell/ChildWindow.h"

namespace vemo::shell {

QList<ChildWindow::MenuGroup> mergeMenuGroups(const QList<ChildWindow::MenuGroup>& frame,
                                              const QList<ChildWindow::MenuGroup>& child);

} // namespace vemo::shell
