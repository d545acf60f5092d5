#include "tmpfsmount.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>

// Runs the asset program the build uses and checks the library it draws: the
// counts and kinds, the file formats the generator relies on, that the blob
// tiles join wherever the bitmask lets them touch, that patterns and top
// shapes repeat without a seam, that two runs agree byte for byte, and that
// failures are reported and never leave a broken file behind.
class TestDefaultAssets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void folderHoldsEnough_data();
    void folderHoldsEnough();
    void namedMaskExists_data();
    void namedMaskExists();
    void masksAreTwoToneTiles();
    void patternsAreOpaqueMiddleGreyTiles();
    void topShapesAreGreyStripsWithASolidFirstRow();

    void blobSetHasExactlyTheCanonicalNames();
    void blobSidesFollowTheBitmask();
    void blobSurfacesStayNearTheTop();
    void blobTilesJoinWithoutSeams_data();
    void blobTilesJoinWithoutSeams();
    void slopesMeetTheirNeighbours_data();
    void slopesMeetTheirNeighbours();

    void patternsRepeatWithoutSeams_data();
    void patternsRepeatWithoutSeams();
    void seamCheckCatchesBrokenPatterns_data();
    void seamCheckCatchesBrokenPatterns();
    void topShapesRepeatLeftToRight();

    void twoRunsGiveIdenticalBytes();
    void rerunLeavesCorrectFilesUntouched();
    void rerunRepairsADamagedFile();
    void noArgument_printsUsage();
    void folderUnderAFile_failsWithMessage();
    void fullDisk_failsWithoutBrokenFiles();

private:
    struct Run
    {
        int exitCode = -1;
        QString errors;
    };
    static Run runGenerator(const QStringList &arguments);
    QString folder(const QString &name) const { return root + QLatin1Char('/') + name; }
    QStringList files(const QString &name) const;
    QImage image(const QString &folderName, const QString &file) const;

    QTemporaryDir work;
    QString root;
    QString secondRoot;
};

namespace {

enum Bit
{
    N = 1,
    NE = 2,
    E = 4,
    SE = 8,
    S = 16,
    SW = 32,
    W = 64,
    NW = 128
};
constexpr int Tile = 128;
constexpr int Inset = 8;

// Written here again on purpose rather than taken from the program: the
// test must not share a mistake with what it checks.
int canonical(int m)
{
    if (!(m & N) || !(m & E))
        m &= ~NE;
    if (!(m & S) || !(m & E))
        m &= ~SE;
    if (!(m & S) || !(m & W))
        m &= ~SW;
    if (!(m & N) || !(m & W))
        m &= ~NW;
    return m;
}

QString blobName(int mask)
{
    return QStringLiteral("blob_%1%2.png")
        .arg(mask, 3, 10, QLatin1Char('0'))
        .arg((mask & N) ? QStringLiteral("_notop") : QString());
}

// The bitmask of the cell at (x, y) of a small map given as a solid() test.
int maskAt(const std::function<bool(int, int)> &solid, int x, int y)
{
    int m = 0;
    const int dx[] = {0, 1, 1, 1, 0, -1, -1, -1};
    const int dy[] = {-1, -1, 0, 1, 1, 1, 0, -1};
    for (int i = 0; i < 8; ++i)
        if (solid(x + dx[i], y + dy[i]))
            m |= 1 << i;
    return canonical(m);
}

// Every pair of tiles that may sit side by side (or one above the other):
// all solid/empty fillings of the ring around two solid cells.
QSet<QPair<int, int>> adjacentPairs(bool vertical)
{
    QSet<QPair<int, int>> pairs;
    // A 4 by 3 block (3 by 4 when vertical) with the two middle cells solid.
    const int w = vertical ? 3 : 4;
    const int h = vertical ? 4 : 3;
    for (int bits = 0; bits < (1 << 10); ++bits) {
        bool cell[4][4] = {};
        int b = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool middle =
                    vertical ? (x == 1 && (y == 1 || y == 2)) : (y == 1 && (x == 1 || x == 2));
                cell[y][x] = middle ? true : ((bits >> b++) & 1) != 0;
            }
        }
        auto solid = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && cell[y][x]; };
        const int first = maskAt(solid, 1, 1);
        const int second = vertical ? maskAt(solid, 1, 2) : maskAt(solid, 2, 1);
        pairs.insert(qMakePair(first, second));
    }
    return pairs;
}

