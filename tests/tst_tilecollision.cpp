// Collision outlines traced from masks, their simplification and their convex pieces.

#include "atlasfixtures.h"
#include "polygonoperations.h"
#include "tilecollision.h"
#include "tilepipeline.h"

namespace P = PolygonOperations;
using Rects = QVector<QRect>;

namespace {

QImage solidOf(const Rects &rects)
{
    QImage solid(128, 128, QImage::Format_Grayscale8);
    solid.fill(0);
    for (const QRect &r : rects)
        for (int i = 0; i < r.width() * r.height(); ++i)
            solid.setPixel(r.x() + i % r.width(), r.y() + i / r.width(), 255);
    return solid;
}

// A pixel is misjudged when its centre is inside a polygon but the pixel is empty, or the other
// way round, though it lies farther from every edge than the tolerance and half its diagonal.
QStringList outlineFaults(const QImage &solid, const QVector<QPolygonF> &polygons, double tolerance)
{
    QStringList faults;
    for (int y = 0; y < solid.height(); ++y)
        for (int x = 0; x < solid.width(); ++x) {
            const QPointF centre(x + 0.5, y + 0.5);
            double nearest = 1e9;
            bool inside = false;
            for (const QPolygonF &p : polygons) {
                inside = inside || p.containsPoint(centre, Qt::OddEvenFill);
                for (int i = 0; i < p.size(); ++i)
                    nearest =
                        qMin(nearest, P::distanceToSegment(centre, p[i], p[(i + 1) % p.size()]));
            }
            if (nearest > tolerance + M_SQRT1_2 && inside != (qGray(solid.pixel(x, y)) != 0))
                faults << QString("%1,%2").arg(x).arg(y);
        }
    return faults;
}

bool hasEdge(const QPolygonF &p, const QPointF &a, const QPointF &b)
{
    for (int i = 0; i < p.size(); ++i)
        if (p[i] == a && p[(i + 1) % p.size()] == b)
            return true;
    return false;
}

// Pieces convex and clockwise, inside the polygon and together as large as it.
void verifyPieces(const QPolygonF &polygon, const QVector<QPolygonF> &pieces)
{
    double area = 0;
    for (const QPolygonF &piece : pieces) {
        QVERIFY(P::isConvex(piece) && P::signedArea(piece) > 0);
        QPointF centroid;
        for (const QPointF &point : piece)
            centroid += point / piece.size();
        QVERIFY(polygon.containsPoint(centroid, Qt::OddEvenFill));
        area += P::signedArea(piece);
    }
    QVERIFY(qAbs(area - P::signedArea(polygon)) < 1e-6);
}

} // namespace

class TestTileCollision : public QObject
{
    Q_OBJECT

    QStringList library;
    QVector<QImage> librarySolids;
    QVector<TileCollision> libraryCollision;

private slots:
    void initTestCase()
    {
        const QDir masks(TW_ASSET_ALPHA);
        library = masks.entryList({"*.png"}, QDir::Files, QDir::Name);
        for (const QString &name : library)
            librarySolids << TileCollision::solidOfMask(
                TilePipeline::readMask(masks.filePath(name)));
        libraryCollision = TileCollision::trace(library, librarySolids, {128, 128});
        QVERIFY(library.size() > 47);
    }

