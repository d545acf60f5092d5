#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <unistd.h>

// A tiny tmpfs mounted on a folder, for tests that need a full disk or a
// read-only folder. Permission bits do not stop root (and CI runs as root),
// but a full or read-only file system stops everyone. Needs root; callers
// skip when mount() reports false.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &dir) : m_dir(dir) {}
    ~TmpfsMount() { unmount(); }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    static bool isRoot() { return ::geteuid() == 0; }

    bool mount(const QString &size = QStringLiteral("64k"))
    {
        if (!isRoot())
            return false;
        m_mounted = run({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                         QStringLiteral("size=") + size, QStringLiteral("tmpfs"), m_dir});
        return m_mounted;
    }

    bool remountReadOnly()
    {
        return m_mounted && run({QStringLiteral("-o"), QStringLiteral("remount,ro"), m_dir});
    }

    // Writes a filler file until the file system refuses more bytes.
    bool fill()
    {
        QFile filler(m_dir + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size()) {
        }
        return true;
    }

    void unmount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir});
        m_mounted = false;
    }

private:
    static bool run(const QStringList &arguments)
    {
        return QProcess::execute(QStringLiteral("mount"), arguments) == 0;
    }

    QString m_dir;
    bool m_mounted = false;
};
