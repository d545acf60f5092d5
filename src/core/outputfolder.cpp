#include "outputfolder.h"

#include "safefilewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <atomic>
#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

const QLatin1String OutputFolder::LockFileName(".tilewright.lock");
const QLatin1String OutputFolder::StagingPrefix(".tilewright-partial-");

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OutputFolder", text);
}

bool failWith(int error, QString *errorString)
{
    if (errorString)
        *errorString = qt_error_string(error);
    return false;
}

#ifdef Q_OS_UNIX
int openEintr(const char *path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// All of data, through short writes and interruptions.
bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size_t(size));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (done == 0) { // nothing written and no reason given: treat as a full disk
            errno = ENOSPC;
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

// The data on the disk before the rename. A file system that cannot sync at
// all (some FUSE and network ones) is no failure: QSaveFile writes there too.
bool syncData(int fd)
{
    int result;
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP ||
           errno == ENOSYS;
}

#ifdef O_TMPFILE
// Whether unnamed files can be linked at all here. Without /proc, or with
// links through it refused (a sandbox), a file written unnamed would be
// written again staged, every one of them: so the unnamed way stops.
std::atomic<bool> unnamedLinks{true};

// Names the unnamed file `fd`. Linking the descriptor itself takes a
// capability (or Linux 6.10 for one's own files), so where it is refused the
// file is linked through /proc, as anyone may where /proc is mounted.
bool linkUnnamed(int fd, const QByteArray &path)
{
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT)
            return false;
    }
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) != 0) {
        const int error = errno;
        if (error == EPERM || error == EACCES ||
            (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0))
            unnamedLinks.store(false, std::memory_order_relaxed);
        errno = error;
        return false;
    }
    byDescriptor.store(false, std::memory_order_relaxed);
    return true;
}

enum class Unnamed
{
    Written,
    Failed,
    NotThisWay
};

// A file that is most likely new is written and synced without a name, where
// the file system has unnamed files (tmpfs, ext4, xfs, btrfs), and then
// linked under its own: one change to the folder instead of a look-up, a
// create and a rename, and nothing left behind by a kill. Every change locks
// the folder, and a thread that meets the lock held sleeps: two threads
// writing tiles into one folder slept some 15 times a run of 200 tiles so,
// each time for 0.1 ms or more on a virtual machine. A link never replaces a
// file, so one there after all is NotThisWay, as is all this way cannot do.
Unnamed writeUnnamed(const QByteArray &target, int slash, const QByteArray &data,
                     QString *errorString)
{
    if (!unnamedLinks.load(std::memory_order_relaxed))
        return Unnamed::NotThisWay;
    const QByteArray folder = slash > 0 ? target.left(slash) : QByteArray(slash == 0 ? "/" : ".");
    const int fd = openEintr(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return Unnamed::NotThisWay;
    if (!writeAll(fd, data.constData(), data.size()) || !syncData(fd)) {
        const int error = errno;
        ::close(fd);
        failWith(error, errorString);
        return Unnamed::Failed;
    }
    if (!linkUnnamed(fd, target)) {
        ::close(fd);
        return Unnamed::NotThisWay;
    }
    if (::close(fd) == 0)
        return Unnamed::Written;
    // A failed close may be the first news of a failed write.
    const int error = errno;
    ::unlink(target.constData());
    failWith(error, errorString);
    return Unnamed::Failed;
}
#endif
#endif

} // namespace

OutputFolder::OutputFolder(const QString &path) : m_path(path) {}

OutputFolder::~OutputFolder()
{
    release();
}