    void kind_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("oneWay");
        QTest::newRow("blob") << "blob_255_notop.png"
                              << "terrain" << false;
        QTest::newRow("blob look-alike") << "blob_002.png"
                                         << "other" << false;
        QTest::newRow("slope") << "slope45_up.png"
                               << "slope" << false;
        QTest::newRow("one-way slope") << "slope_oneway.png"
                                       << "slope" << true;
        QTest::newRow("platform") << "Platform_Left.PNG"
                                  << "platform" << true;
        QTest::newRow("one-way ledge") << "ledge_oneway.png"
                                       << "platform" << true;
        QTest::newRow("block") << "full_notop.png"
                               << "other" << false;
    }
    void kind()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, oneWay);
        const TileCollision tile = TileCollision::forName(name);
        QCOMPARE(tile.kindName(), kind);
        QCOMPARE(tile.oneWay, oneWay);
        QCOMPARE(tile.maskName() + name.right(4), name);
    }

    void trace_data()
    {
        QTest::addColumn<Rects>("rects");
        QTest::addColumn<int>("outlines"); // traced, before specks are dropped
        QTest::addColumn<int>("polygons");
        QTest::addColumn<int>("maxVertices");
        QTest::addColumn<QPolygonF>("exact"); // empty: within the tolerance of the rects
        Rects steps;
        for (int x = 0; x < 128; x += 4)
            steps << QRect(x, 124 - x, 4, 4 + x);
        const QPolygonF any;
        QTest::newRow("empty") << Rects() << 0 << 0 << 0 << any;
        QTest::newRow("full") << Rects{{0, 0, 128, 128}} << 1 << 1 << 4
                              << QPolygonF({{0, 0}, {128, 0}, {128, 128}, {0, 128}});
        QTest::newRow("two blocks")
            << Rects{{10, 10, 20, 20}, {60, 60, 20, 20}} << 2 << 2 << 4 << any;
        QTest::newRow("touching at a corner")
            << Rects{{0, 0, 64, 64}, {64, 64, 64, 64}} << 2 << 2 << 4 << any;
        QTest::newRow("ring: hole filled")
            << Rects{{10, 10, 100, 10}, {10, 100, 100, 10}, {10, 10, 10, 100}, {100, 10, 10, 100}}
            << 1 << 1 << 4 << QPolygonF({{10, 10}, {110, 10}, {110, 110}, {10, 110}});
        QTest::newRow("speck") << Rects{{50, 50, 1, 1}} << 1 << 0 << 0 << any;
        QTest::newRow("45 degree staircase") << steps << 1 << 1 << 7 << any;
    }
    // Within the tolerance of the visible area, exact along the borders, few vertices.
    void trace()
    {
        QFETCH(Rects, rects);
        QFETCH(int, outlines);
        QFETCH(int, polygons);
        QFETCH(int, maxVertices);
        QFETCH(QPolygonF, exact);
        const QImage solid = solidOf(rects);
        QCOMPARE(P::traceOutlines(solid).size(), outlines);
        const QVector<TileCollision> tiles = TileCollision::trace({"t.png"}, {solid}, {128, 128});
        QCOMPARE(tiles.value(0).polygons.size(), polygons);
        for (const QPolygonF &p : tiles[0].polygons)
            QVERIFY2(p.size() <= maxVertices && P::isSimple(p) && P::signedArea(p) > 0,
                     qPrintable(QString::number(p.size())));
        if (!exact.isEmpty())
            QCOMPARE(tiles[0].polygons[0], exact);
        else if (polygons > 0)
            QCOMPARE(outlineFaults(solid, tiles[0].polygons, 2), QStringList());
    }

    // A wall's weathering, 4 px bites, is followed rather than smoothed over; at 32 px the
    // same outline comes scaled.
    void trace_followsNotches()
    {
        QImage solid = solidOf({{16, 16, 96, 96}});
        for (int y = 24; y < 100; y += 12)
            for (int p = 0; p < 24; ++p)
                solid.setPixel(108 + p % 4, y + p / 4, 0);
        const TileCollision tile = TileCollision::trace({"t.png"}, {solid}, {128, 128})[0];
        QCOMPARE(outlineFaults(solid, tile.polygons, 2), QStringList());
        QVERIFY(!outlineFaults(solid, {QRectF(16, 16, 96, 96)}, 2).isEmpty()); // the check bites
        QCOMPARE(TileCollision::trace({"t.png"}, {solid}, {32, 32})[0].polygons[0],
                 QTransform::fromScale(0.25, 0.25).map(tile.polygons[0]));
    }

    // Two terrain tiles with their top at 16 px set the floor; a level tile open to the sky whose
    // top is near it is put on it.
    void floor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("expected");
        QTest::newRow("a pixel low") << "ledge.png" << 17 << 16;
        QTest::newRow("two pixels high") << "ledge.png" << 14 << 16;
        QTest::newRow("platform") << "platform_x.png" << 18 << 16;
        QTest::newRow("three pixels off") << "ledge.png" << 19 << 19;
        QTest::newRow("covered from above") << "ledge_notop.png" << 17 << 17;
        QTest::newRow("slope") << "slope_x.png" << 17 << 17;
    }
    void floor()
    {
        QFETCH(QString, name);
        QFETCH(int, top);
        QFETCH(int, expected);
        const QStringList names{"blob_068.png", "blob_124.png", name};
        QVector<QImage> solids;
        for (int i = 0; i < 2; ++i)
            solids << TileCollision::solidOfMask(paintedMask(names[i]));
        solids << solidOf({{0, top, 128, 128 - top}});
        const QPolygonF p = TileCollision::trace(names, solids, {128, 128})[2].polygons.value(0);
        QVERIFY2(hasEdge(p, {0, double(expected)}, {128, double(expected)}),
                 qPrintable(QString::number(p.boundingRect().top())));
    }

    void convexPieces_data()
    {
        QTest::addColumn<QPolygonF>("polygon");
        QTest::addColumn<int>("maxPieces");
        QTest::newRow("square") << QPolygonF({{0, 0}, {4, 0}, {4, 4}, {0, 4}}) << 1;
        QTest::newRow("L") << QPolygonF({{0, 0}, {2, 0}, {2, 3}, {4, 3}, {4, 4}, {0, 4}}) << 2;
        QTest::newRow("U") << QPolygonF(
                                  {{0, 0}, {1, 0}, {1, 3}, {3, 3}, {3, 0}, {4, 0}, {4, 4}, {0, 4}})
                           << 3;
        QTest::newRow("comb") << QPolygonF({{0, 0},
                                            {1, 0},
                                            {1.5, 2},
                                            {2, 0},
                                            {3, 0},
                                            {3.5, 2},
                                            {4, 0},
                                            {5, 0},
                                            {5, 3},
                                            {0, 3}})
                              << 4;
    }
    void convexPieces()
    {
        QFETCH(QPolygonF, polygon);
        QFETCH(int, maxPieces);
        const QVector<QPolygonF> pieces = P::convexPieces(polygon);
        QVERIFY(pieces.size() <= maxPieces);
        verifyPieces(polygon, pieces);
    }

    void defaultLibrary_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < library.size(); ++i)
            QTest::newRow(qPrintable(library[i])) << i;
    }
    // One outline within 2 px of each tile's visible area, in few vertices, meeting its
    // neighbours along every border run exactly, its walkable top level with the blob floor at
    // 8 px where it reaches a border there; in convex pieces for Godot 3.
    void defaultLibrary()
    {
        QFETCH(int, index);
        const QImage &solid = librarySolids[index];
        const TileCollision &tile = libraryCollision[index];
        QCOMPARE(tile.polygons.size(), 1);
        const QPolygonF &p = tile.polygons[0];
        QVERIFY2(p.size() <= 48 && P::isSimple(p), qPrintable(QString::number(p.size())));
        QCOMPARE(outlineFaults(solid, tile.polygons, 2), QStringList());
        verifyPieces(p, P::convexPieces(p));
        // Each border's solid runs, walked clockwise from a corner (top, right, bottom, left),
        // with the offset from a vertex to the border pixel after it.
        const QPointF start[4] = {{0, 0}, {128, 0}, {128, 128}, {0, 128}};
        const QPointF step[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        const QPoint toPixel[4] = {{0, 0}, {-1, 0}, {-1, -1}, {0, -1}};
        for (int side = 0; side < 4; ++side) {
            auto vertex = [&](int i) { return start[side] + i * step[side]; };
            auto isSolid = [&](int i) {
                return i >= 0 && i < 128 && qGray(solid.pixel(vertex(i).toPoint() + toPixel[side]));
            };
            for (int i = 0; i < 128; ++i) {
                if (!isSolid(i) || isSolid(i - 1))
                    continue;
                int end = i;
                while (isSolid(end))
                    ++end;
                QVERIFY2(hasEdge(p, vertex(i), vertex(end)),
                         qPrintable(QString("side %1 from %2 to %3").arg(side).arg(i).arg(end)));
            }
        }
        // Where the top meets a side at the floor, it leaves it level.
        const bool level =
            TilePipeline::wantsTop(tile.name) && tile.kind != TileCollision::Kind::Slope;
        auto top = [&](int x) {
            int y = 0;
            while (y < 128 && !qGray(solid.pixel(x, y)))
                ++y;
            return y;
        };
        if (level && top(0) == 8)
            QVERIFY(p.contains({0, 8}) && p[(p.indexOf({0, 8}) + 1) % p.size()].y() == 8);
        if (level && top(127) == 8)
            QVERIFY(p.contains({128, 8}) &&
                    p[(p.indexOf({128, 8}) + p.size() - 1) % p.size()].y() == 8);
    }
};

QTEST_GUILESS_MAIN(TestTileCollision)
#include "tst_tilecollision.moc"
