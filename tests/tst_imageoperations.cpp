#include "generatetiles.h"
#include "previeworacle.h"
#include "safeimagereader.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

Q_DECLARE_METATYPE(QImage::Format)

namespace {

// A deterministic image with every kind of pixel the operations tell apart:
// transparent (with and without colour bits), faint, half and opaque,
// greys and saturated colours.
QImage mixedImage(int width, int height, QImage::Format format, quint32 seed = 7)
{
    QImage image(width, height, QImage::Format_ARGB32);
    const int alphas[] = {0, 0, 1, 64, 127, 128, 200, 254, 255, 255, 255};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int a = alphas[(seed >> 8) % 11];
            int r = int((seed >> 12) & 0xff);
            int g = int((seed >> 20) & 0xff);
            int b = int(((seed >> 4) ^ (seed >> 24)) & 0xff);
            if ((seed >> 28) == 0)
                g = b = r; // achromatic
            image.setPixel(x, y, qRgba(r, g, b, a));
        }
    }
    return image.convertToFormat(format);
}

bool sameImage(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    const int rowBytes = a.width() * a.depth() / 8;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(rowBytes)))
            return false;
    return true;
}

QImage oneColour(int width, int height, QRgb value, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(width, height, format);
    image.fill(0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, value);
    return image;
}

int lightnessOf(QRgb pixel)
{
    return QColor(pixel).toHsl().lightness();
}

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (char c : data) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    QByteArray body(type, 4);
    body += data;
    QByteArray length(4, 0);
    qToBigEndian<quint32>(quint32(data.size()), length.data());
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(crc32(body), crc.data());
    png += length + body + crc;
}

// A tiny PNG whose header declares an enormous image.
QByteArray absurdPng()
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, 0);
    qToBigEndian<quint32>(60000, header.data());
    qToBigEndian<quint32>(60000, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 6; // RGBA
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace

class TestImageOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void opacityToAlpha_data();
    void opacityToAlpha();

    void clearImage_makesEveryPixelZero();

    void paintPixels_visibleOnly_transparentImageUnchanged();
    void paintPixels_allPixels_setsColourAndAlpha();
    void paintPixels_matchesPixelWalk_data();
    void paintPixels_matchesPixelWalk();

    void setVisibleAlpha_givesEveryVisiblePixelTheAlpha();
    void setVisibleAlpha_matchesPixelWalk_data();
    void setVisibleAlpha_matchesPixelWalk();

    void shiftLightness_clampsAndMakesOpaque_data();
    void shiftLightness_clampsAndMakesOpaque();
    void shiftLightness_transparentPixelUntouched();
    void shiftLightness_topTwoRowsOnly();
    void shiftLightness_matchesQColor_data();
    void shiftLightness_matchesQColor();

    void applyOpacity_data();
    void applyOpacity();
    void applyOpacity_fullKeepsEveryPixel();

    void flattenOnWhite_transparentGivesWhite();
    void flattenOnWhite_blendsPartialAlpha();

    void fillWithMode_overlayAlphaZero_leavesOpaqueImage();
    void fillWithModeRgb_isOpaqueFill();

    void drawImageOver_placesAndClampsOpacity();

    void drawTintedImage_data();
    void drawTintedImage();
    void drawTintedImage_unreadableFile_drawsNothing_data();
    void drawTintedImage_unreadableFile_drawsNothing();

    void rotateImage_180MovesCornerToCorner();

    void loadImage_formats_data();
    void loadImage_formats();
    void loadImage_unreadable_givesNull_data();
    void loadImage_unreadable_givesNull();

    void nullImage_everyOperationDoesNothing();

private:
    QTemporaryDir m_dir;
    QString m_pattern;
    QString m_opaquePattern;
    QString m_missing;
    QString m_garbage;
    QString m_absurd;
    QString m_hugeFile;
    QString m_truncated;
};

