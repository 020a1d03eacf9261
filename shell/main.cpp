// The program's entry: checks for a display, creates the frame and the database window, runs.
#include "shell/AppState.h"
#include "shell/CommandLine.h"
#include "shell/Fonts.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/Routines.h"
#include "shell/TMainForm.h"
#include "shell/VemoApplication.h"
#include "shell/WindowHooks.h"

#ifdef VEMO_HAVE_DBWINDOW
#if __has_include("dbwindow/Hooks.h")
#include "dbwindow/Hooks.h"
#define VEMO_WIRE_DBWINDOW 1
#endif
#endif
#ifdef VEMO_HAVE_OPTIONS
#include "options/Hooks.h"
#endif
#ifdef VEMO_HAVE_COPY
#include "copy/TTABLE_COPY.h"
#endif
#ifdef VEMO_HAVE_TABLEWIN
#if __has_include("tablewin/Hooks.h")
#include "tablewin/Hooks.h"
#define VEMO_WIRE_TABLEWIN 1
#endif
#endif

#ifdef VEMO_HAVE_QUERY
#if __has_include("query/Hooks.h")
#include "query/Hooks.h"
#define VEMO_WIRE_QUERY 1
#endif
#endif

#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

// VEMO32_REPORT_FIRST_PAINT=1: prints the time from start to the frame's first paint and
// ends, so start-up can be measured on any machine.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(const QElapsedTimer& clock) : clock_(clock) {}
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            std::fprintf(stdout, "first paint after %lld ms\n", static_cast<long long>(clock_.elapsed()));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(o, e);
    }

private:
    const QElapsedTimer& clock_;
    bool done_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();
    using namespace vemo::shell;

    QString why;
    if (!displayAvailable(&why)) {
        std::fprintf(stderr, "vemo32: %s\n", why.toLocal8Bit().constData());
        return 1;
    }
    VemoApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("vemo32"));
    applyProcessLocale(); // short dates read "yyyy/MM/dd"
    installFontSubstitutions();
    setRegistryProblemHandler([](const QString& message) {
        std::fprintf(stderr, "vemo32: %s\n", message.toLocal8Bit().constData());
        // Shown once the current action is over, never from inside a settings operation.
        QTimer::singleShot(0, qApp, [message] { showError(QApplication::activeWindow(), message); });
    });

#ifdef VEMO_WIRE_DBWINDOW
    vemo::dbwindow::installWindowHooks();
#endif
#ifdef VEMO_WIRE_TABLEWIN
    vemo::tablewin::installWindowHooks();
#endif
#ifdef VEMO_HAVE_OPTIONS
    vemo::options::installWindowHooks();
#endif
#ifdef VEMO_HAVE_COPY
    windowHooks().showTableCopy = [](QWidget* parent) { vemo::copy::showTableCopy(parent); };
#endif
#ifdef VEMO_WIRE_QUERY
    vemo::query::installWindowHooks();
#endif

    QStringList params = app.arguments();
    params.removeFirst();
    auto frame = std::make_unique<TMainForm>(params);
    if (g_registryInitialized)
        return 0; // settings cleared: nothing else happens in this run

    FirstPaintProbe probe(clock);
    if (qEnvironmentVariable("VEMO32_REPORT_FIRST_PAINT") == QLatin1String("1"))
        frame->installEventFilter(&probe);

    frame->show();
    if (windowHooks().makeDatabaseWindow) {
        try {
            if (ChildWindow* db = windowHooks().makeDatabaseWindow())
                frame->addChild(db);
        } catch (const std::exception& e) {
            reportEscapedError(QString::fromStdString(e.what()));
        }
    }
    // `vemo32 FILE.DBF [FILE.DB ...]`: each file in a table window, as File > Open does.
    openCommandLineFiles(params);
    const int rc = app.exec();
    frame.reset();
    return rc;
}
