#pragma once
// How shell code reaches windows that live in other folders without depending on them:
// the program's entry fills these in before the frame is created.
#include <QString>
#include <functional>

class QMainWindow;
class QPainter;
class QRect;
class QWidget;

namespace vemo::shell {

class ChildWindow;

struct WindowHooks {
    // The database window (one per run), created as an MDI child at start.
    std::function<ChildWindow*()> makeDatabaseWindow;
    // The selected alias of the database window ("" when none).
    std::function<QString()> selectedAlias;
    // Opens a table file as a table window (File > Open).
    std::function<void(const QString& path)> openTableFile;
    // SQL window for an alias (frame menu path: no restore record, no handshake).
    std::function<void(const QString& alias)> openSqlWindow;
    // Stored procedure window for an alias and procedure, prepared (the caller records it and
    // waits for its first paint).
    std::function<void(const QString& alias, const QString& procedure)> openStoredProcWindow;
    // Shared routines: table status and index windows.
    std::function<void(const QString& table, const QString& alias)> openStatusWindow;
    std::function<void(const QString& table, const QString& alias)> openIndexWindow;
    // Modal dialogs of the frame's menus.
    std::function<void(QWidget* parent)> showTableCopy;
    std::function<void(QWidget* parent)> showOptions;
    std::function<void(QWidget* parent)> showAbout;
    // Takes over the painting behind the frame's MDI children: `paint` draws the frame's
    // picture after the background fill. Throws when the frame has no MDI area.
    std::function<void(QMainWindow* frame, std::function<void(QPainter&, const QRect&)> paint)> installBackground;
};

WindowHooks& windowHooks();

} // namespace vemo::shell
