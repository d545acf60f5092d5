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
        // A painter cannot take palette images: they load as truecolour.
        QCOMPARE(G::loadImage(m_pattern).format(), QImage::Format_RGB32);
        QCOMPARE((QVector<int>{G::opacityToAlpha(0.4f), G::opacityToAlpha(0.5f),
                               G::opacityToAlpha(1.0f), G::opacityToAlpha(0.0f)}),
                 (QVector<int>{102, 127, 255, 0})); // truncated
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

    // On a 128 x 128 image, transparent but for the pixel at (0, 0).
    void pixelRules_data()
    {
        // Operation, argument (opacity in percent), pixel before and after.
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"paintVisible 0 00123456 00123456", // transparent: kept
              "paintAll 0 00000000 80abcdef",     // alpha too
              "setVisibleAlpha 102 ff090000 66090000", "setVisibleAlpha 102 c8ffffff 66ffffff",
              "setVisibleAlpha 102 01000000 66000000", "setVisibleAlpha 102 00000000 00000000",
              "setVisibleAlpha 300 ff090000 ff090000", // clamped, not wrapped
              "shiftLightness -40 ff0c171c ff000000",  // lightness 20 to 0
              "shiftLightness 20 fffcfaf8 ffffffff",   // 250 to 255
              "shiftLightness 20 80646464 ff787878",   // made opaque
              "shiftLightness 40 00405060 00405060", "applyOpacity 100 80ffffff 80ffffff",
              "applyOpacity 200 80ffffff 80ffffff", "applyOpacity 0 ffffffff 00000000",
              "applyOpacity -100 ffffffff 00000000", "applyOpacity 50 c8ffffff 64ffffff",
              "flattenOnWhite 0 00000000 ffffffff",
              "fillWithModeRgb 0 ff646464 ffc8c8c8", // QRgb alpha ignored
              "rotate180 0 ffff0000 ffff0000",       // moved to (127, 127)
              // The pattern file drawn with the "before" as its tint.
              "drawTinted 200 00000000 ff643cc8", // tint 0: untinted
              "drawTinted 0 00ff0000 ff643cc8",   // tint alpha 0: as loaded
              "drawTinted 255 ffff0000 ffc80091", "drawTinted 128 ff000000 ff321eac"})
            QTest::newRow(row) << QString(row);
    }

    void pixelRules()
    {
        QFETCH(QString, row);
        const QString op = row.section(' ', 0, 0);
        const int arg = row.section(' ', 1, 1).toInt();
        const QRgb pixel = row.section(' ', 2, 2).toUInt(nullptr, 16);
        QImage image(128, 128, QImage::Format_ARGB32);
        image.fill(0);
        if (op == "drawTinted")
            G::drawTintedImage(m_pattern, 1.0f, &image, pixel, arg);
        else
            image.setPixel(0, 0, pixel);
        if (op.startsWith("paint"))
            G::paintPixels(image, 0x80abcdefu, op == "paintAll");
        else if (op == "setVisibleAlpha")
            G::setVisibleAlpha(image, arg);
        else if (op == "shiftLightness")
            G::shiftLightness(image, arg, 0, 1, 0, 1);
        else if (op == "applyOpacity")
            G::applyOpacity(image, arg / 100.0f);
        else if (op == "flattenOnWhite")
            G::flattenOnWhite(image);
        else if (op == "fillWithModeRgb")
            G::fillWithModeRgb(image, 0x00ffffffu, QPainter::CompositionMode_Overlay);
        else if (op == "rotate180")
            G::rotateImage(image, 180);
        const bool converts = QString("setVisibleAlpha applyOpacity flattenOnWhite").contains(op);
        QCOMPARE(image.format(), converts ? QImage::Format_RGBA8888 : QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(op == "rotate180" ? image.pixel(127, 127) : image.pixel(0, 0),
                 row.section(' ', 3).toUInt(nullptr, 16));
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
        QTest::addColumn<QString>("parts");
        QTest::addColumn<QString>("column");
        TileStyle half;
        half.bottomOpacity = 0.5f;
        QTest::newRow("no top shape") << TileStyle() << "Bottom Shape"
                                      << "0=ffcea782 1=ffcea782 2=ffc39366 127=ffc39366";
        QTest::newRow("bottomOpacity 0.5") << half << "Bottom Shape"
                                           << "1=ffcea782 2=7fc39366 127=7fc39366";
        QTest::newRow("topDown") << design("solid", true) << "Bottom Shape|Top Shape"
                                 << "39=ff5ad40a 40=ffb38255 47=ffb38255 48=ffc39366 79=ffc39366 "
                                    "80=ffb38255 87=ffb38255 88=ff5ad40a 127=ff5ad40a";
        QTest::newRow("top without alpha")
            << design("flat") << "Bottom Shape|Top Shape"
            << "38=ff000000 39=ff000000 40=ffb38255 47=ffb38255 48=ffc39366";
    }

    void preview_workedCases()
    {
        QFETCH(TileStyle, style);
        QFETCH(QString, column);
        const TilePreview preview = TilePreview::compose(style);
        QTEST(partNames(preview).join('|'), "parts");
        for (const QString &probe : column.split(' '))
            QCOMPARE(QString::number(preview.tile.pixel(5, probe.section('=', 0, 0).toInt()), 16),
                     probe.section('=', 1));
    }

    // The design's file infos have cached that the files exist.
    void preview_deletedPatterns_leaveTheirItemsOut()
    {
        QVERIFY(QFile::copy(m_dir.filePath("specks.png"), m_dir.filePath("doomed.png")));
        TileStyle style = design("grass doomed doomed");
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"}));
        QVERIFY(style.topPattern.exists() && style.bottomPattern.exists());
        QVERIFY(QFile::remove(m_dir.filePath("doomed.png")));
        QCOMPARE(partNames(TilePreview::compose(style)),
                 (QStringList{"Bottom Shape", "Top Shape"}));
    }
};

QTEST_GUILESS_MAIN(TestImageOperations)
#include "tst_imageoperations.moc"
