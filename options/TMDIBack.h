#pragma once
// Paints the frame's picture behind the MDI children: it takes over the painting of the
// QMdiArea viewport (frame colour, then the picture) and keeps the area's scroll bars off.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QMdiArea>
#include <functional>
#include <stdexcept>

class QPainter;
class QRect;

namespace vemo::options {

class EMDIBackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMDIBack : public QObject {
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter& painter, const QRect& clientRect)>;

    // Only one at a time: a second one throws "Only single component allowed".
    explicit TMDIBack(QWidget* owner);
    ~TMDIBack() override;

    // Hooks the owner's MDI area. The owner must be a main window whose central widget is a
    // QMdiArea ("Owner must be a MDI Form"), with a viewport ("ClientHandle is not available").
    // `paintContent` draws the owner's picture into the area after the background fill.
    void Loaded(Painter paintContent);

    QMdiArea* clientArea() const { return client_; }

    // Number of components alive.
    static int instanceCount();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QWidget* owner_;
    QPointer<QMdiArea> client_;
    QPointer<QWidget> viewport_; // the area deletes it before this component goes
    Painter paint_;
};

} // namespace vemo::options
