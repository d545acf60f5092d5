#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// The one way library images (top shapes, patterns, masks, icons, imports)
// are read. QImage has no allocation limit of its own: a few hundred bytes
// of PNG can declare 60000 x 60000 pixels and make the decoder allocate
// gigabytes. So the header's declared size and the file size are checked
// before anything is decoded.
class SafeImageReader
{
public:
    static constexpr qint64 MaxFileBytes = 32 * 1024 * 1024;
    static constexpr int MaxEdge = 4096;
    static constexpr qint64 MaxPixels = qint64(MaxEdge) * MaxEdge;

    // Decoded image, or a null image with *errorString saying why.
    static QImage read(const QString &path, QString *errorString = nullptr);
    static QImage fromData(const QByteArray &data, QString *errorString = nullptr);

    // True when a declared size is one we are willing to decode.
    static bool isSaneSize(const QSize &size);
};
