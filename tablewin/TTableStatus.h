#pragma once
// The table status window: the definition listing of one table in a read-only combo grid,
// any rectangle of which is copied to the clipboard as comma-separated, padded columns.
//
// The opener sets the persistence flag 1, the caption (captionFor) and Table1's database
// and table names before the first paint, which fills the grid.
#include "shell/ChildWindow.h"

#include <memory>
#include <string>

class QAction;
class QMenu;

namespace vemo::engine {
class Session;
class Table;
}
namespace vemo::query {
class TComboGrid;
}

namespace vemo::tablewin {

class TTableStatus : public shell::ChildWindow {
    Q_OBJECT
public:
    explicit TTableStatus(QWidget* parent = nullptr);
    TTableStatus(engine::Session& session, QWidget* parent);
    ~TTableStatus() override;

    // "ﾃｰﾌﾞﾙ情報 - [" + alias + ":" + table + "]", the alias and ":" left out when empty.
    static QString captionFor(const QString& alias, const QString& table);

    engine::Table& Table1() const { return *Table1_; }
    query::TComboGrid* grid() const { return SG1; }

    void KL1Click();   // select all
    void Copy1Click(); // the selection to the clipboard
    // The clipboard text of the current selection.
    std::string selectionText() const;

    QList<MenuGroup> menuGroups() const override;
    bool closeQuery() override;
    void closeHandler() override;

    QMenu* Edit1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* KL1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Copy2 = nullptr;
    QAction* N2 = nullptr;

protected:
    void firstPaint() override; // FormPaint

private:
    void FormPaint();
    void setClientWidth(int width);

    std::unique_ptr<engine::Table> Table1_;
    query::TComboGrid* SG1 = nullptr;
};

} // namespace vemo::tablewin
