#pragma once
// The program's own help window: the shipped HTML manual in a browser view.
#include <QMainWindow>

class QTextBrowser;

namespace vemo::shell {

class THelpWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);
    // Shows the contents page.
    void showContents();
    // Shows one page of the manual ("options.html").
    void showPage(const QString& page);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

} // namespace vemo::shell
