#include "shell/TMainForm.h"

#include "shell/AppState.h"
#include "shell/CommandLine.h"
#include "shell/ProgramIcon.h"
#include "shell/Prompt.h"
#include "shell/Registry.h"
#include "shell/Routines.h"
#include "shell/THelpWindow.h"
#include "shell/WindowHooks.h"

#include <QCloseEvent>
#include <QImageReader>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QStatusBar>
#include <QTimer>

namespace vemo::shell {

namespace {
TMainForm* g_mainForm = nullptr;

QString setting(const char* name)
{
    return readSetting(kRootKey, QString::fromLatin1(name));
}
} // namespace

TMainForm* mainForm()
{
    return g_mainForm;
}

TMainForm::TMainForm(const QStringList& params, QWidget* parent) : QMainWindow(parent)
{
    g_mainForm = this;
    setWindowTitle(QStringLiteral("ﾃｰﾌﾞﾙ操作ﾕｰﾃｨﾘﾃｨ"));
    setWindowIcon(QIcon(programIconPixmap(32)));
    QFont frameFont(QStringLiteral("ＭＳ ゴシック"));
    frameFont.setPointSize(9);
    setFont(frameFont);

    MDIClient = new QMdiArea(this);
    MDIClient->setBackground(palette().color(QPalette::Dark)); // the workspace colour
    setCentralWidget(MDIClient);
    statusBar()->setSizeGripEnabled(true);
    resize(632, 434 + statusBar()->sizeHint().height());

    if (windowHooks().installBackground)
        windowHooks().installBackground(this, [this](QPainter& p, const QRect& r) { paintWallpaper(p, r); });

    createMenus();
    connect(MDIClient, &QMdiArea::subWindowActivated, this, [this] {
        UpdateMenuItems();
        activeChildChanged();
    });
    FormCreate(params);
    UpdateMenuItems();
}

TMainForm::~TMainForm()
{
    disconnect(MDIClient, nullptr, this, nullptr);
    if (g_mainForm == this)
        g_mainForm = nullptr;
}

void TMainForm::FormCreate(const QStringList& params)
{
    g_childOwner = this;
    g_registryInitialized = false;
    try {
        for (const QString& param : params) {
            if (!isSwitchParameter(param))
                continue; // a table file, opened once the database window is up
            const QString sw = param.toUpper().left(2);
            if (sw == QLatin1String("-H") || sw == QLatin1String("/H")) {
                openHelpContents();
            } else if (sw == QLatin1String("-I") || sw == QLatin1String("/I")) {
                deleteKey(kRootKey);
                g_registryInitialized = true;
                messageBox(this, QStringLiteral("レジストリを初期化しました。"), QStringLiteral("確認"),
                           QMessageBox::Warning, QMessageBox::Ok);
                return;
            }
        }
        readSettingsAndGeometry();
    } catch (const std::exception& e) {
        showError(this, QString::fromStdString(e.what()));
    }
}

void TMainForm::readSettingsAndGeometry()
{
    AppSettings& s = settings();
    readAppSettings(s, [this] { ImageDraw(); }, [this, &s] {
        if (!s.fontName.isEmpty()) {
            if (s.fontSize <= 0) // a missing size is the frame's own
                s.fontSize = font().pointSize();
            QFont f(s.fontName);
            f.setPointSize(s.fontSize);
            setFont(f);
        } else {
            s.fontName = font().family();
            s.fontSize = font().pointSize();
        }
    });
    if (!s.rsmForm)
        return;
    const int top = strToInt(digitsFilter(setting("FORMTOP ")));
    const int left = strToInt(digitsFilter(setting("FORMLEFT")));
    const int height = strToInt(digitsFilter(setting("FORMHEIGHT")));
    const int width = strToInt(digitsFilter(setting("FORMWIDTH")));
    move(left, top);
    if (width + height == 0)
        resize(640, 480);
    else
        resize(std::max(width, 1), std::max(height, 1));
    switch (strToInt(digitsFilter(setting("FORMSTATE")))) {
    case 0: setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized)); break;
    case 1: setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized); break;
    case 2: setWindowState(windowState() | Qt::WindowMinimized); break;
    default: break;
    }
}