bool isSolid(const QImage &mask, int x, int y)
{
    return qAlpha(mask.pixel(x, y)) != 0;
}

// Topmost solid row of a column, -1 for an empty column.
int surfaceRow(const QImage &mask, int x)
{
    for (int y = 0; y < mask.height(); ++y)
        if (isSolid(mask, x, y))
            return y;
    return -1;
}

int grey(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

// How much column x differs from column x + 1 (wrapping), on average.
double columnStep(const QImage &image, int x)
{
    const int next = (x + 1) % image.width();
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        sum += std::abs(grey(image, x, y) - grey(image, next, y));
    return sum / image.height();
}

QImage transposed(const QImage &image)
{
    return image.transformed(QTransform(0, 1, 1, 0, 0, 0));
}

// Mean grey of the columns x0 .. x0 + width - 1.
double stripMean(const QImage &image, int x0, int width)
{
    double sum = 0;
    for (int x = x0; x < x0 + width; ++x)
        for (int y = 0; y < image.height(); ++y)
            sum += grey(image, x, y);
    return sum / (width * image.height());
}

// A seam shows when the picture changes more from its last column to its
// first than anywhere inside, at a fine or at a coarse scale. Fine: the step
// between neighbouring columns; only steps on the 4-pixel art grid compare
// fairly (inside an art pixel there is no step at all), and the wrap-around
// lies on a grid line. Coarse: the mean of 16-column strips, which catches
// light or tone that drifts across the picture. A seamless texture's wrap
// is just one more place among the others, so some headroom over the
// largest inner change keeps chance from failing it.
bool repeatsWithoutSeam(const QImage &image, QString *why, bool bothWays = true)
{
    const QList<QImage> views =
        bothWays ? QList<QImage>{image, transposed(image)} : QList<QImage>{image};
    for (const QImage &view : views) {
        const int w = view.width();
        double fine = 0;
        for (int x = 3; x < w - 1; x += 4)
            fine = std::max(fine, columnStep(view, x));
        const double fineSeam = columnStep(view, w - 1);
        double coarse = 0;
        for (int x = 0; x + 32 <= w; x += 16)
            coarse =
                std::max(coarse, std::abs(stripMean(view, x, 16) - stripMean(view, x + 16, 16)));
        const double coarseSeam = std::abs(stripMean(view, w - 16, 16) - stripMean(view, 0, 16));
        if (fineSeam > 1.5 * fine || coarseSeam > 2 * coarse + 1) {
            *why =
                QStringLiteral(
                    "wrap-around step %1 (inside at most %2), strip change %3 (inside at most %4)")
                    .arg(fineSeam)
                    .arg(fine)
                    .arg(coarseSeam)
                    .arg(coarse);
            return false;
        }
    }
    return true;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TestDefaultAssets::Run TestDefaultAssets::runGenerator(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TW_ASSETGEN), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList TestDefaultAssets::files(const QString &name) const
{
    return QDir(folder(name)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QImage TestDefaultAssets::image(const QString &folderName, const QString &file) const
{
    return QImage(folder(folderName) + QLatin1Char('/') + file);
}

void TestDefaultAssets::initTestCase()
{
    QVERIFY(work.isValid());
    root = work.filePath(QStringLiteral("first/Assets"));
    secondRoot = work.filePath(QStringLiteral("second/Assets"));
    for (const QString &target : {root, secondRoot}) {
        const Run run = runGenerator({target});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    }
}

void TestDefaultAssets::folderHoldsEnough_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("minimum");
    QTest::newRow("top shapes") << "TopStyles" << 5;
    QTest::newRow("patterns") << "Patterns" << 6;
    // 47 blob tiles plus the slopes, platforms and plain blocks.
    QTest::newRow("alpha masks") << "Alpha" << 47 + 14;
}

void TestDefaultAssets::folderHoldsEnough()
{
    QFETCH(QString, name);
    QFETCH(int, minimum);
    const QStringList names = files(name);
    QVERIFY2(names.size() >= minimum, qPrintable(names.join(QLatin1Char(' '))));
    // Only finished PNGs: no temporary files left over from the atomic saves.
    for (const QString &file : names) {
        QVERIFY2(file.endsWith(QLatin1String(".png")), qPrintable(file));
        QCOMPARE(QImageReader(folder(name) + QLatin1Char('/') + file).format(), QByteArray("png"));
    }
}

void TestDefaultAssets::namedMaskExists_data()
{
    QTest::addColumn<QString>("file");
    const char *names[] = {
        "full.png", "full_notop.png", "slope45_up.png", "slope45_down.png", "slope22_up_low.png",
        "slope22_up_high.png", "slope22_down_low.png", "slope22_down_high.png",
        "corner_outer_left.png", "corner_outer_right.png", "platform_left.png",
        "platform_middle.png", "platform_right.png", "platform_single.png",
        // From the blob set: the top edge, an outer and an inner corner,
        // and the covered full block.
        "blob_124.png", "blob_028.png", "blob_253_notop.png", "blob_255_notop.png"};
    for (const char *name : names)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestDefaultAssets::namedMaskExists()
{
    QFETCH(QString, file);
    const QImage mask = image(QStringLiteral("Alpha"), file);
    QVERIFY2(!mask.isNull(), qPrintable(file));
    QCOMPARE(mask.size(), QSize(Tile, Tile));
}

void TestDefaultAssets::masksAreTwoToneTiles()
{
    for (const QString &file : files(QStringLiteral("Alpha"))) {
        const QImage mask = image(QStringLiteral("Alpha"), file);
        QCOMPARE(mask.size(), QSize(Tile, Tile));
        QVERIFY2(mask.hasAlphaChannel(), qPrintable(file));
        bool anySolid = false;
        for (int y = 0; y < Tile; ++y) {
            for (int x = 0; x < Tile; ++x) {
                const QRgb p = mask.pixel(x, y);
                // Opaque black or fully clear: grey or half-clear pixels
                // would give half-transparent tile edges.
                QVERIFY2(qAlpha(p) == 0 || p == qRgba(0, 0, 0, 255),
                         qPrintable(QStringLiteral("%1 at %2,%3").arg(file).arg(x).arg(y)));
                anySolid = anySolid || qAlpha(p) != 0;
            }
        }
        QVERIFY2(anySolid, qPrintable(file));
    }
}

void TestDefaultAssets::patternsAreOpaqueMiddleGreyTiles()
{
    for (const QString &file : files(QStringLiteral("Patterns"))) {
        const QImage pattern = image(QStringLiteral("Patterns"), file);
        QCOMPARE(pattern.size(), QSize(Tile, Tile));
        // The generator tints the pattern as loaded; a grey-scale or indexed
        // image would stay grey (or not take paint at all).
        QImage tinted = pattern;
        {
            QPainter painter(&tinted);
            painter.setCompositionMode(QPainter::CompositionMode_Overlay);
            painter.fillRect(tinted.rect(), QColor(200, 40, 40));
        }
        QVERIFY2(qRed(tinted.pixel(64, 64)) > qGreen(tinted.pixel(64, 64)) + 40, qPrintable(file));
        long long sum = 0;
        for (int y = 0; y < Tile; ++y) {
            for (int x = 0; x < Tile; ++x) {
                const QRgb p = pattern.pixel(x, y);
                QCOMPARE(qAlpha(p), 255);
                QVERIFY2(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p), qPrintable(file));
                sum += qRed(p);
            }
        }
        // Overlay keeps the tint colour at middle grey; a pattern far from it
        // would darken or bleach every tile it is used on.
        const long long mean = sum / (Tile * Tile);
        QVERIFY2(mean >= 100 && mean <= 156,
                 qPrintable(QStringLiteral("%1: %2").arg(file).arg(mean)));
    }
}

void TestDefaultAssets::topShapesAreGreyStripsWithASolidFirstRow()
{
    for (const QString &file : files(QStringLiteral("TopStyles"))) {
        const QImage top = image(QStringLiteral("TopStyles"), file);
        QCOMPARE(top.width(), Tile);
        QVERIFY2(top.height() >= 8 && top.height() <= 64, qPrintable(file));
        QVERIFY2(top.hasAlphaChannel(), qPrintable(file));
        for (int y = 0; y < top.height(); ++y) {
            for (int x = 0; x < Tile; ++x) {
                const QRgb p = top.pixel(x, y);
                QVERIFY2(qAlpha(p) == 0 || qAlpha(p) == 255, qPrintable(file));
                if (qAlpha(p))
                    QVERIFY2(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p), qPrintable(file));
                // Row 0 sits on the surface: a hole there would show bare
                // ground on top of the grass.
                if (y == 0)
                    QVERIFY2(qAlpha(p) == 255,
                             qPrintable(QStringLiteral("%1 at x %2").arg(file).arg(x)));
            }
        }
    }
}

void TestDefaultAssets::blobSetHasExactlyTheCanonicalNames()
{
    QSet<QString> expected;
    for (int raw = 0; raw < 256; ++raw)
        expected.insert(blobName(canonical(raw)));
    QCOMPARE(expected.size(), 47);

    QSet<QString> actual;
    for (const QString &file : files(QStringLiteral("Alpha")))
        if (file.startsWith(QLatin1String("blob_")))
            actual.insert(file);
    QCOMPARE(actual, expected);
}

void TestDefaultAssets::blobSidesFollowTheBitmask()
{
    for (int raw = 0; raw < 256; ++raw) {
        const int mask = canonical(raw);
        if (mask != raw)
            continue;
        const QImage tile = image(QStringLiteral("Alpha"), blobName(mask));
        QVERIFY(!tile.isNull());
        // For each side: a pixel on that border in its middle, and the step
        // towards the neighbouring border pixel.
        struct Side
        {
            int bit, x, y, dx, dy;
        };
        const Side sides[] = {
            {N, 0, 0, 1, 0}, {E, Tile - 1, 0, 0, 1}, {S, 0, Tile - 1, 1, 0}, {W, 0, 0, 0, 1}};
        for (const Side &side : sides) {
            for (int i = 0; i < Tile; ++i) {
                const bool middle = i >= Inset && i < Tile - Inset;
                const bool solid = isSolid(tile, side.x + i * side.dx, side.y + i * side.dy);
                const QString where =
                    QStringLiteral("%1 side %2 at %3").arg(blobName(mask)).arg(side.bit).arg(i);
                // An open side never touches the border; a solid one fills
                // the middle of it.
                if (!(mask & side.bit))
                    QVERIFY2(!solid, qPrintable(where));
                else if (middle)
                    QVERIFY2(solid, qPrintable(where));
            }
        }
        // Corners: the Inset square is solid exactly when the corner counts;
        // with both edges solid and the corner open it is the inner-corner notch.
        struct Corner
        {
            int bit, x, y;
        };
        const Corner corners[] = {{NE, Tile - Inset, 0},
                                  {SE, Tile - Inset, Tile - Inset},
                                  {SW, 0, Tile - Inset},
                                  {NW, 0, 0}};
        for (const Corner &corner : corners) {
            for (int y = corner.y; y < corner.y + Inset; ++y)
                for (int x = corner.x; x < corner.x + Inset; ++x)
                    QVERIFY2(
                        isSolid(tile, x, y) == bool(mask & corner.bit),
                        qPrintable(
                            QStringLiteral("%1 corner %2").arg(blobName(mask)).arg(corner.bit)));
        }
        QVERIFY(isSolid(tile, Tile / 2, Tile / 2));
    }
}

void TestDefaultAssets::blobSurfacesStayNearTheTop()
{
    // The generator lays the top at each column's topmost solid pixel. A bump
    // sticking out of a wall would get a tuft of grass half way down it.
    for (const QString &file : files(QStringLiteral("Alpha"))) {
        if (!file.startsWith(QLatin1String("blob_")))
            continue;
        const QImage tile = image(QStringLiteral("Alpha"), file);
        for (int x = 0; x < Tile; ++x) {
            const int row = surfaceRow(tile, x);
            QVERIFY2(row <= 3 * Inset,
                     qPrintable(QStringLiteral("%1 column %2 row %3").arg(file).arg(x).arg(row)));
        }
    }
}

void TestDefaultAssets::blobTilesJoinWithoutSeams_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::newRow("side by side") << false;
    QTest::newRow("one above the other") << true;
}

void TestDefaultAssets::blobTilesJoinWithoutSeams()
{
    QFETCH(bool, vertical);
    const QSet<QPair<int, int>> pairs = adjacentPairs(vertical);
    // Sanity of the enumeration: many pairs, each of real blob tiles.
    QVERIFY(pairs.size() > 100);
    for (const auto &pair : pairs) {
        const QImage first = image(QStringLiteral("Alpha"), blobName(pair.first));
        const QImage second = image(QStringLiteral("Alpha"), blobName(pair.second));
        QVERIFY(!first.isNull() && !second.isNull());
        for (int i = 0; i < Tile; ++i) {
            const bool a = vertical ? isSolid(first, i, Tile - 1) : isSolid(first, Tile - 1, i);
            const bool b = vertical ? isSolid(second, i, 0) : isSolid(second, 0, i);
            QVERIFY2(a == b, qPrintable(QStringLiteral("%1 then %2 at %3")
                                            .arg(blobName(pair.first), blobName(pair.second))
                                            .arg(i)));
        }
    }
}

void TestDefaultAssets::slopesMeetTheirNeighbours_data()
{
    // A left tile, the tile to its right, and how many tiles lower (+) or
    // higher (-) the right one sits. The surfaces must meet within one art
    // pixel (4 screen pixels), the step of the slopes themselves.
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<int>("rowsDown");
    QTest::newRow("flat onto 1:1 up") << "full.png"
                                      << "slope45_up.png" << -1;
    QTest::newRow("1:1 up onto flat") << "slope45_up.png"
                                      << "full.png" << 0;
    QTest::newRow("flat onto 1:1 down") << "full.png"
                                        << "slope45_down.png" << 0;
    QTest::newRow("1:1 down onto flat") << "slope45_down.png"
                                        << "full.png" << 1;
    QTest::newRow("flat onto 1:2 up") << "full.png"
                                      << "slope22_up_low.png" << -1;
    QTest::newRow("1:2 up low to high") << "slope22_up_low.png"
                                        << "slope22_up_high.png" << 0;
    QTest::newRow("1:2 up onto flat") << "slope22_up_high.png"
                                      << "full.png" << 0;
    QTest::newRow("flat onto 1:2 down") << "full.png"
                                        << "slope22_down_high.png" << 0;
    QTest::newRow("1:2 down high to low") << "slope22_down_high.png"
                                          << "slope22_down_low.png" << 0;
    QTest::newRow("1:2 down onto flat") << "slope22_down_low.png"
                                        << "full.png" << 1;
    QTest::newRow("1:1 up onto 1:1 up") << "slope45_up.png"
                                        << "slope45_up.png" << -1;
    QTest::newRow("plateau end onto flat") << "corner_outer_left.png"
                                           << "full.png" << 0;
    QTest::newRow("flat onto plateau end") << "full.png"
                                           << "corner_outer_right.png" << 0;
    QTest::newRow("platform pieces") << "platform_left.png"
                                     << "platform_middle.png" << 0;
    QTest::newRow("platform end") << "platform_middle.png"
                                  << "platform_right.png" << 0;
}

void TestDefaultAssets::slopesMeetTheirNeighbours()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(int, rowsDown);
    const QImage a = image(QStringLiteral("Alpha"), left);
    const QImage b = image(QStringLiteral("Alpha"), right);
    QVERIFY(!a.isNull() && !b.isNull());
    const int leftSurface = surfaceRow(a, Tile - 1);
    const int rightSurface = surfaceRow(b, 0) + rowsDown * Tile;
    QVERIFY2(leftSurface >= 0 && surfaceRow(b, 0) >= 0, "an edge column is empty");
    QVERIFY2(std::abs(leftSurface - rightSurface) <= 4,
             qPrintable(QStringLiteral("%1 vs %2").arg(leftSurface).arg(rightSurface)));
    // Tiles of the same row also agree on their whole joining edge.
    if (rowsDown == 0 && left.startsWith(QLatin1String("platform"))) {
        for (int y = 0; y < Tile; ++y)
            QCOMPARE(isSolid(a, Tile - 1, y), isSolid(b, 0, y));
    }
}

