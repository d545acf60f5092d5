#include "assetimport.h"

#include "regularfile.h"
#include "safefilewriter.h"
#include "safeimagereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

void setError(QString *errorString, const QString &message)
{
    if (errorString)
        *errorString = message;
}

QString nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool isSameFile(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

bool AssetImport::isPngName(const QString &path)
{
    return path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

QString AssetImport::newNamePath(const QString &directory, const QString &name)
{
    QString base = name;
    base.remove(QLatin1String(".png"), Qt::CaseSensitive);
    for (int n = 1;; ++n) {
        const QString candidate =
            directory + QLatin1Char('/') + base + QString::number(n) + QLatin1String(".png");
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

bool AssetImport::validate(const QString &source, QString *errorString, QByteArray *data)
{
    const QString name = nativeName(source);
    QFile file;
    QString reason;
    if (!RegularFile::open(file, source, &reason)) {
        setError(errorString, tr("Cannot read \"%1\": %2").arg(name, reason));
        return false;
    }
    if (file.size() > SafeImageReader::MaxFileBytes) {
        setError(errorString, tr("Cannot import \"%1\": the file is %2 bytes, more than the %3 "
                                 "allowed")
                                  .arg(name)
                                  .arg(file.size())
                                  .arg(SafeImageReader::MaxFileBytes));
        return false;
    }
    QByteArray bytes;
    if (!RegularFile::readOpened(file, SafeImageReader::MaxFileBytes, &bytes, &reason)) {
        setError(errorString, tr("Cannot read \"%1\": %2").arg(name, reason));
        return false;
    }
    // The decoder would take a JPEG or GIF named *.png as well; the library
    // holds PNGs only.
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (!bytes.startsWith(QByteArray::fromRawData(signature, 8))) {
        setError(errorString, tr("Cannot import \"%1\": the file is not a PNG image").arg(name));
        return false;
    }
    if (SafeImageReader::fromData(bytes, &reason).isNull()) {
        setError(errorString, tr("Cannot import \"%1\": %2").arg(name, reason));
        return false;
    }
    if (data)
        *data = bytes;
    return true;
}

bool AssetImport::importFile(const QString &source, const QString &target, QString *errorString)
{
    if (isSameFile(source, target))
        return true;
    // The bytes that were checked are the bytes that are written, so a
    // source changing meanwhile cannot slip past the check.
    QByteArray data;
    if (!validate(source, errorString, &data))
        return false;
    // QSaveFile (inside SafeFileWriter) writes a temporary file in the
    // target's folder and renames it over the target only after every write
    // and the flush succeeded; rename(2) replaces atomically, so the old
    // file is never removed before its replacement is complete.
    QString reason;
    if (!SafeFileWriter::write(target, data, &reason)) {
        setError(errorString, tr("Cannot copy \"%1\" to \"%2\": %3")
                                  .arg(nativeName(source), nativeName(target), reason));
        return false;
    }
    return true;
}

bool AssetImport::removeAsset(const QString &path, QString *errorString)
{
    QFile file(path);
    if (!file.remove()) {
        setError(errorString,
                 tr("Cannot delete \"%1\": %2").arg(nativeName(path), file.errorString()));
        return false;
    }
    return true;
}
