#include "previewfixtures.h"
#include "previeworacle.h"
#include "tilepreview.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

// Same size, format and stored bytes (padding ignored).
QString imageDifference(const QImage &actual, const QImage &expected)
{
    if (actual.isNull() != expected.isNull())
        return QStringLiteral("one image is null");
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    if (actual.format() != expected.format())
        return QStringLiteral("format %1, expected %2").arg(actual.format()).arg(expected.format());
    const int rowBytes = actual.width() * actual.depth() / 8;
    for (int y = 0; y < actual.height(); ++y) {
        if (std::memcmp(actual.constScanLine(y), expected.constScanLine(y), size_t(rowBytes))) {
            for (int x = 0; x < actual.width(); ++x) {
                if (actual.pixel(x, y) != expected.pixel(x, y))
                    return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                        .arg(x)
                        .arg(y)
                        .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                        .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
            }
            return QStringLiteral("row %1 differs in stored bytes").arg(y);
        }
    }
    return QString();
}

QStringList partNames(const TilePreview &preview)
{
    QStringList names;
    for (const TilePreview::Part &part : preview.parts)
        names << part.name;
    return names;
}

QRgb lightened(const QColor &colour, int delta)
{
    QColor hsl = colour.toHsl();
    QColor result;
    result.setHsl(hsl.hslHue(), hsl.hslSaturation(), qBound(0, hsl.lightness() + delta, 255));
    return qRgb(result.red(), result.green(), result.blue());
}

QImage solidImage(int width, int height, QImage::Format format, const QColor &colour)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

} // namespace

class TestTilePreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void matchesStepByStepComposition_data();
    void matchesStepByStepComposition();

    void emptyTopShape_givesBottomShapeWithLightenedTopRows();
    void halfBottomOpacity_givesAlpha127BelowHighlight();
    void topDown_drawsRotatedShadeAt80AndTopAt88();
    void topDownWithoutTopShape_hasNoEffect();
    void topWithoutAlpha_keepsEveryPixel();
    void deletedTopPattern_leavesItsItemOut();
    void deletedBottomPattern_leavesItsItemOut();
    void partsInOrder_withEverything();
    void undecodableTopShape_givesEmptyTopLayers();
    void missingTopShape_givesNoTopParts();
    void filesAreReadAgainOnEveryCall();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString save(const QImage &image, const QString &name) const
    {
        return PreviewFixtures::save(image, QDir(m_dir.path()), name);
    }
};

