#include "shell/TSHBrowseForFolderEx.h"

#include "shell/Prompt.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTreeView>
#include <QVBoxLayout>

namespace vemo::shell {

namespace {

constexpr int kIdentifiers[] = {0, 0, 17, 16, 6, 2, 8, 9, 11, 7, 21};

QString home()
{
    return QDir::homePath();
}

QString existingOrHome(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir() ? QDir::cleanPath(path) : home();
}

QString dataHome()
{
    const QString env = qEnvironmentVariable("XDG_DATA_HOME");
    return env.isEmpty() ? home() + QStringLiteral("/.local/share") : env;
}

QString configHome()
{
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    return env.isEmpty() ? home() + QStringLiteral("/.config") : env;
}

} // namespace

int folderIdentifier(TSelectFolder f)
{
    return kIdentifiers[static_cast<int>(f)];
}

int folderIdentifier(TRootFolder f)
{
    return kIdentifiers[static_cast<int>(f)];
}

QString specialFolderPath(int identifier, bool asRoot)
{
    switch (identifier) {
    case 0: return asRoot ? QStringLiteral("/") : home();
    case 17: return QStringLiteral("/");
    case 16: return existingOrHome(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    case 6: return home(); // favourites: the places a user keeps are under the home folder
    case 2:
    case 11: return existingOrHome(dataHome() + QStringLiteral("/applications"));
    case 8: return existingOrHome(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    case 9: return home();
    case 7: return existingOrHome(configHome() + QStringLiteral("/autostart"));
    case 21: return existingOrHome(home() + QStringLiteral("/Templates"));
    default: return asRoot ? QStringLiteral("/") : home();
    }
}

QString resolveFolder(bool manual, const QString& name, int identifier, bool asRoot)
{
    if (manual && !name.isEmpty()) {
        const QFileInfo fi(name);
        if (fi.isDir())
            return QDir::cleanPath(fi.absoluteFilePath());
    }
    return specialFolderPath(manual ? 0 : identifier, asRoot);
}

unsigned browseFlags(const QSet<TSHBrowseOption>& options, bool* showPath)
{
    struct Entry {
        TSHBrowseOption option;
        unsigned flag;
    };
    static const Entry order[] = {{TSHBrowseOption::sboDontGoBelowDomain, 2},
                                  {TSHBrowseOption::sboReturnFSAncestors, 8},
                                  {TSHBrowseOption::sboReturnOnlyFSDirs, 1},
                                  {TSHBrowseOption::sboStatusTextAndShowPath, 4},
                                  {TSHBrowseOption::sboStatusText, 4}};
    unsigned flags = 0;
    *showPath = false;
    for (const Entry& e : order) {
        if (!options.contains(e.option))
            continue;
        flags |= e.flag;
        if (e.option == TSHBrowseOption::sboStatusTextAndShowPath) {
            *showPath = true;
            break;
        }
    }
    return flags;
}

QPoint centerScreenPosition(const QRect& workArea, const QSize& window)
{
    return {workArea.x() + (workArea.width() - window.width()) / 2,
            workArea.y() + (workArea.height() - window.height()) / 3};
}

PickerState pickerCallbackStep(PickerState state, bool showPath, const QString& currentPath,
                               const QString& eventText, TOKButtonState okState)
{
    state.statusText = showPath ? currentPath : eventText;
    if (okState == TOKButtonState::obsEnable)
        state.okEnabled = true;
    else if (okState == TOKButtonState::obsDisable)
        state.okEnabled = false;
    return state;
}

// --- dialog ---

TFolderDialog::TFolderDialog(TSHBrowseForFolderEx* picker, const QString& root, const QString& initial,
                             bool showPath, bool statusLine, QWidget* parent)
    : QDialog(parent), picker_(picker), showPath_(showPath)
{
    setWindowTitle(QStringLiteral("フォルダの参照"));
    resize(400, 360);
    auto* layout = new QVBoxLayout(this);
    TitleLabel = new QLabel(picker->Caption, this);
    TitleLabel->setWordWrap(true);
    layout->addWidget(TitleLabel);
    StatusLabel = new QLabel(this);
    StatusLabel->setVisible(statusLine || showPath);
    layout->addWidget(StatusLabel);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model_->setReadOnly(true);
    const QModelIndex rootIndex = model_->setRootPath(root);
    Tree = new QTreeView(this);
    Tree->setModel(model_);
    Tree->setRootIndex(rootIndex);
    for (int c = 1; c < model_->columnCount(); ++c)
        Tree->hideColumn(c);
    Tree->header()->hide();
    layout->addWidget(Tree, 1);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(Buttons);
    connect(Tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &TFolderDialog::selectionChanged);

    // Initialised: select the initial folder, then the first callback round.
    if (!initial.isEmpty())
        selectPath(initial);
    callback(selectedPath(), false);
}

bool TFolderDialog::selectPath(const QString& path)
{
    const QModelIndex idx = model_->index(QDir::cleanPath(path));
    if (!idx.isValid())
        return false;
    Tree->setCurrentIndex(idx);
    Tree->scrollTo(idx);
    return true;
}

QString TFolderDialog::selectedPath() const
{
    const QModelIndex idx = Tree->currentIndex();
    return idx.isValid() ? model_->filePath(idx) : QString();
}

void TFolderDialog::selectionChanged()
{
    callback(selectedPath(), true);
}

void TFolderDialog::callback(const QString& path, bool selectionChange)
{
    QString text;
    TOKButtonState ok = TOKButtonState::obsLeave;
    if (selectionChange)
        picker_->raiseSelectionChanged(this, path, text, ok);
    state_ = pickerCallbackStep(state_, showPath_, selectionChange ? path : QString(), text, ok);
    StatusLabel->setText(state_.statusText);
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(state_.okEnabled && !path.isEmpty());
}

// --- component ---

TSHBrowseForFolderEx::TSHBrowseForFolderEx(QWidget* owner) : QObject(owner), owner_(owner) {}

void TSHBrowseForFolderEx::raiseSelectionChanged(QWidget* wnd, const QString& path, QString& showText,
                                                 TOKButtonState& state)
{
    if (OnSelectionChanged)
        OnSelectionChanged(this, wnd, path, showText, state);
}

QPoint TSHBrowseForFolderEx::placement(const QSize& dialogSize, bool* place) const
{
    *place = true;
    switch (ShowStyle) {
    case TShowStyle::ssCenterScreen: {
        QScreen* screen = owner_ && owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen();
        return centerScreenPosition(screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768), dialogSize);
    }
    case TShowStyle::ssClient:
        if (owner_ && owner_->window()->isWindow() && owner_->window()->internalWinId())
            return owner_->window()->mapToGlobal(QPoint(0, 0));
        break;
    case TShowStyle::ssNone: break;
    }
    *place = false;
    return {};
}

bool TSHBrowseForFolderEx::Execute()
{
    FolderName.clear();
    DisplayName.clear();
    const QString initial = resolveFolder(SelectFolder == TSelectFolder::sfManual, SelectFolderName,
                                          folderIdentifier(SelectFolder), false);
    const QString root = resolveFolder(RootFolder == TRootFolder::rfManual, RootFolderName,
                                       folderIdentifier(RootFolder), true);
    if (!QFileInfo(root).isDir())
        return false;
    bool showPath = false;
    const unsigned flags = browseFlags(Options, &showPath);
    const bool statusLine = flags & 4u;

    PromptRequest r;
    r.kind = PromptRequest::Kind::Folder;
    r.caption = Caption;
    r.directory = initial;
    r.defaultText = root;
    if (const auto answer = handlerAnswer(r)) {
        if (!answer->accepted)
            return false;
        QString text;
        TOKButtonState ok = TOKButtonState::obsLeave;
        raiseSelectionChanged(nullptr, answer->text, text, ok);
        FolderName = answer->text;
        DisplayName = QFileInfo(answer->text).fileName();
        return true;
    }

    QWidget* mainWindow = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QMainWindow") && w->isVisible()) {
            mainWindow = w;
            break;
        }
    TFolderDialog dlg(this, root, initial, showPath, statusLine, owner_ ? owner_->window() : mainWindow);
    bool place = false;
    const QPoint at = placement(dlg.size(), &place);
    if (place)
        dlg.move(at);
    const bool ok = dlg.exec() == QDialog::Accepted;
    if (mainWindow)
        mainWindow->activateWindow();
    if (!ok)
        return false;
    FolderName = dlg.selectedPath();
    DisplayName = QFileInfo(FolderName).fileName();
    if (DisplayName.isEmpty())
        DisplayName = FolderName;
    return true;
}

} // namespace vemo::shell
