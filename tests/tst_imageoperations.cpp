#include "generatetiles.h"
#include "previewfixtures.h"
#include "previeworacle.h"
#include "safeimagereader.h"

#include <QTemporaryDir>
#include <QtTest>

// The image operations and the preview composed from them.
using G = generateTiles;
namespace F = PreviewFixtures;
Q_DECLARE_METATYPE(TileStyle)
using Operation = std::function<void(QImage &image, QRgb pixel)>;
Q_DECLARE_METATYPE(Operation)
using Probes = QMap<int, QRgb>; // pixel colour by row
Q_DECLARE_METATYPE(Probes)

static QStringList partNames(const TilePreview &preview)
{
    QStringList names;
    for (const TilePreview::Part &part : preview.parts)
        names << part.name;
    return names;
}

class TestImageOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_pattern = m_dir.filePath("pattern.png"); // one opaque pixel, palette

    // A design from PNG files of the test folder: the top shape, bottom and
    // top pattern, by name ("" leaves a part out).
    TileStyle design(const QString &names, bool topDown = false) const
    {
        const QStringList n = (names + "  ").split(' ');
        const auto file = [&](int i) {
            return n[i].isEmpty() ? n[i] : m_dir.filePath(n[i] + ".png");
        };
        TileStyle s;
        s.topStyle = file(0);
        s.bottomPattern.setFile(file(1));
        s.topPattern.setFile(file(2));
        s.topDown = topDown;
        return s;
    }

