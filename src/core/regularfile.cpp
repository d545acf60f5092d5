#include "regularfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RegularFile", text);
}

bool fail(QString *errorString, const QString &reason)
{
    if (errorString)
        *errorString = reason;
    return false;
}

#ifdef Q_OS_UNIX
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return tr("a folder");
    if (S_ISFIFO(mode))
        return tr("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return tr("a device");
    if (S_ISSOCK(mode))
        return tr("a socket");
    return tr("a special file");
}
#endif

} // namespace

bool RegularFile::open(QFile &file, const QString &path, QString *errorString)
{
    if (path.isEmpty())
        return fail(errorString, tr("no file name was given"));
#ifdef Q_OS_UNIX
    // O_NONBLOCK: opening a pipe with no writer would otherwise wait forever.
    // It changes nothing for a regular file, which is all we go on to read.
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errorString, qt_error_string(errno));
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(errorString, qt_error_string(error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(errorString, tr("not a regular file but %1").arg(kindOf(status.st_mode)));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(errorString, file.errorString());
    }
    return true;
#else
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(errorString, tr("not a regular file"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(errorString, file.errorString());
    return true;
#endif
}

bool RegularFile::readOpened(QFile &file, qint64 maxBytes, QByteArray *data, QString *errorString)
{
    const qint64 size = file.size();
    if (size > maxBytes)
        return fail(errorString,
                    tr("the file is %1 bytes, more than the %2 allowed").arg(size).arg(maxBytes));
    // Read to the end, never past one byte over the cap: the file may have
    // grown since it was measured.
    QByteArray bytes;
    bytes.reserve(int(qMin(size, maxBytes)) + 1);
    char chunk[64 * 1024];
    while (bytes.size() <= maxBytes) {
        const qint64 got =
            file.read(chunk, qMin<qint64>(sizeof chunk, maxBytes + 1 - bytes.size()));
        if (got < 0)
            return fail(errorString, file.errorString());
        if (got == 0)
            break;
        bytes.append(chunk, int(got));
    }
    if (bytes.size() > maxBytes)
        return fail(errorString, tr("the file is more than the %1 bytes allowed").arg(maxBytes));
    if (data)
        *data = bytes;
    return true;
}

bool RegularFile::read(const QString &path, qint64 maxBytes, QByteArray *data, QString *errorString)
{
    QFile file;
    return open(file, path, errorString) && readOpened(file, maxBytes, data, errorString);
}
