#pragma once
// The MDI main frame: menus merged with the active child's, status bar hints, the wallpaper,
// its own position across runs, and the commands of the File, Utility, Window and Help menus.
#include "shell/ChildWindow.h"
#include "shell/THelpWindow.h"

#include <QImage>
#include <QMainWindow>
#include <QPointer>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace vemo::shell {

class THelpWindow;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // `params` are the command-line parameters without the program name.
    explicit TMainForm(const QStringList& params = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Puts a child window into the MDI area and shows it; the subwindow frees itself on close.
    QMdiSubWindow* addChild(ChildWindow* child);
    QMdiArea* mdiArea() const { return MDIClient; }
    ChildWindow* activeChild() const;

    // Loads WALLPAPER / WPSTRETCH into the background picture; throws when it cannot be read.
    void ImageDraw();
    void UpdateMenuItems();
    // Rebuilds the menu bar from the frame's groups and the active child's.
    void rebuildMenuBar();

    const QImage& wallpaper() const { return picture_; }
    bool wallpaperVisible() const { return imageVisible_; }
    THelpWindow* helpWindow() const { return help_; }
    void openHelpContents();
    void openHelpPage(const QString& page);

    static const QString kDownloadUrl;
    static const QString kOpenFilter;

    QMenu* File1;
    QAction* FileOpenItem;
    QAction* FileCloseItem;
    QAction* SQLQ1;
    QAction* FileExitItem;
    QMenu* turu1;
    QAction* C1;
    QMenu* Window1;
    QAction* WindowCascadeItem;
    QAction* WindowTileItem;
    QAction* WindowArrangeItem;
    QAction* WindowMinimizeItem;
    QAction* Option1;
    QMenu* Help1;
    QAction* Contents1;
    QAction* D1;
    QAction* HelpAboutItem;

public slots:
    void FileOpenItemClick();
    void FileCloseItemClick();
    void SQLQ1Click();
    void C1Click();
    void WindowArrangeItemClick();
    void WindowMinimizeItemClick();
    void Option1Click();
    void D1Click();
    void HelpAboutItemClick();

protected:
    void showEvent(QShowEvent* e) override;   // FormShow
    void closeEvent(QCloseEvent* e) override; // children's close queries, then FormCloseQuery

private:
    void createMenus();
    void FormCreate(const QStringList& params);
    void readSettingsAndGeometry();
    bool FormCloseQuery();
    void File1Click();
    void fillWindowList();
    void activeChildChanged();
    void paintWallpaper(class QPainter& p, const QRect& r) const;

    QMdiArea* MDIClient;
    QImage picture_;
    bool imageVisible_ = false;
    bool stretch_ = false;
    QPointer<THelpWindow> help_;
    QPointer<ChildWindow> menuChild_;
    QMetaObject::Connection menuChildConn_;
    QList<QAction*> windowListActions_;
};

// The frame of this process (nullptr before it is created and after it is destroyed).
TMainForm* mainForm();

} // namespace vemo::shell
