#include "tilefilewriter.h"

#include "outputfolder.h"
#include "pngencoder.h"

#include <QDir>

bool TileFileWriter::write(const QString &path, const QImage &tile, QString *errorString,
                           bool likelyNew)
{
    QString reason;
    const QByteArray png = PngEncoder::encode(tile, &reason);
    if (!png.isEmpty() && OutputFolder::writeFile(path, png, &reason, likelyNew))
        return true;
    if (errorString) {
        if (reason.isEmpty())
            reason = QStringLiteral("unknown error");
        *errorString = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
    }
    return false;
}
