// Writes COUNT values "<TAG>_<i>" into one key through the settings store: two of these at
// once must not lose each other's values. Usage: registry_writer KEY TAG COUNT
#include "shell/Registry.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QString key = QString::fromLocal8Bit(argv[1]);
    const QString tag = QString::fromLocal8Bit(argv[2]);
    const int count = QString::fromLocal8Bit(argv[3]).toInt();
    try {
        for (int i = 0; i < count; ++i)
            vemo::shell::writeSetting(key, QStringLiteral("%1_%2").arg(tag).arg(i), QString::number(i));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
