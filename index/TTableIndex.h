#pragma once
// The index window: the indexes of one table in a drop-down list and the fields of the
// chosen index below, in key order; selected field names are copied to the clipboard.
//
// The opener sets the persistence flag 1, the caption (captionFor) and Table1's database and
// table names; the first paint reads the indexes.
#include "shell/ChildWindow.h"

#include <memory>

class QAction;
class QComboBox;
class QListWidget;
class QMenu;

namespace vemo::engine {
class Session;
class Table;
}

namespace vemo::index {

class TTableIndex : public shell::ChildWindow {
    Q_OBJECT
public:
    explicit TTableIndex(QWidget* parent = nullptr);
    TTableIndex(engine::Session& session, QWidget* parent);
    ~TTableIndex() override;

    // "ｲﾝﾃﾞｯｸｽ情報 - [" + alias + ":" + table + "]", the alias and ":" left out when empty.
    static QString captionFor(const QString& alias, const QString& table);

    engine::Table& Table1() const { return *Table1_; }

    void key_set();       // the fields of the chosen index
    void TblCpy_Click();  // the selected names to the clipboard
    void Menu_State();    // Edit1Click and PM2Popup: copy enabled when a name is selected
    // Whether the first paint has filled the lists (false again after an engine failure).
    bool filled() const { return !firstFill_; }

    QList<MenuGroup> menuGroups() const override;
    bool closeQuery() override;
    void closeHandler() override;

    QWidget* Panel1 = nullptr;
    QComboBox* CB1 = nullptr;
    QListWidget* LB1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* Copy1 = nullptr;
    QMenu* PM2 = nullptr;
    QAction* C1 = nullptr;

protected:
    void showEvent(QShowEvent* e) override;     // FormShow
    void paintEvent(QPaintEvent* e) override;   // FormPaint, retried while the fill failed
    void resizeEvent(QResizeEvent* e) override; // FormResize

private:
    void FormShow();
    void FormPaint();
    void forceWidth();

    std::unique_ptr<engine::Table> Table1_;
    bool firstFill_ = true;
    bool filling_ = false;
};

} // namespace vemo::index
