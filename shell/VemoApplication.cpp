#include "shell/VemoApplication.h"

#include "engine/contract/EngineError.h"
#include "shell/Prompt.h"

#include <cstdio>

namespace vemo::shell {

VemoApplication::VemoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void reportEscapedError(const QString& text)
{
    std::fprintf(stderr, "vemo32: %s\n", text.toLocal8Bit().constData());
    showError(QApplication::activeWindow(), text);
}

bool VemoApplication::notify(QObject* receiver, QEvent* e)
{
    try {
        return QApplication::notify(receiver, e);
    } catch (const engine::EngineError& ex) {
        reportEscapedError(QString::fromStdString(ex.what()));
    } catch (const std::exception& ex) {
        reportEscapedError(QString::fromStdString(ex.what()));
    } catch (...) {
        reportEscapedError(QStringLiteral("予期しないエラーが発生しました。"));
    }
    return false;
}

bool displayAvailable(QString* why)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    if (why)
        *why = QStringLiteral("no display found (DISPLAY and WAYLAND_DISPLAY are unset). Start vemo32 from a "
                              "desktop session, under a virtual display (xvfb-run -a vemo32), or set "
                              "QT_QPA_PLATFORM (for example offscreen).");
    return false;
}

} // namespace vemo::shell
