#include "safeimagereader.h"

#include "pngdecoder.h"
#include "regularfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SafeImageReader", text);
}

void setError(QString *errorString, const QString &message)
{
    if (errorString)
        *errorString = message;
}

// The declared size when it is one we are willing to decode, else invalid
// with *errorString.
QSize checkedSize(const QSize &declared, QString *errorString)
{
    if (!SafeImageReader::isSaneSize(declared)) {
        setError(errorString, tr("image is %1 x %2 pixels, more than the %3 x %3 allowed")
                                  .arg(declared.width())
                                  .arg(declared.height())
                                  .arg(SafeImageReader::MaxEdge));
        return QSize();
    }
    return declared;
}

// As above, from the header that `reader` reads.
QSize checkedSize(QImageReader &reader, QString *errorString)
{
    // size() reads the header only; an unknown size means the format cannot
    // tell us, and we would rather refuse than decode blindly.
    const QSize declared = reader.size();
    if (!declared.isValid()) {
        setError(errorString, tr("not a readable image (%1)").arg(reader.errorString()));
        return QSize();
    }
    return checkedSize(declared, errorString);
}

// The checked size the image's header declares. The header of a PNG that
// PngDecoder takes is read without the cost of setting up Qt's reader.
QSize declaredSize(QIODevice *device, QString *errorString)
{
    const QSize png = PngDecoder::header(device->peek(64));
    if (png.isValid())
        return checkedSize(png, errorString);
    QImageReader reader(device);
    reader.setAutoTransform(false);
    return checkedSize(reader, errorString);
}

QImage decode(QIODevice *device, QString *errorString)
{
    QImageReader reader(device);
    reader.setAutoTransform(false);
    if (!checkedSize(reader, errorString).isValid())
        return QImage();
    QImage image;
    if (!reader.read(&image)) {
        setError(errorString, tr("image could not be decoded (%1)").arg(reader.errorString()));
        return QImage();
    }
    return image;
}

} // namespace

bool SafeImageReader::isSaneSize(const QSize &size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= MaxEdge &&
           size.height() <= MaxEdge && qint64(size.width()) * size.height() <= MaxPixels;
}

SafeImageReader::SafeImageReader(const QString &path)
{
    RegularFile::Handle file;
    if (!file.open(path, &m_errorString)) {
        if (m_errorString.isEmpty())
            m_errorString = tr("cannot be opened");
        return;
    }
    if (file.size() > MaxFileBytes) {
        m_errorString =
            tr("file is %1 bytes, more than the %2 allowed").arg(file.size()).arg(MaxFileBytes);
        return;
    }
    if (file.size() <= WholeReadBytes) {
        // Bounded by the cap, should the file have grown since it was opened.
        if (!file.readAll(MaxFileBytes, &m_data, &m_errorString)) {
            m_data.clear();
            return;
        }
        m_fileSize = m_data.size();
        QBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        m_size = declaredSize(&buffer, &m_errorString);
        return;
    }
    // A large file: its header now, the rest in read().
    m_fileSize = file.size();
    m_file = std::make_unique<QFile>();
    if (!file.handOver(*m_file, &m_errorString))
        return;
    m_size = declaredSize(m_file.get(), &m_errorString);
}

qint64 SafeImageReader::decodeCost() const
{
    if (!canRead())
        return 0;
    return m_fileSize + qint64(m_size.width()) * m_size.height() * (8 + 4);
}

QImage SafeImageReader::read()
{
    if (!canRead())
        return QImage();
    // The bytes whole before decoding keep the decoder off a file that may
    // change under it, and match how a PNG sniffs its own format.
    QByteArray data;
    if (m_file) {
        if (!m_file->seek(0) ||
            !RegularFile::readOpened(*m_file, MaxFileBytes, &data, &m_errorString)) {
            if (m_errorString.isEmpty())
                m_errorString = m_file->errorString();
            return QImage();
        }
        m_file.reset();
    } else {
        data.swap(m_data);
    }
    QImage image = fromData(data, &m_errorString);
    if (image.isNull() && m_errorString.isEmpty())
        m_errorString = tr("image could not be decoded");
    return image;
}

QImage SafeImageReader::read(const QString &path, QString *errorString)
{
    SafeImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        setError(errorString, reader.errorString());
    return image;
}

QImage SafeImageReader::fromData(const QByteArray &data, QString *errorString)
{
    if (data.size() > MaxFileBytes) {
        setError(
            errorString,
            tr("data is %1 bytes, more than the %2 allowed").arg(data.size()).arg(MaxFileBytes));
        return QImage();
    }
    // Most masks, after the same size check: several times faster than
    // Qt's reader, which takes whatever PngDecoder leaves.
    const QSize png = PngDecoder::header(data);
    if (png.isValid()) {
        if (!checkedSize(png, errorString).isValid())
            return QImage();
        const QImage image = PngDecoder::decode(data);
        if (!image.isNull())
            return image;
    }
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return decode(&buffer, errorString);
}
