#include "assetimport.h"
#include "tmpfsmount.h"

#include <QImage>
#include <QtTest>
#include <zlib.h>

namespace {

QByteArray encoded(int size, const char *format = "PNG")
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(qRgb(size, 200, 0));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

// A real PNG whose header declares 60000 x 60000 pixels: a few hundred
// bytes that would make a trusting decoder allocate gigabytes.
QByteArray absurdPng()
{
    QByteArray png = encoded(1);
    qToBigEndian<quint32>(60000, png.data() + 16);
    qToBigEndian<quint32>(60000, png.data() + 20);
    const auto ihdr = reinterpret_cast<const Bytef *>(png.constData() + 12);
    qToBigEndian<quint32>(crc32(0, ihdr, 17), png.data() + 29);
    return png;
}

bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &time = {})
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           (time.isNull() || file.setFileTime(time, QFile::FileModificationTime));
}

} // namespace

class TestAssetImport : public QObject
{
    Q_OBJECT

private slots:
    void names();
    void import_data();
    void import();
    void remove_data();
    void remove();
};

void TestAssetImport::names()
{
    for (const char *png : {"/a/grass.png", "/a/GRASS.PNG", "grass.pNg"})
        QVERIFY2(AssetImport::isPngName(png), png);
    for (const char *other : {"/a/grass.jpg", "/a/grass.png.txt", "/a/grasspng", ""})
        QVERIFY2(!AssetImport::isPngName(other), other);
    // Importing under a new name, again and again.
    QTemporaryDir dir;
    QStringList made;
    QVERIFY(writeFile(dir.filePath("grass.png"), "x") && writeFile(dir.filePath("GRASS.PNG"), "x"));
    for (const char *name : {"grass.png", "grass.png", "GRASS.PNG", "a.png.png", "x.pngy.png"}) {
        made << AssetImport::newNamePath(dir.path(), name);
        QVERIFY(writeFile(made.last(), "x"));
    }
    QCOMPARE(made.replaceInStrings(dir.path() + "/", ""),
             QStringList({"grass1.png", "grass2.png", "GRASS.PNG1.png", "a1.png", "xy1.png"}));
}

// Imports over an existing grass.png. A failure names the file and gives a
// reason; the old file stays as it was, not even rewritten.
void TestAssetImport::import_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the tag names any fault
    QTest::addColumn<QString>("reason");   // empty: succeeds
    const QByteArray png = encoded(64);
    QTest::newRow("replaces") << png << "";
    QTest::newRow("same file") << QByteArray() << "";
    QTest::newRow("missing source") << QByteArray() << "Cannot read";
    QTest::newRow("folder source") << QByteArray() << "Cannot read";
    QTest::newRow("full disk") << png << "Cannot copy";
    QTest::newRow("read-only") << png << "Cannot copy";
    QTest::newRow("BMP") << encoded(8, "BMP") << "not a PNG";
    QTest::newRow("text") << QByteArray("hello\n") << "not a PNG";
    QTest::newRow("empty") << QByteArray() << "not a PNG";
    QTest::newRow("PNG cut in its header") << png.left(20) << "not a readable image";
    QTest::newRow("PNG cut in its data")
        << png.left(png.indexOf("IDAT") + 8) << "could not be decoded";
    QTest::newRow("declares 60000 x 60000") << absurdPng() << "60000 x 60000";
}

void TestAssetImport::import()
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
    const QByteArray old = encoded(4);
    const QDateTime past = QDateTime::currentDateTimeUtc().addDays(-3);
    QVERIFY(writeFile(target, old, past));
    if (fault == "same file")
        source = library.path() + "/./grass.png";
    else if (fault == "folder source")
        QVERIFY(QDir().mkpath(source));
    else if (fault != "missing source")
        QVERIFY(writeFile(source, bytes));
    if (disk)
        QVERIFY(fault == "full disk" ? mount.fill() : mount.remountReadOnly());

    QString error;
    const bool ok = AssetImport::importFile(source, target, &error);
    QVERIFY2(ok == reason.isEmpty() && error.contains(reason), qPrintable(error));
    QVERIFY2(ok || error.contains(QFileInfo(source).fileName()), qPrintable(error));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), fault == "replaces" ? bytes : old);
    if (fault != "replaces")
        QCOMPARE(file.fileTime(QFile::FileModificationTime), past);
    QCOMPARE(QDir(library.path()).entryList(QDir::Files | QDir::Hidden).size(), // no temporary
             fault == "full disk" ? 2 : 1);
}

void TestAssetImport::remove_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"file", "vanished", "folder", "read-only"})
        QTest::newRow(kind) << kind;
}

void TestAssetImport::remove()
{
    QFETCH(QString, kind);
    QTemporaryDir library;
    const QString path = library.filePath("grass.png");
    TmpfsMount mount(library.path());
    if (kind == "read-only" && !mount.mount())
        QSKIP("needs root to mount a read-only tmpfs");
    QVERIFY(kind == "folder" ? QDir().mkpath(path + "/inside")
                             : kind == "vanished" || writeFile(path, "png"));
    QVERIFY(kind != "read-only" || mount.remountReadOnly());
    QString error;
    QCOMPARE(AssetImport::removeAsset(path, &error), kind == "file");
    QCOMPARE(QFileInfo::exists(path), kind == "folder" || kind == "read-only");
    // A failure names the file, and a reason follows the name.
    QVERIFY2(kind == "file" || !error.section("grass.png\": ", 1).trimmed().isEmpty(),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(TestAssetImport)
#include "tst_assetimport.moc"
