// The export of a generated set: tiles read back from the output folder,
// packed in the order given, and written as atlas, .tsx and .tres together
// or not at all.

#include "atlasbuilder.h"
#include "blobmask.h"
#include "tilefilewriter.h"
#include "tilesetexport.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// A tile that differs from every other: a colour from its index and marked
// corners, so a tile in the wrong place shows.
QImage markedTile(int index, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(qRgba((index * 53) % 256, (index * 97) % 256, 120, 255));
    image.setPixel(0, 0, qRgba(255, 255, 255, 255));
    image.setPixel(size - 1, size - 1, qRgba(0, 0, 0, 255));
    image.setPixel(index % size, size / 2, qRgba(255, 0, 255, 90));
    return image;
}

// The 47 blob tiles by name, then tiles outside the set, in the library's
// order (listPngFiles: by name, ignoring case).
QStringList librarySet()
{
    QStringList names;
    for (int mask : BlobMask::all())
        names << BlobMask::fileName(mask);
    names << QStringLiteral("platform_left.png") << QStringLiteral("slope45_up.png");
    return names;
}

bool writeTiles(const QDir &dir, const QStringList &names, int size)
{
    for (int i = 0; i < names.size(); ++i) {
        if (!TileFileWriter::write(dir.filePath(names.at(i)), markedTile(i, size)))
            return false;
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file of the folder that is not one of the tiles.
QStringList extraFiles(const QDir &dir, const QStringList &tiles)
{
    QStringList extra;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (!tiles.contains(name))
            extra << name;
    }
    return extra;
}

// tile id -> wangid as written in the .tsx.
QMap<int, QString> wangIds(const QByteArray &tsx)
{
    QMap<int, QString> ids;
    QXmlStreamReader xml(tsx);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("wangtile"))
            ids.insert(xml.attributes().value(QLatin1String("tileid")).toInt(),
                       xml.attributes().value(QLatin1String("wangid")).toString());
    }
    return ids;
}

// The cells ("x:y") of the .tres that belong to the terrain.
QSet<QString> terrainCells(const QByteArray &tres)
{
    QSet<QString> cells;
    static const QRegularExpression line(QStringLiteral("^(\\d+:\\d+)/0/terrain = 0$"),
                                         QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromUtf8(tres));
    while (it.hasNext())
        cells.insert(it.next().captured(1));
    return cells;
}

bool failureNamed(const TilesetExportResult &result, const QString &name)
{
    for (const TilesetExportFailure &failure : result.failures) {
        if (failure.fileName == name)
            return true;
    }
    return false;
}

QString describe(const TilesetExportResult &result)
{
    QStringList lines;
    for (const TilesetExportFailure &failure : result.failures)
        lines << failure.fileName + QStringLiteral(": ") + failure.reason;
    return lines.join(QLatin1Char('\n'));
}

TilesetExportOptions withFiles(bool atlas, bool tsx, bool tres)
{
    TilesetExportOptions options;
    options.atlas = atlas;
    options.tsx = tsx;
    options.tres = tres;
    return options;
}

} // namespace

Q_DECLARE_METATYPE(TilesetExportOptions)

class TestTilesetExport : public QObject
{
    Q_OBJECT

private slots:
    void writesRequestedFiles_data();
    void writesRequestedFiles();
    void noFilesRequested_writesNothing();
    void tileNames_followTheLibraryOrder();
    void order_isStableAcrossRuns();
    void labels_onlyOnBlobTiles();

    void unreadableTile_writesNothing_data();
    void unreadableTile_writesNothing();
    void mixedSizes_failsNamingTile();
    void sheetTooLarge_fails();
    void invalidOptions_writeNothing_data();
    void invalidOptions_writeNothing();
    void noTiles_fails();
    void laterWriteFails_restoresEarlierFiles_data();
    void laterWriteFails_restoresEarlierFiles();
    void fullDisk_keepsOldFiles();
};

