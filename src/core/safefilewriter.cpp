#include "safefilewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>

bool SafeFileWriter::write(const QString &path, const QByteArray &data, QString *errorString)
{
    QSaveFile file(path);
    auto fail = [&](const QString &reason) {
        if (errorString)
            *errorString = reason;
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(data) != data.size())
        return fail(file.errorString());
    if (!file.flush())
        return fail(file.errorString());
    if (!file.commit()) {
        if (errorString)
            *errorString = file.errorString();
        return false;
    }
    return true;
}

bool SafeFileWriter::writeNamingFile(const QString &path, const QByteArray &data,
                                     QString *errorString)
{
    QString reason;
    if (write(path, data, &reason))
        return true;
    if (errorString)
        *errorString = QCoreApplication::translate("SafeFileWriter", "Could not write \"%1\": %2")
                           .arg(QDir::toNativeSeparators(path), reason);
    return false;
}
