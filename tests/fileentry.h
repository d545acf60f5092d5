#pragma once

#include "testfiles.h"

#include <QDir>

#include <sys/stat.h>

// What a test puts where a program reads: a file of bytes, or an entry it must refuse
// without blocking (a pipe) or reading without end (a device).
enum class FileEntry
{
    Bytes,
    Missing,
    Folder,
    Pipe,
    DeviceLink
};
Q_DECLARE_METATYPE(FileEntry)

inline bool place(FileEntry entry, const QString &path, const QByteArray &bytes = {})
{
    return entry == FileEntry::Pipe         ? mkfifo(qPrintable(path), 0600) == 0
           : entry == FileEntry::DeviceLink ? QFile::link("/dev/zero", path)
           : entry == FileEntry::Folder     ? QDir().mkpath(path)
           : entry == FileEntry::Missing    ? !QFileInfo::exists(path)
                                            : writeFile(path, bytes);
}
