#include "shell/MenuMerge.h"

#include <algorithm>

namespace vemo::shell {

QList<ChildWindow::MenuGroup> mergeMenuGroups(const QList<ChildWindow::MenuGroup>& frame,
                                              const QList<ChildWindow::MenuGroup>& child)
{
    QList<ChildWindow::MenuGroup> out;
    for (const auto& g : frame) {
        const bool replaced = std::any_of(child.begin(), child.end(), [&](const auto& c) { return c.group == g.group; });
        if (!replaced)
            out.append(g);
    }
    out.append(child);
    // Stable: menus of one group keep the order they were given in, frame menus first.
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.group < b.group; });
    return out;
}

} // namespace vemo::shell
