#pragma once
// Menu items as the child windows declare them: a component name, a caption, a hint shown in
// the status bar, the command, and an optional shortcut that works inside the window.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <functional>

namespace vemo::shell {

inline QAction* addMenuItem(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                            std::function<void()> slot, const QKeySequence& key = {})
{
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    a->setStatusTip(hint);
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
    QObject::connect(a, &QAction::triggered, menu, [slot = std::move(slot)] { slot(); });
    return a;
}

inline QAction* addMenuSeparator(QMenu* menu, const char* name)
{
    QAction* a = menu->addSeparator();
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

} // namespace vemo::shell
