// The generator worker: what it writes, what it reports and in which order,
// on its own thread, cancelled, with several threads, and when the disk or
// the masks let it down.

#include "generatetiles.h"
#include "generatorfixtures.h"
#include "generatororacle.h"
#include "tilepipeline.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

using namespace GeneratorFixtures;

const QRgb Bottom = qRgb(0xc3, 0x93, 0x66);

// A plain 4-row top, opaque: rows 0-3 of a tile are the top, rows 6-9 its
// shadow.
QImage stripeTop()
{
    QImage top(Size, 4, QImage::Format_ARGB32);
    top.fill(qRgb(20, 60, 200));
    return top;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file in dir, hidden ones (temporary files) included.
QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The order of everything the worker says, as text.
class Recorder : public QObject
{
public:
    explicit Recorder(generateTiles &worker, Qt::ConnectionType type = Qt::AutoConnection)
    {
        connect(
            &worker, &generateTiles::TotalSteps, this,
            [this](int n) { events << QStringLiteral("TotalSteps(%1)").arg(n); }, type);
        connect(
            &worker, &generateTiles::NextStep, this,
            [this](int n) { events << QStringLiteral("NextStep(%1)").arg(n); }, type);
        connect(
            &worker, &generateTiles::Complete, this,
            [this](bool isError, int n) {
                events << QStringLiteral("Complete(%1, %2)").arg(isError ? "true" : "false").arg(n);
                completed = true;
            },
            type);
        connect(
            &worker, &generateTiles::TileFailed, this,
            [this](const QString &name, const QString &reason) {
                events << QStringLiteral("TileFailed(%1)").arg(name);
                reasons << reason;
            },
            type);
    }

    QStringList steps() const
    {
        QStringList list;
        for (const QString &e : events)
            if (!e.startsWith("TileFailed"))
                list << e;
        return list;
    }

    QStringList events;
    QStringList reasons;
    bool completed = false;
};

QStringList expectedSteps(int total, int done, bool isError)
{
    QStringList list{QStringLiteral("TotalSteps(%1)").arg(total)};
    for (int i = 1; i <= done; ++i)
        list << QStringLiteral("NextStep(%1)").arg(i);
    list << QStringLiteral("Complete(%1, %2)").arg(isError ? "true" : "false").arg(done);
    return list;
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
    void tileSize_givesSquareTiles_data();
    void tileSize_givesSquareTiles();
    void topOpacityZero_noTopNoShadow();
    void topOpacityHalf_halfTopSameShadow();
    void capitalSuffix_keepsName();
    void writtenTiles_matchStepByStep();
    void drapeTopLayer_matchesStepByStep();
    void setStyle_copiesEveryField();

    void oneUnreadableMask_reportedAndSkipped();
    void absurdMask_refusedBeforeDecoding();
    void emptyMaskDirectory_completesWithZero();
    void missingOutputDirectory_everyTileFails();
    void readOnlyOutputDirectory_everyTileFails();
    void badTileSize_refusedCleanly_data();
    void badTileSize_refusedCleanly();
    void emptyDirectories_neverMeanCurrentOrRoot();
    void existingTile_survivesFailedWrite();
    void fullDisk_leavesOnlyWholeTiles();

    void severalThreads_signalsInOrderSameFiles_data();
    void severalThreads_signalsInOrderSameFiles();
    void realThread_twoRunsInARow();
    void interruption_stopsAfterTilesInHand_data();
    void interruption_stopsAfterTilesInHand();

private:
    // A worker on the flat design with the stripe top, reading alpha/ and
    // writing out/ of a fresh directory.
    void setUpWorker(generateTiles &worker);
    QString alphaDir() const { return m_dir->filePath("alpha"); }
    QString outDir() const { return m_dir->filePath("out"); }
    void addMask(const QString &name, const QImage &mask)
    {
        QVERIFY(mask.save(alphaDir() + "/" + name, "PNG"));
    }
    QImage tile(const QString &name) const { return QImage(outDir() + "/" + name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    TileStyle m_style;
};

void TestGenerator::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath("alpha"));
    QVERIFY(QDir(m_dir->path()).mkpath("out"));
    m_style = TileStyle();
    m_style.topStyle = m_dir->filePath("stripe.png");
    QVERIFY(stripeTop().save(m_style.topStyle));
    QCOMPARE(m_style.bottomColor.rgb(), Bottom);
}

void TestGenerator::setUpWorker(generateTiles &worker)
{
    worker.setStyle(m_style);
    worker.alphaDirectory = alphaDir();
    worker.outputDirectory = outDir();
    worker.tileSize = 128;
    worker.threadCount = 1;
}

void TestGenerator::notop_getsNoTopAndNoShadow()
{
    addMask("full_notop.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    const QImage t = tile("full_notop.png");
    QCOMPARE(t.size(), QSize(128, 128));
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            QCOMPARE(t.pixel(x, y), Bottom);
}

void TestGenerator::fullMask_topAtRowZeroShadowSixLower()
{
    addMask("full.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    const QImage t = tile("full.png");
    const QColor bottom(Bottom);
    for (int x = 0; x < 128; ++x) {
        for (int y = 0; y < 4; ++y)
            QVERIFY2(t.pixel(x, y) != Bottom && qAlpha(t.pixel(x, y)) == 255,
                     qPrintable(QStringLiteral("no top at (%1, %2)").arg(x).arg(y)));
        QCOMPARE(t.pixel(x, 4), Bottom);
        QCOMPARE(t.pixel(x, 5), Bottom);
        for (int y = 6; y < 10; ++y)
            QVERIFY2(QColor(t.pixel(x, y)).lightness() < bottom.lightness(),
                     qPrintable(QStringLiteral("no shadow at (%1, %2)").arg(x).arg(y)));
        QCOMPARE(t.pixel(x, 10), Bottom);
        QCOMPARE(t.pixel(x, 127), Bottom);
    }
}

void TestGenerator::emptyLeftHalf_getsNoTopThere()
{
    addMask("half.png", emptyLeftHalfMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    const QImage t = tile("half.png");
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 128; ++y)
            QCOMPARE(qAlpha(t.pixel(x, y)), 0);
    const QRgb top = t.pixel(100, 20);
    QVERIFY(top != Bottom);
    for (int x = 64; x < 128; ++x) {
        QCOMPARE(qAlpha(t.pixel(x, 19)), 0);
        QCOMPARE(t.pixel(x, 20), top); // the surface of the right half is row 20
        QCOMPARE(t.pixel(x, 24), Bottom);
    }
}

void TestGenerator::tileSize_givesSquareTiles_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("128") << 128;
    QTest::newRow("64") << 64;
    QTest::newRow("1") << 1;
}

void TestGenerator::tileSize_givesSquareTiles()
{
    QFETCH(int, size);
    addMask("slope.png", slopeMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.tileSize = size;
    worker.doGeneration();
    const QImage t = tile("slope.png");
    QCOMPARE(t.size(), QSize(size, size));
    if (size == 64) {
        // Nearest neighbour: every other pixel of the 128 tile.
        worker.tileSize = 128;
        worker.doGeneration();
        const QImage full = tile("slope.png");
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                QCOMPARE(t.pixel(x, y), full.pixel(2 * x, 2 * y));
    }
}

void TestGenerator::topOpacityZero_noTopNoShadow()
{
    addMask("full.png", fullMask());
    addMask("full_notop.png", fullMask());
    m_style.topOpacity = 0.0f;
    // A top pattern must not bring the shadow back.
    m_style.topPattern =
        QFileInfo(PreviewFixtures::save(PreviewFixtures::specks(), QDir(m_dir->path()), "sp.png"));
    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    QCOMPARE(tile("full.png"), tile("full_notop.png"));
}

void TestGenerator::topOpacityHalf_halfTopSameShadow()
{
    addMask("full.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    const QImage opaque = tile("full.png");
    worker.topOpacity = 0.5f;
    worker.doGeneration();
    const QImage half = tile("full.png");

    const QColor top(opaque.pixel(10, 1));
    const QColor blend(half.pixel(10, 1));
    const QColor bottom(Bottom);
    for (auto channel : {&QColor::red, &QColor::green, &QColor::blue}) {
        const int expected = ((top.*channel)() + (bottom.*channel)()) / 2;
        QVERIFY2(qAbs((blend.*channel)() - expected) <= 2,
                 qPrintable(QStringLiteral("%1 is not halfway between %2 and %3")
                                .arg(blend.name(), top.name(), bottom.name())));
    }
    for (int y = 6; y < 10; ++y)
        QCOMPARE(half.pixel(10, y), opaque.pixel(10, y));
}

void TestGenerator::capitalSuffix_keepsName()
{
    addMask("Slope.PNG", slopeMask());
    generateTiles worker;
    setUpWorker(worker);
    QSignalSpy total(&worker, &generateTiles::TotalSteps);
    worker.doGeneration();
    QCOMPARE(total.first().first().toInt(), 1);
    QCOMPARE(filesIn(outDir()), QStringList{"Slope.PNG"});
    QCOMPARE(QImageReader(outDir() + "/Slope.PNG").format(), QByteArray("png"));
}

// End to end: the files read back as exactly what Qt's own writer makes of
// the step-by-step tiles.
void TestGenerator::writtenTiles_matchStepByStep()
{
    m_style = texturedStyle(QDir(m_dir->path()));
    const QList<QPair<QString, QImage>> masks{{"a.png", slopeMask()},
                                              {"b_notop.png", antialiasedMask()},
                                              {"c.png", greyMask()},
                                              {"d.png", smallMask()}};
    for (const auto &mask : masks)
        addMask(mask.first, mask.second);
    generateTiles worker;
    setUpWorker(worker);
    worker.threadCount = 2;
    worker.tileSize = 64;
    worker.doGeneration();

    const GeneratorOracle::Layers layers = GeneratorOracle::prepare(m_style);
    for (const auto &mask : masks) {
        const QImage expected =
            GeneratorOracle::makeTile(layers, mask.second, TilePipeline::wantsTop(mask.first), 64);
        QVERIFY(expected.save(m_dir->filePath("expected.png")));
        const QImage want = QImage(m_dir->filePath("expected.png"));
        const QImage got = tile(mask.first);
        QCOMPARE(got.format(), want.format());
        QVERIFY2(got == want, qPrintable(mask.first));
    }
}

void TestGenerator::drapeTopLayer_matchesStepByStep()
{
    m_style = texturedStyle(QDir(m_dir->path()));
    m_style.topOpacity = 0.7f;
    const GeneratorOracle::Layers layers = GeneratorOracle::prepare(m_style);
    generateTiles worker;
    worker.setStyle(m_style);
    const QImage tops[] = {layers.top, stripeTop(), PreviewFixtures::pixelTop(60, 20)};
    for (const QImage &top : tops) {
        for (const QImage &mask : {slopeMask(), emptyColumnsMask(), offBottomMask()}) {
            QImage expected = layers.base.copy();
            GeneratorOracle::drapeTopLayer(layers, mask, top, expected);
            QImage actual = layers.base.copy();
            worker.drapeTopLayer(mask, top, actual);
            QCOMPARE(actual.format(), expected.format());
            QVERIFY(actual == expected);
        }
    }
}

void TestGenerator::setStyle_copiesEveryField()
{
    TileStyle style = texturedStyle(QDir(m_dir->path()));
    style.topColor = QColor(1, 2, 3);
    style.bottomColor = QColor(4, 5, 6);
    style.topPatternColor = QColor(7, 8, 9);
    style.bottomPatternColor = QColor(10, 11, 12);
    style.topOpacity = 0.11f;
    style.topPatternOpacity = 0.12f;
    style.shade = 0.13f;
    style.topPatternColorOpacity = 0.14f;
    style.bottomOpacity = 0.15f;
    style.bottomPatternOpacity = 0.16f;
    style.bottomPatternColorOpacity = 0.17f;
    style.topDown = true;
    generateTiles worker;
    worker.setStyle(style);
    const TileStyle copy = worker.currentStyle();
    QCOMPARE(copy.topColor, style.topColor);
    QCOMPARE(copy.bottomColor, style.bottomColor);
    QCOMPARE(copy.topPatternColor, style.topPatternColor);
    QCOMPARE(copy.bottomPatternColor, style.bottomPatternColor);
    QCOMPARE(copy.topOpacity, style.topOpacity);
    QCOMPARE(copy.topPatternOpacity, style.topPatternOpacity);
    QCOMPARE(copy.shade, style.shade);
    QCOMPARE(copy.topPatternColorOpacity, style.topPatternColorOpacity);
    QCOMPARE(copy.bottomOpacity, style.bottomOpacity);
    QCOMPARE(copy.bottomPatternOpacity, style.bottomPatternOpacity);
    QCOMPARE(copy.bottomPatternColorOpacity, style.bottomPatternColorOpacity);
    QCOMPARE(copy.topPattern, style.topPattern);
    QCOMPARE(copy.bottomPattern, style.bottomPattern);
    QCOMPARE(copy.topStyle, style.topStyle);
    QCOMPARE(copy.topDown, style.topDown);
}

void TestGenerator::oneUnreadableMask_reportedAndSkipped()
{
    addMask("a.png", slopeMask());
    writeFile(alphaDir() + "/b.png", QByteArray("\x89PNG\r\n\x1a\nthis is no image", 24));
    addMask("c.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    Recorder recorder(worker);
    worker.doGeneration();

    QCOMPARE(recorder.events, QStringList({"TotalSteps(3)", "NextStep(1)", "TileFailed(b.png)",
                                           "NextStep(2)", "NextStep(3)", "Complete(false, 3)"}));
    QCOMPARE(worker.tileCount, 3);
    QVERIFY(!recorder.reasons.first().isEmpty());
    QCOMPARE(filesIn(outDir()), QStringList({"a.png", "c.png"}));
}

void TestGenerator::absurdMask_refusedBeforeDecoding()
{
    writeFile(alphaDir() + "/huge.png", declaredPng(60000, 60000));
    addMask("ok.png", slopeMask());
    generateTiles worker;
    setUpWorker(worker);
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.steps(), expectedSteps(2, 2, false));
    QCOMPARE(recorder.reasons.size(), 1);
    QVERIFY2(recorder.reasons.first().contains("60000 x 60000"),
             qPrintable(recorder.reasons.first()));
    QCOMPARE(filesIn(outDir()), QStringList{"ok.png"});
}

void TestGenerator::emptyMaskDirectory_completesWithZero()
{
    generateTiles worker;
    setUpWorker(worker);
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.events, expectedSteps(0, 0, false));
}

void TestGenerator::missingOutputDirectory_everyTileFails()
{
    addMask("a.png", slopeMask());
    addMask("b.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.outputDirectory = m_dir->filePath("not/there");
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.events,
             QStringList({"TotalSteps(2)", "TileFailed(a.png)", "NextStep(1)", "TileFailed(b.png)",
                          "NextStep(2)", "Complete(true, 2)"}));
    QVERIFY2(recorder.reasons.first().contains("not/there"), qPrintable(recorder.reasons.first()));
    QVERIFY(!QFileInfo::exists(m_dir->filePath("not")));
}

void TestGenerator::readOnlyOutputDirectory_everyTileFails()
{
    addMask("a.png", slopeMask());
    addMask("b.png", fullMask());
    // Root writes through permission bits; a read-only file system stops
    // everyone.
    TmpfsMount mount(outDir());
    if (TmpfsMount::isRoot()) {
        if (!mount.mount() || !mount.remountReadOnly())
            QSKIP("cannot mount a read-only tmpfs");
    } else {
        QVERIFY(QFile::setPermissions(outDir(), QFile::ReadOwner | QFile::ExeOwner));
    }
    generateTiles worker;
    setUpWorker(worker);
    Recorder recorder(worker);
    worker.doGeneration();
    QFile::setPermissions(outDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(recorder.events,
             QStringList({"TotalSteps(2)", "TileFailed(a.png)", "NextStep(1)", "TileFailed(b.png)",
                          "NextStep(2)", "Complete(true, 2)"}));
    QVERIFY(filesIn(outDir()).isEmpty());
}

void TestGenerator::badTileSize_refusedCleanly_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("0") << 0;
    QTest::newRow("negative") << -64;
    QTest::newRow("absurd") << 1000000;
}

void TestGenerator::badTileSize_refusedCleanly()
{
    QFETCH(int, size);
    addMask("a.png", slopeMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.tileSize = size;
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.events, QStringList({"TotalSteps(1)", "TileFailed()", "Complete(true, 0)"}));
    QVERIFY2(recorder.reasons.first().contains(QString::number(size)),
             qPrintable(recorder.reasons.first()));
    QVERIFY(filesIn(outDir()).isEmpty());
}

void TestGenerator::emptyDirectories_neverMeanCurrentOrRoot()
{
    // Masks in the working directory must not be picked up by an empty
    // mask directory, and an empty output directory must not mean "/".
    addMask("a.png", slopeMask());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(alphaDir()));
    generateTiles worker;
    setUpWorker(worker);
    worker.alphaDirectory.clear();
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.events, expectedSteps(0, 0, false));

    worker.alphaDirectory = alphaDir();
    worker.outputDirectory.clear();
    Recorder second(worker);
    worker.doGeneration();
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(second.events, QStringList({"TotalSteps(1)", "TileFailed()", "Complete(true, 0)"}));
    QVERIFY(!QFileInfo::exists("/a.png"));
}

void TestGenerator::existingTile_survivesFailedWrite()
{
    addMask("a.png", slopeMask());
    TmpfsMount mount(outDir());
    if (!mount.mount())
        QSKIP("needs root to mount a small tmpfs for a full disk");
    const QByteArray old = readFile(alphaDir() + "/a.png");
    writeFile(outDir() + "/a.png", old);
    QVERIFY(mount.fill());

    generateTiles worker;
    setUpWorker(worker);
    m_style = texturedStyle(QDir(m_dir->path())); // a tile that cannot fit
    worker.setStyle(m_style);
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.events, QStringList({"TotalSteps(1)", "TileFailed(a.png)", "NextStep(1)",
                                           "Complete(true, 1)"}));
    QCOMPARE(readFile(outDir() + "/a.png"), old);
    QCOMPARE(filesIn(outDir()), QStringList({"a.png", "filler"}));
}