void TestImageOperations::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_pattern = m_dir.filePath("pattern.png");
    QVERIFY(mixedImage(40, 30, QImage::Format_ARGB32).save(m_pattern));
    m_opaquePattern = m_dir.filePath("opaque.png");
    QVERIFY(mixedImage(40, 30, QImage::Format_RGB32).save(m_opaquePattern));
    m_missing = m_dir.filePath("missing.png");

    m_garbage = m_dir.filePath("garbage.png");
    QFile garbage(m_garbage);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("not an image at all");
    garbage.close();

    m_absurd = m_dir.filePath("absurd.png");
    QFile absurd(m_absurd);
    QVERIFY(absurd.open(QIODevice::WriteOnly));
    absurd.write(absurdPng());
    absurd.close();
    QCOMPARE(QImageReader(m_absurd).size(), QSize(60000, 60000));

    // A valid picture followed by more bytes than any asset may have.
    m_hugeFile = m_dir.filePath("huge.png");
    QVERIFY(QFile::copy(m_pattern, m_hugeFile));
    QFile huge(m_hugeFile);
    QVERIFY(huge.resize(SafeImageReader::MaxFileBytes + 1));

    m_truncated = m_dir.filePath("truncated.png");
    QFile whole(m_pattern);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile truncated(m_truncated);
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    truncated.write(whole.readAll().left(60));
}

void TestImageOperations::opacityToAlpha_data()
{
    QTest::addColumn<float>("opacity");
    QTest::addColumn<int>("alpha");
    QTest::newRow("0.4 truncates to 102") << 0.4f << 102;
    QTest::newRow("1.0") << 1.0f << 255;
    QTest::newRow("0.0") << 0.0f << 0;
    QTest::newRow("0.5 truncates 127.5") << 0.5f << 127;
    QTest::newRow("0.999") << 0.999f << 254;
    QTest::newRow("0.2") << 0.2f << 51;
}

void TestImageOperations::opacityToAlpha()
{
    QFETCH(float, opacity);
    QFETCH(int, alpha);
    QCOMPARE(generateTiles::opacityToAlpha(opacity), alpha);
}

void TestImageOperations::clearImage_makesEveryPixelZero()
{
    QImage image = mixedImage(9, 7, QImage::Format_ARGB32);
    generateTiles::clearImage(image);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixel(x, y), QRgb(0));
}

void TestImageOperations::paintPixels_visibleOnly_transparentImageUnchanged()
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(0x00123456u);
    const QImage before = image.copy();
    generateTiles::paintPixels(image, 0xffabcdefu, false);
    QVERIFY(sameImage(image, before));
}

void TestImageOperations::paintPixels_allPixels_setsColourAndAlpha()
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(0);
    generateTiles::paintPixels(image, 0x80abcdefu, true);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            QCOMPARE(image.pixel(x, y), QRgb(0x80abcdefu));
}

void TestImageOperations::paintPixels_matchesPixelWalk_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<bool>("allPixels");
    const QImage::Format formats[] = {QImage::Format_ARGB32,
                                      QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_RGB32,
                                      QImage::Format_RGBA8888,
                                      QImage::Format_RGBA8888_Premultiplied,
                                      QImage::Format_RGBX8888,
                                      QImage::Format_Grayscale8,
                                      QImage::Format_RGB16};
    for (QImage::Format format : formats) {
        QTest::addRow("format %d, visible", int(format)) << format << false;
        QTest::addRow("format %d, all", int(format)) << format << true;
    }
}

void TestImageOperations::paintPixels_matchesPixelWalk()
{
    QFETCH(QImage::Format, format);
    QFETCH(bool, allPixels);
    QImage fast = mixedImage(37, 23, format);
    QImage plain = fast.copy();
    generateTiles::paintPixels(fast, 0xc0336699u, allPixels);
    PlainOps::paintPixels(plain, 0xc0336699u, allPixels);
    QVERIFY(sameImage(fast, plain));
}

void TestImageOperations::setVisibleAlpha_givesEveryVisiblePixelTheAlpha()
{
    QImage image(4, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(10, 20, 30, 255));
    image.setPixel(1, 0, qRgba(40, 50, 60, 200));
    image.setPixel(2, 0, qRgba(255, 0, 0, 1));
    image.setPixel(3, 0, 0);
    const QImage painted = [&] {
        QImage copy(image.size(), QImage::Format_RGBA8888);
        copy.fill(0);
        QPainter painter(&copy);
        painter.drawImage(0, 0, image);
        return copy;
    }();
    generateTiles::setVisibleAlpha(image, 102);
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    for (int x = 0; x < 3; ++x) {
        QCOMPARE(qAlpha(image.pixel(x, 0)), 102);
        // The colour is the painted pixel's.
        QCOMPARE(image.pixel(x, 0) & 0xffffffu, painted.pixel(x, 0) & 0xffffffu);
    }
    QCOMPARE(image.pixel(0, 0), qRgba(10, 20, 30, 102));
    QCOMPARE(image.pixel(3, 0), QRgb(0));
}

