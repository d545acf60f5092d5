#pragma once

#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

// The one way library images (top shapes, patterns, masks, icons, imports)
// are read. QImage has no allocation limit of its own: a few hundred bytes
// of PNG can declare 60000 x 60000 pixels and make the decoder allocate
// gigabytes. So only regular files are opened (see RegularFile), and the
// header's declared size and the file size are checked before anything is
// decoded.
//
// Constructed on a path, it opens the file and reads the header (a small
// file whole, see WholeReadBytes) but decodes nothing, so a caller can see
// what decoding will cost (decodeCost()) before it does.
class SafeImageReader
{
public:
    static constexpr qint64 MaxFileBytes = 32 * 1024 * 1024;
    static constexpr int MaxEdge = 4096;
    static constexpr qint64 MaxPixels = qint64(MaxEdge) * MaxEdge;
    // Files up to this size (every mask) are read whole on construction: one
    // read instead of the header and then the rest, and few enough bytes to
    // hold before the caller has weighed decodeCost().
    static constexpr qint64 WholeReadBytes = 256 * 1024;

    explicit SafeImageReader(const QString &path);

    // The file opened and its header declares a size we are willing to decode.
    bool canRead() const { return m_errorString.isEmpty(); }
    QSize size() const { return m_size; }
    QString errorString() const { return m_errorString; }

    // An upper bound of the memory read() and a conversion of its result to
    // 32 bits take: the file's bytes, the image at up to 8 bytes a pixel
    // (16-bit RGBA) and a 4-byte copy.
    qint64 decodeCost() const;

    // Decodes the file; a null image, with errorString(), on failure.
    QImage read();

    // Decoded image, or a null image with *errorString saying why.
    static QImage read(const QString &path, QString *errorString = nullptr);
    static QImage fromData(const QByteArray &data, QString *errorString = nullptr);

    // True when a declared size is one we are willing to decode.
    static bool isSaneSize(const QSize &size);

private:
    QByteArray m_data;             // the whole file, when it is small; until read()
    std::unique_ptr<QFile> m_file; // else the file, open until read()
    qint64 m_fileSize = 0;
    QSize m_size;
    QString m_errorString;
};
