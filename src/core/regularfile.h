#pragma once

#include <QByteArray>
#include <QString>

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
};
