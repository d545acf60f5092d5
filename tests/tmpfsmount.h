#pragma once

#include <QFile>
#include <QProcess>
#include <unistd.h>

// A tiny tmpfs on a folder: a full or read-only file system stops even root,
// whom permission bits do not. Needs root; callers skip when mount() fails.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &dir) : m_dir(dir) {}
    ~TmpfsMount() { unmount(); }

    static bool isRoot() { return ::geteuid() == 0; }
    bool mount(const QString &size = QStringLiteral("64k"))
    {
        return m_mounted =
                   isRoot() && run("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", m_dir});
    }
    bool remountReadOnly() { return m_mounted && run("mount", {"-o", "remount,ro", m_dir}); }
    void unmount() { m_mounted = m_mounted && !run("umount", {m_dir}); }
    // Writes a filler file until the file system refuses more bytes.
    bool fill()
    {
        QFile filler(m_dir + QStringLiteral("/filler"));
        const bool open = filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (open && filler.write(QByteArray(512, 'x')) == 512) {
        }
        return open;
    }

private:
    bool run(const char *cmd, const QStringList &args) { return !QProcess::execute(cmd, args); }

    QString m_dir;
    bool m_mounted = false;
};
