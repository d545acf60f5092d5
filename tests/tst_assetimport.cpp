#include "assetimport.h"
#include "tmpfsmount.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A small PNG whose colour tells copies apart.
QByteArray pngBytes(QRgb colour, int size = 16)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    return encoded(image, "PNG");
}

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const QByteArray &type, const QByteArray &payload)
{
    return bigEndian(quint32(payload.size())) + type + payload + bigEndian(crc32(type + payload));
}

// A PNG header that declares width x height RGBA pixels, with a tiny
// (wrong-sized) image data chunk: a few hundred bytes that would make a
// trusting decoder allocate gigabytes.
QByteArray declaredPng(quint32 width, quint32 height)
{
    const QByteArray ihdr =
        bigEndian(width) + bigEndian(height) + QByteArray("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", QByteArray("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) +
           chunk("IEND", QByteArray());
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestAssetImport : public QObject
{
    Q_OBJECT

private slots:
    void isPngName_data();
    void isPngName();
    void newNamePath_data();
    void newNamePath();
    void newNamePath_sequence();

    void import_copiesNewFile();
    void import_replacesExisting();
    void import_sameFile_untouched();
    void import_unreadableSource_keepsOldFile();
    void import_fullDisk_keepsOldFile();
    void import_readOnlyFolder_keepsOldFile();
    void import_notPng_refused_data();
    void import_notPng_refused();
    void import_absurdPng_refused();

    void remove_deletesFile();
    void remove_failure_reported_data();
    void remove_failure_reported();
};

void TestAssetImport::isPngName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");
    QTest::newRow("lower") << QStringLiteral("/a/grass.png") << true;
    QTest::newRow("upper") << QStringLiteral("/a/GRASS.PNG") << true;
    QTest::newRow("mixed") << QStringLiteral("grass.pNg") << true;
    QTest::newRow("only suffix") << QStringLiteral(".png") << true;
    QTest::newRow("jpg") << QStringLiteral("/a/grass.jpg") << false;
    QTest::newRow("png inside") << QStringLiteral("/a/grass.png.txt") << false;
    QTest::newRow("no dot") << QStringLiteral("/a/grasspng") << false;
    QTest::newRow("empty (not a local file)") << QString() << false;
}

void TestAssetImport::isPngName()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(AssetImport::isPngName(path), expected);
}

void TestAssetImport::newNamePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower case") << QStringLiteral("grass.png") << QStringLiteral("grass1.png");
    QTest::newRow("upper case keeps its suffix")
        << QStringLiteral("GRASS.PNG") << QStringLiteral("GRASS.PNG1.png");
    QTest::newRow("every .png removed") << QStringLiteral("a.png.png") << QStringLiteral("a1.png");
    QTest::newRow("inside the name") << QStringLiteral("x.pngy.png") << QStringLiteral("xy1.png");
}

void TestAssetImport::newNamePath()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QCOMPARE(AssetImport::newNamePath(dir.path(), name), dir.path() + QLatin1Char('/') + expected);
}

void TestAssetImport::newNamePath_sequence()
{
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString source = outside.filePath(QStringLiteral("grass.png"));
    QVERIFY(writeFile(source, pngBytes(qRgb(0, 200, 0))));

    QStringList targets;
    QString target = library.filePath(QStringLiteral("grass.png"));
    for (int i = 0; i < 3; ++i) {
        if (QFileInfo::exists(target))
            target = AssetImport::newNamePath(library.path(), QStringLiteral("grass.png"));
        QString error;
        QVERIFY2(AssetImport::importFile(source, target, &error), qPrintable(error));
        targets << QFileInfo(target).fileName();
        target = library.filePath(QStringLiteral("grass.png"));
    }
    QCOMPARE(targets, (QStringList{QStringLiteral("grass.png"), QStringLiteral("grass1.png"),
                                   QStringLiteral("grass2.png")}));
    QCOMPARE(filesIn(library.path()), targets);

    QVERIFY(writeFile(library.filePath(QStringLiteral("GRASS.PNG")), pngBytes(qRgb(0, 0, 0))));
    QCOMPARE(AssetImport::newNamePath(library.path(), QStringLiteral("GRASS.PNG")),
             library.filePath(QStringLiteral("GRASS.PNG1.png")));
}