void TestTilePreview::initTestCase()
{
    QVERIFY(m_dir.isValid());
    save(PreviewFixtures::topShape(), "grass.png");
    save(PreviewFixtures::topShape(128, 40).convertToFormat(QImage::Format_RGB32), "flat.png");
    save(PreviewFixtures::topShape(200, 48), "wide.png");
    save(PreviewFixtures::topShape(128, 140), "tall.png");
    save(PreviewFixtures::topShape(96, 20), "narrow.png");
    save(PreviewFixtures::topShape().convertToFormat(QImage::Format_Indexed8), "palette-top.png");
    save(PreviewFixtures::pixelTop(), "pixel-top.png");
    save(PreviewFixtures::pixelTop().convertToFormat(QImage::Format_RGB32), "pixel-flat.png");
    save(PreviewFixtures::holes(), "holes.png");
    save(PreviewFixtures::holes(48), "holes48.png");
    save(PreviewFixtures::bricks(), "bricks.png");
    save(PreviewFixtures::bricks(64), "bricks64.png");
    save(PreviewFixtures::specks(), "specks.png");
    save(PreviewFixtures::specks(200, 150), "specks-large.png");
    save(PreviewFixtures::specks(100, 20), "specks-strip.png");
    save(PreviewFixtures::bricks().convertToFormat(QImage::Format_Grayscale8), "grey-bricks.png");
    QFile junk(path("junk.png"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("this is not a picture");
    junk.close();
}

void TestTilePreview::matchesStepByStepComposition_data()
{
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("bottomPattern");
    QTest::addColumn<QString>("topPattern");
    QTest::addColumn<bool>("topDown");
    QTest::addColumn<QColor>("topColour");
    QTest::addColumn<QColor>("bottomColour");
    QTest::addColumn<QColor>("patternColour");
    // top, bottom, top pattern, bottom pattern, colour: opacities
    QTest::addColumn<QVector<float>>("opacities");

    const QColor green("#80be1f");
    const QColor brown("#c39366");
    const QVector<float> defaults{1.0f, 1.0f, 0.4f, 0.4f, 1.0f};
    QTest::newRow("plain default") << ""
                                   << ""
                                   << "" << false << green << brown << green << defaults;
    QTest::newRow("everything, topDown")
        << "grass.png"
        << "bricks.png"
        << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("everything, no topDown")
        << "grass.png"
        << "bricks.png"
        << "specks.png" << false << green << brown << green << defaults;
    QTest::newRow("top without alpha")
        << "flat.png"
        << "bricks.png"
        << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("palette top") << "palette-top.png"
                                 << "specks.png"
                                 << "bricks.png" << true << green << brown << brown << defaults;
    QTest::newRow("pixel top, patterns with holes")
        << "pixel-top.png"
        << "holes.png"
        << "holes48.png" << true << green << brown << green << defaults;
    QTest::newRow("pixel top at half opacities")
        << "pixel-top.png"
        << "holes48.png"
        << "bricks.png" << true << QColor("#3050ff") << QColor("#206020") << QColor("#ffe0a0")
        << QVector<float>{0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    QTest::newRow("pixel top, transparent bottom")
        << "pixel-top.png"
        << "holes.png"
        << "specks.png" << false << green << brown << green
        << QVector<float>{0.8f, 0.0f, 1.0f, 1.0f, 0.0f};
    QTest::newRow("pixel top without alpha") << "pixel-flat.png"
                                             << "holes.png"
                                             << "holes.png" << true << green << brown << green
                                             << QVector<float>{0.3f, 0.9f, 0.7f, 0.2f, 0.4f};
    QTest::newRow("small bottom pattern") << "grass.png"
                                          << "bricks64.png"
                                          << "" << true << green << brown << green << defaults;
    QTest::newRow("large top pattern")
        << "grass.png"
        << ""
        << "specks-large.png" << true << green << brown << QColor("#ff0000") << defaults;
    QTest::newRow("strip top pattern")
        << "grass.png"
        << "specks-large.png"
        << "specks-strip.png" << false << green << brown << green << defaults;
    QTest::newRow("grey pattern") << "grass.png"
                                  << "grey-bricks.png"
                                  << "grey-bricks.png" << true << green << brown << green
                                  << defaults;
    QTest::newRow("wide top") << "wide.png"
                              << "bricks.png"
                              << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("tall top") << "tall.png"
                              << "bricks.png"
                              << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("narrow top") << "narrow.png"
                                << "bricks.png"
                                << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("all opacities 0")
        << "grass.png"
        << "bricks.png"
        << "specks.png" << true << green << brown << green << QVector<float>{0, 0, 0, 0, 0};
    QTest::newRow("all opacities 0.5") << "grass.png"
                                       << "bricks.png"
                                       << "specks.png" << true << green << brown << green
                                       << QVector<float>{0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    QTest::newRow("all opacities 1")
        << "grass.png"
        << "bricks.png"
        << "specks.png" << true << green << brown << green << QVector<float>{1, 1, 1, 1, 1};
    QTest::newRow("bottom transparent")
        << "grass.png"
        << "specks.png"
        << "" << true << green << brown << green << QVector<float>{0.7f, 0.0f, 0.3f, 0.9f, 0.6f};
    QTest::newRow("black tint at alpha 0")
        << "grass.png"
        << "bricks.png"
        << "specks.png" << true << green << brown << QColor(Qt::black)
        << QVector<float>{1, 1, 0.8f, 0.8f, 0};
    QTest::newRow("black and white") << "grass.png"
                                     << "bricks.png"
                                     << "specks.png" << true << QColor(Qt::white)
                                     << QColor(Qt::black) << QColor(Qt::white) << defaults;
    QTest::newRow("greys") << "grass.png"
                           << "specks.png"
                           << "bricks.png" << true << QColor("#808080") << QColor("#404040")
                           << QColor("#c0c0c0") << QVector<float>{0.33f, 0.67f, 0.25f, 0.75f, 0.1f};
    QTest::newRow("saturated") << "grass.png"
                               << "bricks.png"
                               << "specks.png" << false << QColor("#0000ff") << QColor("#ff00ff")
                               << QColor("#00ffff")
                               << QVector<float>{0.9f, 0.95f, 0.6f, 0.2f, 0.85f};
    QTest::newRow("undecodable top") << "junk.png"
                                     << "bricks.png"
                                     << "specks.png" << true << green << brown << green << defaults;
    QTest::newRow("missing files") << "gone.png"
                                   << "gone.png"
                                   << "gone.png" << true << green << brown << green << defaults;
}

void TestTilePreview::matchesStepByStepComposition()
{
    QFETCH(QString, top);
    QFETCH(QString, bottomPattern);
    QFETCH(QString, topPattern);
    QFETCH(bool, topDown);
    QFETCH(QColor, topColour);
    QFETCH(QColor, bottomColour);
    QFETCH(QColor, patternColour);
    QFETCH(QVector<float>, opacities);

    TileStyle style;
    style.topStyle = top.isEmpty() ? QString() : path(top);
    if (!bottomPattern.isEmpty())
        style.bottomPattern = QFileInfo(path(bottomPattern));
    if (!topPattern.isEmpty())
        style.topPattern = QFileInfo(path(topPattern));
    style.topDown = topDown;
    style.topColor = topColour;
    style.bottomColor = bottomColour;
    style.topPatternColor = patternColour;
    style.bottomPatternColor = patternColour;
    style.topOpacity = opacities[0];
    style.bottomOpacity = opacities[1];
    style.topPatternOpacity = opacities[2];
    style.bottomPatternOpacity = opacities[3];
    style.topPatternColorOpacity = opacities[4];
    style.bottomPatternColorOpacity = opacities[4];

    const TilePreview fast = TilePreview::compose(style);
    const TilePreview plain = PlainOps::composePreview(style);

    QCOMPARE(imageDifference(fast.tile, plain.tile), QString());
    QCOMPARE(partNames(fast), partNames(plain));
    for (int i = 0; i < fast.parts.size(); ++i)
        QVERIFY2(imageDifference(fast.parts[i].image, plain.parts[i].image).isEmpty(),
                 qPrintable(fast.parts[i].name + ": " +
                            imageDifference(fast.parts[i].image, plain.parts[i].image)));
    QCOMPARE(fast.layers.size(), plain.layers.size());
    for (int i = 0; i < fast.layers.size(); ++i)
        QVERIFY2(imageDifference(fast.layers[i], plain.layers[i]).isEmpty(),
                 qPrintable(QString::number(i) + ": " +
                            imageDifference(fast.layers[i], plain.layers[i])));
    QCOMPARE(fast.shadeIndex, plain.shadeIndex);
    QCOMPARE(fast.topIndex, plain.topIndex);
}

void TestTilePreview::emptyTopShape_givesBottomShapeWithLightenedTopRows()
{
    const TileStyle style; // default colours, no top shape, no patterns
    const TilePreview preview = TilePreview::compose(style);

    QCOMPARE(partNames(preview), QStringList{"Bottom Shape"});
    QVERIFY(preview.layers.isEmpty());
    QCOMPARE(preview.shadeIndex, -1);
    QCOMPARE(preview.topIndex, -1);
    QCOMPARE(preview.tile.size(), QSize(128, 128));

    const QRgb bottom = QColor("#c39366").rgb();
    const QRgb highlight = lightened(QColor("#c39366"), 20);
    QVERIFY(highlight != bottom);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            QCOMPARE(preview.tile.pixel(x, y), y < 2 ? highlight : bottom);
    // The part shows the square before the highlight.
    QCOMPARE(preview.parts[0].image.pixel(0, 0), bottom);
}

void TestTilePreview::halfBottomOpacity_givesAlpha127BelowHighlight()
{
    TileStyle style;
    style.bottomOpacity = 0.5f;
    const TilePreview preview = TilePreview::compose(style);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; x += 9)
            QCOMPARE(qAlpha(preview.tile.pixel(x, y)), y < 2 ? 255 : 127);
    }
}

void TestTilePreview::topDown_drawsRotatedShadeAt80AndTopAt88()
{
    TileStyle style;
    style.topStyle =
        save(solidImage(128, 40, QImage::Format_ARGB32, QColor(90, 170, 40)), "solid40.png");
    style.topDown = false;
    const TilePreview flat = TilePreview::compose(style);
    style.topDown = true;
    const TilePreview repeated = TilePreview::compose(style);

    const QImage &a = flat.tile;
    const QImage &b = repeated.tile;
    const QRgb bottom = QColor("#c39366").rgb();
    // The top covers rows 0-39; the shade shows below it in rows 40-47.
    const QRgb shaded = a.pixel(5, 45);
    const QRgb topPixel = a.pixel(5, 20);
    QVERIFY(shaded != bottom);
    QVERIFY(topPixel != bottom && topPixel != shaded);
    for (int y = 48; y < 128; ++y)
        QCOMPARE(a.pixel(5, y), bottom);

    for (int y = 48; y < 80; ++y)
        QCOMPARE(b.pixel(5, y), bottom);
    for (int y = 80; y < 88; ++y)
        QCOMPARE(b.pixel(5, y), shaded);
    for (int y = 88; y < 128; ++y)
        QCOMPARE(b.pixel(5, y), topPixel);
    // The layers hold their rotated state.
    QCOMPARE(repeated.layers.at(repeated.topIndex).height(), 40);
}

void TestTilePreview::topDownWithoutTopShape_hasNoEffect()
{
    TileStyle style;
    style.bottomPattern = QFileInfo(path("bricks.png"));
    const TilePreview without = TilePreview::compose(style);
    style.topDown = true;
    const TilePreview with = TilePreview::compose(style);
    QCOMPARE(imageDifference(with.tile, without.tile), QString());
}

void TestTilePreview::topWithoutAlpha_keepsEveryPixel()
{
    TileStyle style;
    style.topStyle = path("flat.png");
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview), (QStringList{"Bottom Shape", "Top Shape"}));
    const QImage top = preview.parts.at(1).image;
    const QImage shade = preview.layers.at(preview.shadeIndex);
    QCOMPARE(top.size(), QSize(128, 40));
    for (int y = 0; y < top.height(); ++y) {
        for (int x = 0; x < top.width(); ++x) {
            QCOMPARE(qAlpha(top.pixel(x, y)), 255);
            QCOMPARE(qAlpha(shade.pixel(x, y)), 102);
        }
    }
}

