#include "assetimport.h"
#include "previewfixtures.h"
#include "tmpfsmount.h"

#include <QtTest>

#include <sys/stat.h>

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
        QTest::addColumn<QByteArray>("bytes"); // the tag names any fault
        QTest::addColumn<QString>("reason");   // empty: succeeds
        const QByteArray png = encoded(64);
        QTest::newRow("replaces") << png << "";
        QTest::newRow("same file") << QByteArray() << "";
        QTest::newRow("missing source") << QByteArray() << "Cannot read";
        QTest::newRow("folder source") << QByteArray() << "Cannot read";
        QTest::newRow("pipe source") << QByteArray() << "named pipe";
        QTest::newRow("device source") << QByteArray() << "a device";
        QTest::newRow("full disk") << png << "Cannot copy";
        QTest::newRow("read-only") << png << "Cannot copy";
        QTest::newRow("BMP") << encoded(8, "BMP") << "not a PNG";
        QTest::newRow("empty") << QByteArray() << "not a PNG";
        QTest::newRow("PNG cut in its header") << png.left(20) << "not a readable image";
        QTest::newRow("PNG cut in its data")
            << png.left(png.indexOf("IDAT") + 8) << "could not be decoded";
        QTest::newRow("declares 60000 x 60000") << F::absurdPng() << "60000 x 60000";
    }

    void import()
    {
        const QString fault = QTest::currentDataTag();
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QTemporaryDir library, outside;
        TmpfsMount mount(library.path());
        const bool disk = fault == "full disk" || fault == "read-only";
        if (disk && !mount.mount())
            QSKIP("needs root to mount a tmpfs");
        const QString target = library.filePath("grass.png");
        QString source = outside.filePath(fault == "missing source" ? "gone.png" : "grass.png");
        QVERIFY(F::writeFile(target, encoded(4)));
        if (fault == "same file")
            source = library.path() + "/./grass.png";
        else if (fault == "folder source")
            QVERIFY(QDir().mkpath(source));
        else if (fault == "pipe source")
            QVERIFY(mkfifo(qPrintable(source), 0600) == 0);
        else if (fault == "device source")
            QVERIFY(QFile::link("/dev/zero", source));
        else if (fault != "missing source")
            QVERIFY(F::writeFile(source, bytes));
        if (disk)
            QVERIFY(fault == "full disk" ? mount.fill() : mount.remountReadOnly());

        QString error;
        const bool ok = AssetImport::importFile(source, target, &error);
        QVERIFY2(ok == reason.isEmpty(), qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(ok || error.contains(QFileInfo(source).fileName()), qPrintable(error));
        QCOMPARE(F::readFile(target), fault == "replaces" ? bytes : encoded(4));
        QCOMPARE(QDir(library.path()).entryList(QDir::Files | QDir::Hidden).size(), // no temporary
                 fault == "full disk" ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestAssetImport)
#include "tst_assetimport.moc"