void TestAssetImport::import_copiesNewFile()
{
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString source = outside.filePath(QStringLiteral("stone.PNG"));
    const QByteArray bytes = pngBytes(qRgb(120, 120, 120));
    QVERIFY(writeFile(source, bytes));
    const QString target = library.filePath(QStringLiteral("stone.PNG"));
    QString error;
    QVERIFY2(AssetImport::importFile(source, target, &error), qPrintable(error));
    QCOMPARE(fileContents(target), bytes);
    QCOMPARE(fileContents(source), bytes);
}

void TestAssetImport::import_replacesExisting()
{
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString target = library.filePath(QStringLiteral("grass.png"));
    QVERIFY(writeFile(target, pngBytes(qRgb(0, 100, 0))));
    const QString source = outside.filePath(QStringLiteral("grass.png"));
    const QByteArray fresh = pngBytes(qRgb(0, 255, 0), 24);
    QVERIFY(writeFile(source, fresh));

    QString error;
    QVERIFY2(AssetImport::importFile(source, target, &error), qPrintable(error));
    QCOMPARE(fileContents(target), fresh);
    QCOMPARE(filesIn(library.path()), QStringList{QStringLiteral("grass.png")});
}

void TestAssetImport::import_sameFile_untouched()
{
    QTemporaryDir library;
    const QString target = library.filePath(QStringLiteral("grass.png"));
    const QByteArray bytes = pngBytes(qRgb(1, 2, 3));
    QVERIFY(writeFile(target, bytes));
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }

    // The same file, spelt differently.
    const QString source = library.path() + QStringLiteral("/./grass.png");
    QString error;
    QVERIFY2(AssetImport::importFile(source, target, &error), qPrintable(error));
    QCOMPARE(fileContents(target), bytes);
    QCOMPARE(QFileInfo(target).lastModified().toUTC().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    QCOMPARE(filesIn(library.path()), QStringList{QStringLiteral("grass.png")});
}

void TestAssetImport::import_unreadableSource_keepsOldFile()
{
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString target = library.filePath(QStringLiteral("grass.png"));
    const QByteArray old = pngBytes(qRgb(0, 100, 0));
    QVERIFY(writeFile(target, old));

    const QString missing = outside.filePath(QStringLiteral("gone.png"));
    QString error;
    QVERIFY(!AssetImport::importFile(missing, target, &error));
    QVERIFY(error.contains(QLatin1String("gone.png")));

    // A folder named like a PNG opens but cannot be read.
    const QString folder = outside.filePath(QStringLiteral("folder.png"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!AssetImport::importFile(folder, target, &error));
    QVERIFY(error.contains(QLatin1String("folder.png")));

    QCOMPARE(fileContents(target), old);
    QCOMPARE(filesIn(library.path()), QStringList{QStringLiteral("grass.png")});
}

void TestAssetImport::import_fullDisk_keepsOldFile()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a tiny tmpfs as a full disk");
    QTemporaryDir library;
    QTemporaryDir outside;
    TmpfsMount mount(library.path());
    if (!mount.mount())
        QSKIP("cannot mount a tmpfs here");

    const QString target = library.filePath(QStringLiteral("grass.png"));
    const QByteArray old = pngBytes(qRgb(0, 100, 0));
    QVERIFY(writeFile(target, old));
    QVERIFY(mount.fill());

    const QString source = outside.filePath(QStringLiteral("grass.png"));
    QVERIFY(writeFile(source, pngBytes(qRgb(0, 255, 0), 64)));
    QString error;
    QVERIFY(!AssetImport::importFile(source, target, &error));
    QVERIFY(error.contains(QLatin1String("grass.png")));
    QCOMPARE(fileContents(target), old);
    QCOMPARE(filesIn(library.path()),
             (QStringList{QStringLiteral("filler"), QStringLiteral("grass.png")}));
}

