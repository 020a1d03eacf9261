#pragma once
// The application object: an error escaping any event handler is shown in the standard error
// box and the program carries on.
#include <QApplication>

namespace vemo::shell {

class VemoApplication : public QApplication {
    Q_OBJECT
public:
    VemoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* e) override;
};

// Shows a failure that escaped an action in the standard error box (and on standard error
// when no window can show it).
void reportEscapedError(const QString& text);

// Whether a window system is reachable; `why` explains when not.
bool displayAvailable(QString* why);

} // namespace vemo::shell
