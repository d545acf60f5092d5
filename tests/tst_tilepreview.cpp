#include "previewfixtures.h"
#include "previeworacle.h"
#include "tilepreview.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(TileStyle)

static QStringList partNames(const TilePreview &preview)
{
    QStringList names;
    for (const TilePreview::Part &part : preview.parts)
        names << part.name;
    return names;
}

class TestTilePreview : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // A design from PNG files of the test folder ("" leaves a part out).
    TileStyle design(const QString &top, const QString &bottomPattern = {},
                     const QString &topPattern = {}, bool topDown = true) const
    {
        TileStyle style;
        style.topStyle = top.isEmpty() ? QString() : m_dir.filePath(top + ".png");
        if (!bottomPattern.isEmpty())
            style.bottomPattern = QFileInfo(m_dir.filePath(bottomPattern + ".png"));
        if (!topPattern.isEmpty())
            style.topPattern = QFileInfo(m_dir.filePath(topPattern + ".png"));
        style.topDown = topDown;
        return style;
    }

private slots:
    void initTestCase()
    {
        namespace F = PreviewFixtures;
        QImage solid(128, 40, QImage::Format_ARGB32);
        solid.fill(QColor(90, 170, 40));
        const QList<QImage> images{
            F::topShape(),       F::topShape().convertToFormat(QImage::Format_RGB32),
            F::pixelTop(),       F::topShape(200, 140),
            F::topShape(96, 20), solid,
            F::bricks(),         F::specks(),
            F::holes(),          F::bricks(64),
            F::specks(200, 150), F::specks(100, 20)};
        const QStringList names{"grass",  "flat",   "pixel", "big",      "narrow", "solid",
                                "bricks", "specks", "holes", "bricks64", "large",  "strip"};
        for (int i = 0; i < images.size(); ++i)
            QVERIFY(images[i].save(m_dir.filePath(names[i] + ".png"), "PNG"));
        QFile junk(m_dir.filePath("junk.png"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not a picture") > 0);
    }

    // The core takes shortcuts by pattern format, alpha count, mask and size:
    // each top shape (with alpha, without, few alphas, larger and smaller than
    // the tile, undecodable, missing) meets patterns of each kind, under
    // different opacities and colours.
    void matchesStepByStepComposition_data()
    {
        QTest::addColumn<TileStyle>("style");
        const QStringList tops{"", "grass", "flat", "pixel", "big", "narrow", "junk", "gone"};
        const QStringList patterns{"",         "bricks", "specks", "holes",
                                   "bricks64", "large",  "strip",  "gone"};
        const QVector<QVector<float>> opacities{{1, 1, .4f, .4f, 1},
                                                {.5f, 0, .25f, .75f, .1f},
                                                {0, .67f, 1, 0, 0},
                                                {.9f, .95f, .6f, .2f, .85f}};
        const QStringList colours{"#c39366", "#3050ff", "#000000", "#ffffff", "#808080"};
        for (int i = 0; i < 3 * tops.size(); ++i) {
            const QString top = tops[i % 8], bottom = patterns[(i + i / 8) % 8],
                          pattern = patterns[(i + 7 + i / 8) % 8];
            TileStyle s = design(top, bottom, pattern, i % 3 != 0);
            const QVector<float> &o = opacities[i % 4];
            s.topOpacity = o[0];
            s.bottomOpacity = o[1];
            s.topPatternOpacity = o[2];
            s.bottomPatternOpacity = o[3];
            s.topPatternColorOpacity = s.bottomPatternColorOpacity = o[4];
            s.topColor = QColor(colours[i % 5]);
            s.bottomColor = QColor(colours[(i + 1) % 5]);
            s.topPatternColor = s.bottomPatternColor = QColor(colours[(i + 2) % 5]);
            QTest::addRow("%d: top %s, patterns %s and %s", i, qPrintable(top), qPrintable(bottom),
                          qPrintable(pattern))
                << s;
        }
    }

    void matchesStepByStepComposition()
    {
        QFETCH(TileStyle, style);
        const TilePreview fast = TilePreview::compose(style);
        const TilePreview plain = PlainOps::composePreview(style);
        QCOMPARE(fast.tile, plain.tile);
        QCOMPARE(partNames(fast), partNames(plain));
        for (int i = 0; i < fast.parts.size(); ++i)
            QCOMPARE(fast.parts[i].image, plain.parts[i].image);
        QCOMPARE(fast.layers, plain.layers);
        QCOMPARE(fast.shadeIndex, plain.shadeIndex);
        QCOMPARE(fast.topIndex, plain.topIndex);
    }

    void noTopShape_givesBottomShapeWithLightenedTopRows_data()
    {
        QTest::addColumn<float>("bottomOpacity");
        QTest::addColumn<int>("alpha");
        QTest::newRow("default colours") << 1.0f << 255;
        QTest::newRow("bottomOpacity 0.5 truncates to 127") << 0.5f << 127;
    }

    void noTopShape_givesBottomShapeWithLightenedTopRows()
    {
        QFETCH(float, bottomOpacity);
        QFETCH(int, alpha);
        TileStyle style;
        style.bottomOpacity = bottomOpacity;
        const TilePreview preview = TilePreview::compose(style);
        QCOMPARE(partNames(preview), QStringList{"Bottom Shape"});
        const QColor bottom("#c39366"), hsl = bottom.toHsl();
        const QRgb lit =
            QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), hsl.lightness() + 20).rgb();
        const QRgb below = (bottom.rgb() & 0xffffffu) | uint(alpha) << 24;
        QCOMPARE(preview.tile.size(), QSize(128, 128));
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                QCOMPARE(preview.tile.pixel(x, y), y < 2 ? lit : below);
    }

    void topDown_drawsRotatedShadeAt80AndTopAt88()
    {
        TileStyle style = design("solid", {}, {}, false);
        const QImage once = TilePreview::compose(style).tile;
        style.topDown = true;
        const QImage twice = TilePreview::compose(style).tile;
        const QRgb bottom = QColor("#c39366").rgb(), shade = once.pixel(5, 45),
                   top = once.pixel(5, 20);
        QVERIFY(shade != bottom && top != bottom && top != shade);
        for (int y = 2; y < 128; ++y) { // below the highlight
            const QRgb expected = y < 40 ? top : y < 48 ? shade : bottom;
            QCOMPARE(once.pixel(5, y), expected);
            QCOMPARE(twice.pixel(5, y), y >= 88 ? top : y >= 80 ? shade : expected);
        }
    }

    void topWithoutAlpha_keepsEveryPixel()
    {
        const TilePreview preview = TilePreview::compose(design("flat", {}, {}, false));
        QCOMPARE(partNames(preview), (QStringList{"Bottom Shape", "Top Shape"}));
        const QImage top = preview.parts.at(1).image, shade = preview.layers.at(0);
        QCOMPARE(top.size(), QSize(128, 40));
        for (int y = 0; y < top.height(); ++y) {
            for (int x = 0; x < top.width(); ++x) {
                QCOMPARE(qAlpha(top.pixel(x, y)), 255);
                QCOMPARE(qAlpha(shade.pixel(x, y)), 102);
            }
        }
    }

    // The design's file infos have cached that the files exist.
    void deletedPatterns_leaveTheirItemsOut()
    {
        QVERIFY(QFile::copy(m_dir.filePath("specks.png"), m_dir.filePath("doomed.png")));
        TileStyle style = design("grass", "doomed", "doomed");
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"}));
        QVERIFY(style.topPattern.exists() && style.bottomPattern.exists());
        QVERIFY(QFile::remove(m_dir.filePath("doomed.png")));
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Top Shape"}));
    }
};

QTEST_GUILESS_MAIN(TestTilePreview)
#include "tst_tilepreview.moc"
