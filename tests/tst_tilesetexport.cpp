// The export of a generated set: tiles read back from the output folder,
// packed in the order given, and written as atlas, .tsx and .tres together
// or not at all.

#include "blobmask.h"
#include "tilefilewriter.h"
#include "tilesetexport.h"
#include "tmpfsmount.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A tile unlike every other, so a tile in the wrong place shows.
QImage markedTile(int index, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(qRgba((index * 53) % 256, (index * 97) % 256, 120, 255));
    image.setPixel(index % size, size / 2, qRgba(255, 0, 255, 90));
    return image;
}

// The 47 blob tiles, then tiles outside the set, in the library's order.
QStringList librarySet()
{
    QStringList names;
    for (int mask : BlobMask::all())
        names << BlobMask::fileName(mask);
    return names << QStringLiteral("platform_left.png") << QStringLiteral("slope45_up.png");
}

struct TileFolder
{
    bool write(const QStringList &names, int size = 8)
    {
        tiles = names;
        for (int i = 0; i < names.size(); ++i)
            ok = ok && TileFileWriter::write(dir.filePath(names.at(i)), markedTile(i, size));
        return ok;
    }
    QByteArray read(const QString &name) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool put(const QString &name, const QByteArray &bytes) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    TilesetExportResult run(const TilesetExportOptions &options) const
    {
        return TilesetExport::run(tiles, dir.path(), options);
    }
    // Every file of the folder that is not one of the tiles.
    QStringList extra() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QString &tile : tiles)
            names.removeOne(tile);
        return names;
    }

    QTemporaryDir dir;
    QStringList tiles;
    bool ok = dir.isValid();
};

QString describe(const TilesetExportResult &result)
{
    QString lines;
    for (const TilesetExportFailure &failure : result.failures)
        lines += failure.fileName + QStringLiteral(": ") + failure.reason + QLatin1Char('\n');
    return lines;
}

// A refused export reports nothing written and names every requested file,
// and the culprit with the reason.
void verifyRefused(const TilesetExportResult &result, const TilesetExportOptions &options,
                   const QString &culprit = QString(), const QString &reason = QString())
{
    QVERIFY(!result.success && result.written.isEmpty());
    QVERIFY2(describe(result).contains(culprit) && describe(result).contains(reason),
             qPrintable(describe(result)));
    for (const QString &name : options.fileNames())
        QVERIFY2(describe(result).contains(name + QStringLiteral(": ")),
                 qPrintable(describe(result)));
}

// Fields in declaration order: atlas, its file name, columns, margin,
// spacing, extrusion, power of two, tsx, tres, base name.
using Options = TilesetExportOptions;
const Options All{true, "tileset.png", 0, 0, 0, 0, false, true, true};

} // namespace

Q_DECLARE_METATYPE(TilesetExportOptions)

class TestTilesetExport : public QObject
{
    Q_OBJECT

private slots:
    void order_isStableAcrossRuns();
    void labels_onlyOnBlobTiles();
    void badInput_writesNothing_data();
    void badInput_writesNothing();
    void laterWriteFails_restoresEarlierFiles_data();
    void laterWriteFails_restoresEarlierFiles();
};

void TestTilesetExport::order_isStableAcrossRuns()
{
    // Regenerating (tiles written in reverse order, into another folder,
    // beside other files) gives byte-identical files: same places, same ids.
    const QStringList tiles = librarySet();
    TileFolder first, second;
    QVERIFY(first.write(tiles, 12) && second.put("notes.txt", "x"));
    for (int i = tiles.size() - 1; i >= 0; --i)
        QVERIFY(TileFileWriter::write(second.dir.filePath(tiles.at(i)), markedTile(i, 12)));
    QVERIFY(QDir(second.dir.path()).mkdir(QStringLiteral("sub.png")));
    second.tiles = TilesetExport::tileNames(second.dir.path());
    QCOMPARE(second.tiles, tiles);
    QVERIFY(TilesetExport::tileNames(second.dir.filePath("missing")).isEmpty());

    QVERIFY(first.run(All).success && second.run(All).success);
    // A tileset describes the sheet, so it brings one along.
    QCOMPARE((Options{false, "a.png", 0, 0, 0, 0, false, false, true}.fileNames()),
             QStringList({"a.png", "tileset.tres"}));
    for (const QString &name : All.fileNames())
        QVERIFY2(!first.read(name).isEmpty() && first.read(name) == second.read(name),
                 qPrintable(name));
}

void TestTilesetExport::labels_onlyOnBlobTiles()
{
    // Look-alikes are no blob tile: a number that is no canonical mask, and
    // text after the mask.
    TileFolder folder;
    QVERIFY(
        folder.write({"blob_000.png", "blob_003.png", "blob_004.png", "blob_004_x.png",
                      "blob_031_notop.png", "full.png", "blob_255_notop.png", "slope45_up.png"}));
    Options options = All;
    options.columns = 3;
    const TilesetExportResult result = folder.run(options);
    QVERIFY2(result.success, qPrintable(describe(result)));
    auto found = [&](const QString &file, const QString &pattern) {
        QStringList matches;
        auto it = QRegularExpression(pattern, QRegularExpression::MultilineOption)
                      .globalMatch(QString::fromUtf8(folder.read(file)));
        while (it.hasNext())
            matches << it.next().capturedTexts().mid(1).join(' ');
        return matches;
    };
    QStringList wangIds, cells; // "tileid wangid" in the .tsx, "x:y" in the .tres
    for (int i = 0; i < folder.tiles.size(); ++i) {
        const int mask = BlobMask::fromFileName(folder.tiles.at(i));
        const QPoint cell = result.layout.cell(i);
        if (mask != BlobMask::None)
            cells << QStringLiteral("%1:%2").arg(cell.x()).arg(cell.y());
        if (mask == BlobMask::None || mask == 0)
            continue; // the isolated tile's all-zero wangid is no wangid to Tiled
        QStringList id;
        for (int bit = 1; bit <= 128; bit <<= 1)
            id << QString::number((mask & bit) ? 1 : 0);
        wangIds << QStringLiteral("%1 %2").arg(cell.y() * 3 + cell.x()).arg(id.join(','));
    }
    QCOMPARE(found("tileset.tsx", "<wangtile tileid=\"(\\d+)\" wangid=\"([\\d,]+)\""), wangIds);
    QCOMPARE(found("tileset.tres", "^(\\d+:\\d+)/0/terrain = 0$"), cells);
    QCOMPARE(cells.size(), 4); // blob_000, blob_004, blob_031_notop, blob_255_notop
}

