#include "tilesetexport.h"

#include "assetlibrary.h"
#include "godot3tilesetwriter.h"
#include "godottilesetwriter.h"
#include "levelmapwriter.h"
#include "outputfolder.h"
#include "regularfile.h"
#include "safeimagereader.h"
#include "tilecollision.h"
#include "tiledtilesetwriter.h"
#include "tilepipeline.h"
#include "tilestyle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// An older file of the set is kept in memory to put it back should a later
// file fail; one larger than this is not, and is then reported as not restorable.
constexpr qint64 MaxBackupBytes = 256 * 1024 * 1024;

// A name that stays inside the output folder: no folder part, not "." or "..".
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// One file of the set, its new bytes and what was there before, so that a
// failed export can put the folder back as it found it.
struct PendingFile
{
    QString name;
    QString path;
    QByteArray bytes;
    bool existed = false;
    QByteArray previous;
    bool backedUp = false;
};

} // namespace

AtlasOptions TilesetExportOptions::atlasOptions() const
{
    AtlasOptions result;
    result.columns = columns;
    result.margin = margin;
    result.spacing = spacing;
    result.extrusion = extrusion;
    result.powerOfTwo = powerOfTwo;
    return result;
}

QStringList TilesetExportOptions::fileNames() const
{
    QStringList names;
    if (writesAtlas())
        names << atlasFileName;
    if (tsx)
        names << baseName + QStringLiteral(".tsx");
    if (tres)
        names << baseName + QStringLiteral(".tres");
    if (tres3)
        names << baseName + QStringLiteral("_godot3.tres");
    if (tmx)
        names << baseName + QStringLiteral(".tmx");
    if (tscn)
        names << baseName + QStringLiteral(".tscn");
    if (tscn && tres3)
        names << baseName + QStringLiteral("_godot3.tscn");
    return names;
}

void TilesetExportOptions::setTerrainFromDesign(const TileStyle &style)
{
    const QString top = QFileInfo(style.topStyle).completeBaseName();
    if (top.isEmpty()) {
        terrainName = QStringLiteral("Terrain");
        terrainColor = style.bottomColor;
        return;
    }
    // "stone_rim" reads as "Stone rim" in an editor's terrain list.
    terrainName = top.left(1).toUpper() + top.mid(1).replace(QLatin1Char('_'), QLatin1Char(' '));
    terrainColor = style.topColor;
}

QString TilesetExportOptions::validate() const
{
    if (!any())
        return QString();
    // A name starting with a dot makes hidden files, which neither a file
    // chooser nor a map editor shows.
    for (const QString &name : {atlasFileName, baseName}) {
        if (name.startsWith(QLatin1Char('.')) && isPlainFileName(name))
            return TilesetExport::tr("The name \"%1\" would make a hidden file; choose one that "
                                     "does not start with a dot.")
                .arg(name);
    }
    if (!isPlainFileName(atlasFileName))
        return TilesetExport::tr("The atlas file name \"%1\" must be a plain file name, without "
                                 "a folder.")
            .arg(atlasFileName);
    if ((tsx || tres || tres3) && !isPlainFileName(baseName))
        return TilesetExport::tr("The tileset name \"%1\" must be a plain file name, without a "
                                 "folder.")
            .arg(baseName);
    if (tmx && !tsx)
        return TilesetExport::tr("The Tiled map needs the Tiled tileset (.tsx) it is drawn with.");
    if (tscn && !tres)
        return TilesetExport::tr("The Godot scene needs the Godot tileset (.tres) it is drawn "
                                 "with.");
    if (columns < 0 || margin < 0 || spacing < 0 || extrusion < 0)
        return TilesetExport::tr("Columns, margin, spacing and extrusion cannot be negative.");
    return QString();
}

QStringList TilesetExport::tileNames(const QString &maskDirectory)
{
    QStringList names;
    // As the worker: an empty path is no folder, not the working directory.
    if (maskDirectory.isEmpty())
        return names;
    for (const QFileInfo &file : listPngFiles(maskDirectory, QStringLiteral(".png")))
        names << file.fileName();
    return names;
}