private slots:
    void initTestCase()
    {
        QImage pattern(1, 1, QImage::Format_Indexed8);
        pattern.setColorTable({qRgb(100, 60, 200)});
        pattern.fill(0);
        QVERIFY(pattern.save(m_pattern));
        QImage solid(128, 40, QImage::Format_ARGB32);
        solid.fill(QColor(90, 170, 40));
        const QStringList names =
            QString("grass flat pixel big narrow solid bricks specks holes bricks64 large strip")
                .split(' ');
        const QImage images[] = {
            F::topShape(),       F::topShape().convertToFormat(QImage::Format_RGB32),
            F::pixelTop(),       F::topShape(200, 140),
            F::topShape(96, 20), solid,
            F::bricks(),         F::specks(),
            F::holes(),          F::bricks(64),
            F::specks(200, 150), F::specks(100, 20)};
        for (int i = 0; i < names.size(); ++i)
            QVERIFY(images[i].save(m_dir.filePath(names[i] + ".png"), "PNG"));
        QVERIFY(F::writeFile(m_dir.filePath("junk.png"), "not a picture"));
    }

    // A painter cannot take palette images: they load as truecolour.
    void loadImage_paletteFile_givesTruecolour()
    {
        QCOMPARE(G::loadImage(m_pattern).format(), QImage::Format_RGB32);
    }

    void opacityToAlpha_truncates_data()
    {
        QTest::addColumn<float>("opacity");
        QTest::addColumn<int>("alpha");
        QTest::newRow("0.4") << 0.4f << 102;
        QTest::newRow("0.5") << 0.5f << 127;
        QTest::newRow("1") << 1.0f << 255;
        QTest::newRow("0") << 0.0f << 0;
    }
    void opacityToAlpha_truncates()
    {
        QFETCH(float, opacity);
        QTEST(G::opacityToAlpha(opacity), "alpha");
    }

    // On a transparent 128 x 128 image: the operation given a pixel (most put it at (0, 0)),
    // the pixel at (0, 0) afterwards, and whether the operation converts to RGBA8888.
    void pixelRules_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QRgb>("before");
        QTest::addColumn<QRgb>("after");
        QTest::addColumn<bool>("rgba8888");
        const auto on = [](std::function<void(QImage &)> run) -> Operation {
            return [run](QImage &image, QRgb pixel) {
                image.setPixel(0, 0, pixel);
                run(image);
            };
        };
        const auto paint = [&](bool all) {
            return on([=](QImage &i) { G::paintPixels(i, 0x80abcdefu, all); });
        };
        const auto alpha = [&](int a) { return on([=](QImage &i) { G::setVisibleAlpha(i, a); }); };
        const auto lighten = [&](int d) {
            return on([=](QImage &i) { G::shiftLightness(i, d, 0, 1, 0, 1); });
        };
        const auto opacity = [&](float o) { return on([=](QImage &i) { G::applyOpacity(i, o); }); };
        // The pattern file drawn with the pixel as its tint, at this tint alpha.
        const auto tinted = [this](int a) -> Operation {
            return [=](QImage &i, QRgb tint) { G::drawTintedImage(m_pattern, 1.0f, &i, tint, a); };
        };
        QTest::newRow("paintVisible: kept") << paint(false) << 0x00123456u << 0x00123456u << false;
        QTest::newRow("paintAll: alpha too") << paint(true) << 0u << 0x80abcdefu << false;
        QTest::newRow("alpha 102: opaque") << alpha(102) << 0xff090000u << 0x66090000u << true;
        QTest::newRow("alpha 102: translucent") << alpha(102) << 0xc8ffffffu << 0x66ffffffu << true;
        QTest::newRow("alpha 102: alpha 1") << alpha(102) << 0x01000000u << 0x66000000u << true;
        QTest::newRow("alpha 102: transparent") << alpha(102) << 0u << 0u << true;
        QTest::newRow("alpha 300: clamped") << alpha(300) << 0xff090000u << 0xff090000u << true;
        QTest::newRow("lighten -40: to 0") << lighten(-40) << 0xff0c171cu << 0xff000000u << false;
        QTest::newRow("lighten 20: to 255") << lighten(20) << 0xfffcfaf8u << 0xffffffffu << false;
        QTest::newRow("lighten 20: opaque") << lighten(20) << 0x80646464u << 0xff787878u << false;
        QTest::newRow("lighten 40: clear") << lighten(40) << 0x00405060u << 0x00405060u << false;
        // Qt 6's QColor gives #cea884, #9c6b3e and #000536 for these (see below).
        QTest::newRow("lighten 20: Qt 5.15's lightness")
            << lighten(20) << 0xffc39366u << 0xffcea782u << false;
        QTest::newRow("lighten -40: Qt 5.15's lightness")
            << lighten(-40) << 0xffc39366u << 0xff9b6a3du << false;
        QTest::newRow("lighten 20: Qt 5.15's HSL to RGB")
            << lighten(20) << 0xff00010du << 0xff000436u << false;
        QTest::newRow("opacity 1") << opacity(1) << 0x80ffffffu << 0x80ffffffu << true;
        QTest::newRow("opacity 2") << opacity(2) << 0x80ffffffu << 0x80ffffffu << true;
        QTest::newRow("opacity 0") << opacity(0) << 0xffffffffu << 0u << true;
        QTest::newRow("opacity -1") << opacity(-1) << 0xffffffffu << 0u << true;
        QTest::newRow("opacity 0.5") << opacity(0.5f) << 0xc8ffffffu << 0x64ffffffu << true;
        QTest::newRow("flattenOnWhite") << on(G::flattenOnWhite) << 0u << 0xffffffffu << true;
        QTest::newRow("fillWithModeRgb: its alpha ignored") << on([](QImage &i) {
            G::fillWithModeRgb(i, 0x00ffffffu, QPainter::CompositionMode_Overlay);
        }) << 0xff646464u << 0xffc8c8c8u << false;
        QTest::newRow("rotate180: (127, 127) to (0, 0)") << Operation([](QImage &i, QRgb pixel) {
            i.setPixel(127, 127, pixel);
            G::rotateImage(i, 180);
        }) << 0xffff0000u << 0xffff0000u << false;
        QTest::newRow("tinted 200, tint 0: untinted") << tinted(200) << 0u << 0xff643cc8u << false;
        QTest::newRow("tinted 0: as loaded") << tinted(0) << 0x00ff0000u << 0xff643cc8u << false;
        QTest::newRow("tinted 255, red") << tinted(255) << 0xffff0000u << 0xffc80091u << false;
        QTest::newRow("tinted 128, black") << tinted(128) << 0xff000000u << 0xff321eacu << false;
    }
    void pixelRules()
    {
        QFETCH(Operation, operation);
        QFETCH(QRgb, before);
        QFETCH(QRgb, after);
        QFETCH(bool, rgba8888);
        QImage image(128, 128, QImage::Format_ARGB32);
        image.fill(0);
        operation(image, before);
        QCOMPARE(image.format(), rgba8888 ? QImage::Format_RGBA8888 : QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(QColor::fromRgba(image.pixel(0, 0)), QColor::fromRgba(after));
    }

    // The lightness rule is Qt 5.15's QColor getHsl()/setHsl() round trip, done
    // without QColor since Qt 6 rounds otherwise. A Qt 5 build checks it against
    // QColor on a spread of colours and deltas; the "Qt 5.15" rows above hold it
    // in every build.
    void shiftedLightness_isQt5QColor()
    {
#if QT_VERSION_MAJOR == 5
        const int deltas[] = {-255, -128, -40, -1, 1, 20, 255};
        for (quint32 c = 0, i = 0; c < (1u << 24); c += 97, ++i) {
            const QRgb rgb = 0xff000000u | c;
            const int delta = deltas[i % 7];
            QColor colour(rgb);
            int h = 0, s = 0, l = 0;
            colour.getHsl(&h, &s, &l);
            colour.setHsl(h, s, qBound(0, l + delta, 255));
            if (ImageOperations::shiftedLightness(rgb, delta) != colour.rgb())
                QFAIL(qPrintable(QString("#%1 by %2").arg(c, 6, 16, QChar('0')).arg(delta)));
        }
#else
        QSKIP("Qt 6's QColor rounds otherwise; the pinned rows of pixelRules hold here");
#endif
    }

    void unreadableOrHostileFile_givesNullAndDrawsNothing_data()
    {
        QTest::addColumn<QString>("path");
        const QByteArray png = F::readFile(m_pattern);
        const QString dir = m_dir.path() + '/', huge = dir + "valid, over the size limit";
        QVERIFY(F::writeFile(dir + "not an image", "not an image at all") &&
                F::writeFile(dir + "truncated", png.left(60)) &&
                F::writeFile(dir + "declares 60000 x 60000", F::absurdPng()) &&
                F::writeFile(huge, png) && QFile::resize(huge, SafeImageReader::MaxFileBytes + 1));
        for (const char *name : {"missing", "not an image", "truncated", "declares 60000 x 60000"})
            QTest::newRow(name) << dir + name;
        QTest::newRow("valid, over the size limit") << huge;
    }

    // The null image that comes back goes through every operation untouched.
    void unreadableOrHostileFile_givesNullAndDrawsNothing()
    {
        QFETCH(QString, path);
        QImage image = G::loadImage(path);
        QVERIFY(image.isNull());
        G::paintPixels(image, 0xffffffffu, true);
        G::setVisibleAlpha(image, 10);
        G::shiftLightness(image, 10, 0, 10, 0, 10);
        G::applyOpacity(image, 0.5f);
        G::rotateImage(image, 180);
        QVERIFY(image.isNull());
        QImage target = F::specks(37, 23);
        const QImage before = target.copy();
        G::drawTintedImage(path, 1.0f, &target, qRgba(255, 0, 0, 255), 255);
        G::drawImageOver(&target, image, 0, 0, 1.0f);
        QCOMPARE(target, before);
    }

    // The preview takes shortcuts by pattern format, alpha count, mask and
    // size: top shapes with alpha, without, with few alphas, larger and
    // smaller than the tile, undecodable or missing meet patterns of each
    // kind, under different opacities and colours.
    void preview_matchesStepByStepComposition_data()
    {
        QTest::addColumn<TileStyle>("style");
        const float o[] = {1, .5f, 0, .9f, .4f, .25f, .67f, .1f, .75f, .95f, .2f};
        const char *colours[] = {"#c39366", "#3050ff", "#000000", "#ffffff", "#808080"};
        const QStringList tops{"", "grass", "flat", "pixel", "big", "narrow", "junk", "gone"},
            patterns{"", "bricks", "specks", "holes", "bricks64", "large", "strip", "gone"};
        for (int i = 0; i < 24; ++i) {
            const QString names =
                tops[i % 8] + ' ' + patterns[(i + i / 8) % 8] + ' ' + patterns[(i + 7 + i / 8) % 8];
            TileStyle s = design(names, i % 3);
            s.topOpacity = s.bottomPatternOpacity = o[i % 11];
            s.bottomOpacity = s.topPatternOpacity = o[(i + 3) % 11];
            s.topPatternColorOpacity = s.bottomPatternColorOpacity = o[(i + 7) % 11];
            s.topColor.setNamedColor(colours[i % 5]);
            s.bottomColor.setNamedColor(colours[(i + 1) % 5]);
            s.topPatternColor = s.bottomPatternColor = QColor(colours[(i + 2) % 5]);
            QTest::addRow("%d: %s", i, qPrintable(names)) << s;
        }
    }

    void preview_matchesStepByStepComposition()
    {
        QFETCH(TileStyle, style);
        const TilePreview fast = TilePreview::compose(style);
        const TilePreview plain = PlainOps::composePreview(style);
        QCOMPARE(fast.tile, plain.tile);
        QCOMPARE(partNames(fast), partNames(plain));
        for (int i = 0; i < fast.parts.size(); ++i)
            QCOMPARE(fast.parts[i].image, plain.parts[i].image);
        QCOMPARE(fast.layers, plain.layers);
        QCOMPARE(QPoint(fast.shadeIndex, fast.topIndex), QPoint(plain.shadeIndex, plain.topIndex));
    }

    // The worked cases, probed down column 5 of the tile (y=colour): no top
    // shape gives only "Bottom Shape" with its top two rows lightened by 20
    // and made opaque; bottomOpacity 0.5 truncates to alpha 127; a 40-pixel
    // top with topDown draws the rotated shade at 80 and the top at 88; a top
    // without alpha keeps every pixel, so shade and top fill their rectangle.
    void preview_workedCases_data()
    {
        QTest::addColumn<TileStyle>("style");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<Probes>("column");
        TileStyle half;
        half.bottomOpacity = 0.5f;
        const QStringList bottom{"Bottom Shape"}, both{"Bottom Shape", "Top Shape"};
        QTest::newRow("no top shape")
            << TileStyle() << bottom
            << Probes{{0, 0xffcea782}, {1, 0xffcea782}, {2, 0xffc39366}, {127, 0xffc39366}};
        QTest::newRow("bottomOpacity 0.5")
            << half << bottom << Probes{{1, 0xffcea782}, {2, 0x7fc39366}, {127, 0x7fc39366}};
        QTest::newRow("topDown") << design("solid", true) << both
                                 << Probes{{39, 0xff5ad40a}, {40, 0xffb38255}, {47, 0xffb38255},
                                           {48, 0xffc39366}, {79, 0xffc39366}, {80, 0xffb38255},
                                           {87, 0xffb38255}, {88, 0xff5ad40a}, {127, 0xff5ad40a}};
        QTest::newRow("top without alpha") << design("flat") << both
                                           << Probes{{38, 0xff000000},
                                                     {39, 0xff000000},
                                                     {40, 0xffb38255},
                                                     {47, 0xffb38255},
                                                     {48, 0xffc39366}};
    }

    void preview_workedCases()
    {
        QFETCH(TileStyle, style);
        QFETCH(Probes, column);
        const TilePreview preview = TilePreview::compose(style);
        QTEST(partNames(preview), "parts");
        for (auto it = column.cbegin(); it != column.cend(); ++it)
            QCOMPARE(qMakePair(it.key(), QColor::fromRgba(preview.tile.pixel(5, it.key()))),
                     qMakePair(it.key(), QColor::fromRgba(it.value())));
    }

    // The design's file infos have cached that the files exist.
    void preview_deletedPatterns_leaveTheirItemsOut()
    {
        QVERIFY(QFile::copy(m_dir.filePath("specks.png"), m_dir.filePath("doomed.png")));
        TileStyle style = design("grass doomed doomed");
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"}));
        QVERIFY(style.topPattern.exists());
        QVERIFY(style.bottomPattern.exists());
        QVERIFY(QFile::remove(m_dir.filePath("doomed.png")));
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Top Shape"}));
    }
};

QTEST_GUILESS_MAIN(TestImageOperations)
#include "tst_imageoperations.moc"