bool OutputFolder::claim(QString *errorString)
{
    auto fail = [&](const QString &reason) {
        if (errorString)
            *errorString = reason;
        m_lock.reset();
        return false;
    };
    const QDir folder(m_path);
    m_lock = std::make_unique<QLockFile>(folder.filePath(LockFileName));
    // A run may take minutes: only a lock whose process is gone is stale.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // A folder where not even the lock can be written takes no tile
            // either; the run goes on and names each one with its reason.
            m_lock.reset();
            return true;
        }
        qint64 pid = 0;
        QString host, application;
        m_lock->getLockInfo(&pid, &host, &application);
        return fail(tr("Another run (%1, process %2) is writing into \"%3\"; wait until it has "
                       "finished, or choose another folder.")
                        .arg(application.isEmpty() ? tr("unknown program") : application)
                        .arg(pid)
                        .arg(QDir::toNativeSeparators(m_path)));
    }
    // With the lock held no other run is writing here: every staged file is
    // a leftover of one that was killed.
    // (By prefix rather than a name filter, which QDir compiles into a
    // pattern on every call: most of a claim's time in a fresh folder.)
    QDirIterator entries(m_path,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    m_names.clear();
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QString name = entries.fileName();
        if (name.startsWith(StagingPrefix) && !entries.fileInfo().isDir())
            QFile::remove(path);
        else
            m_names.insert(name);
    }
    m_listed = true;
    return true;
}

bool OutputFolder::mayHold(const QString &fileName) const
{
    return !m_listed || m_names.contains(fileName);
}

void OutputFolder::release()
{
    m_listed = false;
    m_names.clear();
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

bool OutputFolder::writeFile(const QString &path, const QByteArray &data, QString *errorString,
                             bool likelyNew)
{
#ifdef Q_OS_UNIX
    // One tile is one small file, and a run writes thousands: straight system
    // calls, about half as many as QSaveFile's own temporary file and a second
    // rename took.
    const QByteArray target = QFile::encodeName(path);
    const int slash = target.lastIndexOf('/');
#ifdef O_TMPFILE
    if (likelyNew) {
        const Unnamed result = writeUnnamed(target, slash, data, errorString);
        if (result != Unnamed::NotThisWay)
            return result == Unnamed::Written;
    }
#else
    Q_UNUSED(likelyNew);
#endif
    QByteArray staged;
    staged.reserve(target.size() + StagingPrefix.size());
    staged.append(target.constData(), slash + 1);
    staged.append(StagingPrefix.data(), StagingPrefix.size());
    staged.append(target.constData() + slash + 1, target.size() - slash - 1);

    // An existing tile keeps its permissions. Only a file counts: a link
    // under the tile's name is replaced by the rename, never followed.
    struct stat existing;
    const bool keepMode = ::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode);

    // O_EXCL creates the staged file afresh, so nothing planted under its
    // name (a link, a file someone else holds open) is written through; a
    // leftover is removed and the name taken once more. 0666 less the umask
    // is what any new file gets.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = openEintr(staged.constData(), flags, 0666);
    if (fd < 0 && errno == EEXIST && (::unlink(staged.constData()) == 0 || errno == ENOENT))
        fd = openEintr(staged.constData(), flags, 0666);
    if (fd < 0)
        return failWith(errno, errorString);

    // Synced before the rename, as QSaveFile does, so that after a crash the
    // tile is the old file or the new one, never an empty one.
    bool written = (!keepMode || ::fchmod(fd, existing.st_mode & 0777) == 0) &&
                   writeAll(fd, data.constData(), data.size()) && syncData(fd);
    int error = errno;
    // A failed close may be the first news of a failed write (NFS, quotas).
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    // rename() replaces the target in one step, so a reader sees the old file
    // or the new one, never a part.
    if (written && ::rename(staged.constData(), target.constData()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(staged.constData());
        return failWith(error, errorString);
    }
    return true;
#else
    Q_UNUSED(likelyNew);
    const QFileInfo target(path);
    const QString staged = target.path() + QLatin1Char('/') + StagingPrefix + target.fileName();
    if (!SafeFileWriter::write(staged, data, errorString))
        return false;
    if (target.exists())
        QFile::setPermissions(staged, QFile::permissions(path));
    // rename() replaces the target in one step, so a reader sees the old file
    // or the new one, never a part.
    if (std::rename(QFile::encodeName(staged).constData(), QFile::encodeName(path).constData()) !=
        0) {
        const int error = errno;
        QFile::remove(staged);
        return failWith(error, errorString);
    }
    return true;
#endif
}
