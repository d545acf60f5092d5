// The generator worker: what it writes and says, in which order, on its own
// and on several threads, cancelled, and when the disk or the masks fail.

#include "generatetiles.h"
#include "generatorfixtures.h"
#include "generatororacle.h"
#include "tmpfsmount.h"

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace GeneratorFixtures;

namespace {

const QRgb Bottom = qRgb(0xc3, 0x93, 0x66);

// "total 4, step 1, step 2, complete 2"
QString counted(int total, int done)
{
    QStringList events{QString("total %1").arg(total)};
    for (int i = 1; i <= done; ++i)
        events << QString("step %1").arg(i);
    return (events << QString("complete %1").arg(done)).join(", ");
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A valid PNG of under 100 bytes whose header declares 60000 x 60000 pixels.
QByteArray hugePng()
{
    QByteArray png;
    QBuffer buffer(&png);
    solid(1, 1, 0).save(&buffer, "PNG");
    qToBigEndian<quint32>(60000, png.data() + 16);
    qToBigEndian<quint32>(60000, png.data() + 20);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(png.data() + 12), 17));
    qToBigEndian<quint32>(crc, png.data() + 29);
    return png;
}

// What a tile with a flat surface at row y0 from column x0 on must be: the
// 4 rows of a plain top, 2 of bottom, 4 of shadow, then bottom.
QImage flatSurfaceTile(int x0, int y0, QRgb top, QRgb shadow)
{
    QImage tile = solid(Size, Size, 0);
    QPainter painter(&tile);
    painter.fillRect(x0, y0, Size - x0, Size - y0, QColor(Bottom));
    painter.fillRect(x0, y0, Size - x0, 4, QColor(top));
    painter.fillRect(x0, y0 + 6, Size - x0, 4, QColor(shadow));
    return tile;
}

} // namespace

class TestGenerator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void notop_getsNoTopAndNoShadow();
    void fullMask_topAtRowZeroShadowSixLower();
    void emptyLeftHalf_getsNoTopThere();
    void tileSize64_isNearestNeighbourOf128();
    void topOpacity_zeroHidesTopAndShadow_halfBlendsTop();
    void run_reportsEveryMaskInOrder_data();
    void run_reportsEveryMaskInOrder();
    void failedWrite_keepsExistingTileLeavesNothing_data();
    void failedWrite_keepsExistingTileLeavesNothing();
    void severalThreads_orderedSignalsOracleTiles_data();
    void severalThreads_orderedSignalsOracleTiles();
    void cancel_stopsAfterTilesInHand_thenRunsToTheEnd_data();
    void cancel_stopsAfterTilesInHand_thenRunsToTheEnd();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void addMask(const QString &name, const QImage &mask)
    {
        QVERIFY(mask.save(path("alpha/" + name), "PNG"));
    }
    QImage tileFor(const char *mask, const QString &name = "m.png")
    {
        addMask(name, masks().value(mask));
        m_worker->setStyle(m_style);
        m_worker->doGeneration();
        return QImage(path("out/" + name)).convertToFormat(QImage::Format_ARGB32);
    }
    QString record(QThread *thread = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<generateTiles> m_worker; // from alpha/ to out/, one thread
    TileStyle m_style;
    QStringList m_reasons; // of the failures the last record() saw
};

void TestGenerator::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(path("alpha")) && QDir().mkpath(path("out")));
    m_style = styleFrom("top=stripe", m_dir->path());
    m_worker = std::make_unique<generateTiles>();
    m_worker->alphaDirectory = path("alpha");
    m_worker->outputDirectory = path("out");
    m_worker->threadCount = 1;
}

// What the worker says in one run here, or in one start of its thread:
// "total 3, step 1, failed b.png, step 2, step 3, complete 3" ("complete
// error 2" when isError).
QString TestGenerator::record(QThread *thread)
{
    QObject here;
    QStringList events;
    m_reasons.clear();
    connect(m_worker.get(), &generateTiles::TotalSteps, &here,
            [&](int n) { events << QString("total %1").arg(n); });
    connect(m_worker.get(), &generateTiles::NextStep, &here,
            [&](int n) { events << QString("step %1").arg(n); });
    connect(m_worker.get(), &generateTiles::TileFailed, &here,
            [&](const QString &name, const QString &reason) {
                events << "failed " + (name.isEmpty() ? "(run)" : name);
                m_reasons << reason;
            });
    connect(m_worker.get(), &generateTiles::Complete, &here, [&](bool isError, int n) {
        events << QString(isError ? "complete error %1" : "complete %1").arg(n);
    });
    if (thread)
        thread->start();
    else
        m_worker->doGeneration();
    auto ended = [&] {
        return events.join(' ').contains("complete") && (!thread || thread->isFinished());
    };
    if (!QTest::qWaitFor(ended, 60000))
        events << "no end";
    return events.join(", ");
}