void TestImageOperations::setVisibleAlpha_matchesPixelWalk_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("alpha");
    QTest::newRow("ARGB32 102") << QImage::Format_ARGB32 << 102;
    QTest::newRow("RGB32 255") << QImage::Format_RGB32 << 255;
    QTest::newRow("premultiplied 0") << QImage::Format_ARGB32_Premultiplied << 0;
    QTest::newRow("RGBA8888 1") << QImage::Format_RGBA8888 << 1;
    QTest::newRow("RGBA8888 premultiplied 200") << QImage::Format_RGBA8888_Premultiplied << 200;
}

void TestImageOperations::setVisibleAlpha_matchesPixelWalk()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, alpha);
    QImage fast = mixedImage(33, 17, format);
    QImage plain = fast.copy();
    generateTiles::setVisibleAlpha(fast, alpha);
    PlainOps::setVisibleAlpha(plain, alpha);
    QVERIFY(sameImage(fast, plain));
}

void TestImageOperations::shiftLightness_clampsAndMakesOpaque_data()
{
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<int>("delta");
    QTest::addColumn<QRgb>("expected");
    QColor dark;
    dark.setHsl(200, 100, 20);
    QColor light;
    light.setHsl(30, 80, 250);
    QTest::newRow("lightness 20 - 40 is black") << dark.rgb() << -40 << qRgb(0, 0, 0);
    QTest::newRow("lightness 250 + 20 is white") << light.rgb() << 20 << qRgb(255, 255, 255);
    QTest::newRow("half transparent becomes opaque")
        << (dark.rgb() & 0x80ffffffu) << 0 << (dark.rgb() | 0xff000000u);
    QTest::newRow("faint becomes opaque")
        << qRgba(200, 100, 50, 1) << 10 << (0xff000000u | QRgb(0x0) | [] {
               QColor c = QColor(200, 100, 50).toHsl();
               QColor r;
               r.setHsl(c.hslHue(), c.hslSaturation(), c.lightness() + 10);
               return r.rgb();
           }());
    QTest::newRow("grey keeps no hue") << qRgb(100, 100, 100) << 20 << qRgb(120, 120, 120);
}

void TestImageOperations::shiftLightness_clampsAndMakesOpaque()
{
    QFETCH(QRgb, pixel);
    QFETCH(int, delta);
    QFETCH(QRgb, expected);
    QImage image = oneColour(1, 1, pixel);
    generateTiles::shiftLightness(image, delta, 0, 1, 0, 1);
    QCOMPARE(image.pixel(0, 0), expected);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 255);
}

void TestImageOperations::shiftLightness_transparentPixelUntouched()
{
    QImage image = oneColour(3, 3, 0x00405060u);
    generateTiles::shiftLightness(image, 40, 0, 3, 0, 3);
    QCOMPARE(image.pixel(1, 1), QRgb(0x00405060u));
}

void TestImageOperations::shiftLightness_topTwoRowsOnly()
{
    const QRgb colour = qRgb(120, 80, 40);
    QImage image = oneColour(6, 5, colour);
    generateTiles::shiftLightness(image, 20, 0, image.width(), 0, 2);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            if (y < 2)
                QCOMPARE(lightnessOf(image.pixel(x, y)), lightnessOf(colour) + 20);
            else
                QCOMPARE(image.pixel(x, y), colour);
        }
    }
}

void TestImageOperations::shiftLightness_matchesQColor_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("delta");
    QTest::addColumn<QRect>("range");
    const QRect whole(0, 0, 64, 48);
    QTest::newRow("ARGB32 -40") << QImage::Format_ARGB32 << -40 << whole;
    QTest::newRow("ARGB32 +20 rows") << QImage::Format_ARGB32 << 20 << QRect(0, 0, 64, 2);
    QTest::newRow("RGB32 +255") << QImage::Format_RGB32 << 255 << whole;
    QTest::newRow("RGB32 -255") << QImage::Format_RGB32 << -255 << whole;
    QTest::newRow("premultiplied +7") << QImage::Format_ARGB32_Premultiplied << 7 << whole;
    QTest::newRow("RGBA8888 -1 inner") << QImage::Format_RGBA8888 << -1 << QRect(5, 3, 40, 30);
    QTest::newRow("RGBA8888 premultiplied +100")
        << QImage::Format_RGBA8888_Premultiplied << 100 << whole;
    QTest::newRow("RGBX8888 -90") << QImage::Format_RGBX8888 << -90 << whole;
    QTest::newRow("grey +30") << QImage::Format_Grayscale8 << 30 << whole;
    QTest::newRow("range beyond the image")
        << QImage::Format_ARGB32 << 20 << QRect(-5, -5, 200, 200);
}

