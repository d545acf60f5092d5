#include "tmpfsmount.h"

#include <QImageReader>
#include <QtTest>

namespace {

constexpr int N = 1, NE = 2, E = 4, SE = 8, S = 16, SW = 32, W = 64, NW = 128;
constexpr int Tile = 128, Inset = 8;

// Written here again on purpose rather than taken from the program: the
// test must not share a mistake with what it checks.
int canonical(int m)
{
    for (const int corner : {NE, SE, SW, NW}) {
        const int edges = (corner & (NE | NW) ? N : S) | (corner & (NE | SE) ? E : W);
        m &= (m & edges) == edges ? 255 : ~corner;
    }
    return m;
}

QString blobName(int mask)
{
    return QString::asprintf("blob_%03d%s.png", mask, (mask & N) ? "_notop" : "");
}

// The masks of two solid cells side by side (one above the other when
// vertical) for every filling of the ten cells around them: a 4 x 3 block,
// transposed when vertical, whose cells (1,1) and (2,1) are solid.
QSet<QPair<int, int>> touchingPairs(bool vertical)
{
    QSet<QPair<int, int>> pairs;
    for (int bits = 0; bits < 1 << 12; ++bits) {
        const auto cell = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < 4 && y < 3 &&
                   ((y == 1 && (x == 1 || x == 2)) || (bits >> (y * 4 + x)) & 1);
        };
        const auto maskAt = [&](int x, int y) {
            const int dx[] = {0, 1, 1, 1, 0, -1, -1, -1}, dy[] = {-1, -1, 0, 1, 1, 1, 0, -1};
            int m = 0;
            for (int i = 0; i < 8; ++i)
                m |= (vertical ? cell(y + dy[i], x + dx[i]) : cell(x + dx[i], y + dy[i])) << i;
            return canonical(m);
        };
        pairs.insert({maskAt(1, 1), vertical ? maskAt(1, 2) : maskAt(2, 1)});
    }
    return pairs;
}

bool solid(const QImage &mask, int x, int y)
{
    return qAlpha(mask.pixel(x, y)) != 0;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file of the library under root, by its name there.
QMap<QString, QByteArray> library(const QString &root)
{
    QMap<QString, QByteArray> files;
    for (const QString kind : {"TopStyles", "Patterns", "Alpha"})
        for (const QString &file : QDir(root + kind).entryList(QDir::Files | QDir::Hidden))
            files.insert(kind + QLatin1Char('/') + file, fileBytes(root + kind + '/' + file));
    return files;
}

// The exit code, -1 when the program crashed or hung.
int runGenerator(const QStringList &arguments, QString *errors = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(TW_ASSETGEN), arguments);
    const bool done = process.waitForFinished(60000);
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

// Runs the asset program the build uses and checks the library it draws.
class TestDefaultAssets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void library_holdsEveryKind_inTwoIdenticalRuns_data();
    void library_holdsEveryKind_inTwoIdenticalRuns();
    void blobSet_namesAndShapesFollowTheBitmask();
    void blobTiles_joinWithoutSeams_data();
    void blobTiles_joinWithoutSeams();
    void badTarget_failsWithMessage_data();
    void badTarget_failsWithMessage();
    void fullDisk_failsWithoutBrokenFiles();

private:
    QTemporaryDir work;
    QMap<int, QImage> blobs;
};

void TestDefaultAssets::initTestCase()
{
    QVERIFY(QDir::setCurrent(work.path())); // the library; a second one and others beside it
    QString errors;
    for (const QString &target : {work.path(), work.filePath(QStringLiteral("again"))})
        QVERIFY2(runGenerator({target}, &errors) == 0, qPrintable(errors));
    for (int mask = 0; mask < 256; ++mask)
        if (canonical(mask) == mask)
            blobs.insert(mask, QImage(QStringLiteral("Alpha/") + blobName(mask)));
}

void TestDefaultAssets::library_holdsEveryKind_inTwoIdenticalRuns_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QString>("required");
    QTest::newRow("top shapes") << "TopStyles" << 5 << "";
    QTest::newRow("patterns") << "Patterns" << 6 << "";
    // Besides the 47 blob tiles: full and covered blocks, slopes of two
    // angles both ways, plateau ends and thin platforms.
    QTest::newRow("alpha masks")
        << "Alpha" << 47 + 14
        << "full full_notop slope45_up slope45_down slope22_up_low slope22_up_high "
           "slope22_down_low slope22_down_high corner_outer_left corner_outer_right "
           "platform_left platform_middle platform_right platform_single";
}

