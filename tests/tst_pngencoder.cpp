#include "pngencoder.h"
#include "pngsamples.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtTest>

#include <png.h>

#include <cstring>
#include <thread>

// Every file must decode, through Qt and through libpng, to exactly the
// pixels of the file QImage::save writes for the same image, and must never
// be larger than that file.
class TestPngEncoder : public QObject
{
    Q_OBJECT

private slots:
    void readBack_data();
    void readBack();
    void notLargerThanQt_data();
    void notLargerThanQt();
    void nullImage_isRefusedWithError();
    void severalThreads_giveSameFiles();
};

namespace {

QByteArray qtPng(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return data;
}

// RGBA, 8 bits a channel, not premultiplied, as libpng's simplified reader
// gives it.
QByteArray libpngPixels(const QByteArray &png, QString *error)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.constData(), size_t(png.size()))) {
        *error = QString::fromLatin1(image.message);
        return QByteArray();
    }
    image.format = PNG_FORMAT_RGBA;
    QByteArray pixels(int(PNG_IMAGE_SIZE(image)), '\0');
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        *error = QString::fromLatin1(image.message);
        png_image_free(&image);
        return QByteArray();
    }
    return pixels;
}

// Compares our file with Qt's for the same image: same pixels through both
// decoders, no larger.
void verifyAgainstQt(const QImage &image, const QByteArray &ours)
{
    const QByteArray reference = qtPng(image);
    QVERIFY(!reference.isEmpty());
    QVERIFY2(!ours.isEmpty(), "the encoder returned nothing");

    QImage ourImage, qtImage;
    QVERIFY2(ourImage.loadFromData(ours, "png"), "Qt cannot read our file");
    QVERIFY(qtImage.loadFromData(reference, "png"));
    QCOMPARE(ourImage.size(), image.size());
    QCOMPARE(ourImage.hasAlphaChannel(), qtImage.hasAlphaChannel());
    QCOMPARE(ourImage.convertToFormat(QImage::Format_ARGB32),
             qtImage.convertToFormat(QImage::Format_ARGB32));

    QString error;
    const QByteArray ourPixels = libpngPixels(ours, &error);
    QVERIFY2(!ourPixels.isEmpty(), qPrintable("libpng cannot read our file: " + error));
    const QByteArray qtPixels = libpngPixels(reference, &error);
    QVERIFY2(!qtPixels.isEmpty(), qPrintable(error));
    QVERIFY2(ourPixels == qtPixels, "libpng decodes other pixels than from Qt's file");

    QVERIFY2(ours.size() <= reference.size(),
             qPrintable(
                 QStringLiteral("%1 bytes, Qt writes %2").arg(ours.size()).arg(reference.size())));
}

// Every valid premultiplied pixel value: each alpha with each colour level up
// to it, the three channels differing.
QImage everyPremultipliedValue()
{
    QImage image(257, 128, QImage::Format_ARGB32_Premultiplied);
    int i = 0;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c <= a; ++c, ++i)
            image.setPixel(i % 257, i / 257, qRgba(c, (c * 7) % (a + 1), a - c, a));
    }
    for (; i < 257 * 128; ++i)
        image.setPixel(i % 257, i / 257, 0);
    return image;
}

// Non-premultiplied pixels that are fully transparent but keep a colour.
QImage transparentWithColour()
{
    QImage image(64, 64, QImage::Format_ARGB32);
    QRandomGenerator r(7);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, (r.generate() & 0x00ffffff) | (x % 3 == 0 ? 0xff000000u : 0u));
    return image;
}

} // namespace

