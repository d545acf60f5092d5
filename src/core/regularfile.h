#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

// The one way the program opens a file it reads whole (images, projects,
// imports): regular files only, and never more than a given number of bytes.
//
// A named pipe blocks whoever opens or reads it; a device such as /dev/zero
// never ends; both can sit behind an innocent link named "grass.png". So the
// path is opened without blocking and its type checked on the open handle
// (no window between check and use), and reading stops one byte past the cap.
class RegularFile
{
public:
    // Opens path for reading; false with *errorString when it cannot be
    // opened or is not a regular file (folder, pipe, device, socket).
    static bool open(QFile &file, const QString &path, QString *errorString = nullptr);

    // The whole file into *data; false with *errorString when it cannot be
    // opened, is not a regular file, or holds more than maxBytes.
    static bool read(const QString &path, qint64 maxBytes, QByteArray *data,
                     QString *errorString = nullptr);
    // As read(), from a file open() has opened.
    static bool readOpened(QFile &file, qint64 maxBytes, QByteArray *data,
                           QString *errorString = nullptr);

    // The same file checks on a bare descriptor, for reading many small
    // files in turn (a generation run's masks): QFile's buffer and its own
    // stat, seek and read calls cost more than the reading itself. Closed by
    // the destructor.
    class Handle
    {
    public:
        Handle() = default;
        ~Handle();
        Handle(const Handle &) = delete;
        Handle &operator=(const Handle &) = delete;

        // As RegularFile::open().
        bool open(const QString &path, QString *errorString = nullptr);
        // The size the file had when opened.
        qint64 size() const { return m_size; }
        // The rest of the file into *data; false with *errorString when it
        // cannot be read or holds more than maxBytes (at most INT_MAX - 1).
        bool readAll(qint64 maxBytes, QByteArray *data, QString *errorString = nullptr);
        // Gives the descriptor over to `file`, for readers that need a
        // QIODevice; false with *errorString when QFile will not take it.
        bool handOver(QFile &file, QString *errorString = nullptr);
        void close();

    private:
#ifdef Q_OS_UNIX
        int m_fd = -1;
#else
        std::unique_ptr<QFile> m_file;
#endif
        qint64 m_size = 0;
    };
};
