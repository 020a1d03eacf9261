#pragma once
// Every modal prompt of the program goes through here so that tests can answer it and read
// what was asked. Without a test handler the real Qt dialogs are shown.
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;
class QPrinter;

namespace vemo::shell {

struct PromptRequest {
    enum class Kind { Message, Input, OpenFile, SaveFile, PrinterSetup, Folder, Login };
    Kind kind = Kind::Message;
    QString caption;
    QString text;             // message / input prompt; Login: the database asked for
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QString defaultText;      // input preset; file dialogs: preset file name; Login: user name
    QString directory;        // file dialogs: initial folder
    QString filter;           // file dialogs: "Name(*.X)|*.X|..." as the windows give it
    QString defaultSuffix;
};

struct PromptAnswer {
    QMessageBox::StandardButton button = QMessageBox::Ok; // Message
    bool accepted = true;                                 // Input / file / printer / folder
    QString text;                                         // Input text or chosen file/folder; Login: user name
    QString password;                                     // Login
};

// Tests install a handler; it sees each request in order and answers it.
using PromptHandler = std::function<PromptAnswer(const PromptRequest&)>;
void setPromptHandler(PromptHandler handler);   // an empty handler restores the real dialogs
// The installed handler's answer to `r`; nullopt when none is installed (the caller then
// shows its own dialog). For prompts built outside this file, such as the folder picker.
std::optional<PromptAnswer> handlerAnswer(const PromptRequest& r);

QMessageBox::StandardButton messageBox(QWidget* parent, const QString& text, const QString& caption,
                                       QMessageBox::Icon icon,
                                       QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Yes/No question with caption "確認"; true only for Yes.
bool confirm(QWidget* parent, const QString& text);
// The standard error box: the error's own text, caption "エラー".
void showError(QWidget* parent, const QString& text);
// Runs action; an error it raises is shown in the standard error box, and false returned.
bool runShowingError(QWidget* parent, const std::function<void()>& action);
// nullopt when cancelled.
std::optional<QString> inputBox(QWidget* parent, const QString& caption, const QString& prompt,
                                const QString& preset);
// Filters in the "Name(*.X)|*.X|..." form; nullopt when cancelled.
std::optional<QString> openFileName(QWidget* parent, const QString& filter, const QString& directory,
                                    const QString& caption = {});
std::optional<QString> saveFileName(QWidget* parent, const QString& filter, const QString& directory,
                                    const QString& fileName, const QString& defaultSuffix = {});
// A database server's login for an alias: user name (preset) and password; false when
// cancelled.
bool loginDialog(QWidget* parent, const QString& alias, QString& user, QString& password);
// Printer set-up (the print dialog on the given printer: a printer, or a PDF file); false
// when cancelled. A handler's answer text, when not empty, is a PDF file to print to.
bool printerSetup(QWidget* parent, QPrinter* printer);

// "Name(*.X)|*.X|Other(*.Y)|*.Y" -> "Name(*.X);;Other(*.Y)" with each pattern made to
// match either case ("*.DB" matches "cust.db" as it would on the original platform).
QString qtFileFilter(const QString& filter);

} // namespace vemo::shell