void TestTilesetExport::writesRequestedFiles_data()
{
    QTest::addColumn<TilesetExportOptions>("options");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("atlas") << withFiles(true, false, false)
                           << QStringList{QStringLiteral("tileset.png")};
    // The tilesets describe the sheet, so either one brings it along.
    QTest::newRow("tsx implies atlas")
        << withFiles(false, true, false)
        << QStringList{QStringLiteral("tileset.png"), QStringLiteral("tileset.tsx")};
    QTest::newRow("tres implies atlas")
        << withFiles(false, false, true)
        << QStringList{QStringLiteral("tileset.png"), QStringLiteral("tileset.tres")};
    QTest::newRow("all three") << withFiles(true, true, true)
                               << QStringList{QStringLiteral("tileset.png"),
                                              QStringLiteral("tileset.tsx"),
                                              QStringLiteral("tileset.tres")};

    TilesetExportOptions named = withFiles(true, true, true);
    named.atlasFileName = QStringLiteral("terrain sheet.png");
    named.baseName = QStringLiteral("grass-terrain");
    QTest::newRow("own names") << named
                               << QStringList{QStringLiteral("terrain sheet.png"),
                                              QStringLiteral("grass-terrain.tsx"),
                                              QStringLiteral("grass-terrain.tres")};

    TilesetExportOptions shaped = withFiles(true, true, true);
    shaped.columns = 7;
    shaped.margin = 3;
    shaped.spacing = 2;
    shaped.extrusion = 1;
    shaped.powerOfTwo = true;
    QTest::newRow("columns, margin, spacing, extrusion, power of two")
        << shaped
        << QStringList{QStringLiteral("tileset.png"), QStringLiteral("tileset.tsx"),
                       QStringLiteral("tileset.tres")};

    TilesetExportOptions wide = withFiles(true, false, true);
    wide.columns = 100; // more columns than tiles: one row
    QTest::newRow("one row") << wide
                             << QStringList{QStringLiteral("tileset.png"),
                                            QStringLiteral("tileset.tres")};
}

void TestTilesetExport::writesRequestedFiles()
{
    QFETCH(TilesetExportOptions, options);
    QFETCH(QStringList, files);
    QCOMPARE(options.fileNames(), files);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    const QStringList tiles = librarySet();
    const int size = 16;
    QVERIFY(writeTiles(folder, tiles, size));

    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY2(result.success, qPrintable(describe(result)));
    QVERIFY(result.failures.isEmpty());
    QStringList written;
    for (const QString &name : files)
        written << folder.filePath(name);
    QCOMPARE(result.written, written);
    QStringList sorted = files;
    sorted.sort();
    QCOMPARE(extraFiles(folder, tiles), sorted);

    // The layout is the one AtlasBuilder plans for these options, and the
    // sheet on disk has its size.
    AtlasLayout planned;
    QVERIFY(
        AtlasBuilder::measure(tiles.size(), QSize(size, size), options.atlasOptions(), &planned));
    QCOMPARE(result.layout.sheetSize, planned.sheetSize);
    QCOMPARE(result.layout.tileRects, planned.tileRects);
    QCOMPARE(result.layout.names, tiles);
    const QImage sheet(folder.filePath(options.atlasFileName));
    QCOMPARE(sheet.size(), planned.sheetSize);

    // Both tilesets name the sheet beside them, by its file name only.
    if (options.tsx) {
        const QByteArray tsx = readAll(folder.filePath(options.baseName + QStringLiteral(".tsx")));
        QVERIFY(tsx.contains("source=\"" + options.atlasFileName.toUtf8() + "\""));
        QVERIFY(tsx.contains("name=\"" + options.baseName.toUtf8() + "\""));
        QVERIFY(tsx.contains("margin=\"" + QByteArray::number(planned.margin) + "\""));
        QVERIFY(tsx.contains("spacing=\"" + QByteArray::number(planned.spacing) + "\""));
    }
    if (options.tres) {
        const QByteArray tres =
            readAll(folder.filePath(options.baseName + QStringLiteral(".tres")));
        QVERIFY(tres.startsWith("[gd_resource type=\"TileSet\" format=3]"));
        QVERIFY(tres.contains("path=\"" + options.atlasFileName.toUtf8() + "\""));
    }
}

void TestTilesetExport::noFilesRequested_writesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(QDir(dir.path()), tiles, 8));
    const TilesetExportOptions options;
    QVERIFY(!options.any());
    QVERIFY(options.fileNames().isEmpty());
    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY(result.success);
    QVERIFY(result.written.isEmpty());
    QVERIFY(extraFiles(QDir(dir.path()), tiles).isEmpty());
}

void TestTilesetExport::tileNames_followTheLibraryOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    // Written out of order; the list is by name, ignoring case, PNGs only.
    for (const QString &name :
         {QStringLiteral("slope.png"), QStringLiteral("B.png"), QStringLiteral("blob_004.png"),
          QStringLiteral("a.PNG"), QStringLiteral("notes.txt")})
        QVERIFY(writeFile(folder.filePath(name), "x"));
    QVERIFY(folder.mkdir(QStringLiteral("sub.png")));
    QCOMPARE(TilesetExport::tileNames(dir.path()),
             (QStringList{QStringLiteral("a.PNG"), QStringLiteral("B.png"),
                          QStringLiteral("blob_004.png"), QStringLiteral("slope.png")}));
    QVERIFY(TilesetExport::tileNames(QString()).isEmpty());
    QVERIFY(TilesetExport::tileNames(folder.filePath(QStringLiteral("missing"))).isEmpty());
}

