#pragma once

#include <QImage>
#include <QString>

// Writes one tile as a PNG file, whole or not at all.
//
// The tile is encoded in memory first and the bytes go through
// OutputFolder::writeFile, so a failed write (missing or read-only folder, full disk)
// leaves no truncated or empty file behind and an existing file of that name
// keeps its old content. QImage::save(path) is not used: on a full disk it
// reports success for small files and leaves an empty one.
class TileFileWriter
{
public:
    // False with *errorString naming the file and the reason on failure.
    // `likelyNew` as OutputFolder::writeFile's.
    static bool write(const QString &path, const QImage &tile, QString *errorString = nullptr,
                      bool likelyNew = false);
};