void TestGenerator::notop_getsNoTopAndNoShadow()
{
    QCOMPARE(tileFor("full", "full_notop.png"), solid(Size, Size, Bottom));
}

void TestGenerator::fullMask_topAtRowZeroShadowSixLower()
{
    const QImage tile = tileFor("full");
    QVERIFY(QColor(tile.pixel(0, 6)).lightness() < QColor(Bottom).lightness());
    QCOMPARE(tile, flatSurfaceTile(0, 0, tile.pixel(0, 0), tile.pixel(0, 6)));
}

void TestGenerator::emptyLeftHalf_getsNoTopThere()
{
    const QImage tile = tileFor("empty left half"); // the right half's surface is row 20
    QCOMPARE(tile, flatSurfaceTile(64, 20, tile.pixel(64, 20), tile.pixel(64, 26)));
}

void TestGenerator::tileSize64_isNearestNeighbourOf128()
{
    const QImage full = tileFor("slope");
    m_worker->tileSize = 64;
    const QImage small = tileFor("slope");
    QCOMPARE(small, full.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

void TestGenerator::topOpacity_zeroHidesTopAndShadow_halfBlendsTop()
{
    const QImage opaque = tileFor("full");
    m_style.topOpacity = 0.5f;
    const QImage half = tileFor("full");
    const QRgb top = opaque.pixel(0, 0), blend = half.pixel(0, 0);
    for (int c : {0, 8, 16}) // each channel halfway between the top and the bottom
        QVERIFY(qAbs(int(blend >> c & 255) - int((top >> c & 255) + (Bottom >> c & 255)) / 2) < 3);
    QCOMPARE(half, flatSurfaceTile(0, 0, blend, opaque.pixel(0, 6)));
    // Nor may a top pattern bring the shadow back.
    m_style = styleFrom("top=stripe topPattern=specks topOpacity=0", m_dir->path());
    QCOMPARE(tileFor("full"), solid(Size, Size, Bottom));
}

void TestGenerator::run_reportsEveryMaskInOrder_data()
{
    QTest::addColumn<QStringList>("names"); // bad*: does not decode, huge*: absurd size
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("reason"); // part of the first failure's reason
    QTest::addColumn<QStringList>("files");
    const QStringList two{"a.png", "b.png"}, none;
    QTest::newRow("three masks, one unreadable")
        << QStringList{"a.png", "bad.png", "c.png"} << "out" << 128
        << "total 3, step 1, failed bad.png, step 2, step 3, complete 3"
        << "" << QStringList{"a.png", "c.png"};
    QTest::newRow("absurd mask") << QStringList{"huge.png", "ok.png"} << "out" << 64
                                 << "total 2, failed huge.png, step 1, step 2, complete 2"
                                 << "60000 x 60000" << QStringList{"ok.png"};
    QTest::newRow("capital suffix") << QStringList{"Slope.PNG"} << "out" << 128 << counted(1, 1)
                                    << "" << QStringList{"Slope.PNG"};
    QTest::newRow("no masks") << none << "out" << 128 << counted(0, 0) << "" << none;
    QTest::newRow("missing output directory")
        << two << "not/there" << 128
        << "total 2, failed a.png, step 1, failed b.png, step 2, complete error 2"
        << "not/there" << none;
    const QString refused = "total 2, failed (run), complete error 0";
    for (int size : {0, -64, 1000000})
        QTest::addRow("tile size %d", size)
            << two << "out" << size << refused << QString::number(size) << none;
    QTest::newRow("no output directory, not /") << two << "" << 128 << refused << "" << none;
}

void TestGenerator::run_reportsEveryMaskInOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QString, output);
    QFETCH(int, size);
    QFETCH(QString, events);
    QFETCH(QString, reason);
    QFETCH(QStringList, files);
    for (const QString &name : names)
        QVERIFY(name.startsWith("bad") ? writeFile(path("alpha/" + name), "\x89PNG\r\n\x1a\nno")
                : name.startsWith("huge")
                    ? writeFile(path("alpha/" + name), hugePng())
                    : masks().value("slope").save(path("alpha/" + name), "PNG"));
    m_worker->setStyle(m_style);
    m_worker->tileSize = size;
    m_worker->outputDirectory = output.isEmpty() ? QString() : path(output);
    QCOMPARE(record(), events);
    QVERIFY2(m_reasons.value(0).contains(reason) && !m_reasons.contains(QString()),
             qPrintable(m_reasons.join('\n')));
    QCOMPARE(filesIn(path("out")), files);
    for (const QString &file : files) {
        QCOMPARE(QImageReader::imageFormat(path("out/" + file)), QByteArray("png"));
        QCOMPARE(QImage(path("out/" + file)).size(), QSize(size, size));
    }
    QVERIFY(!QFileInfo::exists(path("not")) && !QFileInfo::exists("/a.png"));
}