void TestTilesetExport::order_isStableAcrossRuns()
{
    // Regenerating (new tile files, written in another order) into another
    // folder must give byte-identical files: same places, same tile ids.
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(first.isValid() && second.isValid());
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(QDir(first.path()), tiles, 12));
    QStringList reversed = tiles;
    std::reverse(reversed.begin(), reversed.end());
    for (const QString &name : reversed)
        QVERIFY(TileFileWriter::write(QDir(second.path()).filePath(name),
                                      markedTile(tiles.indexOf(name), 12)));

    const TilesetExportOptions options = withFiles(true, true, true);
    const QStringList order1 = TilesetExport::tileNames(first.path());
    const QStringList order2 = TilesetExport::tileNames(second.path());
    QCOMPARE(order1, tiles);
    QCOMPARE(order2, tiles);
    QVERIFY(TilesetExport::run(order1, first.path(), options).success);
    QVERIFY(TilesetExport::run(order2, second.path(), options).success);
    // And a second run over the first one's files changes nothing.
    const QByteArray sheetBefore = readAll(QDir(first.path()).filePath("tileset.png"));
    QVERIFY(TilesetExport::run(order1, first.path(), options).success);
    QCOMPARE(readAll(QDir(first.path()).filePath("tileset.png")), sheetBefore);

    for (const QString &name : options.fileNames()) {
        const QByteArray a = readAll(QDir(first.path()).filePath(name));
        QVERIFY(!a.isEmpty());
        QVERIFY2(a == readAll(QDir(second.path()).filePath(name)), qPrintable(name));
    }
}

void TestTilesetExport::labels_onlyOnBlobTiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Blob names among others, including look-alikes that are no blob tile:
    // a number that is not a canonical mask, and extra text after the mask.
    const QStringList tiles{QStringLiteral("blob_000.png"),       QStringLiteral("blob_003.png"),
                            QStringLiteral("blob_004.png"),       QStringLiteral("blob_004_x.png"),
                            QStringLiteral("blob_031_notop.png"), QStringLiteral("full.png"),
                            QStringLiteral("blob_255_notop.png"), QStringLiteral("slope45_up.png")};
    QVERIFY(writeTiles(QDir(dir.path()), tiles, 8));
    TilesetExportOptions options = withFiles(true, true, true);
    options.columns = 3;
    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY2(result.success, qPrintable(describe(result)));

    const QMap<int, QString> ids = wangIds(readAll(QDir(dir.path()).filePath("tileset.tsx")));
    const QSet<QString> cells = terrainCells(readAll(QDir(dir.path()).filePath("tileset.tres")));
    QMap<int, QString> expectedIds;
    QSet<QString> expectedCells;
    for (int i = 0; i < tiles.size(); ++i) {
        const int mask = BlobMask::fromFileName(tiles.at(i));
        if (mask == BlobMask::None)
            continue;
        const QPoint cell = result.layout.cell(i);
        expectedCells.insert(QStringLiteral("%1:%2").arg(cell.x()).arg(cell.y()));
        // The isolated tile's all-zero wangid is no wangid to Tiled.
        if (mask == 0)
            continue;
        QStringList id;
        for (int bit = 1; bit <= 128; bit <<= 1)
            id << QString::number((mask & bit) ? 1 : 0);
        expectedIds.insert(cell.y() * result.layout.gridColumns() + cell.x(),
                           id.join(QLatin1Char(',')));
    }
    QCOMPARE(ids, expectedIds);
    QCOMPARE(cells, expectedCells);
    QCOMPARE(expectedCells.size(), 4); // blob_000, blob_004, blob_031_notop, blob_255_notop
}

void TestTilesetExport::unreadableTile_writesNothing_data()
{
    QTest::addColumn<QString>("broken");
    QTest::addColumn<QByteArray>("content"); // empty: the file is missing
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("missing") << QStringLiteral("blob_004.png") << QByteArray()
                             << QStringLiteral("could not be read");
    QTest::newRow("not an image") << QStringLiteral("slope45_up.png")
                                  << QByteArray("this is no PNG at all")
                                  << QStringLiteral("not a readable image");
    // A valid PNG header declaring 5000 x 5000 pixels and an empty image
    // stream: refused from the header, before anything is decoded.
    QByteArray huge = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000013880000138808060000"
                                          "005d9887cb000000004944415435af061e0000000049454e44ae4260"
                                          "82");
    QTest::newRow("absurd size") << QStringLiteral("blob_000.png") << huge
                                 << QStringLiteral("5000 x 5000");
}