void TestDefaultAssets::patternsRepeatWithoutSeams_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &file : files(QStringLiteral("Patterns")))
        QTest::newRow(qPrintable(file)) << file;
}

void TestDefaultAssets::patternsRepeatWithoutSeams()
{
    QFETCH(QString, file);
    QString why;
    QVERIFY2(repeatsWithoutSeam(image(QStringLiteral("Patterns"), file), &why), qPrintable(why));
}

void TestDefaultAssets::seamCheckCatchesBrokenPatterns_data()
{
    // Faults a texture that does not wrap around typically has.
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("acrossRows");
    for (const char *file : {"dirt.png", "noise.png", "cobbles.png", "bricks.png"}) {
        QTest::addRow("%s shaded left to right", file) << QString::fromLatin1(file) << false;
        QTest::addRow("%s shaded top to bottom", file) << QString::fromLatin1(file) << true;
    }
}

void TestDefaultAssets::seamCheckCatchesBrokenPatterns()
{
    QFETCH(QString, file);
    QFETCH(bool, acrossRows);
    QImage broken = image(QStringLiteral("Patterns"), file).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!broken.isNull());
    QString why;
    QVERIFY(repeatsWithoutSeam(broken, &why));
    // Light falling from one side, as a texture painted without thought
    // for repeating often has: each tile ends brighter than the next begins.
    for (int y = 0; y < Tile; ++y) {
        for (int x = 0; x < Tile; ++x) {
            const int along = acrossRows ? y : x;
            const int v = std::clamp(grey(broken, x, y) - 24 + along * 48 / Tile, 0, 255);
            broken.setPixel(x, y, qRgb(v, v, v));
        }
    }
    QVERIFY(!repeatsWithoutSeam(broken, &why));
}

