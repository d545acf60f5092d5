#include "generatetiles.h"
#include "previewfixtures.h"
#include "previeworacle.h"
#include "safeimagereader.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

using G = generateTiles;

Q_DECLARE_METATYPE(QImage::Format)

// Specks of many colours and alphas, plus greys and transparent pixels that
// keep colour bits: every kind of pixel the operations tell apart.
static QImage mixedImage(QImage::Format format, int width = 37, int height = 23)
{
    QImage image = PreviewFixtures::specks(width, height);
    for (int x = 0; x < width; ++x) {
        image.setPixel(x, 0, qRgba(x * 7, x * 7, x * 7, x * 12 % 256));
        image.setPixel(x, 1, qRgba(90, 60, 30, x % 3 ? x : 0));
    }
    return image.convertToFormat(format);
}

class TestImageOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_pattern; // opaque (an overlay at alpha 0 leaves it as loaded), palette
    QString write(const QString &name, const QByteArray &data)
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? file.fileName()
                                                                                  : QString();
    }

private slots:
    void initTestCase()
    {
        m_pattern = m_dir.filePath("pattern.png");
        QVERIFY(mixedImage(QImage::Format_RGB32, 40, 30)
                    .convertToFormat(QImage::Format_Indexed8)
                    .save(m_pattern));
        // A painter cannot take palette images: they load as truecolour.
        QCOMPARE(G::loadImage(m_pattern).format(), QImage::Format_RGB32);
    }

    void opacityToAlpha_truncates()
    {
        QCOMPARE(G::opacityToAlpha(0.4f), 102);
        QCOMPARE(G::opacityToAlpha(0.5f), 127);
        QCOMPARE(G::opacityToAlpha(1.0f), 255);
        QCOMPARE(G::opacityToAlpha(0.0f), 0);
    }

    void pixelRules_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("arg");
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<QRgb>("expected");
        // Operation, argument (opacity in percent), pixel before and after.
        for (const char *row :
             {"paintVisible 0 00123456 00123456", // transparent: kept
              "paintAll 0 00000000 80abcdef",     // alpha too
              "setVisibleAlpha 102 ff090000 66090000", "setVisibleAlpha 102 c8ffffff 66ffffff",
              "setVisibleAlpha 102 01000000 66000000", "setVisibleAlpha 102 00000000 00000000",
              "shiftLightness -40 ff0c171c ff000000", // lightness 20 to 0
              "shiftLightness 20 fffcfaf8 ffffffff",  // 250 to 255
              "shiftLightness 20 80646464 ff787878",  // made opaque
              "shiftLightness 40 00405060 00405060", "applyOpacity 100 80ffffff 80ffffff",
              "applyOpacity 200 80ffffff 80ffffff", "applyOpacity 0 ffffffff 00000000",
              "applyOpacity -100 ffffffff 00000000", "applyOpacity 50 c8ffffff 64ffffff",
              "flattenOnWhite 0 00000000 ffffffff",
              "fillWithModeRgb 0 ff646464 ffc8c8c8"}) { // QRgb alpha ignored
            const QStringList f = QString(row).split(' ');
            QTest::newRow(row) << f[0] << f[1].toInt() << f[2].toUInt(nullptr, 16)
                               << f[3].toUInt(nullptr, 16);
        }
    }

    void pixelRules()
    {
        QFETCH(QString, op);
        QFETCH(int, arg);
        QFETCH(QRgb, pixel);
        QImage image(1, 1, QImage::Format_ARGB32);
        image.fill(pixel);
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
        else
            G::fillWithModeRgb(image, 0x00ffffffu, QPainter::CompositionMode_Overlay);
        const bool converts =
            op == "setVisibleAlpha" || op == "applyOpacity" || op == "flattenOnWhite";
        QCOMPARE(image.format(), converts ? QImage::Format_RGBA8888 : QImage::Format_ARGB32);
        QTEST(image.pixel(0, 0), "expected");
    }

    // The scanLine() paths give the plain walks' pixels in every format.
    void matchesPlainWalk_data()
    {
        QTest::addColumn<QImage::Format>("format");
        for (QImage::Format format :
             {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32,
              QImage::Format_RGBA8888, QImage::Format_RGBA8888_Premultiplied,
              QImage::Format_RGBX8888, QImage::Format_Grayscale8, QImage::Format_RGB16})
            QTest::addRow("format %d", int(format)) << format;
    }

    void matchesPlainWalk()
    {
        QFETCH(QImage::Format, format);
        const QImage source = mixedImage(format);
        for (int arg : {-255, -40, 0, 7, 102, 255}) {
            QImage fast = source, plain = source;
            G::paintPixels(fast, 0x80abcdefu, arg < 0);
            PlainOps::paintPixels(plain, 0x80abcdefu, arg < 0);
            QCOMPARE(fast, plain);
            fast = plain = source;
            G::setVisibleAlpha(fast, qAbs(arg));
            PlainOps::setVisibleAlpha(plain, qAbs(arg));
            QCOMPARE(fast, plain);
            fast = plain = source; // a part only, so the range counts
            G::shiftLightness(fast, arg, 3, 37, 0, 20);
            PlainOps::shiftLightness(plain, arg, 3, 37, 0, 20);
            QCOMPARE(fast, plain);
        }
    }

    void drawTintedImage_data()
    {
        QTest::addColumn<QRgb>("tint");
        QTest::addColumn<int>("tintAlpha");
        QTest::addColumn<bool>("tints");
        QTest::newRow("tint 0 draws untinted") << QRgb(0) << 200 << false;
        QTest::newRow("tint alpha 0 leaves the image") << qRgba(255, 0, 0, 0) << 0 << false;
        QTest::newRow("red at full alpha") << qRgba(255, 0, 0, 255) << 255 << true;
        QTest::newRow("only tintAlpha sets the alpha") << qRgba(0, 0, 0, 255) << 128 << true;
    }

    void drawTintedImage()
    {
        QFETCH(QRgb, tint);
        QFETCH(int, tintAlpha);
        QFETCH(bool, tints);
        QImage untinted(50, 40, QImage::Format_ARGB32_Premultiplied);
        untinted.fill(qRgb(30, 30, 30));
        QImage tinted = untinted.copy(), expected = untinted.copy();
        QImage pattern = G::loadImage(m_pattern);
        G::drawImageOver(&untinted, pattern, 0, 0, 1);
        if (tints)
            G::fillWithMode(pattern, QColor(qRed(tint), qGreen(tint), qBlue(tint), tintAlpha),
                            QPainter::CompositionMode_Overlay);
        G::drawImageOver(&expected, pattern, 0, 0, 1);
        G::drawTintedImage(m_pattern, 1.0f, &tinted, tint, tintAlpha);
        QCOMPARE(tinted, expected);
        QCOMPARE(tinted == untinted, !tints);
    }

    void rotateImage_180MovesCornerToCorner()
    {
        QImage image(128, 128, QImage::Format_RGBA8888_Premultiplied);
        image.fill(0);
        image.setPixel(0, 0, qRgb(255, 0, 0));
        G::rotateImage(image, 180);
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.pixel(127, 127), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(0, 0), QRgb(0));
    }

    void unreadableOrHostileFile_givesNullAndDrawsNothing_data()
    {
        QTest::addColumn<QString>("path");
        // 66 bytes of PNG whose header declares 60000 x 60000 pixels.
        const QString absurd = write(
            "absurd.png",
            QByteArray::fromHex(
                "89504e470d0a1a0a0000000d494844520000ea600000ea60080600000080d275420000000949444154"
                "789c630000000100015eff7df90000000049454e44ae426082"));
        QCOMPARE(QImageReader(absurd).size(), QSize(60000, 60000));
        QFile pattern(m_pattern);
        QVERIFY(pattern.open(QIODevice::ReadOnly));
        const QByteArray bytes = pattern.readAll();
        const QString huge = write("huge.png", bytes); // valid, then padded past the limit
        QVERIFY(QFile::resize(huge, SafeImageReader::MaxFileBytes + 1));
        QTest::newRow("missing") << m_dir.filePath("missing.png");
        QTest::newRow("not an image") << write("garbage.png", "not an image at all");
        QTest::newRow("truncated") << write("truncated.png", bytes.left(60));
        QTest::newRow("declares 60000 x 60000") << absurd;
        QTest::newRow("over the file size limit") << huge;
    }

    // The null image that comes back goes through every operation untouched.
    void unreadableOrHostileFile_givesNullAndDrawsNothing()
    {
        QFETCH(QString, path);
        QImage image = G::loadImage(path);
        QVERIFY(image.isNull());
        G::clearImage(image);
        G::paintPixels(image, 0xffffffffu, true);
        G::setVisibleAlpha(image, 10);
        G::shiftLightness(image, 10, 0, 10, 0, 10);
        G::applyOpacity(image, 0.5f);
        G::flattenOnWhite(image);
        G::fillWithMode(image, Qt::red, QPainter::CompositionMode_Overlay);
        G::rotateImage(image, 180);
        G::drawImageOver(&image, mixedImage(QImage::Format_ARGB32), 0, 0, 1.0f);
        G::drawTintedImage(m_pattern, 1.0f, &image, 0xffff0000u, 255);
        G::drawTintedImage(m_pattern, 1.0f, nullptr, 0, 0);
        QVERIFY(image.isNull());
        QImage target = mixedImage(QImage::Format_ARGB32);
        const QImage before = target.copy();
        G::drawTintedImage(path, 1.0f, &target, qRgba(255, 0, 0, 255), 255);
        G::drawImageOver(&target, image, 0, 0, 1.0f);
        QCOMPARE(target, before);
    }
};

QTEST_GUILESS_MAIN(TestImageOperations)
#include "tst_imageoperations.moc"
