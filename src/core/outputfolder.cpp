#include "outputfolder.h"

#include "safefilewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <cstdio>

const QLatin1String OutputFolder::LockFileName(".tilewright.lock");
const QLatin1String OutputFolder::StagingPrefix(".tilewright-partial-");

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OutputFolder", text);
}

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
    const QStringList leftovers = folder.entryList({StagingPrefix + QLatin1Char('*')},
                                                   QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : leftovers)
        QFile::remove(folder.filePath(name));
    return true;
}

void OutputFolder::release()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

bool OutputFolder::writeFile(const QString &path, const QByteArray &data, QString *errorString)
{
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
        if (errorString)
            *errorString = qt_error_string(errno);
        QFile::remove(staged);
        return false;
    }
    return true;
}
