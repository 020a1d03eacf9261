#include "shell/AppState.h"

#include "shell/Registry.h"
#include "shell/Routines.h"

namespace vemo::shell {

bool g_registryInitialized = false;
bool g_windowOpening = false;
QWidget* g_childOwner = nullptr;

AppSettings& settings()
{
    static AppSettings s;
    return s;
}

namespace {

QString get(const char* name)
{
    return readSetting(kRootKey, QString::fromLatin1(name));
}

bool flag(const char* name)
{
    return get(name) == QLatin1String("True"); // only the exact text counts
}

int zeroPrefixed(const char* name)
{
    return strToInt(QStringLiteral("0") + get(name));
}

int filtered(const char* name)
{
    return strToInt(digitsFilter(get(name)));
}

} // namespace

void readAppSettings(AppSettings& s, const std::function<void()>& afterWpStretch,
                     const std::function<void()>& afterFontSize)
{
    s.openDir = get("OPEN_DIR");
    s.copyDir = get("COPY_DIR");
    s.sqlDir = get("SQL_DIR");
    s.csvDir = get("CSV_DIR");
    s.wpDir = get("WP_DIR");
    s.quotation = zeroPrefixed("QUOTATION");
    s.wallpaper = get("WALLPAPER");
    s.wpStretch = flag("WPSTRETCH");
    if (afterWpStretch)
        afterWpStretch();
    s.fontName = get("FONT_NAME");
    s.fontSize = filtered("FONT_SIZE");
    if (afterFontSize)
        afterFontSize();
    s.tabWidth = filtered("TAB_WIDTH");
    if (s.tabWidth == 0)
        s.tabWidth = 2;
    s.printType = zeroPrefixed("PRINTTYPE");
    s.rsmForm = flag("RSM_FORM");
    s.rsmAlias = flag("RSM_ALIAS");
    s.rsmTable = flag("RSM_TABLE");
    s.rsmSql = flag("RSM_SQL");
    s.rsmSp = flag("RSM_SP");
    s.rsmStatus = flag("RSM_STATUS");
    s.rsmIndex = flag("RSM_INDEX");
    s.rsmIme = flag("RSM_IME");
}

} // namespace vemo::shell
