// TilePipeline against the step-by-step oracle, bit for bit, over designs and
// masks that hit every shortcut it takes; and the tiles' PNG files, which Qt
// and libpng must read back as Qt's own and which are never larger.

#include "generatorfixtures.h"
#include "generatororacle.h"
#include "pngencoder.h"
#include "tilepipeline.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <png.h>

using namespace GeneratorFixtures;

namespace {

// RGBA as libpng's simplified reader gives it; empty when it cannot.
QByteArray libpngPixels(const QByteArray &png)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    QByteArray pixels;
    if (png_image_begin_read_from_memory(&image, png.constData(), size_t(png.size()))) {
        image.format = PNG_FORMAT_RGBA;
        pixels.resize(int(PNG_IMAGE_SIZE(image)));
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
            pixels.clear();
    }
    png_image_free(&image);
    return pixels;
}

// What is wrong with PngEncoder's file for the tile, next to QImage::save's.
QString encodingFault(const QImage &tile)
{
    QString error;
    const QByteArray ours = PngEncoder::encode(tile, &error);
    QByteArray qt;
    QBuffer buffer(&qt);
    tile.save(&buffer, "PNG");
    if (libpngPixels(ours) != libpngPixels(qt) ||
        QImage::fromData(ours, "png") != QImage::fromData(qt, "png"))
        return "not read back as Qt's file " + error;
    return ours.size() <= qt.size() ? QString()
                                    : QString("%1 bytes, Qt's %2").arg(ours.size()).arg(qt.size());
}

} // namespace

class TestTilePipeline : public QObject
{
    Q_OBJECT

private slots:
    void sameTilesAsOracle_encodedLikeQt_data();
    void sameTilesAsOracle_encodedLikeQt();
    void otherMaskSize_scaledTo128();
};

void TestTilePipeline::sameTilesAsOracle_encodedLikeQt_data()
{
    const QString textured = "top=grass topPattern=specks bottomPattern=bricks ";
    QTest::addColumn<QString>("style");
    QTest::newRow("grass top, flat") << "top=grass";
    QTest::newRow("textured") << textured;
    QTest::newRow("no top") << "";
    QTest::newRow("unreadable top") << "top=missing.png";
    QTest::newRow("top without alpha") << "top=opaque";
    QTest::newRow("pixel top, translucent tufts") << "top=pixel topPattern=holes";
    QTest::newRow("top opacity 0") << textured + "topOpacity=0";
    QTest::newRow("translucent base") << "top=grass bottomOpacity=0.5 bottomPattern=holes";
    QTest::newRow("invisible base, narrow tall top") << "top=narrow bottomOpacity=0";
    QTest::newRow("every opacity 0.5")
        << textured + "topOpacity=0.5 bottomOpacity=0.5 topPatternOpacity=0.5 "
                      "bottomPatternOpacity=0.5 topPatternColorOpacity=0.5 "
                      "bottomPatternColorOpacity=0.5 bottomColor=#285ac8 topColor=#fafafa";
    QTest::newRow("stronger shade, small pattern")
        << "top=grass shade=0.7 bottomPattern=smallspecks";
}

void TestTilePipeline::sameTilesAsOracle_encodedLikeQt()
{
    QFETCH(QString, style);
    QTemporaryDir dir;
    const TileStyle design = styleFrom(style, dir.path());
    const GeneratorOracle::Layers layers = GeneratorOracle::prepare(design);
    const TilePipeline pipeline(design);
    const QMap<QString, QImage> all = masks();
    for (const QString &mask : all.keys())
        for (bool withTop : {true, false})
            for (int size : {128, 64, 32}) {
                const QImage tile = pipeline.makeTile(all[mask], withTop, size);
                const QString where =
                    QString("%1 mask, top %2, size %3").arg(mask).arg(withTop).arg(size);
                QVERIFY2(tile == GeneratorOracle::makeTile(layers, all[mask], withTop, size),
                         qPrintable(where));
                const QString fault = withTop && size > 32 ? encodingFault(tile) : QString();
                QVERIFY2(fault.isEmpty(), qPrintable(where + ": " + fault));
            }
}

void TestTilePipeline::otherMaskSize_scaledTo128()
{
    // Column 2 of the 64 x 64 mask starts at row 10: doubled, it cuts at row 20.
    const QImage tile = TilePipeline(TileStyle()).makeTile(masks().value("64 x 64"), true, 128);
    QCOMPARE(qAlpha(tile.pixel(4, 19)) + 2 * qAlpha(tile.pixel(4, 20)), 2 * 255);
}

QTEST_GUILESS_MAIN(TestTilePipeline)
#include "tst_tilepipeline.moc"
