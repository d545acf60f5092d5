#pragma once

#include "namedimage.h"

#include <QString>

// Writes the library into its folders. Each file is encoded in memory first
// and then replaces the old one in a single step, so an interrupted or failed
// build never leaves a half-written PNG where the program will read it. A
// file whose bytes are already right is left untouched: a running program
// watches these folders and need not reload for nothing.
class AssetWriter
{
public:
    explicit AssetWriter(const QString &rootDirectory);

    // Writes every image into rootDirectory/subdirectory, creating the
    // folders as needed. Stops at the first failure; error() tells why.
    bool writeAll(const QString &subdirectory, const NamedImages &images);

    QString error() const { return lastError; }
    int writtenCount() const { return written; }
    int unchangedCount() const { return unchanged; }

    // The exact bytes written for an image; also what the checks compare.
    static QByteArray encodePng(const QImage &image, QString *error);

private:
    bool writeFile(const QString &path, const QByteArray &bytes);

    QString root;
    QString lastError;
    int written = 0;
    int unchanged = 0;
};
