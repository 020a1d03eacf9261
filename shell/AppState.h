#pragma once
// Process-wide settings read at start and process-wide flags.
#include <QString>
#include <functional>

class QWidget;

namespace vemo::shell {

struct AppSettings {
    QString openDir, copyDir, sqlDir, csvDir, wpDir;   // OPEN_DIR COPY_DIR SQL_DIR CSV_DIR WP_DIR
    int quotation = 0;                                  // QUOTATION: 0 none, 1 ', 2 "
    QString wallpaper;                                  // WALLPAPER
    bool wpStretch = false;                             // WPSTRETCH
    QString fontName;                                   // FONT_NAME
    int fontSize = 0;                                   // FONT_SIZE (points)
    int tabWidth = 2;                                   // TAB_WIDTH
    int printType = 0;                                  // PRINTTYPE
    bool rsmForm = false, rsmAlias = false, rsmTable = false, rsmSql = false,
         rsmSp = false, rsmStatus = false, rsmIndex = false, rsmIme = false;
};

AppSettings& settings();

// Reads the settings in their fixed order into `s`. `afterWpStretch` runs right after
// WPSTRETCH (the wallpaper is applied there), `afterFontSize` right after FONT_SIZE (the
// font rule). The first setting that fails to convert throws; those after it keep the
// values `s` had.
void readAppSettings(AppSettings& s, const std::function<void()>& afterWpStretch = {},
                     const std::function<void()>& afterFontSize = {});

// Set by "-I": while set, nothing saves its state on close.
extern bool g_registryInitialized;
// Set by whoever opens a child window for the database window; cleared by that window at
// the end of its first paint.
extern bool g_windowOpening;
// The frame that owns every child window (the MDI area's window).
extern QWidget* g_childOwner;

} // namespace vemo::shell
