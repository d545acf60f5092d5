#include "pngencoder.h"
#include "pngsamples.h"
#include "tilefilewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>
#endif

// A tile is written whole or not at all: a failed write leaves no truncated,
// empty or temporary file, keeps an existing tile of the same name, and says
// which file failed and why.
class TestTileFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void write_readsBackAsTheTile();
    void write_overwritesExistingTile();
    void missingDirectory_failsWithReason();
    void nullTile_keepsExistingTile();
    void targetIsDirectory_failsAndKeepsIt();
    void readOnlyDirectory_failsAndKeepsTile();
    void fullDisk_failsAndKeepsTile();
};

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeRaw(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// The error names the file and gives a reason after it.
void verifyNamesFileAndReason(const QString &error, const QString &path)
{
    const QString name = QDir::toNativeSeparators(path);
    QVERIFY2(error.startsWith(name), qPrintable(error));
    QVERIFY2(error.size() > name.size() + 2, qPrintable("no reason given: " + error));
}

} // namespace

void TestTileFileWriter::write_readsBackAsTheTile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Slope.PNG");
    const QImage tile = PngSamples::sample(PngSamples::Flat, 128, 0);

    QString error;
    QVERIFY2(TileFileWriter::write(path, tile, &error), qPrintable(error));
    QImage back(path, "png");
    QVERIFY(!back.isNull());
    QCOMPARE(back.convertToFormat(QImage::Format_ARGB32),
             tile.convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(entries(dir.path()), QStringList{"Slope.PNG"});
}

void TestTileFileWriter::write_overwritesExistingTile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("slope.png");
    QVERIFY(writeRaw(path, QByteArray(100000, 'x')));

    const QImage tile = PngSamples::sample(PngSamples::Textured, 64, 1);
    QVERIFY(TileFileWriter::write(path, tile));
    QCOMPARE(readAll(path), PngEncoder::encode(tile));
    QCOMPARE(entries(dir.path()), QStringList{"slope.png"});
}

void TestTileFileWriter::missingDirectory_failsWithReason()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("missing/slope.png");

    QString error;
    QVERIFY(!TileFileWriter::write(path, PngSamples::sample(PngSamples::Flat, 64, 0), &error));
    verifyNamesFileAndReason(error, path);
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestTileFileWriter::nullTile_keepsExistingTile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("slope.png");
    const QByteArray old = PngEncoder::encode(PngSamples::sample(PngSamples::Flat, 64, 2));
    QVERIFY(writeRaw(path, old));

    QString error;
    QVERIFY(!TileFileWriter::write(path, QImage(), &error));
    verifyNamesFileAndReason(error, path);
    QCOMPARE(readAll(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"slope.png"});
}

void TestTileFileWriter::targetIsDirectory_failsAndKeepsIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("slope.png"));
    const QString path = dir.filePath("slope.png");

    QString error;
    QVERIFY(!TileFileWriter::write(path, PngSamples::sample(PngSamples::Flat, 64, 0), &error));
    verifyNamesFileAndReason(error, path);
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(entries(dir.path()), QStringList{"slope.png"});
}

void TestTileFileWriter::readOnlyDirectory_failsAndKeepsTile()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        QSKIP("root writes into read-only directories; the full-disk case covers failed writes");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("slope.png");
    const QByteArray old = PngEncoder::encode(PngSamples::sample(PngSamples::Flat, 64, 2));
    QVERIFY(writeRaw(path, old));
    QFile::Permissions writable = QFile::permissions(dir.path());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));

    QString error;
    const bool written =
        TileFileWriter::write(path, PngSamples::sample(PngSamples::Textured, 128, 0), &error);
    QFile::setPermissions(dir.path(), writable);
    QVERIFY(!written);
    verifyNamesFileAndReason(error, path);
    QCOMPARE(readAll(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"slope.png"});
}

// On a full disk QImage::save reports success for small files and leaves an
// empty one; our writer must fail, keep the old tile and leave nothing else.
void TestTileFileWriter::fullDisk_failsAndKeepsTile()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a small tmpfs, which only Linux offers here");
#else
    if (::geteuid() != 0)
        QSKIP("needs root to mount a small tmpfs as a full disk");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QStringLiteral("could not mount a small tmpfs: %1")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)))));
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{mountPoint};

    const QString path = dir.filePath("slope.png");
    QVERIFY(TileFileWriter::write(path, PngSamples::sample(PngSamples::Flat, 64, 2)));
    const QByteArray old = readAll(path);
    QVERIFY(!old.isEmpty());

    // Fill every remaining block.
    {
        QFile filler(dir.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        int blocks = 0;
        while (filler.write(block) == block.size() && ++blocks < 1000) {
        }
        QVERIFY2(blocks < 1000, "the small tmpfs never filled up");
    }

    // A tile larger than the old one, to the same name.
    QString error;
    QVERIFY(!TileFileWriter::write(path, PngSamples::sample(PngSamples::Noise, 128, 0), &error));
    verifyNamesFileAndReason(error, path);
    QCOMPARE(readAll(path), old);

    // A small tile, the size QImage::save wrongly reports as written.
    const QString small = dir.filePath("small.png");
    QVERIFY(!TileFileWriter::write(small, PngSamples::sample(PngSamples::Flat, 64, 3), &error));
    verifyNamesFileAndReason(error, small);
    QVERIFY(!QFile::exists(small));

    QCOMPARE(entries(dir.path()), (QStringList{"filler", "slope.png"}));

    // With room again, the same writes succeed: the disk was the reason.
    QVERIFY(QFile::remove(dir.filePath("filler")));
    QVERIFY2(TileFileWriter::write(small, PngSamples::sample(PngSamples::Flat, 64, 3), &error),
             qPrintable(error));
    QVERIFY(!readAll(small).isEmpty());
#endif
}

QTEST_MAIN(TestTileFileWriter)
#include "tst_tilefilewriter.moc"