void TestDefaultAssets::topShapesRepeatLeftToRight()
{
    for (const QString &file : files(QStringLiteral("TopStyles"))) {
        const QImage top = image(QStringLiteral("TopStyles"), file);
        auto opaqueRows = [&](int x) {
            int n = 0;
            for (int y = 0; y < top.height(); ++y)
                n += qAlpha(top.pixel(x, y)) != 0;
            return n;
        };
        // The outline of the last column runs on into the first as it
        // would into any other column: no jump larger than any inside.
        int largest = 0;
        for (int x = 3; x < Tile - 1; x += 4)
            largest = std::max(largest, std::abs(opaqueRows(x) - opaqueRows(x + 1)));
        QVERIFY2(std::abs(opaqueRows(Tile - 1) - opaqueRows(0)) <= largest, qPrintable(file));
        QString why;
        QVERIFY2(repeatsWithoutSeam(top.copy(0, 0, Tile, 2), &why, false),
                 qPrintable(file + QLatin1String(": ") + why));
    }
}

void TestDefaultAssets::twoRunsGiveIdenticalBytes()
{
    for (const QString &name :
         {QStringLiteral("TopStyles"), QStringLiteral("Patterns"), QStringLiteral("Alpha")}) {
        const QStringList first = files(name);
        QCOMPARE(QDir(secondRoot + QLatin1Char('/') + name).entryList(QDir::Files, QDir::Name),
                 first);
        for (const QString &file : first) {
            const QByteArray a = fileBytes(folder(name) + QLatin1Char('/') + file);
            QVERIFY(!a.isEmpty());
            QVERIFY2(a == fileBytes(secondRoot + QLatin1Char('/') + name + QLatin1Char('/') + file),
                     qPrintable(file));
        }
    }
}