void TestTilePreview::deletedTopPattern_leavesItsItemOut()
{
    TileStyle style;
    style.topStyle = path("grass.png");
    style.topPattern = QFileInfo(save(PreviewFixtures::specks(), "doomed-top.png"));
    QCOMPARE(partNames(TilePreview::compose(style)).count("Top Pattern"), 1);

    QVERIFY(QFile::remove(style.topPattern.filePath()));
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview), (QStringList{"Bottom Shape", "Top Shape"}));
    QCOMPARE(preview.layers.size(), 2);
}

void TestTilePreview::deletedBottomPattern_leavesItsItemOut()
{
    TileStyle style;
    style.bottomPattern = QFileInfo(save(PreviewFixtures::bricks(), "doomed-bottom.png"));
    QCOMPARE(partNames(TilePreview::compose(style)),
             (QStringList{"Bottom Shape", "Bottom Pattern"}));

    QVERIFY(QFile::remove(style.bottomPattern.filePath()));
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview), QStringList{"Bottom Shape"});
    QVERIFY(preview.layers.isEmpty());
}

void TestTilePreview::partsInOrder_withEverything()
{
    const TileStyle style = PreviewFixtures::fullStyle(QDir(m_dir.path()));
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview),
             (QStringList{"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"}));
    QCOMPARE(preview.layers.size(), 4);
    QCOMPARE(preview.shadeIndex, 1);
    QCOMPARE(preview.topIndex, 2);
    // Parts keep the layers as they were before the repeat rotated them.
    QCOMPARE(imageDifference(preview.parts[2].image,
                             preview.layers[2].transformed(QTransform().rotate(180))),
             QString());
}