// The scanLine() walk with its one-colour memory against a QColor per pixel.
void TestImageOperations::shiftLightness_matchesQColor()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, delta);
    QFETCH(QRect, range);
    QImage fast = mixedImage(64, 48, format, quint32(delta + 1000));
    // Runs of one colour with changing alpha exercise the memory.
    for (int x = 0; x < 20; ++x)
        fast.setPixel(x, 10, qRgba(90, 60, 30, x * 12));
    QImage plain = fast.copy();
    const int x0 = range.left(), x1 = range.left() + range.width();
    const int y0 = range.top(), y1 = range.top() + range.height();
    generateTiles::shiftLightness(fast, delta, x0, x1, y0, y1);
    PlainOps::shiftLightness(plain, delta, qMax(0, x0), qMin(x1, plain.width()), qMax(0, y0),
                             qMin(y1, plain.height()));
    QVERIFY(sameImage(fast, plain));
}

void TestImageOperations::applyOpacity_data()
{
    QTest::addColumn<float>("opacity");
    QTest::addColumn<int>("kind"); // 0 unchanged, 1 transparent, 2 halved
    QTest::newRow("1.0") << 1.0f << 0;
    QTest::newRow("2.0") << 2.0f << 0;
    QTest::newRow("0") << 0.0f << 1;
    QTest::newRow("-1") << -1.0f << 1;
    QTest::newRow("0.5") << 0.5f << 2;
}

void TestImageOperations::applyOpacity()
{
    QFETCH(float, opacity);
    QFETCH(int, kind);
    const QImage source = mixedImage(31, 19, QImage::Format_RGBA8888);
    QImage image = source;
    generateTiles::applyOpacity(image, opacity);
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    QCOMPARE(image.size(), source.size());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb in = source.pixel(x, y);
            const QRgb out = image.pixel(x, y);
            if (kind == 1) {
                QCOMPARE(out, QRgb(0));
            } else if (kind == 2) {
                QVERIFY2(qAbs(qAlpha(out) - qAlpha(in) / 2) <= 1,
                         qPrintable(QString("%1 -> %2").arg(qAlpha(in)).arg(qAlpha(out))));
            } else if (qAlpha(in) == 255) {
                QCOMPARE(out, in);
            } else if (qAlpha(in) == 0) {
                QCOMPARE(out, QRgb(0));
            } else {
                QCOMPARE(qAlpha(out), qAlpha(in));
            }
        }
    }
}

// Full opacity on every colour value at every alpha: the painter's round
// trip through premultiplied values gives each pixel back unchanged, except
// at alpha 1, where it may round a channel by one step.
void TestImageOperations::applyOpacity_fullKeepsEveryPixel()
{
    QImage image(256, 256, QImage::Format_RGBA8888);
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c)
            image.setPixel(c, a, qRgba(c, 255 - c, c / 2, a));
    QImage faded = image;
    generateTiles::applyOpacity(faded, 1.0f);
    int changed = 0;
    for (int a = 2; a < 256; ++a)
        for (int c = 0; c < 256; ++c)
            changed += faded.pixel(c, a) != image.pixel(c, a);
    QCOMPARE(changed, 0);
    for (int c = 0; c < 256; ++c) {
        const QRgb in = image.pixel(c, 1);
        const QRgb out = faded.pixel(c, 1);
        QCOMPARE(qAlpha(out), 1);
        QVERIFY(qAbs(qRed(out) - qRed(in)) <= 1 && qAbs(qGreen(out) - qGreen(in)) <= 1 &&
                qAbs(qBlue(out) - qBlue(in)) <= 1);
    }
}

void TestImageOperations::flattenOnWhite_transparentGivesWhite()
{
    QImage image(5, 4, QImage::Format_ARGB32);
    image.fill(0);
    generateTiles::flattenOnWhite(image);
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            QCOMPARE(image.pixel(x, y), qRgba(255, 255, 255, 255));
}

