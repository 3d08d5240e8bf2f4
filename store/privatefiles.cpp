#include "store/privatefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcPrivateFiles, "norva.files")

bool PrivateFiles::makeDirectory(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(clean);
    if (!QFileInfo(clean).isDir()) {
        const QString parent = QFileInfo(clean).path();
        if (!QDir().mkpath(parent))
            return false;
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st = {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // A umask can only take bits away, so the owner's are set again too.
    if ((st.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        qCWarning(lcPrivateFiles) << "Cannot make the folder private:" << clean;
        return false;
    }
    return true;
#else
    return QDir().mkpath(clean);
#endif
}

bool PrivateFiles::makeFile(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != EEXIST)
        return false;
#else
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    }
#endif
    return restrictFile(path);
}

bool PrivateFiles::restrictFile(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st = {};
    if (::stat(native.constData(), &st) != 0)
        return errno == ENOENT;
    if ((st.st_mode & 07777) == 0600)
        return true;
    if (::chmod(native.constData(), 0600) != 0) {
        qCWarning(lcPrivateFiles) << "Cannot make the file private:" << path;
        return false;
    }
#else
    Q_UNUSED(path)
#endif
    return true;
}