void TestGenerator::failedWrite_keepsExistingTileLeavesNothing_data()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("read-only output directory") << false;
    QTest::newRow("full disk") << true; // where QImage::save claims small files written
}

void TestGenerator::failedWrite_keepsExistingTileLeavesNothing()
{
    QFETCH(bool, full);
    addMask("a.png", masks().value("slope"));
    addMask("b.png", masks().value("full"));
    TmpfsMount mount(path("out"));
    if (!mount.mount())
        QSKIP("needs root to mount a small tmpfs");
    QVERIFY(QFile::copy(path("alpha/a.png"), path("out/a.png"))); // the older tile
    QVERIFY(full ? mount.fill() : mount.remountReadOnly());
    m_worker->setStyle(m_style);
    m_worker->threadCount = 2;
    QCOMPARE(record(), "total 2, failed a.png, step 1, failed b.png, step 2, complete error 2");
    QVERIFY2(!full || m_reasons.last().contains("space"), qPrintable(m_reasons.last()));
    QCOMPARE(QImage(path("out/a.png")), QImage(path("alpha/a.png")));
    QCOMPARE(filesIn(path("out")).join(' '), full ? "a.png filler" : "a.png");
}

void TestGenerator::severalThreads_orderedSignalsOracleTiles_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("size");
    QTest::newRow("one thread") << 1 << 128;
    QTest::newRow("two threads, 64") << 2 << 64;
    QTest::newRow("four threads") << 4 << 128;
    QTest::newRow("all cores, 64") << 0 << 64;
}

void TestGenerator::severalThreads_orderedSignalsOracleTiles()
{
    QFETCH(int, threads);
    QFETCH(int, size);
    // Fields off their defaults, so one that setStyle() forgets shows.
    m_style = styleFrom("top=grass topPattern=specks bottomPattern=bricks topColor=#edc "
                        "bottomColor=#46a topPatternColor=#284 bottomPatternColor=#a32 "
                        "topPatternOpacity=0.6 bottomPatternColorOpacity=0.3 shade=0.5",
                        m_dir->path());
    for (int i = 0; i < 30; ++i)
        addMask(variedMaskName(i), variedMask(i, i % 3 ? 128 : 64));
    QVERIFY(writeFile(path("alpha/mask0013x.png"), "broken"));
    m_worker->setStyle(m_style);
    m_worker->threadCount = threads;
    m_worker->tileSize = size;
    QString expected = counted(31, 31);
    QCOMPARE(record(), expected.replace("step 14,", "step 14, failed mask0013x.png,"));
    QCOMPARE(filesIn(path("out")).size(), 30);
    const GeneratorOracle::Layers layers = GeneratorOracle::prepare(m_style);
    for (int i = 0; i < 30; ++i) {
        const QImage want =
            GeneratorOracle::makeTile(layers, variedMask(i, i % 3 ? 128 : 64), i % 10 != 9, size);
        QVERIFY2(QImage(path("out/" + variedMaskName(i))) ==
                     want.convertToFormat(QImage::Format_ARGB32),
                 qPrintable(variedMaskName(i)));
    }
}

void TestGenerator::cancel_stopsAfterTilesInHand_thenRunsToTheEnd_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("two threads") << 2;
}

void TestGenerator::cancel_stopsAfterTilesInHand_thenRunsToTheEnd()
{
    QFETCH(int, threads);
    for (int i = 0; i < 60; ++i)
        addMask(variedMaskName(i), variedMask(i));
    m_worker->setStyle(m_style);
    m_worker->threadCount = threads;
    QThread thread;
    m_worker->attachToThread(&thread);
    m_worker->moveToThread(&thread);
    connect(m_worker.get(), &generateTiles::Complete, &thread, &QThread::quit,
            Qt::DirectConnection);
    // Asked from the worker's own thread, so the moment is exact.
    const auto cancel = connect(
        m_worker.get(), &generateTiles::NextStep, m_worker.get(),
        [&thread](int step) {
            if (step == 5)
                thread.requestInterruption();
        },
        Qt::DirectConnection);
    const QString events = record(&thread);
    const int handled = events.section(' ', -1).toInt();
    // One thread stops right after the tile in hand; a pool also finishes
    // the tiles its threads hold and those done ahead.
    QVERIFY2(threads == 1 ? handled == 5 : handled >= 5 && handled <= 5 + 8 * threads,
             qPrintable(events));
    QCOMPARE(events, counted(60, handled));
    const QStringList files = filesIn(path("out"));
    QCOMPARE(files.size(), handled);
    for (const QString &file : files) // whole tiles only
        QVERIFY2(!QImage(path("out/" + file)).isNull(), qPrintable(file));
    // The next start runs to the end: start() clears the request.
    disconnect(cancel);
    QCOMPARE(record(&thread), counted(60, 60));
    QCOMPARE(filesIn(path("out")).size(), 60);
}

QTEST_GUILESS_MAIN(TestGenerator)
#include "tst_generator.moc"