void TestTilesetExport::unreadableTile_writesNothing()
{
    QFETCH(QString, broken);
    QFETCH(QByteArray, content);
    QFETCH(QString, reasonPart);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(folder, tiles, 8));
    QVERIFY(folder.remove(broken));
    if (!content.isEmpty())
        QVERIFY(writeFile(folder.filePath(broken), content));
    // An old .tsx from an earlier export survives untouched.
    QVERIFY(writeFile(folder.filePath("tileset.tsx"), "old tileset"));

    const TilesetExportOptions options = withFiles(true, true, true);
    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY(!result.success);
    QVERIFY(result.written.isEmpty());
    // The tile is named with its reason, and every requested file is
    // accounted for.
    bool tileNamed = false;
    for (const TilesetExportFailure &failure : result.failures) {
        if (failure.fileName == broken) {
            tileNamed = true;
            QVERIFY2(failure.reason.contains(reasonPart), qPrintable(failure.reason));
        }
    }
    QVERIFY2(tileNamed, qPrintable(describe(result)));
    for (const QString &name : options.fileNames())
        QVERIFY2(failureNamed(result, name), qPrintable(name));
    QCOMPARE(extraFiles(folder, tiles), QStringList{QStringLiteral("tileset.tsx")});
    QCOMPARE(readAll(folder.filePath("tileset.tsx")), QByteArray("old tileset"));
}

void TestTilesetExport::mixedSizes_failsNamingTile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(folder, tiles, 8));
    QVERIFY(TileFileWriter::write(folder.filePath(tiles.at(5)), markedTile(5, 9)));
    const TilesetExportResult result =
        TilesetExport::run(tiles, dir.path(), withFiles(true, false, true));
    QVERIFY(!result.success);
    QVERIFY(failureNamed(result, QStringLiteral("tileset.png")));
    QVERIFY(failureNamed(result, QStringLiteral("tileset.tres")));
    QVERIFY2(describe(result).contains(tiles.at(5)), qPrintable(describe(result)));
    QVERIFY(extraFiles(folder, tiles).isEmpty());
}

void TestTilesetExport::sheetTooLarge_fails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    QStringList tiles;
    for (int i = 0; i < 40; ++i)
        tiles << QStringLiteral("tall%1.png").arg(i, 2, 10, QLatin1Char('0'));
    QVERIFY(writeTiles(folder, tiles, 512));
    TilesetExportOptions options = withFiles(false, true, false);
    options.columns = 1; // 40 x 512 rows: taller than any texture allowed
    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY(!result.success);
    QVERIFY2(describe(result).contains(QLatin1String("largest allowed")),
             qPrintable(describe(result)));
    QVERIFY(failureNamed(result, QStringLiteral("tileset.tsx")));
    QVERIFY(extraFiles(folder, tiles).isEmpty());
}

void TestTilesetExport::invalidOptions_writeNothing_data()
{
    QTest::addColumn<TilesetExportOptions>("options");
    QTest::addColumn<QString>("reasonPart");

    TilesetExportOptions negative = withFiles(true, false, false);
    negative.spacing = -1;
    QTest::newRow("negative spacing") << negative << QStringLiteral("negative");
    TilesetExportOptions folderInName = withFiles(true, false, false);
    folderInName.atlasFileName = QStringLiteral("sub/tileset.png");
    QTest::newRow("atlas in a folder") << folderInName << QStringLiteral("plain file name");
    TilesetExportOptions parent = withFiles(false, true, false);
    parent.baseName = QStringLiteral("../tileset");
    QTest::newRow("tileset outside the folder") << parent << QStringLiteral("plain file name");
    TilesetExportOptions emptyName = withFiles(false, false, true);
    emptyName.baseName.clear();
    QTest::newRow("empty tileset name") << emptyName << QStringLiteral("plain file name");
    // The sheet would overwrite a tile it is made of.
    TilesetExportOptions clash = withFiles(true, true, false);
    clash.atlasFileName = QStringLiteral("FULL.png");
    QTest::newRow("atlas named like a tile") << clash << QStringLiteral("atlas's name");
}

