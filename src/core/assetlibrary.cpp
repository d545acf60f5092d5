#include "assetlibrary.h"

#include <QCoreApplication>
#include <QDir>

namespace {

// The canonical form of a path that may not exist yet: its nearest existing
// ancestor resolved, the rest appended. Empty when nothing of it exists.
QString canonicalPath(const QString &path)
{
    QString existing = QDir::cleanPath(QDir(path).absolutePath());
    QStringList rest;
    while (true) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty()) {
            QString result = canonical;
            for (const QString &part : qAsConst(rest))
                result = QDir::cleanPath(result + QLatin1Char('/') + part);
            return result;
        }
        const QFileInfo info(existing);
        if (info.isRoot() || existing.isEmpty())
            return QString();
        rest.prepend(info.fileName());
        existing = info.path();
    }
}

// a is b, or a folder inside b.
bool isWithin(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString prefix = b.endsWith(QLatin1Char('/')) ? b : b + QLatin1Char('/');
    return a.startsWith(prefix);
}

} // namespace

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

QStringList AssetLibrary::libraryDirectories(const QString &appDirPath)
{
    return {appDirPath + QLatin1String("/Assets"), assetDirectory(appDirPath, TopShapes),
            assetDirectory(appDirPath, Patterns), assetDirectory(appDirPath, AlphaMasks)};
}

QString AssetLibrary::outputConflict(const QString &outputDirectory,
                                     const QStringList &protectedDirectories)
{
    if (outputDirectory.isEmpty())
        return QString();
    const QString output = canonicalPath(outputDirectory);
    if (output.isEmpty())
        return QString();
    for (const QString &directory : protectedDirectories) {
        // A folder that does not exist holds nothing to overwrite.
        const QString guarded =
            directory.isEmpty() ? QString() : QFileInfo(directory).canonicalFilePath();
        if (guarded.isEmpty())
            continue;
        const char *relation = output == guarded           ? "is"
                               : isWithin(output, guarded) ? "lies inside"
                               : isWithin(guarded, output) ? "contains"
                                                           : nullptr;
        if (!relation)
            continue;
        return QCoreApplication::translate("AssetLibrary",
                                           "The output folder \"%1\" %2 \"%3\", a folder of "
                                           "masks or assets: tiles written there could replace "
                                           "them. Choose a folder outside it.")
            .arg(QDir::toNativeSeparators(outputDirectory), QLatin1String(relation),
                 QDir::toNativeSeparators(directory));
    }
    return QString();
}

bool AssetLibrary::matchesSuffix(const QString &fileName, const QString &suffix)
{
    return fileName.endsWith(suffix, Qt::CaseInsensitive);
}

QList<QFileInfo> AssetLibrary::listEntries(const QString &directory, const QString &suffix)
{
    // System brings pipes, devices, sockets and broken links.
    const QFileInfoList entries = QDir(directory).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    QList<QFileInfo> result;
    for (const QFileInfo &entry : entries) {
        if (matchesSuffix(entry.fileName(), suffix))
            result.append(entry);
    }
    return result;
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