void TestGenerator::fullDisk_leavesOnlyWholeTiles()
{
    TmpfsMount mount(outDir());
    if (!mount.mount("96k"))
        QSKIP("needs root to mount a small tmpfs for a full disk");
    m_style = texturedStyle(QDir(m_dir->path()));
    for (int i = 0; i < 40; ++i)
        addMask(variedMaskName(i), variedMask(i));

    generateTiles worker;
    setUpWorker(worker);
    worker.threadCount = 2;
    Recorder recorder(worker);
    worker.doGeneration();

    const QStringList files = filesIn(outDir());
    const int failed = recorder.reasons.size();
    QVERIFY2(failed > 0, "the disk never filled up");
    QVERIFY2(!files.isEmpty(), "not a single tile fitted");
    QCOMPARE(files.size() + failed, 40);
    QCOMPARE(recorder.steps(), expectedSteps(40, 40, false));
    for (const QString &file : files) {
        QImageReader reader(outDir() + "/" + file);
        QImage image;
        QVERIFY2(reader.read(&image), qPrintable(file + ": " + reader.errorString()));
        QCOMPARE(image.size(), QSize(128, 128));
    }
    QVERIFY2(recorder.reasons.last().contains("space", Qt::CaseInsensitive),
             qPrintable(recorder.reasons.last()));
}

