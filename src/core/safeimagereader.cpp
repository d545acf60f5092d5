#include "safeimagereader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
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

QImage decode(QIODevice *device, QString *errorString)
{
    QImageReader reader(device);
    reader.setAutoTransform(false);
    // size() reads the header only; an unknown size means the format cannot
    // tell us, and we would rather refuse than decode blindly.
    const QSize declared = reader.size();
    if (!declared.isValid()) {
        setError(errorString, tr("not a readable image (%1)").arg(reader.errorString()));
        return QImage();
    }
    if (!SafeImageReader::isSaneSize(declared)) {
        setError(errorString, tr("image is %1 x %2 pixels, more than the %3 x %3 allowed")
                                  .arg(declared.width())
                                  .arg(declared.height())
                                  .arg(SafeImageReader::MaxEdge));
        return QImage();
    }
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

QImage SafeImageReader::read(const QString &path, QString *errorString)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(errorString, file.errorString());
        return QImage();
    }
    if (file.size() > MaxFileBytes) {
        setError(
            errorString,
            tr("file is %1 bytes, more than the %2 allowed").arg(file.size()).arg(MaxFileBytes));
        return QImage();
    }
    // Reading the bytes first keeps the decoder off a file that may change
    // under it, and matches how a PNG sniffs its own format.
    QByteArray data = file.readAll();
    file.close();
    return fromData(data, errorString);
}

QImage SafeImageReader::fromData(const QByteArray &data, QString *errorString)
{
    if (data.size() > MaxFileBytes) {
        setError(
            errorString,
            tr("data is %1 bytes, more than the %2 allowed").arg(data.size()).arg(MaxFileBytes));
        return QImage();
    }
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return decode(&buffer, errorString);
}