void TestTilesetExport::invalidOptions_writeNothing()
{
    QFETCH(TilesetExportOptions, options);
    QFETCH(QString, reasonPart);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    const QStringList tiles{QStringLiteral("blob_000.png"), QStringLiteral("full.png")};
    QVERIFY(writeTiles(folder, tiles, 8));
    const QByteArray fullBefore = readAll(folder.filePath("full.png"));

    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QVERIFY(!result.success);
    QVERIFY2(describe(result).contains(reasonPart), qPrintable(describe(result)));
    for (const QString &name : options.fileNames())
        QVERIFY2(failureNamed(result, name), qPrintable(name));
    QVERIFY(extraFiles(folder, tiles).isEmpty());
    QVERIFY(QDir(folder.filePath(QStringLiteral("sub"))).exists() == false);
    QCOMPARE(readAll(folder.filePath("full.png")), fullBefore);
}

void TestTilesetExport::noTiles_fails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TilesetExportResult none =
        TilesetExport::run(QStringList(), dir.path(), withFiles(true, false, false));
    QVERIFY(!none.success);
    QVERIFY(failureNamed(none, QStringLiteral("tileset.png")));
    const TilesetExportResult nowhere = TilesetExport::run(
        QStringList{QStringLiteral("full.png")}, QString(), withFiles(true, false, false));
    QVERIFY(!nowhere.success);
    QVERIFY(failureNamed(nowhere, QStringLiteral("tileset.png")));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

void TestTilesetExport::laterWriteFails_restoresEarlierFiles_data()
{
    QTest::addColumn<bool>("oldFilesExist");
    QTest::newRow("old set is restored") << true;
    QTest::newRow("new files are removed") << false;
}

void TestTilesetExport::laterWriteFails_restoresEarlierFiles()
{
    QFETCH(bool, oldFilesExist);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(folder, tiles, 8));
    if (oldFilesExist) {
        QVERIFY(writeFile(folder.filePath("tileset.png"), "old sheet"));
        QVERIFY(writeFile(folder.filePath("tileset.tsx"), "old tsx"));
    }
    // A folder where the .tres should go: the last write fails, after the
    // sheet and the .tsx were already replaced.
    QVERIFY(folder.mkdir(QStringLiteral("tileset.tres")));

    const TilesetExportResult result =
        TilesetExport::run(tiles, dir.path(), withFiles(true, true, true));
    QVERIFY(!result.success);
    QVERIFY(result.written.isEmpty());
    for (const QString &name : {QStringLiteral("tileset.png"), QStringLiteral("tileset.tsx"),
                                QStringLiteral("tileset.tres")})
        QVERIFY2(failureNamed(result, name), qPrintable(describe(result)));
    if (oldFilesExist) {
        QCOMPARE(readAll(folder.filePath("tileset.png")), QByteArray("old sheet"));
        QCOMPARE(readAll(folder.filePath("tileset.tsx")), QByteArray("old tsx"));
    } else {
        QVERIFY(!QFile::exists(folder.filePath("tileset.png")));
        QVERIFY(!QFile::exists(folder.filePath("tileset.tsx")));
    }
    // No temporary file of the attempt is left behind either.
    const QStringList expected =
        oldFilesExist ? QStringList{QStringLiteral("tileset.png"), QStringLiteral("tileset.tsx")}
                      : QStringList();
    QCOMPARE(extraFiles(folder, tiles), expected);
}

void TestTilesetExport::fullDisk_keepsOldFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir folder(dir.path());
    TmpfsMount disk(dir.path());
    if (!disk.mount(QStringLiteral("512k")))
        QSKIP("Needs root to mount a small file system that can be filled.");
    const QStringList tiles = librarySet();
    QVERIFY(writeTiles(folder, tiles, 16));
    QVERIFY(writeFile(folder.filePath("tileset.png"), "old sheet"));
    QVERIFY(writeFile(folder.filePath("tileset.tsx"), "old tsx"));
    QVERIFY(disk.fill());

    const TilesetExportResult result =
        TilesetExport::run(tiles, dir.path(), withFiles(true, true, false));
    QVERIFY(!result.success);
    QVERIFY(failureNamed(result, QStringLiteral("tileset.png")));
    QVERIFY(failureNamed(result, QStringLiteral("tileset.tsx")));
    QCOMPARE(readAll(folder.filePath("tileset.png")), QByteArray("old sheet"));
    QCOMPARE(readAll(folder.filePath("tileset.tsx")), QByteArray("old tsx"));
}

QTEST_GUILESS_MAIN(TestTilesetExport)
#include "tst_tilesetexport.moc"
