#pragma once

#include <QCoreApplication>
#include <QString>

// Copying files into the asset library and deleting them from it. Every
// failure returns false with *errorString naming the file and the reason.
class AssetImport
{
    Q_DECLARE_TR_FUNCTIONS(AssetImport)

public:
    // True when the path ends in ".png" in any case.
    static bool isPngName(const QString &path);

    // The path under which "import under a new name" stores `name` in
    // `directory`: every exact ".png" is dropped from the name, then the
    // first of base1.png, base2.png, ... that does not exist yet is taken
    // (grass.png -> grass1.png; GRASS.PNG -> GRASS.PNG1.png).
    static QString newNamePath(const QString &directory, const QString &name);

    // Reads `source` and checks it is a PNG of sane size (SafeImageReader's
    // limits). On success *data, when given, holds the file's bytes.
    static bool validate(const QString &source, QString *errorString = nullptr,
                         QByteArray *data = nullptr);

    // Validates `source` and copies it to `target`, replacing an existing
    // file only once the new copy is complete: the bytes go to a temporary
    // file beside the target which is then renamed over it, so a failed
    // copy leaves the old file as it was. When source and target are the
    // same file it is left untouched and the call succeeds.
    static bool importFile(const QString &source, const QString &target,
                           QString *errorString = nullptr);

    static bool removeAsset(const QString &path, QString *errorString = nullptr);
};
