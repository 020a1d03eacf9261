#pragma once
// The SQL window: SQL text for one database, its parameters in a grid, the statement run
// as a result set (browsed, and edited when live) or for its effect, the text saved and
// loaded as files, and the result exported as comma-separated text.
//
// How an opener prepares it (the database window, the frame's SQL command):
//   auto* w = new TSQLChild(owner);  w->setPersistence(1);
//   w->QRY1().setDatabaseName(alias);  w->QRY1().clearSql();  w->QRY1().setRequestLive(false);
//   w->setWindowTitle(TSQLChild::captionFor(alias));
#include "shell/ChildWindow.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QToolButton;

namespace vemo::engine {
class Query;
class Session;
}
namespace vemo::tablewin {
class FieldPane;
class TDBGrid2;
class TableModel;
}

namespace vemo::query {

class TComboGrid;

class TSQLChild : public shell::ChildWindow {
    Q_OBJECT
public:
    explicit TSQLChild(QWidget* parent = nullptr);
    TSQLChild(engine::Session& session, QWidget* parent);
    ~TSQLChild() override;

    engine::Query& QRY1() const;
    static QString captionFor(const QString& alias);

    QPlainTextEdit* Memo1() const { return Memo1_; }
    TComboGrid* CBG1() const { return CBG1_; }
    tablewin::TDBGrid2* DBG1() const { return DBG1_; }
    QToolButton* TOB4() const { return TOB4_; }
    QString statusPanelText(int panel) const;
    // Distinct parameter names of the text, in the order of the grid's rows.
    const QStringList& paramNames() const { return paramNames_; }
    QAction* menuItem(const QString& name) const;
    QList<MenuGroup> menuGroups() const override;

    static constexpr int kImeEntries = 256;
    const std::array<uint8_t, kImeEntries>& imeModes() const { return imeModes_; }
    int currentField() const { return currentField_; }
    // The mode now applied to the window (the current field's entry).
    int imeMode() const { return currentIme_; }
    // The field pane above the result grid: name, picture, formatted memo and plain memo.
    tablewin::FieldPane* fieldPane() const { return Splitter3; }
    // Whether the popup menu opens on a right click (the menu rule decides).
    bool popupEnabled() const { return popupAuto_; }

    // Commands, public for the frame's menus and for tests.
    void TOB1Click();   // run
    void TOB2Click();   // close the result
    void TOB4Click();   // write mode (after the button's state changed)
    void TOB5Click();   // load SQL text
    void TOB6Click();   // save SQL text
    void CSV2Click();   // export the result
    void QRY_PRIOR();
    void QRY_NEXT();
    void QRY_FIRST();
    void QRY_LAST();
    void QRY_INSERT();
    void QRY_APPEND();
    void Q_DelClick();
    void setImeCode(int code);
    void Menu_Mode();
    void Memo1Change();
    // Clipboard commands on whichever control has the focus.
    enum class EditOp { Cut, Copy, Paste, Delete };
    void editCommand(EditOp op);
    void Cut_Click() { editCommand(EditOp::Cut); }
    void Copy_Click() { editCommand(EditOp::Copy); }
    void Paste_Click() { editCommand(EditOp::Paste); }
    void Delete_Click() { editCommand(EditOp::Delete); }
    void SelAll_Click();

    bool closeQuery() override;  // FormCloseQuery

protected:
    void firstPaint() override;
    void closeHandler() override; // FormClose
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildLayout();
    void buildMenus();
    void QRY_Count();
    void afterWrite();
    void openResult();
    void moveRecord(const std::function<void()>& move);
    bool runGuarded(const std::function<void()>& action);
    void DBG1DrawDataCell(int field);
    void Panel_Resize();
    void applyImeMode(int code);
    void focusChanged(QWidget* old, QWidget* now);
    void Menu_Change(QWidget* editor);
    void storeEditorText();
    bool postPending();
    void popup(const QPoint& globalPos);
    bool busy() const { return exporting_; }

    engine::Session& session_;
    std::unique_ptr<engine::Query> query_;
    QPlainTextEdit* Memo1_ = nullptr;
    TComboGrid* CBG1_ = nullptr;
    tablewin::TDBGrid2* DBG1_ = nullptr;
    tablewin::TableModel* model_ = nullptr;
    tablewin::FieldPane* Splitter3 = nullptr;
    QWidget* DBI1 = nullptr;
    QWidget* DBM1 = nullptr;
    QWidget* DBM2 = nullptr;
    QWidget* Panel1 = nullptr;
    QStatusBar* SB1 = nullptr;
    std::array<QLabel*, 3> panels_{};
    QProgressBar* PB1 = nullptr;
    QToolButton* TOB4_ = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* R1 = nullptr;
    QMenu* PM1 = nullptr;
    QList<QAction*> actions_;
    QStringList paramNames_;
    std::array<uint8_t, kImeEntries> imeModes_{};
    int currentField_ = 0;
    int currentIme_ = 1;
    bool gridFocused_ = false;  // DBG1 has the keyboard focus
    bool paramFocused_ = false; // CBG1 has the keyboard focus
    bool popupAuto_ = true;
    bool exporting_ = false;
    bool updateFailed_ = false;
};

} // namespace vemo::query
