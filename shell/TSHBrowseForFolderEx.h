#pragma once
// The folder picker: a modal tree of folders with a title, a chosen root and initial folder
// (well-known folders or a path), placement on the screen or over the owner, and a selection
// event that may set the status line and enable or disable OK. Used by the options dialog and
// the table copy dialog. Under a prompt handler (tests) the run is answered by the handler.
#include <QDialog>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <functional>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QTreeView;

namespace vemo::shell {

enum class TShowStyle { ssNone, ssCenterScreen, ssClient };
// The same well-known folders for the initial selection and the root.
enum class TSelectFolder { sfDesktop, sfManual, sfDrives, sfDesktopDir, sfFavorites, sfPrograms, sfRecent,
                           sfSendTo, sfStartMenu, sfStartup, sfTemplates };
enum class TRootFolder { rfDesktop, rfManual, rfDrives, rfDesktopDir, rfFavorites, rfPrograms, rfRecent,
                         rfSendTo, rfStartMenu, rfStartup, rfTemplates };
enum class TSHBrowseOption { sboDontGoBelowDomain, sboReturnFSAncestors, sboReturnOnlyFSDirs,
                             sboStatusTextAndShowPath, sboStatusText };
enum class TOKButtonState { obsLeave, obsEnable, obsDisable };

class TSHBrowseForFolderEx;
using TSHBrowseEvent = std::function<void(TSHBrowseForFolderEx* Sender, QWidget* Wnd, const QString& Path,
                                          QString& ShowText, TOKButtonState& OKButtonState)>;

// --- what needs no window ---

// The folder-kind identifier of a well-known folder (0 desktop, 17 drives, 16 desktop
// directory, 6 favourites, 2 programs, 8 recent, 9 send-to, 11 start menu, 7 startup,
// 21 templates; the manual value falls back to the desktop, 0).
int folderIdentifier(TSelectFolder f);
int folderIdentifier(TRootFolder f);
// The folder an identifier stands for here. `asRoot`: the desktop (0) and the drives (17)
// are the top of the whole file system as a root; as a selection the desktop is the home
// folder. Folders that do not exist on this machine fall back to the home folder.
QString specialFolderPath(int identifier, bool asRoot);
// A manual name when it names an existing folder, else the well-known folder.
QString resolveFolder(bool manual, const QString& name, int identifier, bool asRoot);
// Flags of the options walked in their fixed order; `showPath` is set (and the walk stops)
// at sboStatusTextAndShowPath.
unsigned browseFlags(const QSet<TSHBrowseOption>& options, bool* showPath);
// Top-left of a window placed in the middle of the work area: horizontally halved,
// vertically a third, truncated.
QPoint centerScreenPosition(const QRect& workArea, const QSize& window);

// The status line and OK button after one callback: with show-path on the status text is
// the current path (empty outside a selection change) whatever the event set; the OK button
// changes only when the event asked.
struct PickerState {
    QString statusText;
    bool okEnabled = true;
};
PickerState pickerCallbackStep(PickerState state, bool showPath, const QString& currentPath,
                               const QString& eventText, TOKButtonState okState);

// --- the dialog ---

class TFolderDialog : public QDialog {
    Q_OBJECT
public:
    TFolderDialog(TSHBrowseForFolderEx* picker, const QString& root, const QString& initial, bool showPath,
                  bool statusLine, QWidget* parent);

    // Selects a folder of the tree as the user would (the selection event runs).
    bool selectPath(const QString& path);
    QString selectedPath() const;

    QLabel* TitleLabel;
    QTreeView* Tree;
    QLabel* StatusLabel;
    QDialogButtonBox* Buttons;

private:
    void selectionChanged();
    void callback(const QString& path, bool selectionChange);

    TSHBrowseForFolderEx* picker_;
    QFileSystemModel* model_;
    bool showPath_;
    PickerState state_;
};

class TSHBrowseForFolderEx : public QObject {
    Q_OBJECT
public:
    explicit TSHBrowseForFolderEx(QWidget* owner);

    TShowStyle ShowStyle = TShowStyle::ssClient;
    TSelectFolder SelectFolder = TSelectFolder::sfDrives;
    QString SelectFolderName;
    TRootFolder RootFolder = TRootFolder::rfDesktop;
    QString RootFolderName;
    QString Caption;
    QSet<TSHBrowseOption> Options{TSHBrowseOption::sboReturnOnlyFSDirs};
    TSHBrowseEvent OnSelectionChanged;

    // True when the user confirmed a folder; false on cancel or when the root does not exist.
    bool Execute();

    // Results of the last confirmed run (emptied at the start of each run).
    QString FolderName; // file system path
    QString DisplayName;

    // Where the dialog goes for the current ShowStyle (nullopt-like: `ok` false for ssNone).
    QPoint placement(const QSize& dialogSize, bool* place) const;

    // Raised by the dialog (and by a handler's answer in tests).
    void raiseSelectionChanged(QWidget* wnd, const QString& path, QString& showText, TOKButtonState& state);

    QWidget* owner() const { return owner_; }

private:
    QWidget* owner_;
};

} // namespace vemo::shell
