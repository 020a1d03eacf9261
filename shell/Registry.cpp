#include "shell/Registry.h"

#include "shell/RegistryError.h"
#include "shell/RegistryFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vemo::shell {

namespace {

std::function<void(const QString&)>& problemHandler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}

void reportProblem(const QString& message)
{
    if (problemHandler())
        problemHandler()(message);
    else
        std::fprintf(stderr, "vemo32: %s\n", message.toLocal8Bit().constData());
}

[[noreturn]] void fail(const QString& what, const QString& path, int err)
{
    throw RegistryError(QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err)))
                            .toStdString());
}

QString configDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vemo32");
}

// An exclusive lock on registry.reg.lock for the lifetime of the object.
class StoreLock {
public:
    explicit StoreLock(const QString& lockPath)
    {
        const QByteArray p = QFile::encodeName(lockPath);
        fd_ = ::open(p.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            fail(QStringLiteral("cannot open the settings lock file"), lockPath, errno);
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int err = errno;
                ::close(fd_);
                fail(QStringLiteral("cannot lock the settings store"), lockPath, err);
            }
        }
    }
    ~StoreLock()
    {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

// Reads and parses the store under the lock. A damaged file is moved aside and `problem`
// set; the caller reports it once the lock is released, so no prompt ever holds the lock.
RegistryData load(const QString& path, QString& problem)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw RegistryError(QStringLiteral("cannot read the settings file \"%1\": %2")
                                .arg(path, file.errorString()).toStdString());
    const QByteArray bytes = file.readAll();
    file.close();
    QString why;
    if (auto data = parseRegistryText(bytes, &why))
        return std::move(*data);

    const QString base = path + QStringLiteral(".damaged-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + QStringLiteral("-%1").arg(n);
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        fail(QStringLiteral("the settings file is damaged and cannot be moved aside"), path, errno);
    problem = (QStringLiteral("設定ファイル \"%1\" を読み取れません (%2)。元のファイルは \"%3\" に移し、設定を初期値で始めます。")
                      .arg(path, why, aside));
    return {};
}

void syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void save(const QString& path, const RegistryData& data)
{
    const QByteArray bytes = serializeRegistry(data);
    const QString tmp = path + QStringLiteral(".tmp");   // only written under the lock
    const QByteArray tmpName = QFile::encodeName(tmp);
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(QStringLiteral("cannot write the settings file"), tmp, errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmpName.constData());
            fail(QStringLiteral("cannot write the settings file"), tmp, err);
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpName.constData());
        fail(QStringLiteral("cannot write the settings file"), tmp, err);
    }
    if (std::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(tmpName.constData());
        fail(QStringLiteral("cannot replace the settings file"), path, err);
    }
    syncDirectory(QFileInfo(path).absolutePath());
}

// Runs `change` on the current contents under the lock; saves when it reports a change.
template <typename Change>
void modify(Change change)
{
    const QString path = registryFilePath();
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        throw RegistryError(QStringLiteral("cannot create the settings folder \"%1\"").arg(dir).toStdString());
    QString problem;
    {
        StoreLock lock(path + QStringLiteral(".lock"));
        RegistryData data = load(path, problem);
        if (change(data))
            save(path, data);
    }
    if (!problem.isEmpty())
        reportProblem(problem);
}

} // namespace

QString registryFilePath()
{
    return configDir() + QStringLiteral("/registry.reg");
}

void setRegistryProblemHandler(std::function<void(const QString&)> handler)
{
    problemHandler() = std::move(handler);
}

QString readSetting(const QString& key, const QString& name)
{
    const QStringList path = splitKeyPath(key);
    const QString file = registryFilePath();
    if (!QFileInfo::exists(file))
        return {};
    QString problem;
    QString value;
    {
        StoreLock lock(file + QStringLiteral(".lock"));
        const RegistryData data = load(file, problem);
        if (const RegistrySection* s = data.find(path))
            for (const auto& [n, v] : s->values)
                if (n.compare(name, Qt::CaseInsensitive) == 0)
                    value = v;
    }
    if (!problem.isEmpty())
        reportProblem(problem);
    return value;
}

void writeSetting(const QString& key, const QString& name, const QString& text)
{
    const QStringList path = splitKeyPath(key);
    modify([&](RegistryData& data) {
        RegistrySection& s = data.ensure(path);
        for (auto& [n, v] : s.values) {
            if (n.compare(name, Qt::CaseInsensitive) == 0) {
                if (v == text)
                    return false;
                v = text;
                return true;
            }
        }
        s.values.emplace_back(name, text);
        return true;
    });
}

void deleteKey(const QString& key)
{
    const QStringList path = splitKeyPath(key);
    if (!QFileInfo::exists(registryFilePath()))
        return;
    modify([&](RegistryData& data) { return data.remove(path); });
}

QStringList listSubkeys(const QString& key)
{
    const QStringList path = splitKeyPath(key);
    QStringList names;
    modify([&](RegistryData& data) {
        const bool existed = data.find(path) != nullptr;
        if (!existed)
            data.ensure(path);
        names = data.subkeys(path);
        return !existed;
    });
    return names;
}

} // namespace vemo::shell