void TestAssetImport::import_readOnlyFolder_keepsOldFile()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a read-only tmpfs");
    QTemporaryDir library;
    QTemporaryDir outside;
    TmpfsMount mount(library.path());
    if (!mount.mount())
        QSKIP("cannot mount a tmpfs here");

    const QString target = library.filePath(QStringLiteral("grass.png"));
    const QByteArray old = pngBytes(qRgb(0, 100, 0));
    QVERIFY(writeFile(target, old));
    QVERIFY(mount.remountReadOnly());

    const QString source = outside.filePath(QStringLiteral("grass.png"));
    QVERIFY(writeFile(source, pngBytes(qRgb(0, 255, 0))));
    QString error;
    QVERIFY(!AssetImport::importFile(source, target, &error));
    QVERIFY(error.contains(QLatin1String("grass.png")));
    QCOMPARE(fileContents(target), old);
}

void TestAssetImport::import_notPng_refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QTest::newRow("BMP named .png") << encoded(image, "BMP") << QStringLiteral("not a PNG");
    QTest::newRow("text") << QByteArray("hello, world\n") << QStringLiteral("not a PNG");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("not a PNG");
    QTest::newRow("PNG cut in its header")
        << pngBytes(qRgb(9, 9, 9), 64).left(20) << QStringLiteral("not a readable image");
    const QByteArray png = pngBytes(qRgb(9, 9, 9), 64);
    const int data = png.indexOf("IDAT");
    QTest::newRow("PNG cut in its data")
        << png.left(data + 8) << QStringLiteral("could not be decoded");
}

void TestAssetImport::import_notPng_refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString source = outside.filePath(QStringLiteral("fake.png"));
    QVERIFY(writeFile(source, bytes));
    const QString target = library.filePath(QStringLiteral("fake.png"));
    QString error;
    QVERIFY(!AssetImport::importFile(source, target, &error));
    QVERIFY2(error.contains(QLatin1String("fake.png")), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(filesIn(library.path()).isEmpty());
}

void TestAssetImport::import_absurdPng_refused()
{
    QTemporaryDir library;
    QTemporaryDir outside;
    const QString source = outside.filePath(QStringLiteral("huge.png"));
    const QByteArray bytes = declaredPng(60000, 60000);
    QVERIFY(bytes.size() < 100);
    QVERIFY(writeFile(source, bytes));

    QString error;
    QVERIFY(!AssetImport::validate(source, &error));
    QVERIFY2(error.contains(QLatin1String("huge.png")), qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("60000 x 60000")), qPrintable(error));

    QVERIFY(!AssetImport::importFile(source, library.filePath(QStringLiteral("huge.png")), &error));
    QVERIFY(filesIn(library.path()).isEmpty());
}

void TestAssetImport::remove_deletesFile()
{
    QTemporaryDir library;
    const QString path = library.filePath(QStringLiteral("grass.png"));
    QVERIFY(writeFile(path, pngBytes(qRgb(0, 1, 0))));
    QString error;
    QVERIFY2(AssetImport::removeAsset(path, &error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(path));
}

void TestAssetImport::remove_failure_reported_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("vanished") << QStringLiteral("vanished");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("read-only file system") << QStringLiteral("read-only");
}

void TestAssetImport::remove_failure_reported()
{
    QFETCH(QString, kind);
    QTemporaryDir library;
    const QString path = library.filePath(QStringLiteral("grass.png"));
    TmpfsMount mount(library.path());
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    } else if (kind == QLatin1String("read-only")) {
        if (!TmpfsMount::isRoot() || !mount.mount())
            QSKIP("needs root to mount a read-only tmpfs");
        QVERIFY(writeFile(path, "png"));
        QVERIFY(mount.remountReadOnly());
    }

    QString error;
    QVERIFY(!AssetImport::removeAsset(path, &error));
    QVERIFY2(error.contains(QLatin1String("grass.png")), qPrintable(error));
    // The reason follows the name.
    QVERIFY2(!error.endsWith(QLatin1String("\": ")), qPrintable(error));
    QVERIFY(error.section(QLatin1String("\": "), 1).size() > 0);
    if (kind != QLatin1String("vanished"))
        QVERIFY(QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestAssetImport)
#include "tst_assetimport.moc"