void TestTilesetExport::badInput_writesNothing_data()
{
    QTest::addColumn<int>("tiles"); // of the library set, or as many 512 px tiles
    QTest::addColumn<QString>("culprit");
    QTest::addColumn<QByteArray>("content"); // the culprit's; empty: it is missing
    QTest::addColumn<TilesetExportOptions>("options");
    QTest::addColumn<QString>("reason"); // the culprit's, or the export's
    const int all = librarySet().size();
    QTest::newRow("missing tile") << all << "blob_004.png" << QByteArray() << All
                                  << "could not be read";
    QTest::newRow("tile not an image")
        << all << "slope45_up.png" << QByteArray("no PNG") << All << "not a readable image";
    // A valid PNG header declaring 5000 x 5000 pixels and an empty image
    // stream: refused from the header, before anything is decoded.
    QTest::newRow("tile of absurd size")
        << all << "blob_000.png"
        << QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000013880000138808060000005d9887cb"
                               "000000004944415435af061e0000000049454e44ae426082")
        << All << "5000 x 5000";
    QBuffer odd;
    QVERIFY(odd.open(QIODevice::WriteOnly) && markedTile(5, 9).save(&odd, "PNG"));
    QTest::newRow("tiles of mixed sizes") << all << "blob_001_notop.png" << odd.data() << All << "";
    // 40 rows of 512 px in one column: taller than any texture allowed.
    QTest::newRow("sheet too large")
        << -40 << "" << QByteArray() << Options{false, "tileset.png", 1, 0, 0, 0, false, true}
        << "largest allowed";
    QTest::newRow("negative spacing")
        << 2 << "" << QByteArray() << Options{true, "tileset.png", 0, 0, -1} << "negative";
    QTest::newRow("no tiles") << 0 << "" << QByteArray() << All << "";
}

void TestTilesetExport::badInput_writesNothing()
{
    QFETCH(int, tiles);
    QFETCH(QString, culprit);
    QFETCH(QByteArray, content);
    QFETCH(TilesetExportOptions, options);
    QFETCH(QString, reason);
    QStringList names = librarySet().mid(0, tiles);
    for (int i = 0; i < -tiles; ++i)
        names << QStringLiteral("tall%1.png").arg(i, 2, 10, QLatin1Char('0'));
    TileFolder folder;
    QVERIFY(folder.write(names, tiles < 0 ? 512 : 8));
    QVERIFY(culprit.isEmpty() || (QFile::remove(folder.dir.filePath(culprit)) &&
                                  (content.isEmpty() || folder.put(culprit, content))));
    // An earlier export's .tsx and the tiles survive untouched.
    QVERIFY(folder.put("tileset.tsx", "old tileset"));
    const QByteArray tile = folder.read(folder.tiles.value(0));

    verifyRefused(folder.run(options), options, culprit, reason);
    QCOMPARE(folder.extra(), QStringList{"tileset.tsx"});
    QCOMPARE(folder.read("tileset.tsx"), QByteArray("old tileset"));
    QCOMPARE(folder.read(folder.tiles.value(0)), tile);
}

void TestTilesetExport::laterWriteFails_restoresEarlierFiles_data()
{
    QTest::addColumn<bool>("oldFilesExist");
    QTest::addColumn<bool>("fullDisk"); // else a folder stands where the .tres goes
    QTest::newRow("old set is restored") << true << false;
    QTest::newRow("new files are removed") << false << false;
    QTest::newRow("full disk keeps old files") << true << true;
}

void TestTilesetExport::laterWriteFails_restoresEarlierFiles()
{
    QFETCH(bool, oldFilesExist);
    QFETCH(bool, fullDisk);
    TileFolder folder;
    TmpfsMount disk(folder.dir.path());
    if (fullDisk && !disk.mount(QStringLiteral("512k")))
        QSKIP("Needs root to mount a small file system that can be filled.");
    QVERIFY(folder.write(librarySet(), 16));
    QStringList old{"tileset.png", "tileset.tsx"};
    for (const QString &name : old)
        QVERIFY(!oldFilesExist || folder.put(name, "old " + name.toUtf8()));
    // The last write fails after the sheet and the .tsx were replaced.
    QVERIFY(fullDisk ? disk.fill() : QDir().mkdir(folder.dir.filePath("tileset.tres")));

    verifyRefused(folder.run(All), All);
    // The old files are back; new and temporary ones are gone.
    for (const QString &name : old)
        QCOMPARE(folder.read(name), oldFilesExist ? "old " + name.toUtf8() : QByteArray());
    QCOMPARE(folder.extra(), (fullDisk ? QStringList{"filler"} : QStringList()) +
                                 (oldFilesExist ? old : QStringList()));
}

QTEST_GUILESS_MAIN(TestTilesetExport)
#include "tst_tilesetexport.moc"