void TestDefaultAssets::rerunLeavesCorrectFilesUntouched()
{
    // A running program watches these folders; files that are already right
    // are not rewritten, so it is not made to reload them.
    const QString path = folder(QStringLiteral("Patterns/bricks.png"));
    const QDateTime old(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const Run run = runGenerator({root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QCOMPARE(QFileInfo(path).lastModified().toUTC(), old);
}

void TestDefaultAssets::rerunRepairsADamagedFile()
{
    const QString path = folder(QStringLiteral("Alpha/slope45_up.png"));
    const QByteArray good = fileBytes(path);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(good.left(good.size() / 2));
    }
    QVERIFY(QImage(path).isNull());
    const Run run = runGenerator({root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QCOMPARE(fileBytes(path), good);
}

void TestDefaultAssets::noArgument_printsUsage()
{
    const Run run = runGenerator({});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains(QLatin1String("usage")), qPrintable(run.errors));
}

void TestDefaultAssets::folderUnderAFile_failsWithMessage()
{
    const QString blocker = work.filePath(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a folder");
    }
    const Run run = runGenerator({blocker + QStringLiteral("/Assets")});
    QVERIFY(run.exitCode != 0 && run.exitCode != -1);
    QVERIFY2(run.errors.contains(QLatin1String("cannot create the folder")),
             qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QLatin1String("blocker")), qPrintable(run.errors));
    QCOMPARE(fileBytes(blocker), QByteArray("not a folder"));
}

void TestDefaultAssets::fullDisk_failsWithoutBrokenFiles()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a tiny tmpfs as a full disk");
    const QString dir = work.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(dir));
    TmpfsMount disk(dir);
    // Room for a few files only: every file takes at least a page there.
    if (!disk.mount(QStringLiteral("48k")))
        QSKIP("cannot mount a tmpfs here");
    const Run run = runGenerator({dir + QStringLiteral("/Assets")});
    QVERIFY(run.exitCode != 0 && run.exitCode != -1);
    QVERIFY2(run.errors.contains(QLatin1String("cannot")), qPrintable(run.errors));
    // Whatever did get written is complete and exactly what a good run writes.
    int complete = 0;
    for (const QString &name :
         {QStringLiteral("TopStyles"), QStringLiteral("Patterns"), QStringLiteral("Alpha")}) {
        const QString sub = dir + QStringLiteral("/Assets/") + name;
        for (const QString &file : QDir(sub).entryList(QDir::Files | QDir::Hidden)) {
            QCOMPARE(fileBytes(sub + QLatin1Char('/') + file),
                     fileBytes(folder(name) + QLatin1Char('/') + file));
            ++complete;
        }
    }
    int total = 0;
    for (const QString &name :
         {QStringLiteral("TopStyles"), QStringLiteral("Patterns"), QStringLiteral("Alpha")})
        total += files(name).size();
    QVERIFY(complete < total);
}

QTEST_MAIN(TestDefaultAssets)
#include "tst_defaultassets.moc"
