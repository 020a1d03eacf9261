#pragma once
// The table window: one table of one database in an editable grid, with record commands,
// per-field input-method modes, index choice, filter, CSV export and definition scripts.
//
// How an opener prepares it (the database window for an alias, File > Open for a file):
//   auto* w = new TMDIChild(owner);            // Qt parent ownership
//   w->setPersistence(1);                      // 0 for a table file
//   w->Table1().setDatabaseName(alias);         // "" for a table file
//   w->Table1().setTableName(table);            // or the file's full path
//   w->setWindowTitle(TMDIChild::captionFor(alias, table));
//   w->Table1().open();  ... w->setIndexLabel("[主キー]") / ("[キー無し]")
//   shell::g_windowOpening = true; show it; shell::waitForFirstPaint();
// Table1 is created with cached updates on; each post and delete is applied and committed
// at once (Table_Count), an update conflict shows the conflict message and drops the cache.
#include "shell/ChildWindow.h"

#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QAction;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QPlainTextEdit;
class QTextEdit;

namespace vemo::engine {
class Session;
class Table;
}

namespace vemo::tablewin {

class TDBGrid2;
class TableModel;
class ImageEditor;
class FieldPane;

class TMDIChild : public shell::ChildWindow {
    Q_OBJECT
public:
    // The session is the process-wide one unless a caller (a test, the tool) gives its own.
    explicit TMDIChild(QWidget* parent = nullptr);
    TMDIChild(engine::Session& session, QWidget* parent);
    ~TMDIChild() override;

    // The window's table dataset (database name, table name, index, filter, cached updates).
    engine::Table& Table1() const;

    // "テーブル編集 - [" + alias + ":" + table + "]", the alias and ":" left out when empty.
    static QString captionFor(const QString& alias, const QString& table);

    // Status bar panels 0..5 ("該当件数", count, "ｲﾝﾃﾞｯｸｽ", index label, "ﾌｨﾙﾀ", OFF/ON).
    QString statusPanelText(int panel) const;
    void setStatusPanelText(int panel, const QString& text);
    // Panel 3: "[主キー]", "[キー無し]" or the chosen secondary index's name.
    void setIndexLabel(const QString& label) { setStatusPanelText(3, label); }

    // Record count into panel 1, then (cached updates on) apply and commit pending changes.
    // Runs after open, after each post and after each delete.
    void Table_Count();

    // Per-field IME modes (codes 0..11), 256 entries by field position.
    static constexpr int kImeEntries = 256;
    const std::array<uint8_t, kImeEntries>& imeModes() const { return imeModes_; }
    void setImeModeAt(int position, int code);
    // The mode now applied to the window (the current field's entry).
    int imeMode() const { return currentIme_; }
    int currentField() const { return currentField_; }

    // Field naming mode of the SQL definition script (0 real names, 1 "FIELD_nn").
    int fieldNamingMode() const { return k15State_; }

    QList<MenuGroup> menuGroups() const override;
    // FormCloseQuery: posts an open edit (refusing to close when that fails), stores the
    // input-method modes and the restore record.
    bool closeQuery() override;

    // Commands, public so that the frame's menus and tests can run them.
    void KP1Click();
    void KN1Click();
    void KF1Click();
    void KL1Click();
    void KI1Click();
    void KA1Click();
    void Delete1Click();
    void N13Click();      // delete every shown record
    void Refresh_Click();
    void Cut2Click();
    void Copy2Click();
    void Paste2Click();
    void Delete_Click();
    void SelAll_Click();
    void N14Click();      // export to comma-separated text
    void X1Click();       // index choice
    void F1Click();       // filter
    void K15Click();      // field naming mode
    void KMode_Click(int kind); // definition script of kind 0, 1 or 2 onto the clipboard
    void Menu_Mode();

    TDBGrid2* grid() const { return DBG1; }
    QMenu* popupMenu() const { return PM1; }
    // Menu items by component name ("KP1", "CSV2", "SEP1", ...), nullptr when unknown.
    QAction* menuItem(const QString& name) const;

protected:
    void firstPaint() override;
    void closeHandler() override; // FormClose
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildLayout();
    void buildMenus();
    void wireTable();
    // After an open read-only for something a repair mends: asks, and on yes repairs and
    // reopens the table (true then: the reopening has done what follows an open).
    bool offerRepair();
    bool postPending();      // posts an edit in progress; false (error shown) when it fails
    void afterWrite();       // grid rows, record count and cached updates after a post/delete
    void syncGrid();         // grid's current cell onto the dataset's current record
    void loadEditors();      // the field panel's editor from the current record
    void storeEditorText();  // the memo editors' text into the current record
    void DBG1Enter();
    void DBG1Exit();
    void DBG1DrawDataCell(int field);
    void Menu_Change(QWidget* editor);
    void applyImeMode(int code);
    void applyFont();
    void setK15Caption();
    bool runGuarded(const std::function<void()>& action);
    void focusChanged(QWidget* old, QWidget* now);
    bool updateFailed_ = false;
    bool repairOffered_ = false; // asked once a window
    QWidget* focusedEditor() const;

    engine::Session& session_;
    std::unique_ptr<engine::Table> table_;
    std::array<uint8_t, kImeEntries> imeModes_{};
    int currentField_ = 0;
    int currentIme_ = 1;
    bool gridFocused_ = false;
    int k15State_ = 0;

    QLabel* Field_Name = nullptr;
    FieldPane* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    ImageEditor* DBI1 = nullptr;
    QTextEdit* DBM1 = nullptr;
    QPlainTextEdit* DBM2 = nullptr;
    TDBGrid2* DBG1 = nullptr;
    TableModel* model_ = nullptr;
    QStatusBar* SB1 = nullptr;
    std::array<QLabel*, 6> panels_{};
    QProgressBar* PB1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* T1 = nullptr;
    QMenu* R1 = nullptr;
    QMenu* PM1 = nullptr;
};

} // namespace vemo::tablewin
