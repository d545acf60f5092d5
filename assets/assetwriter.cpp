#include "assetwriter.h"

#include "safefilewriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

AssetWriter::AssetWriter(const QString &rootDirectory) : root(rootDirectory) {}

QByteArray AssetWriter::encodePng(const QImage &image, QString *error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        if (error)
            *error = writer.errorString();
        return QByteArray();
    }
    return bytes;
}

bool AssetWriter::writeAll(const QString &subdirectory, const NamedImages &images)
{
    const QString directory = QDir(root).filePath(subdirectory);
    if (!QDir().mkpath(directory) || !QFileInfo(directory).isDir()) {
        lastError =
            QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(directory));
        return false;
    }
    for (const NamedImage &item : images) {
        const QString path = QDir(directory).filePath(item.fileName);
        QString why;
        const QByteArray bytes = encodePng(item.image, &why);
        if (bytes.isEmpty()) {
            lastError = QStringLiteral("cannot encode %1: %2").arg(item.fileName, why);
            return false;
        }
        if (!writeFile(path, bytes))
            return false;
    }
    return true;
}

bool AssetWriter::writeFile(const QString &path, const QByteArray &bytes)
{
    const QString shown = QDir::toNativeSeparators(path);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.size() == bytes.size() &&
        existing.readAll() == bytes) {
        ++unchanged;
        return true;
    }
    existing.close();

    QString why;
    if (!SafeFileWriter::write(path, bytes, &why)) {
        lastError = QStringLiteral("cannot write %1: %2").arg(shown, why);
        return false;
    }
    ++written;
    return true;
}
