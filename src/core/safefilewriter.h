#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file or nothing. The bytes go to a temporary file in the
// target's folder, which replaces the target only when every write and the
// flush succeeded, so a failed save never leaves a truncated file and an
// existing file survives.
//
// QSaveFile::commit() alone is not enough: it ignores an error of its final
// flush, and on a full disk replaces a good file with an empty one. Hence the
// explicit write/flush checks before commit().
class SafeFileWriter
{
public:
    static bool write(const QString &path, const QByteArray &data, QString *errorString = nullptr);
    // The same, with a reason that names the file: Could not write "path": why.
    static bool writeNamingFile(const QString &path, const QByteArray &data, QString *errorString);
};