void TMainForm::ImageDraw()
{
    const AppSettings& s = settings();
    if (s.wallpaper.isEmpty()) {
        imageVisible_ = false;
        picture_ = QImage();
    } else {
        QImageReader reader(s.wallpaper);
        QImage img = reader.read();
        if (img.isNull())
            throw std::runtime_error(QStringLiteral("壁紙 \"%1\" を読み込めません: %2")
                                         .arg(s.wallpaper, reader.errorString()).toStdString());
        stretch_ = s.wpStretch;
        picture_ = std::move(img);
        imageVisible_ = true;
    }
    MDIClient->viewport()->update();
}

void TMainForm::paintWallpaper(QPainter& p, const QRect& r) const
{
    if (!imageVisible_ || picture_.isNull())
        return;
    if (stretch_) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(r, picture_);
    } else {
        QRect target(QPoint(0, 0), picture_.size());
        target.moveCenter(r.center());
        p.drawImage(target.topLeft(), picture_);
    }
}

QMdiSubWindow* TMainForm::addChild(ChildWindow* child)
{
    // The window's own size (set by resize, else its size hint) is its client area, as for
    // an MDI child that sizes itself; the subwindow adds its frame and title bar around it.
    const QSize want = child->testAttribute(Qt::WA_Resized) ? child->size() : child->sizeHint();
    QMdiSubWindow* sub = MDIClient->addSubWindow(child);
    if (want.isValid() && !want.isEmpty()) {
        const QMargins m = sub->contentsMargins();
        sub->resize(want.grownBy(m).expandedTo(sub->minimumSizeHint()));
    }
    sub->setAttribute(Qt::WA_DeleteOnClose);
    child->setAttribute(Qt::WA_DeleteOnClose);
    connect(sub, &QObject::destroyed, this, [this] {
        QTimer::singleShot(0, this, [this] {
            UpdateMenuItems();
            activeChildChanged();
        });
    });
    sub->show();
    UpdateMenuItems();
    return sub;
}

ChildWindow* TMainForm::activeChild() const
{
    QMdiSubWindow* sub = MDIClient->activeSubWindow();
    return sub ? qobject_cast<ChildWindow*>(sub->widget()) : nullptr;
}

void TMainForm::openHelpContents()
{
    if (!help_)
        help_ = new THelpWindow(this);
    help_->showContents();
}

void TMainForm::openHelpPage(const QString& page)
{
    if (!help_)
        help_ = new THelpWindow(this);
    help_->showPage(page);
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (g_registryInitialized)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    for (QMdiSubWindow* sub : MDIClient->subWindowList()) {
        if (auto* child = qobject_cast<ChildWindow*>(sub->widget())) {
            try {
                if (!child->closeQuery()) {
                    e->ignore();
                    return;
                }
            } catch (const std::exception& ex) {
                // Like a refusal: the window may hold an edit that could not be saved.
                showError(this, QString::fromStdString(ex.what()));
                e->ignore();
                return;
            }
        }
    }
    try {
        FormCloseQuery();
    } catch (const std::exception& ex) {
        showError(this, QString::fromStdString(ex.what()));
    }
    if (help_)
        help_->close();
    e->accept();
}

bool TMainForm::FormCloseQuery()
{
    if (g_registryInitialized)
        return true;
    const Qt::WindowStates st = windowState();
    const int state = st.testFlag(Qt::WindowMinimized) ? 2 : st.testFlag(Qt::WindowMaximized) ? 1 : 0;
    writeSetting(kRootKey, QStringLiteral("FORMSTATE"), QString::number(state));
    if (state == 0) {
        writeSetting(kRootKey, QStringLiteral("FORMTOP "), QString::number(y()));
        writeSetting(kRootKey, QStringLiteral("FORMLEFT"), QString::number(x()));
        writeSetting(kRootKey, QStringLiteral("FORMHEIGHT"), QString::number(height()));
        writeSetting(kRootKey, QStringLiteral("FORMWIDTH"), QString::number(width()));
    }
    return true;
}

} // namespace vemo::shell