TilesetExportResult TilesetExport::run(const QStringList &tileFiles, const QString &outputDirectory,
                                       const TilesetExportOptions &options)
{
    TilesetExportResult result;
    if (!options.any()) {
        result.success = true;
        return result;
    }
    const QStringList outputs = options.fileNames();
    // The cause under its own name, then every requested file that it kept
    // from being written, so that each one is accounted for.
    auto notWritten = [&](const QString &because) {
        for (const QString &name : outputs) {
            const bool named = std::any_of(
                result.failures.cbegin(), result.failures.cend(),
                [&](const TilesetExportFailure &failure) { return failure.fileName == name; });
            if (!named)
                result.failures.append({name, tr("not written: %1").arg(because)});
        }
        return result;
    };
    auto atlasFailed = [&](const QString &reason) {
        result.failures.append({options.atlasFileName, reason});
        return notWritten(tr("the atlas could not be made"));
    };

    const QString optionsError = options.validate();
    if (!optionsError.isEmpty()) {
        result.failures.append({QString(), optionsError});
        return notWritten(tr("the export options are invalid"));
    }
    if (outputDirectory.isEmpty()) {
        result.failures.append({QString(), tr("No output directory was given.")});
        return notWritten(tr("no output directory was given"));
    }
    if (tileFiles.isEmpty())
        return notWritten(tr("there are no tiles to put on the atlas"));
    const QDir folder(outputDirectory);
    for (const QString &tile : tileFiles) {
        // The sheet would replace the tile it is made from.
        if (QFileInfo(tile).fileName().compare(options.atlasFileName, Qt::CaseInsensitive) == 0)
            return notWritten(tr("a tile has the atlas's name \"%1\"; choose another atlas name")
                                  .arg(options.atlasFileName));
    }

    // Refuse a sheet that is too large before every tile is in memory.
    QVector<AtlasTile> tiles;
    tiles.reserve(tileFiles.size());
    // The tilesets' collision, one solid area per tile.
    const bool traced = options.tsx || options.tres || options.tres3;
    QVector<QImage> solids;
    int unreadable = 0;
    for (const QString &tile : tileFiles) {
        QString reason;
        const QImage image = SafeImageReader::read(folder.filePath(tile), &reason);
        if (image.isNull()) {
            result.failures.append({tile, tr("could not be read: %1").arg(reason)});
            ++unreadable;
            continue;
        }
        if (traced && !options.maskDirectory.isEmpty()) {
            const QImage mask = TilePipeline::readMask(
                QDir(options.maskDirectory).filePath(QFileInfo(tile).fileName()), &reason);
            if (mask.isNull()) {
                result.failures.append({tile, tr("its mask could not be read: %1").arg(reason)});
                ++unreadable;
                continue;
            }
            solids << TileCollision::solidOfMask(mask);
        } else if (traced) {
            solids << TileCollision::solidOfImage(image);
        }
        AtlasLayout planned;
        if (tiles.isEmpty() && !AtlasBuilder::measure(tileFiles.size(), image.size(),
                                                      options.atlasOptions(), &planned, &reason))
            return atlasFailed(reason);
        tiles.append({QFileInfo(tile).fileName(), image});
    }
    if (unreadable > 0)
        return notWritten(unreadable == 1 ? tr("1 tile could not be read")
                                          : tr("%1 tiles could not be read").arg(unreadable));

    AtlasSheet sheet;
    QString reason;
    if (!AtlasBuilder::pack(tiles, options.atlasOptions(), &sheet, &reason))
        return atlasFailed(reason);
    tiles.clear(); // the sheet holds the pixels now
    const QVector<TileCollision> collisions =
        traced ? TileCollision::trace(sheet.layout.names, solids, sheet.layout.tileSize)
               : QVector<TileCollision>();
    solids.clear();

    // Every file's bytes before the first write.
    QVector<PendingFile> files;
    PendingFile atlas;
    atlas.name = options.atlasFileName;
    atlas.bytes = AtlasBuilder::encodePng(sheet.image, &reason);
    if (atlas.bytes.isEmpty())
        return atlasFailed(reason);
    files.append(atlas);
    // Both tilesets name the sheet relative to themselves, so the folder can
    // be moved or copied into a game project as it is.
    // Each tileset's text, or the export stops with the reason.
    const auto made = [&](const QString &name, const QByteArray &bytes) {
        if (bytes.isEmpty()) {
            result.failures.append({name, reason});
            return false;
        }
        PendingFile file;
        file.name = name;
        file.bytes = bytes;
        files.append(file);
        return true;
    };
    if (options.tsx) {
        TiledTilesetWriter writer(sheet.layout);
        writer.setName(options.baseName);
        writer.setColors({{options.terrainName, options.terrainColor, 1.0}});
        writer.setCollisions(collisions);
        if (!made(options.baseName + QStringLiteral(".tsx"),
                  writer.toXml(options.atlasFileName, &reason)))
            return notWritten(tr("the Tiled tileset could not be made"));
    }
    if (options.tres) {
        GodotTilesetWriter writer(sheet.layout);
        writer.setTerrainName(options.terrainName);
        writer.setTerrainColor(options.terrainColor);
        writer.setCollisions(collisions);
        if (!made(options.baseName + QStringLiteral(".tres"),
                  writer.toText(options.atlasFileName, &reason)))
            return notWritten(tr("the Godot tileset could not be made"));
    }
    if (options.tres3) {
        Godot3TilesetWriter writer(sheet.layout);
        writer.setTerrainName(options.terrainName);
        writer.setCollisions(collisions);
        if (!made(options.baseName + QStringLiteral("_godot3.tres"),
                  writer.toText(options.atlasFileName, &reason)))
            return notWritten(tr("the Godot 3 tileset could not be made"));
    }
    // The level as maps over the tilesets just made.
    const LevelMapWriter maps(options.level, sheet.layout);
    if (options.tmx)
        made(options.baseName + QStringLiteral(".tmx"),
             maps.toTmx(options.baseName + QStringLiteral(".tsx")));
    if (options.tscn)
        made(options.baseName + QStringLiteral(".tscn"),
             maps.toGodot4Scene(options.baseName + QStringLiteral(".tres")));
    if (options.tscn && options.tres3)
        made(options.baseName + QStringLiteral("_godot3.tscn"),
             maps.toGodot3Scene(options.baseName + QStringLiteral("_godot3.tres")));

    for (PendingFile &file : files) {
        file.path = folder.filePath(file.name);
        file.existed = QFileInfo::exists(file.path) || QFileInfo(file.path).isSymLink();
        // Through RegularFile: a pipe planted under the sheet's name must not
        // block the export, nor a device fill memory.
        if (file.existed)
            file.backedUp = RegularFile::read(file.path, MaxBackupBytes, &file.previous);
    }

    for (int i = 0; i < files.size(); ++i) {
        PendingFile &file = files[i];
        if (OutputFolder::writeFile(file.path, file.bytes, &reason)) {
            result.written << file.path;
            continue;
        }
        result.failures.append({file.name, tr("could not be written: %1").arg(reason)});
        for (int later = i + 1; later < files.size(); ++later)
            result.failures.append(
                {files[later].name,
                 tr("not written, because \"%1\" could not be written").arg(file.name)});
        // Put back what this export replaced, newest first. What cannot be
        // put back stays listed as written.
        QStringList kept;
        for (int earlier = i - 1; earlier >= 0; --earlier) {
            const PendingFile &done = files.at(earlier);
            QString undoReason;
            bool undone = false;
            if (!done.existed)
                undone = QFile::remove(done.path);
            else if (done.backedUp)
                undone = OutputFolder::writeFile(done.path, done.previous, &undoReason);
            else
                undoReason = tr("its old content could not be read");
            if (undone) {
                result.failures.append(
                    {done.name, done.existed
                                    ? tr("restored to its old content, because \"%1\" could not "
                                         "be written")
                                          .arg(file.name)
                                    : tr("removed again, because \"%1\" could not be written")
                                          .arg(file.name)});
            } else {
                kept.prepend(done.path);
                result.failures.append(
                    {done.name,
                     tr("written, but \"%1\" could not be, and this file could not be "
                        "put back: %2")
                         .arg(file.name, undoReason.isEmpty() ? tr("unknown error") : undoReason)});
            }
        }
        result.written = kept;
        return result;
    }

    result.layout = sheet.layout;
    result.success = true;
    return result;
}
