#pragma once
// Base of every MDI child window (table, SQL, stored procedure, status, index, database
// window). The frame puts it in a QMdiSubWindow, merges its menus by group index while it is
// active, and runs its close query (closeEvent) before the process ends.
#include <QList>
#include <QPointer>
#include <QWidget>

class QMenu;

namespace vemo::shell {

class ChildWindow : public QWidget {
    Q_OBJECT
public:
    struct MenuGroup {
        QMenu* menu;
        int group; // menus of the frame are groups 1, 7, 8, 9; a child's sit between them
    };

    explicit ChildWindow(QWidget* parent = nullptr);

    // The child's menus, shown in the frame's menu bar while the child is active.
    virtual QList<MenuGroup> menuGroups() const { return {}; }

    // Persistence flag (the form's tag): 1 opened for an alias, 0 for a table file.
    int persistence() const { return persistence_; }
    void setPersistence(int flag) { persistence_ = flag; }

    bool firstPaintDone() const { return painted_; }

    // Close query: false keeps the window open. It runs when the window closes and, on its
    // own, for every child when the frame closes, so what it records survives the exit.
    virtual bool closeQuery() { return true; }
    // Close handler: runs only when the window itself closes, never at program exit.
    virtual void closeHandler() {}

signals:
    // After the first paint; the window-opening flag has been cleared by then.
    void firstPainted();
    // The child's menus changed (items added, hidden); the frame rebuilds its bar.
    void menusChanged();

protected:
    // Runs once, at the end of the first paint, before the window-opening flag is cleared.
    virtual void firstPaint() {}
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Runs closeQuery(), then closeHandler(). Subclasses overriding it call the base.
    void closeEvent(QCloseEvent* e) override;

private:
    void finishFirstPaint();

    int persistence_ = 0;
    bool painted_ = false;
    bool finishing_ = false;
    QPointer<QWidget> watchedFrame_;
};

// The window-opening handshake: set the flag, create and show the child, then process
// events until the child's first paint clears it or `boundMs` passes. Returns true when the
// child painted in time; on timeout the flag is cleared so that later openings still work.
bool waitForFirstPaint(int boundMs = 5000);

} // namespace vemo::shell
