#include "regularfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
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
#ifdef Q_OS_UNIX
    Handle handle;
    return handle.open(path, errorString) && handle.handOver(file, errorString);
#else
    if (path.isEmpty())
        return fail(errorString, tr("no file name was given"));
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
    Handle file;
    return file.open(path, errorString) && file.readAll(maxBytes, data, errorString);
}

RegularFile::Handle::~Handle()
{
    close();
}

#ifdef Q_OS_UNIX
bool RegularFile::Handle::open(const QString &path, QString *errorString)
{
    close();
    if (path.isEmpty())
        return fail(errorString, tr("no file name was given"));
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
    m_fd = fd;
    m_size = status.st_size;
    return true;
}

bool RegularFile::Handle::readAll(qint64 maxBytes, QByteArray *data, QString *errorString)
{
    if (m_fd < 0)
        return fail(errorString, tr("the file is not open"));
    maxBytes = qBound(qint64(0), maxBytes, qint64(INT_MAX - 1));
    if (m_size > maxBytes)
        return fail(errorString,
                    tr("the file is %1 bytes, more than the %2 allowed").arg(m_size).arg(maxBytes));
    // Room for the size measured and one byte more: a read that stops short
    // of the room at that size has met the end, with no further call. The
    // file may have grown since: then read on, never past one byte over
    // the cap.
    QByteArray bytes;
    qint64 room = m_size + 1, have = 0;
    for (;;) {
        bytes.resize(int(room));
        const qint64 wanted = room - have;
        ssize_t got;
        do {
            got = ::read(m_fd, bytes.data() + have, size_t(wanted));
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return fail(errorString, qt_error_string(errno));
        have += got;
        if (have > maxBytes)
            return fail(errorString,
                        tr("the file is more than the %1 bytes allowed").arg(maxBytes));
        if (got == 0 || (got < wanted && have == m_size))
            break;
        if (have == room)
            room = qMin(maxBytes + 1, room + qMax<qint64>(room, 64 * 1024));
    }
    bytes.resize(int(have));
    if (data)
        *data = bytes;
    return true;
}

bool RegularFile::Handle::handOver(QFile &file, QString *errorString)
{
    if (m_fd < 0)
        return fail(errorString, tr("the file is not open"));
    if (!file.open(m_fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close();
        return fail(errorString, file.errorString());
    }
    m_fd = -1;
    return true;
}

void RegularFile::Handle::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

#else
bool RegularFile::Handle::open(const QString &path, QString *errorString)
{
    auto file = std::make_unique<QFile>();
    if (!RegularFile::open(*file, path, errorString))
        return false;
    m_size = file->size();
    m_file = std::move(file);
    return true;
}

bool RegularFile::Handle::readAll(qint64 maxBytes, QByteArray *data, QString *errorString)
{
    if (!m_file)
        return fail(errorString, tr("the file is not open"));
    return readOpened(*m_file, qBound<qint64>(0, maxBytes, INT_MAX - 1), data, errorString);
}

bool RegularFile::Handle::handOver(QFile &file, QString *errorString)
{
    if (!m_file)
        return fail(errorString, tr("the file is not open"));
    const QString path = m_file->fileName();
    close();
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(errorString, file.errorString());
    return true;
}

void RegularFile::Handle::close()
{
    m_file.reset();
}

#endif
