#include "assetlibrary.h"

#include <QDir>

QString AssetLibrary::subdirectory(int kind)
{
    // Taken as an int so that a stray value from a caller is not cast into
    // the enum first.
    switch (kind) {
    case Patterns:
        return QStringLiteral("Patterns");
    case AlphaMasks:
        return QStringLiteral("Alpha");
    default:
        return QStringLiteral("TopStyles");
    }
}

QString AssetLibrary::subdirectory(AssetKind kind)
{
    return subdirectory(int(kind));
}

AssetKind AssetLibrary::kindForPage(int pageIndex)
{
    switch (pageIndex) {
    case 0:
        return TopShapes;
    case 1:
        return Patterns;
    default:
        return AlphaMasks;
    }
}

QString AssetLibrary::assetDirectory(const QString &appDirPath, AssetKind kind)
{
    return appDirPath + QLatin1String("/Assets/") + subdirectory(kind);
}

bool AssetLibrary::matchesSuffix(const QString &fileName, const QString &suffix)
{
    return fileName.endsWith(suffix, Qt::CaseInsensitive);
}

QList<QFileInfo> listPngFiles(const QString &directory, const QString &suffix)
{
    // NoSort leaves the order to QDir's own default, Name | IgnoreCase.
    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files, QDir::NoSort);
    QList<QFileInfo> files;
    for (const QFileInfo &entry : entries) {
        if (AssetLibrary::matchesSuffix(entry.fileName(), suffix))
            files.append(entry);
    }
    return files;
}
