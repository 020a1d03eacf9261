#pragma once
// The database window: the alias box, the table and stored procedure lists of the chosen
// alias, the windows opened from them, and the windows of the last run reopened at start.
#include "shell/ChildWindow.h"
#include "shell/RestoreRecords.h"

#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QPrinter;
class QTabWidget;

namespace vemo::engine {
class Session;
class Table;
}

namespace vemo::dbwindow {

class TAlias_Open : public shell::ChildWindow {
    Q_OBJECT
public:
    // Over the process-wide engine session, or a session the caller keeps alive.
    explicit TAlias_Open(QWidget* parent = nullptr);
    TAlias_Open(engine::Session& session, QWidget* parent);
    ~TAlias_Open() override;

    engine::Session& session() const { return session_; }
    bool aliasSelected() const;
    QString selectedAlias() const; // the text of CB1

    // Where a new child window goes: the main frame's MDI area when there is one.
    std::function<void(shell::ChildWindow*)> placeChild;
    // Bound on each wait for a child's first paint, milliseconds.
    int firstPaintBoundMs = 5000;

    // List fills (failures are silent).
    void Set_Alias();
    void Set_TableList();
    void Set_SAPList();
    void CB1Change();

    // Openers. The Make_*2/Make_SQL/Make_Status/Make_Index steps raise engine errors.
    void Make_Child();
    void Make_Child2(const QString& alias, const QString& table);
    void Open_SQLClick();
    void Make_SQL(const QString& alias);
    void Make_SP();
    void Make_SP2(const QString& alias, const QString& procedure);
    void S1Click();
    void Make_Status(const QString& alias, const QString& table);
    void N2Click();
    void Make_Index(const QString& alias, const QString& table);
    // Whether each kind of child window can be opened in this build.
    bool canOpenTables() const;
    bool canOpenSql() const;
    bool canOpenProcedures() const;
    bool canOpenStatus() const;
    bool canOpenIndex() const;

    // Table list commands.
    void TblCpy_Click();
    void SapCpyClick();
    void Refresh_Click();
    void Refresh1_Click();
    void N11Click();
    void N10Click();
    void Delete1Click();
    // Rename the table open in `table` (exclusively) to newName; reopened when `reopen`.
    static void fDbiRenameTable(engine::Table& table, const QString& newName, bool reopen);

    // Definition printing (PRINTTYPE +1 fields, +2 indexes), one job per style and table,
    // after the printer set-up (a printer, or a PDF file).
    void Print1Click();
    void VEMO_prn(QPrinter& printer);
    void VEMO_prn2(QPrinter& printer);

    // Alias commands: tag 0 add, 1 edit.
    void AEDIT_Click(int tag);
    void Del_AliasClick();
    // Tests reach the alias dialog through this before it is shown modally.
    std::function<void(class TCreate_Alias&)> onAliasDialog;

    // Menu enabling, run each time a menu opens.
    void PM1Popup();
    void PM2Popup();
    void PM3Popup();

    // Reopens the recorded windows (first paint).
    void restoreWindows();
    bool restorePending() const { return restorePending_; }

    bool closeQuery() override; // FormCloseQuery: remembers the alias

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QWidget* Panel1 = nullptr;
    QComboBox* CB1 = nullptr;
    QTabWidget* PC1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QListWidget* LB1 = nullptr;
    QListWidget* LB2 = nullptr;
    QMenu* PM1 = nullptr;
    QMenu* PM2 = nullptr;
    QMenu* PM3 = nullptr;
    QAction *Open_SQL, *Add_Alias, *Mod_Alias, *Del_Alias, *R2, *N11;
    QAction *Open1, *C1, *S1, *N2, *Print1, *R1, *N10, *Delete1;
    QAction *Open2, *SapCpy, *Print2, *Refresh2;

protected:
    void showEvent(QShowEvent* e) override;     // FormShow
    void firstPaint() override;                 // FormPaint
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildLayout();
    void buildMenus();
    void FormShow();
    void focusActiveList();
    void selectAlias(const QString& alias);
    void restartSession();
    void runGuarded(const std::function<void()>& action);
    void place(shell::ChildWindow* child);
    void waitForChild();
    // Opens a window for every selected name of the list, recording each when its kind's
    // restore setting is on.
    void openSelected(QListWidget* list, shell::RestoreKind kind,
                      const std::function<void(const QString&, const QString&)>& make);
    void restoreBeforeOpening();
    QStringList selectedNames(QListWidget* list) const;
    QString currentTable() const;

    engine::Session& session_;
    std::unique_ptr<engine::Table> Table1;
    bool firstShow_ = true;
    bool loginFailed_ = false; // the last table list fill ended at a server's login
    bool restorePending_ = true;
};

} // namespace vemo::dbwindow
