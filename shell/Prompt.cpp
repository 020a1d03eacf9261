#include "shell/Prompt.h"

#include <exception>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace vemo::shell {

namespace {

PromptHandler& handler()
{
    static PromptHandler h;
    return h;
}

QWidget* dialogParent(QWidget* parent)
{
    return parent ? parent->window() : nullptr;
}

} // namespace

void setPromptHandler(PromptHandler h)
{
    handler() = std::move(h);
}

std::optional<PromptAnswer> handlerAnswer(const PromptRequest& r)
{
    if (!handler())
        return std::nullopt;
    return handler()(r);
}

QString qtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        const qsizetype paren = name.indexOf(u'(');
        if (paren > 0)
            name = name.left(paren).trimmed();
        QStringList patterns;
        for (QString p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
            for (const QString& v : {p, p.toUpper(), p.toLower()})
                if (!patterns.contains(v))
                    patterns.append(v);
        }
        out.append(name + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return out.join(QStringLiteral(";;"));
}

QMessageBox::StandardButton messageBox(QWidget* parent, const QString& text, const QString& caption,
                                       QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::Message;
        r.caption = caption;
        r.text = text;
        r.icon = icon;
        r.buttons = buttons;
        return handler()(r).button;
    }
    QMessageBox box(icon, caption, text, buttons, dialogParent(parent));
    box.setWindowModality(Qt::ApplicationModal);
    return QMessageBox::StandardButton(box.exec());
}

bool confirm(QWidget* parent, const QString& text)
{
    return messageBox(parent, text, QStringLiteral("確認"), QMessageBox::Question,
                      QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

void showError(QWidget* parent, const QString& text)
{
    messageBox(parent, text, QStringLiteral("エラー"), QMessageBox::Critical, QMessageBox::Ok);
}

std::optional<QString> inputBox(QWidget* parent, const QString& caption, const QString& prompt,
                                const QString& preset)
{
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::Input;
        r.caption = caption;
        r.text = prompt;
        r.defaultText = preset;
        const PromptAnswer a = handler()(r);
        return a.accepted ? std::optional<QString>(a.text) : std::nullopt;
    }
    bool ok = false;
    const QString text = QInputDialog::getText(dialogParent(parent), caption, prompt, QLineEdit::Normal, preset, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

std::optional<QString> openFileName(QWidget* parent, const QString& filter, const QString& directory,
                                    const QString& caption)
{
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::OpenFile;
        r.caption = caption;
        r.filter = filter;
        r.directory = directory;
        const PromptAnswer a = handler()(r);
        return a.accepted && !a.text.isEmpty() ? std::optional<QString>(a.text) : std::nullopt;
    }
    const QString file = QFileDialog::getOpenFileName(dialogParent(parent), caption, directory, qtFileFilter(filter));
    return file.isEmpty() ? std::nullopt : std::optional<QString>(file);
}

std::optional<QString> saveFileName(QWidget* parent, const QString& filter, const QString& directory,
                                    const QString& fileName, const QString& defaultSuffix)
{
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::SaveFile;
        r.filter = filter;
        r.directory = directory;
        r.defaultText = fileName;
        r.defaultSuffix = defaultSuffix;
        const PromptAnswer a = handler()(r);
        return a.accepted && !a.text.isEmpty() ? std::optional<QString>(a.text) : std::nullopt;
    }
    QFileDialog dlg(dialogParent(parent), QString(), directory, qtFileFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (!defaultSuffix.isEmpty())
        dlg.setDefaultSuffix(defaultSuffix);
    if (!fileName.isEmpty())
        dlg.selectFile(fileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return dlg.selectedFiles().first();
}

bool loginDialog(QWidget* parent, const QString& alias, QString& user, QString& password)
{
    const QString caption = QStringLiteral("ログイン");
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::Login;
        r.caption = caption;
        r.text = alias;
        r.defaultText = user;
        const PromptAnswer a = handler()(r);
        if (!a.accepted)
            return false;
        user = a.text;
        password = a.password;
        return true;
    }
    QDialog dlg(dialogParent(parent));
    dlg.setWindowTitle(caption);
    auto* form = new QFormLayout(&dlg);
    form->addRow(new QLabel(QStringLiteral("データベース %1 に接続します。").arg(alias)));
    auto* userEdit = new QLineEdit(user);
    auto* passwordEdit = new QLineEdit;
    passwordEdit->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("ユーザー名(&U):"), userEdit);
    form->addRow(QStringLiteral("パスワード(&P):"), passwordEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    form->addRow(buttons);
    (user.isEmpty() ? userEdit : passwordEdit)->setFocus();
    if (dlg.exec() != QDialog::Accepted)
        return false;
    user = userEdit->text();
    password = passwordEdit->text();
    return true;
}

bool printerSetup(QWidget* parent, QPrinter* printer)
{
    if (handler()) {
        PromptRequest r;
        r.kind = PromptRequest::Kind::PrinterSetup;
        r.defaultText = printer->outputFileName();
        const PromptAnswer a = handler()(r);
        if (a.accepted && !a.text.isEmpty()) { // the answer chose a PDF file
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(a.text);
        }
        return a.accepted;
    }
    QPrintDialog dlg(printer, dialogParent(parent));
    dlg.setWindowTitle(QStringLiteral("プリンタの設定"));
    return dlg.exec() == QDialog::Accepted;
}

bool runShowingError(QWidget* parent, const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        showError(parent, QString::fromUtf8(e.what()));
        return false;
    }
}

} // namespace vemo::shell
