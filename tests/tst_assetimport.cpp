#include "assetimport.h"
#include "fileentry.h"
#include "previewfixtures.h"
#include "tmpfsmount.h"

#include <QtTest>

namespace F = PreviewFixtures;

static QByteArray encoded(int size, const char *format = "PNG")
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(qRgb(size, 200, 0));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

// The library's file system: as it is, or a tmpfs filled up or made read-only.
enum class Disk
{
    Fine,
    Full,
    ReadOnly
};
Q_DECLARE_METATYPE(Disk)

// Copying a file into the library. Listing its folders, the naming sequence of "import under
// a new name" and failed deletions are checked through the window (tst_assetlists,
// tst_projectcommands).
class TestAssetImport : public QObject
{
    Q_OBJECT

private slots:
    // Imports over an existing grass.png. A failure names the file and gives
    // a reason; the old file stays as it was.
    void import_data()
    {
        QTest::addColumn<FileEntry>("entry"); // at the source
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Disk>("disk");
        QTest::addColumn<bool>("itself");    // the source is the target, by another path
        QTest::addColumn<QString>("reason"); // empty: succeeds
        const auto row = [](const char *name, const QByteArray &bytes, const char *reason,
                            FileEntry entry = FileEntry::Bytes, Disk disk = Disk::Fine,
                            bool itself = false) {
            QTest::newRow(name) << entry << bytes << disk << itself << QString(reason);
        };
        const QByteArray png = encoded(64);
        row("replaces", png, "");
        row("same file", {}, "", FileEntry::Bytes, Disk::Fine, true);
        row("missing source", {}, "Cannot read", FileEntry::Missing);
        row("folder source", {}, "Cannot read", FileEntry::Folder);
        row("pipe source", {}, "named pipe", FileEntry::Pipe);
        row("device source", {}, "a device", FileEntry::DeviceLink);
        row("full disk", png, "Cannot copy", FileEntry::Bytes, Disk::Full);
        row("read-only", png, "Cannot copy", FileEntry::Bytes, Disk::ReadOnly);
        row("BMP", encoded(8, "BMP"), "not a PNG");
        row("empty", {}, "not a PNG");
        row("PNG cut in its header", png.left(20), "not a readable image");
        row("PNG cut in its data", png.left(png.indexOf("IDAT") + 8), "could not be decoded");
        row("declares 60000 x 60000", F::absurdPng(), "60000 x 60000");
    }

    void import()
    {
        QFETCH(FileEntry, entry);
        QFETCH(QByteArray, bytes);
        QFETCH(Disk, disk);
        QFETCH(bool, itself);
        QFETCH(QString, reason);
        QTemporaryDir library, outside;
        TmpfsMount mount(library.path());
        if (disk != Disk::Fine && !mount.mount())
            QSKIP("needs root to mount a tmpfs");
        const QString target = library.filePath("grass.png");
        const QString source =
            itself ? library.path() + "/./grass.png" : outside.filePath("source.png");
        QVERIFY(F::writeFile(target, encoded(4)));
        QVERIFY(itself || place(entry, source, bytes));
        QVERIFY(disk == Disk::Fine ||
                (disk == Disk::Full ? mount.fill() : mount.remountReadOnly()));

        QString error;
        const bool ok = AssetImport::importFile(source, target, &error);
        QVERIFY2(ok == reason.isEmpty(), qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(ok || error.contains(QFileInfo(source).fileName()), qPrintable(error));
        QCOMPARE(F::readFile(target), ok && !itself ? bytes : encoded(4));
        QCOMPARE(QDir(library.path()).entryList(QDir::Files | QDir::Hidden).size(), // no temporary
                 disk == Disk::Full ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestAssetImport)
#include "tst_assetimport.moc"