void TestGenerator::severalThreads_signalsInOrderSameFiles_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("2") << 2;
    QTest::newRow("4") << 4;
    QTest::newRow("all cores") << 0;
}

void TestGenerator::severalThreads_signalsInOrderSameFiles()
{
    QFETCH(int, threads);
    m_style = texturedStyle(QDir(m_dir->path()));
    const int count = 30;
    for (int i = 0; i < count; ++i)
        addMask(variedMaskName(i), variedMask(i, i % 3 ? 128 : 64));
    writeFile(alphaDir() + "/mask0013x.png", "broken"); // one failure in the middle

    generateTiles worker;
    setUpWorker(worker);
    worker.doGeneration();
    QMap<QString, QByteArray> single;
    for (const QString &file : filesIn(outDir()))
        single.insert(file, readFile(outDir() + "/" + file));
    QVERIFY(QDir(outDir()).removeRecursively());
    QVERIFY(QDir().mkpath(outDir()));

    worker.threadCount = threads;
    Recorder recorder(worker);
    worker.doGeneration();
    QCOMPARE(recorder.steps(), expectedSteps(count + 1, count + 1, false));
    QCOMPARE(recorder.events.indexOf("TileFailed(mask0013x.png)") + 1,
             recorder.events.indexOf(QStringLiteral("NextStep(%1)").arg(15)));
    QCOMPARE(filesIn(outDir()), QStringList(single.keys()));
    for (const QString &file : single.keys())
        QVERIFY2(readFile(outDir() + "/" + file) == single.value(file), qPrintable(file));
}

