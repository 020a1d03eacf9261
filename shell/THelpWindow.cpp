#include "shell/THelpWindow.h"

#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

// The manual lives in a static library: its resources must be registered by hand.
static void registerManual()
{
    Q_INIT_RESOURCE(shell);
}

namespace vemo::shell {

THelpWindow::THelpWindow(QWidget* parent) : QMainWindow(parent, Qt::Window)
{
    registerManual();
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("VEMO32 ﾍﾙﾌﾟ"));
    resize(640, 520);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({QStringLiteral(":/vemo32/help")});
    setCentralWidget(browser_);
    QToolBar* bar = addToolBar(QStringLiteral("移動"));
    bar->setMovable(false);
    bar->addAction(QStringLiteral("目次"), this, &THelpWindow::showContents);
    bar->addAction(QStringLiteral("戻る"), browser_, &QTextBrowser::backward);
    bar->addAction(QStringLiteral("進む"), browser_, &QTextBrowser::forward);
}

void THelpWindow::showContents()
{
    showPage(QStringLiteral("index.html"));
}

void THelpWindow::showPage(const QString& page)
{
    browser_->setSource(QUrl(QStringLiteral("qrc:/vemo32/help/") + page));
    show();
    raise();
    activateWindow();
}

} // namespace vemo::shell