void TestDefaultAssets::library_holdsEveryKind_inTwoIdenticalRuns()
{
    QFETCH(QString, kind);
    QFETCH(int, minimum);
    QFETCH(QString, required);
    const QStringList names = QDir(kind).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(names.size() >= minimum, qPrintable(names.join(QLatin1Char(' '))));
    for (const QString &name : required.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        QVERIFY2(names.contains(name + QLatin1String(".png")), qPrintable(name));
    for (const QString &file : names) {
        // Only finished PNGs, no temporary files left from the atomic saves,
        // and the same bytes from a second run.
        const QString path = kind + QLatin1Char('/') + file;
        QVERIFY2(fileBytes(path) == fileBytes(QStringLiteral("again/") + path), qPrintable(path));
        QCOMPARE(QImageReader(path).format(), QByteArray("png"));
        // Tiles are square; top shapes are strips along a tile's top.
        const QImage image(path);
        const bool top = kind == QLatin1String("TopStyles");
        QCOMPARE(image.size(), QSize(Tile, top ? qMin(image.height(), 64) : Tile));
    }
}

void TestDefaultAssets::blobSet_namesAndShapesFollowTheBitmask()
{
    QStringList expected;
    for (int mask : blobs.keys())
        expected.append(blobName(mask));
    QCOMPARE(expected.size(), 47);
    QCOMPARE(QDir(QStringLiteral("Alpha")).entryList({QStringLiteral("blob_*")}), expected);
    // Per direction N, NE, ..., NW, the border pixels solid when its bit is
    // set and clear when not: a solid side fills its border's middle, an open
    // one keeps off all of it, a corner square follows its bit (with both
    // edges solid and the bit clear, that is the inner-corner notch).
    const int far = Tile - Inset, last = Tile - 1, middle = Tile - 2 * Inset;
    const QRect whenSet[] = {{Inset, 0, middle, 1},    {far, 0, Inset, Inset},
                             {last, Inset, 1, middle}, {far, far, Inset, Inset},
                             {Inset, last, middle, 1}, {0, far, Inset, Inset},
                             {0, Inset, 1, middle},    {0, 0, Inset, Inset}};
    const QRect whenClear[] = {{0, 0, Tile, 1},    whenSet[1], {last, 0, 1, Tile}, whenSet[3],
                               {0, last, Tile, 1}, whenSet[5], {0, 0, 1, Tile},    whenSet[7]};
    for (auto it = blobs.cbegin(); it != blobs.cend(); ++it) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool set = it.key() & 1 << bit;
            const QRect r = set ? whenSet[bit] : whenClear[bit];
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    if (solid(*it, x, y) != set)
                        QFAIL(qPrintable(
                            QStringLiteral("%1 at %2,%3").arg(blobName(it.key())).arg(x).arg(y)));
        }
    }
}

void TestDefaultAssets::blobTiles_joinWithoutSeams_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::newRow("side by side") << false;
    QTest::newRow("one above the other") << true;
}

void TestDefaultAssets::blobTiles_joinWithoutSeams()
{
    QFETCH(bool, vertical);
    const QSet<QPair<int, int>> pairs = touchingPairs(vertical);
    for (const auto &pair : pairs) {
        const QImage a = blobs.value(pair.first), b = blobs.value(pair.second);
        for (int i = 0; i < Tile; ++i)
            if ((vertical ? solid(a, i, Tile - 1) : solid(a, Tile - 1, i)) !=
                (vertical ? solid(b, i, 0) : solid(b, 0, i)))
                QFAIL(qPrintable(blobName(pair.first) + " then " + blobName(pair.second)));
    }
}

void TestDefaultAssets::badTarget_failsWithMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("no argument") << QStringList() << 2 << "usage";
    QTest::newRow("folder under a file")
        << QStringList{QStringLiteral("blocker/Assets")} << 1 << "cannot create the folder";
}

void TestDefaultAssets::badTarget_failsWithMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFile blocker(QStringLiteral("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly) && blocker.write("not a folder") == 12);
    blocker.close();
    QString errors;
    QCOMPARE(runGenerator(arguments, &errors), exitCode);
    QVERIFY2(errors.contains(message), qPrintable(errors));
    QCOMPARE(fileBytes(blocker.fileName()), QByteArray("not a folder"));
}

void TestDefaultAssets::fullDisk_failsWithoutBrokenFiles()
{
    QVERIFY(QDir().mkpath(QStringLiteral("small")));
    TmpfsMount disk(work.filePath(QStringLiteral("small")));
    if (!disk.mount(QStringLiteral("48k"))) // room for a few files only
        QSKIP("needs root to mount a tiny tmpfs as a full disk");
    QString errors;
    QVERIFY(runGenerator({QStringLiteral("small")}, &errors) > 0);
    QVERIFY2(errors.contains(QLatin1String("cannot")), qPrintable(errors));
    // Whatever did get written is complete and exactly what a good run writes.
    const auto written = library(QStringLiteral("small/")), whole = library(QString());
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QVERIFY2(it.value() == whole.value(it.key()), qPrintable(it.key()));
    QVERIFY(written.size() < whole.size());
}

QTEST_GUILESS_MAIN(TestDefaultAssets)
#include "tst_defaultassets.moc"