void TestGenerator::realThread_twoRunsInARow()
{
    addMask("a.png", slopeMask());
    addMask("b.png", fullMask());
    generateTiles worker;
    setUpWorker(worker);
    worker.threadCount = 0;
    QThread thread;
    worker.attachToThread(&thread);
    worker.moveToThread(&thread);
    connect(&worker, &generateTiles::Complete, &thread, &QThread::quit);

    for (int run = 0; run < 2; ++run) {
        Recorder recorder(worker);
        QSignalSpy finished(&thread, &QThread::finished);
        thread.start();
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY(recorder.completed);
        QCOMPARE(recorder.events, expectedSteps(2, 2, false));
        QCOMPARE(filesIn(outDir()), QStringList({"a.png", "b.png"}));
        QVERIFY(QFile::remove(outDir() + "/a.png"));
    }
}

void TestGenerator::interruption_stopsAfterTilesInHand_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("two threads") << 2;
}

void TestGenerator::interruption_stopsAfterTilesInHand()
{
    QFETCH(int, threads);
    const int count = 60;
    for (int i = 0; i < count; ++i)
        addMask(variedMaskName(i), variedMask(i));
    generateTiles worker;
    setUpWorker(worker);
    worker.threadCount = threads;
    QThread thread;
    worker.attachToThread(&thread);
    worker.moveToThread(&thread);
    connect(&worker, &generateTiles::Complete, &thread, &QThread::quit);
    // Asked from the worker's own thread, so the moment is exact.
    const QMetaObject::Connection interrupt = connect(
        &worker, &generateTiles::NextStep, &worker,
        [&thread](int step) {
            if (step == 5)
                thread.requestInterruption();
        },
        Qt::DirectConnection);

    {
        Recorder recorder(worker);
        QSignalSpy finished(&thread, &QThread::finished);
        thread.start();
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY(recorder.completed);
        const QString last = recorder.events.last();
        QVERIFY2(last.startsWith("Complete(false, "), qPrintable(last));
        const int handled = last.section(", ", 1).chopped(1).toInt();
        // One thread stops right after the tile in hand; a pool also
        // finishes the tiles its threads hold and those done ahead.
        if (threads == 1)
            QCOMPARE(handled, 5);
        QVERIFY2(handled >= 5 && handled <= 5 + 8 * threads, qPrintable(last));
        QCOMPARE(recorder.steps(), expectedSteps(count, handled, false));
        // Exactly the tiles handled, each whole, nothing half-written.
        const QStringList files = filesIn(outDir());
        QCOMPARE(files.size(), handled);
        for (const QString &file : files) {
            QImage image;
            QVERIFY2(QImageReader(outDir() + "/" + file).read(&image), qPrintable(file));
        }
    }

    // QThread::start() clears the request: the next run goes to the end.
    {
        Recorder recorder(worker);
        QSignalSpy finished(&thread, &QThread::finished);
        disconnect(interrupt);
        thread.start();
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY(recorder.completed);
        QCOMPARE(recorder.events.last(), QStringLiteral("Complete(false, %1)").arg(count));
        QCOMPARE(filesIn(outDir()).size(), count);
    }
}

QTEST_GUILESS_MAIN(TestGenerator)
#include "tst_generator.moc"