void TestPngEncoder::readBack_data()
{
    QTest::addColumn<QImage>("image");

    const QImage allValues = everyPremultipliedValue();
    const QImage tile = PngSamples::sample(PngSamples::Textured, 128, 3);
    const QImage flat = PngSamples::sample(PngSamples::Flat, 64, 1);
    const QImage odd = PngSamples::sample(PngSamples::SoftShapes, 128, 5).copy(3, 7, 37, 23);
    const struct
    {
        const char *name;
        QImage::Format format;
    } formats[] = {
        {"ARGB32_Premultiplied", QImage::Format_ARGB32_Premultiplied},
        {"RGBA8888_Premultiplied", QImage::Format_RGBA8888_Premultiplied},
        {"RGBA8888", QImage::Format_RGBA8888},
        {"ARGB32", QImage::Format_ARGB32},
        {"RGB32", QImage::Format_RGB32},
        {"RGB888", QImage::Format_RGB888},
        {"RGBX8888", QImage::Format_RGBX8888},
        {"RGB16", QImage::Format_RGB16},
        {"ARGB4444_Premultiplied", QImage::Format_ARGB4444_Premultiplied},
        {"A2RGB30_Premultiplied", QImage::Format_A2RGB30_Premultiplied},
        {"Alpha8", QImage::Format_Alpha8},
        {"Grayscale8", QImage::Format_Grayscale8},
        {"Indexed8", QImage::Format_Indexed8},
        {"Mono", QImage::Format_Mono},
        {"RGBA64_Premultiplied", QImage::Format_RGBA64_Premultiplied},
    };
    for (const auto &f : formats) {
        QTest::addRow("%s every premultiplied value", f.name)
            << allValues.convertToFormat(f.format);
        QTest::addRow("%s textured 128", f.name) << tile.convertToFormat(f.format);
        QTest::addRow("%s flat 64", f.name) << flat.convertToFormat(f.format);
        QTest::addRow("%s 37x23", f.name) << odd.convertToFormat(f.format);
    }

    QTest::newRow("ARGB32 transparent with colour") << transparentWithColour();
    QTest::newRow("RGBA8888 transparent with colour")
        << transparentWithColour().convertToFormat(QImage::Format_RGBA8888);
    QImage single(1, 1, QImage::Format_ARGB32_Premultiplied);
    single.fill(qRgba(10, 20, 30, 40));
    QTest::newRow("1x1") << single;
    QImage wide = PngSamples::sample(PngSamples::Textured, 128, 9).scaled(1500, 5);
    QTest::newRow("1500x5") << wide;
    QTest::newRow("5x1500") << wide.transformed(QTransform().rotate(90));

    // Colour above alpha is not a valid premultiplied pixel, but Qt writes
    // something for it, and so must we.
    QImage invalid(16, 16, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            invalid.setPixel(x, y, qRgba(255 - x, 200, 16 * y, x * 4));
    QTest::newRow("invalid premultiplied") << invalid;
}

void TestPngEncoder::readBack()
{
    QFETCH(QImage, image);
    QString error;
    const QByteArray ours = PngEncoder::encode(image, &error);
    QVERIFY2(!ours.isEmpty(), qPrintable(error));
    verifyAgainstQt(image, ours);
}

void TestPngEncoder::notLargerThanQt_data()
{
    QTest::addColumn<QImage>("image");
    // Seeds other than those the encoder's limits were measured on.
    for (int kind = 0; kind < PngSamples::KindCount; ++kind)
        for (int size : {128, 64})
            for (quint32 seed = 100; seed < 106; ++seed)
                QTest::addRow("%s %d #%u", PngSamples::kindName(kind), size, seed)
                    << PngSamples::sample(kind, size, seed);
}

void TestPngEncoder::notLargerThanQt()
{
    QFETCH(QImage, image);
    QString error;
    const QByteArray ours = PngEncoder::encode(image, &error);
    QVERIFY2(!ours.isEmpty(), qPrintable(error));
    verifyAgainstQt(image, ours);
}

void TestPngEncoder::nullImage_isRefusedWithError()
{
    QString error;
    QVERIFY(PngEncoder::encode(QImage(), &error).isEmpty());
    QVERIFY(!error.isEmpty());
    QVERIFY(PngEncoder::encode(QImage()).isEmpty());
}

// The generator encodes on all cores; each thread keeps its own compressors
// and buffers.
void TestPngEncoder::severalThreads_giveSameFiles()
{
    QVector<QImage> images;
    for (int kind = 0; kind < PngSamples::KindCount; ++kind)
        images << PngSamples::sample(kind, 64, 42) << PngSamples::sample(kind, 128, 43);
    QVector<QByteArray> expected;
    for (const QImage &image : images)
        expected << PngEncoder::encode(image);

    QVector<QByteArray> results[2];
    auto run = [&images](QVector<QByteArray> *out) {
        for (int round = 0; round < 3; ++round) {
            out->clear();
            for (const QImage &image : images)
                out->append(PngEncoder::encode(image));
        }
    };
    std::thread first(run, &results[0]);
    std::thread second(run, &results[1]);
    first.join();
    second.join();
    QCOMPARE(results[0], expected);
    QCOMPARE(results[1], expected);
}

QTEST_MAIN(TestPngEncoder)
#include "tst_pngencoder.moc"