void TestImageOperations::flattenOnWhite_blendsPartialAlpha()
{
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 255));
    image.setPixel(1, 0, qRgba(0, 0, 0, 128));
    image.setPixel(2, 0, qRgba(200, 10, 10, 255));
    generateTiles::flattenOnWhite(image);
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
    QVERIFY(qAbs(qRed(image.pixel(1, 0)) - 127) <= 1);
    QCOMPARE(qAlpha(image.pixel(1, 0)), 255);
    QCOMPARE(image.pixel(2, 0), qRgb(200, 10, 10));
}

void TestImageOperations::fillWithMode_overlayAlphaZero_leavesOpaqueImage()
{
    for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGB32}) {
        QImage image = mixedImage(20, 10, QImage::Format_RGB32).convertToFormat(format);
        const QImage before = image.copy();
        generateTiles::fillWithMode(image, QColor(255, 0, 0, 0), QPainter::CompositionMode_Overlay);
        QVERIFY(sameImage(image, before));
    }
}

void TestImageOperations::fillWithModeRgb_isOpaqueFill()
{
    QImage withRgb = mixedImage(20, 10, QImage::Format_RGB32);
    QImage withColour = withRgb.copy();
    // The QRgb's own alpha (here 0) is ignored.
    generateTiles::fillWithModeRgb(withRgb, 0x0033cc66u, QPainter::CompositionMode_Overlay);
    generateTiles::fillWithMode(withColour, QColor(0x33, 0xcc, 0x66),
                                QPainter::CompositionMode_Overlay);
    QVERIFY(sameImage(withRgb, withColour));
    QVERIFY(!sameImage(withRgb, mixedImage(20, 10, QImage::Format_RGB32)));
}

void TestImageOperations::drawImageOver_placesAndClampsOpacity()
{
    const QImage source = oneColour(2, 2, qRgb(10, 200, 30));
    QImage atOne(6, 6, QImage::Format_ARGB32_Premultiplied);
    atOne.fill(0);
    QImage atTwo = atOne.copy();
    generateTiles::drawImageOver(&atOne, source, 3, 4, 1.0f);
    generateTiles::drawImageOver(&atTwo, source, 3, 4, 2.0f);
    QVERIFY(sameImage(atOne, atTwo));
    QCOMPARE(atOne.pixel(3, 4), qRgb(10, 200, 30));
    QCOMPARE(atOne.pixel(4, 5), qRgb(10, 200, 30));
    QCOMPARE(atOne.pixel(2, 4), QRgb(0));
    QCOMPARE(atOne.pixel(3, 3), QRgb(0));
}

void TestImageOperations::drawTintedImage_data()
{
    QTest::addColumn<QRgb>("tint");
    QTest::addColumn<int>("tintAlpha");
    QTest::addColumn<bool>("likeUntinted");
    QTest::newRow("tint 0 draws untinted") << QRgb(0) << 200 << true;
    QTest::newRow("tint alpha 0 leaves the image") << qRgba(255, 0, 0, 0) << 0 << true;
    QTest::newRow("red at full alpha tints") << qRgba(255, 0, 0, 255) << 255 << false;
    QTest::newRow("black at alpha 128 tints") << qRgba(0, 0, 0, 128) << 128 << false;
}

void TestImageOperations::drawTintedImage()
{
    QFETCH(QRgb, tint);
    QFETCH(int, tintAlpha);
    QFETCH(bool, likeUntinted);

    QImage untinted(50, 40, QImage::Format_ARGB32_Premultiplied);
    untinted.fill(qRgb(30, 30, 30));
    QImage tinted = untinted.copy();
    PlainOps::drawImageOver(untinted, generateTiles::loadImage(m_opaquePattern), 0, 0, 1.0f);
    generateTiles::drawTintedImage(m_opaquePattern, 1.0f, &tinted, tint, tintAlpha);
    QCOMPARE(sameImage(tinted, untinted), likeUntinted);
    if (!likeUntinted) {
        // Tinted as a plain overlay fill would tint it.
        QImage expected = generateTiles::loadImage(m_opaquePattern);
        PlainOps::fillWithMode(expected, QColor(qRed(tint), qGreen(tint), qBlue(tint), tintAlpha),
                               QPainter::CompositionMode_Overlay);
        QImage canvas(50, 40, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(qRgb(30, 30, 30));
        PlainOps::drawImageOver(canvas, expected, 0, 0, 1.0f);
        QVERIFY(sameImage(tinted, canvas));
    }
}

void TestImageOperations::drawTintedImage_unreadableFile_drawsNothing_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not an image") << "garbage";
    QTest::newRow("declares 60000 x 60000") << "absurd";
    QTest::newRow("huge file") << "huge";
    QTest::newRow("truncated") << "truncated";
}