void TestTilePreview::undecodableTopShape_givesEmptyTopLayers()
{
    TileStyle style;
    style.topStyle = path("junk.png");
    style.topPattern = QFileInfo(path("specks.png"));
    style.topDown = true;
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview), (QStringList{"Bottom Shape", "Top Shape", "Top Pattern"}));
    QVERIFY(preview.parts[1].image.isNull());
    QVERIFY(preview.parts[2].image.isNull());
    QCOMPARE(preview.layers.size(), 3);

    TileStyle plain;
    QCOMPARE(imageDifference(preview.tile, TilePreview::compose(plain).tile), QString());
}

void TestTilePreview::missingTopShape_givesNoTopParts()
{
    TileStyle style;
    style.topStyle = path("no-such-top.png");
    style.topPattern = QFileInfo(path("specks.png"));
    style.topDown = true;
    const TilePreview preview = TilePreview::compose(style);
    QCOMPARE(partNames(preview), QStringList{"Bottom Shape"});
    QCOMPARE(preview.shadeIndex, -1);
    QCOMPARE(preview.topIndex, -1);
}

void TestTilePreview::filesAreReadAgainOnEveryCall()
{
    TileStyle style;
    style.topStyle = save(solidImage(128, 30, QImage::Format_ARGB32, Qt::red), "changing.png");
    const QRgb before = TilePreview::compose(style).tile.pixel(10, 10);
    save(solidImage(128, 30, QImage::Format_ARGB32, Qt::blue), "changing.png");
    const QRgb after = TilePreview::compose(style).tile.pixel(10, 10);
    QVERIFY(before != after);
}

QTEST_GUILESS_MAIN(TestTilePreview)
#include "tst_tilepreview.moc"
