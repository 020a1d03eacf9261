#pragma once
// The stored procedure window: the parameters of one procedure with their direction and
// type in a combo grid, values typed for the input parameters, executed, and every value
// read back afterwards.
//
// The opener (openStoredProcWindow) sets SP1's database and procedure names, prepares it,
// sets the caption and places the window; the first paint fills the grid.
#include "shell/ChildWindow.h"

#include <memory>

class QAction;
class QMenu;
class QScrollArea;
class QStatusBar;
class QToolBar;
class QToolButton;

namespace vemo::engine {
class Session;
class StoredProc;
}

namespace vemo::query {

class TComboGrid;

class TSPChild : public shell::ChildWindow {
    Q_OBJECT
public:
    explicit TSPChild(QWidget* parent = nullptr);
    TSPChild(engine::Session& session, QWidget* parent);
    ~TSPChild() override;

    // "Stored Procedure Window - [" + alias + ":" + procedure + "]", the alias and ":"
    // left out when empty.
    static QString captionFor(const QString& alias, const QString& procedure);

    engine::StoredProc& SP1() const { return *SP1_; }
    TComboGrid* grid() const { return CBG1; }

    void Set_Param();  // one row per parameter
    void TOB1Click();  // bind, execute, read back, completion message
    void Get_Param();

    void Cut_Click();
    void Copy_Click();
    void Paste_Click();
    void Delete_Click();

    QList<MenuGroup> menuGroups() const override;
    bool closeQuery() override;
    void closeHandler() override;

    QWidget* Panel1 = nullptr;
    QToolBar* TB1 = nullptr;
    QAction* TOB1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QWidget* Panel2 = nullptr;
    QStatusBar* SB1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction *Cut2, *Copy2, *Paste2, *Delete1;
    QMenu* PM1 = nullptr;
    QAction *Cut1, *Copy1, *Paste1, *Delete2;

protected:
    void firstPaint() override; // FormPaint
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Panel_Resize();
    void addEditItems(QMenu* menu, QAction*& cut, QAction*& copy, QAction*& paste, QAction*& del);

    std::unique_ptr<engine::StoredProc> SP1_;
    TComboGrid* CBG1 = nullptr;
};

// Creates the window for a procedure of an alias, prepares it (the engine's error is raised
// and no window stays), sets the caption and places it in the main frame.
TSPChild* openStoredProcWindow(engine::Session& session, const QString& alias, const QString& procedure);

} // namespace vemo::query
