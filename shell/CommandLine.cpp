#include "shell/CommandLine.h"

#include "shell/Prompt.h"
#include "shell/WindowHooks.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <exception>

namespace vemo::shell {

bool isSwitchParameter(const QString& param)
{
    if (param.startsWith(QLatin1Char('-')))
        return true;
    if (param.startsWith(QLatin1Char('/')))
        return param.indexOf(QLatin1Char('/'), 1) < 0 && !QFileInfo(param).isFile();
    return false;
}

QStringList tableFileParameters(const QStringList& params)
{
    QStringList files;
    for (const QString& param : params)
        if (!param.isEmpty() && !isSwitchParameter(param))
            files << QDir::cleanPath(QFileInfo(param).absoluteFilePath());
    return files;
}

int openCommandLineFiles(const QStringList& params)
{
    const WindowHooks& hooks = windowHooks();
    const QStringList files = tableFileParameters(params);
    if (files.isEmpty() || !hooks.openTableFile)
        return 0;
    int opened = 0;
    for (const QString& path : files) {
        try {
            hooks.openTableFile(path);
        } catch (const std::exception& e) {
            showError(QApplication::activeWindow(), QString::fromUtf8(e.what()));
        }
        ++opened;
    }
    return opened;
}

} // namespace vemo::shell