void TestImageOperations::drawTintedImage_unreadableFile_drawsNothing()
{
    QFETCH(QString, which);
    const QString path = which == "missing"   ? m_missing
                         : which == "garbage" ? m_garbage
                         : which == "absurd"  ? m_absurd
                         : which == "huge"    ? m_hugeFile
                                              : m_truncated;
    QImage target(20, 20, QImage::Format_ARGB32);
    target.fill(qRgba(1, 2, 3, 4));
    const QImage before = target.copy();
    generateTiles::drawTintedImage(path, 1.0f, &target, qRgba(255, 0, 0, 255), 255);
    QVERIFY(sameImage(target, before));
}

void TestImageOperations::rotateImage_180MovesCornerToCorner()
{
    QImage image(128, 128, QImage::Format_RGBA8888_Premultiplied);
    image.fill(0);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    generateTiles::rotateImage(image, 180);
    QCOMPARE(image.size(), QSize(128, 128));
    QCOMPARE(image.pixel(127, 127), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(0, 0), QRgb(0));
}

void TestImageOperations::loadImage_formats_data()
{
    QTest::addColumn<QImage::Format>("saved");
    QTest::addColumn<QImage::Format>("loaded");
    QTest::newRow("with alpha") << QImage::Format_ARGB32 << QImage::Format_ARGB32;
    QTest::newRow("without alpha") << QImage::Format_RGB32 << QImage::Format_RGB32;
    QTest::newRow("palette") << QImage::Format_Indexed8 << QImage::Format_ARGB32;
    QTest::newRow("grey") << QImage::Format_Grayscale8 << QImage::Format_RGB32;
    QTest::newRow("16 bit") << QImage::Format_RGBA64 << QImage::Format_ARGB32;
}

void TestImageOperations::loadImage_formats()
{
    QFETCH(QImage::Format, saved);
    QFETCH(QImage::Format, loaded);
    const QImage source = mixedImage(16, 12, QImage::Format_ARGB32).convertToFormat(saved);
    const QString path = m_dir.filePath(QString("format%1.png").arg(int(saved)));
    QVERIFY(source.save(path, "PNG"));
    const QImage image = generateTiles::loadImage(path);
    QCOMPARE(image.format(), loaded);
    QCOMPARE(image.size(), source.size());
    QCOMPARE(image.pixel(3, 4), source.convertToFormat(loaded).pixel(3, 4));
}

void TestImageOperations::loadImage_unreadable_givesNull_data()
{
    drawTintedImage_unreadableFile_drawsNothing_data();
}

void TestImageOperations::loadImage_unreadable_givesNull()
{
    QFETCH(QString, which);
    const QString path = which == "missing"   ? m_missing
                         : which == "garbage" ? m_garbage
                         : which == "absurd"  ? m_absurd
                         : which == "huge"    ? m_hugeFile
                                              : m_truncated;
    QVERIFY(generateTiles::loadImage(path).isNull());
}

void TestImageOperations::nullImage_everyOperationDoesNothing()
{
    QImage image;
    generateTiles::clearImage(image);
    generateTiles::paintPixels(image, 0xffffffffu, true);
    generateTiles::setVisibleAlpha(image, 10);
    generateTiles::shiftLightness(image, 10, 0, 10, 0, 10);
    generateTiles::applyOpacity(image, 0.5f);
    generateTiles::flattenOnWhite(image);
    generateTiles::fillWithMode(image, Qt::red, QPainter::CompositionMode_Overlay);
    generateTiles::fillWithModeRgb(image, 0xffff0000u, QPainter::CompositionMode_Overlay);
    generateTiles::rotateImage(image, 180);
    generateTiles::drawImageOver(&image, mixedImage(3, 3, QImage::Format_ARGB32), 0, 0, 1.0f);
    generateTiles::drawTintedImage(m_pattern, 1.0f, &image, 0xffff0000u, 255);
    QVERIFY(image.isNull());

    QImage target(4, 4, QImage::Format_ARGB32);
    target.fill(0x11223344u);
    const QImage before = target.copy();
    generateTiles::drawImageOver(&target, QImage(), 0, 0, 1.0f);
    generateTiles::drawTintedImage(m_pattern, 1.0f, nullptr, 0, 0);
    QVERIFY(sameImage(target, before));
}

QTEST_GUILESS_MAIN(TestImageOperations)
#include "tst_imageoperations.moc"
