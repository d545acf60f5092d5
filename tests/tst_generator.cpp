// The generator worker's signals, in order, and its tiles: as the step-by-step
// oracle makes them, in PNG files that Qt and libpng read back as Qt's own,
// within the encoder's size rule.

#include "deflatewriter.h"
#include "fileentry.h"
#include "generatorfixtures.h"
#include "generatororacle.h"
#include "imageoperations.h"
#include "memorybudget.h"
#include "outputfolder.h"
#include "pngdecoder.h"
#include "pngencoder.h"
#include "pngfilter.h"
#include "pngreadback.h"
#include "regularfile.h"
#include "runoutcome.h"
#include "safeimagereader.h"
#include "tilepipeline.h"
#include "tilethreads.h"
#include "tmpfsmount.h"

#include <QLockFile>

#include <QBuffer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <libdeflate.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace GeneratorFixtures;
using PngReadBack::libpngPixels;

using Script = std::function<void(generateTiles &, RunOutcome &)>;
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(PngEncoder::Encoding)

namespace {

// The default bottom; the stripe top in the default top colour, at full and at
// half opacity (each channel halfway to the bottom); the bottom in shadow.
const QRgb Bottom = 0xffc39366, Top = 0xff205f90, HalfTop = 0xff72797b, Shadow = 0xffaa7f57;

// "total 4, step 1, step 2, complete 2"
QString counted(int total, int done)
{
    QStringList events{QString("total %1").arg(total)};
    for (int i = 1; i <= done; ++i)
        events << QString("step %1").arg(i);
    return (events << QString("complete %1").arg(done)).join(", ");
}

// A PNG of `image` (8-bit RGBA, or RGB where it has no alpha) whose row y is
// filtered with filter type (first + y) % 5, so that a few files take the
// decoder through every filter, on the first row and after each other.
QByteArray pngFilteredFrom(const QImage &image, int first)
{
    const int channels = image.hasAlphaChannel() ? 4 : 3, n = image.width() * channels;
    QByteArray rows, prev(n, 0);
    for (int y = 0; y < image.height(); ++y) {
        QByteArray raw;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            raw += QByteArray(1, char(qRed(p))) + char(qGreen(p)) + char(qBlue(p));
            if (channels == 4)
                raw += char(qAlpha(p));
        }
        const int type = (first + y) % 5;
        rows += char(type);
        for (int i = 0; i < n; ++i) {
            const int a = i >= channels ? uchar(raw[i - channels]) : 0, b = uchar(prev[i]),
                      c = i >= channels ? uchar(prev[i - channels]) : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted[] = {0, a, b, (a + b) / 2,
                                     pa <= pb && pa <= pc ? a
                                     : pb <= pc           ? b
                                                          : c};
            rows += char(uchar(raw[i]) - predicted[type]);
        }
        prev = raw;
    }
    libdeflate_compressor *deflater = libdeflate_alloc_compressor(6);
    QByteArray idat(int(libdeflate_zlib_compress_bound(deflater, size_t(rows.size()))), 0);
    idat.resize(int(libdeflate_zlib_compress(deflater, rows.constData(), size_t(rows.size()),
                                             idat.data(), size_t(idat.size()))));
    libdeflate_free_compressor(deflater);
    const auto bigEndian = [](quint32 value) {
        const quint32 big = qToBigEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&big), 4);
    };
    const auto chunk = [&](const char *type, const QByteArray &data) {
        const QByteArray body = type + data;
        return bigEndian(quint32(data.size())) + body +
               bigEndian(quint32(libdeflate_crc32(0, body.constData(), size_t(body.size()))));
    };
    const QByteArray header = bigEndian(quint32(image.width())) +
                              bigEndian(quint32(image.height())) +
                              QByteArray::fromHex(channels == 4 ? "0806000000" : "0802000000");
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", idat) +
           chunk("IEND", QByteArray());
}

// Our PNG beside Qt's file of the same image: the same pixels through Qt and libpng, and no
// more bytes.
// Our file against Qt's for the same image: the same pixels through Qt and
// libpng, and at most PngEncoder::MaxExcess larger; *qtSize gets Qt's size,
// for the tileset's total.
void compareWithQtsFile(const QByteArray &ours, const QImage &image, const QString &name,
                        qint64 *qtSize = nullptr)
{
    QByteArray qt;
    QBuffer buffer(&qt);
    QVERIFY(image.save(&buffer, "PNG"));
    if (qtSize)
        *qtSize = qt.size();
    QVERIFY2(QImage::fromData(ours) == QImage::fromData(qt), qPrintable(name));
    QVERIFY2(!libpngPixels(ours).isEmpty(), qPrintable(name));
    QVERIFY2(libpngPixels(ours) == libpngPixels(qt), qPrintable(name));
    QVERIFY2(ours.size() <= (1 + PngEncoder::MaxExcess) * qt.size(),
             qPrintable(name + QString(": %1 bytes, Qt's %2").arg(ours.size()).arg(qt.size())));
}

// What the worker says in one run: "total 3, step 1, failed b.png, step 2,
// step 3, complete 3" ("complete error 2" when isError); why each failed.
// Straight RGBA8888 pixels, value c and alpha a at (c, a): red takes every value,
// green and blue others, lest channels mix.
QImage everyValueAndAlpha()
{
    QImage straight(256, 256, QImage::Format_RGBA8888);
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c) {
            const uchar pixel[4] = {uchar(c), uchar(255 - c), uchar(c * 7), uchar(a)};
            std::memcpy(straight.scanLine(a) + 4 * c, pixel, 4);
        }
    return straight;
}

// Whether files can be made without a name in the folder (Linux).
bool hasUnnamedFiles(const QString &folder)
{
#ifdef O_TMPFILE
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY, 0600);
    return fd >= 0 && ::close(fd) == 0;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

// `count` of the benchmark's masks in `folder` (eight drawn, the rest
// copies), their names in the order a run lists them.
QStringList writeMasks(const QString &folder, int count)
{
    const int distinct = 8;
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << variedMaskName(i);
        const QString file = folder + "/" + names.last();
        if (!(i < distinct ? benchmarkMask(i).save(file)
                           : QFile::copy(folder + "/" + names[i % distinct], file)))
            return QStringList();
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

// A run set up on a thread of its own, which it quits on completing;
// *reported gets the count it completes with.
void setUpOnThread(generateTiles &worker, QThread &thread, const TileStyle &style,
                   const QString &alpha, const QString &out, int threads, int size, int *reported)
{
    worker.setStyle(style);
    worker.alphaDirectory = alpha;
    worker.outputDirectory = out;
    worker.threadCount = threads;
    worker.tileSize = size;
    worker.moveToThread(&thread);
    worker.attachToThread(&thread);
    QObject::connect(&worker, &generateTiles::Complete, &worker, [&thread, reported](bool, int n) {
        *reported = n;
        thread.quit();
    });
}

QString record(generateTiles &worker, QStringList &reasons)
{
    QObject here;
    QStringList events;
    const auto note = [&](const char *event) {
        return [&, event](int n) { events << QString(event).arg(n); };
    };
    QObject::connect(&worker, &generateTiles::TotalSteps, &here, note("total %1"));
    QObject::connect(&worker, &generateTiles::NextStep, &here, note("step %1"));
    QObject::connect(&worker, &generateTiles::Complete, &here, [&](bool error, int n) {
        note(error ? "complete error %1" : "complete %1")(n);
    });
    QObject::connect(&worker, &generateTiles::DesignIncomplete, &here, [&](QString why) {
        events << "design incomplete";
        reasons << why;
    });
    QObject::connect(&worker, &generateTiles::TileFailed, &here, [&](QString name, QString why) {
        events << "failed " + (name.isEmpty() ? "(run)" : name);
        reasons << why;
    });
    worker.doGeneration();
    return events.join(", ");
}

} // namespace

class TestGenerator : public QObject
{
    Q_OBJECT

private slots:
    // Any image the encoder is given, not only tiles: the same pixels as Qt's
    // file through Qt and libpng, and at most MaxExcess more bytes.
    void encoder_readsBackAsQtsFile_withinExcess_data()
    {
        QTest::addColumn<QImage>("image");
        QRandomGenerator random(7);
        QImage repeated(128, 128, QImage::Format_ARGB32), gradient = repeated, noise = repeated;
        quint32 cell[64];
        random.fillRange(cell);
        random.fillRange(reinterpret_cast<quint32 *>(noise.bits()), 128 * 128);
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const uint d = random.bounded(8u) * 0x010101u, v = uint(x + y) + random.bounded(4u);
                repeated.setPixel(x, y, 0xff000000u | ((cell[y % 8 * 8 + x % 8] & 0xf8f8f8u) + d));
                gradient.setPixel(x, y, qRgb(v & 255, v * 2 & 255, 100));
            }
        QImage translucent = gradient;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                translucent.setPixel(x, y,
                                     (translucent.pixel(x, y) & 0xffffffu) | uint(x * 2) << 24);
        QTest::newRow("repeating noise") << repeated;
        QTest::newRow("noise") << noise;
        QTest::newRow("noisy gradient") << gradient;
        QTest::newRow("premultiplied, translucent")
            << translucent.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (QImage::Format format :
             {QImage::Format_RGB32, QImage::Format_RGB888, QImage::Format_RGBX8888,
              QImage::Format_RGBA8888, QImage::Format_Indexed8, QImage::Format_Grayscale8})
            QTest::newRow(qPrintable(QString("format %1").arg(format)))
                << variedMask(5).convertToFormat(format);
        QTest::newRow("7 x 5, odd rows") << gradient.copy(3, 3, 7, 5);
        QTest::newRow("1 x 300") << solid(1, 300, 0x80ff0000u);
    }

    void encoder_readsBackAsQtsFile_withinExcess()
    {
        QFETCH(QImage, image);
        QString error;
        const QByteArray ours = PngEncoder::encode(image, &error);
        QVERIFY2(!ours.isEmpty(), qPrintable(error));
        compareWithQtsFile(ours, image, QTest::currentDataTag());
    }

    // The size rule on whole tilesets: the default library's masks and the
    // benchmark's varied ones, designs of every top shape and pattern of the
    // library and the benchmark's own, at the sizes people pick: no more bytes
    // than Qt's files in total, none more than MaxExcess over Qt's, and
    // every tile the pixels of Qt's file through Qt and libpng.
    void encoder_tilesetWithinQtsTotal_data()
    {
        QTest::addColumn<bool>("library"); // else 120 varied masks
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("size");
        const QString tops[] = {"grass", "moss", "sand", "snow", "stone_rim", "vines"};
        const QString patterns[] = {"bricks", "cobbles", "dirt",   "noise",
                                    "planks", "strata",  "stripes"};
        for (int i = 0; i < 7; ++i) {
            QString style = "top=TopStyles/" + tops[i % 6] + ".png";
            if (i > 0)
                style += " bottomPattern=Patterns/" + patterns[i - 1] + ".png";
            if (i % 3 == 2)
                style += " topPattern=Patterns/" + patterns[(i + 2) % 7] + ".png";
            for (int size : {128, 64, 32})
                QTest::newRow(qPrintable(QString("library, %1, %2").arg(style).arg(size)))
                    << true << style << size;
        }
        for (const QString style :
             {"top=grass", "top=grass topPattern=specks bottomPattern=bricks",
              "top=narrow bottomOpacity=0", "top=narrow bottomPattern=smallspecks",
              "top=pixel topPattern=holes bottomPattern=holes bottomOpacity=0.5"})
            for (int size : {128, 64})
                QTest::newRow(qPrintable(QString("varied, %1, %2").arg(style).arg(size)))
                    << false << style << size;
    }

    void encoder_tilesetWithinQtsTotal()
    {
        QFETCH(bool, library);
        QFETCH(QString, style);
        QFETCH(int, size);
        QTemporaryDir dir;
        const QDir assets(library ? QString(TW_ASSETS) : dir.path());
        QList<QPair<QString, QImage>> masks;
        if (library) {
            const QDir alpha(assets.filePath("Alpha"));
            for (const QString &name : alpha.entryList({"*.png"}, QDir::Files, QDir::Name))
                masks.append({name, TilePipeline::readMask(alpha.filePath(name))});
        } else {
            for (int i = 0; i < 120; ++i)
                masks.append({variedMaskName(i), benchmarkMask(i)});
        }
        QVERIFY(masks.size() >= 47);
        const TilePipeline pipeline(styleFrom(style, assets));
        QVERIFY2(pipeline.warnings().isEmpty(), qPrintable(pipeline.warnings().join('\n')));
        qint64 ourTotal = 0, qtTotal = 0;
        for (const auto &[name, mask] : masks) {
            const QImage tile = pipeline.makeTile(mask, TilePipeline::wantsTop(name), size);
            QByteArray qt;
            QBuffer buffer(&qt);
            QVERIFY(tile.save(&buffer, "PNG"));
            const QByteArray ours = PngEncoder::encode(tile);
            QVERIFY2(QImage::fromData(ours) == QImage::fromData(qt) &&
                         libpngPixels(ours) == libpngPixels(qt) && !libpngPixels(qt).isEmpty(),
                     qPrintable(name));
            QVERIFY2(
                ours.size() <= (1 + PngEncoder::MaxExcess) * qt.size(),
                qPrintable(
                    QString("%1: %2 bytes, Qt's %3").arg(name).arg(ours.size()).arg(qt.size())));
            ourTotal += ours.size();
            qtTotal += qt.size();
        }
        QVERIFY2(ourTotal <= qtTotal, qPrintable(QString("%1 > %2").arg(ourTotal).arg(qtTotal)));
    }

    // The deflate writer's streams inflate to their input, through libdeflate
    // and through Qt's zlib, at every edge of the format: nothing to match,
    // literals of the fixed code's 9-bit half, runs past the longest match
    // and the window, the farthest distance, several blocks, and data only
    // stored blocks can hold. Each stream twice, into a buffer with old bytes
    // in it: the same stream both times, whatever the previous one left.
    void deflate_inflatesToInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("rowBytes");
        QRandomGenerator random(7);
        auto noise = [&](int size, int values) {
            QByteArray bytes(size, 0);
            for (char &b : bytes)
                b = char(random.bounded(values));
            return bytes;
        };
        QByteArray allValues;
        for (int v = 0; v < 256; ++v)
            allValues += char(v);
        const QByteArray block = noise(32767, 256);
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("shorter than a match") << QByteArray("abc") << 0;
        QTest::newRow("every byte value") << allValues + allValues << 0;
        QTest::newRow("a few bytes of the fixed code's 9-bit half")
            << QByteArray("\xff\xff\xff\x90\x8f\xc8\xfa\x03\x09\x0a") << 0;
        QTest::newRow("zeros past the window") << QByteArray(100000, 0) << 0;
        QTest::newRow("repeat at the farthest distance") << block + block.left(300) << 0;
        QTest::newRow("noise, stored") << noise(70000, 256) << 0;
        QTest::newRow("four values, several blocks") << noise(300000, 4) << 0;
        QTest::newRow("noise with runs")
            << noise(50000, 256).replace(char(7), QByteArray(40, 7)) << 0;
        const QTemporaryDir pictures; // not the working folder
        const TilePipeline pipeline(styleFrom("top=grass topPattern=specks", pictures.path()));
        const QImage tile = pipeline.makeTile(variedMask(5), true, 96);
        std::vector<uchar> rows, filtered, scratch;
        QVERIFY(PngFilter::unfilteredRows(tile, 4, rows));
        PngFilter::adaptiveRows(rows, 96, 96, 4, filtered, scratch);
        QTest::newRow("a tile's rows, told their length")
            << QByteArray(reinterpret_cast<const char *>(filtered.data()), int(filtered.size()))
            << 96 * 4 + 1;
    }
    void deflate_inflatesToInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, rowBytes);
        const auto *data = reinterpret_cast<const uchar *>(input.constData());
        std::vector<uchar> out(200000, 0xa5);
        const size_t size = DeflateWriter::compress(data, size_t(input.size()), rowBytes, out);
        QVERIFY(size > 0);
        const std::vector<uchar> first(out.begin(), out.begin() + long(size));
        DeflateWriter::compress(reinterpret_cast<const uchar *>("other"), 5, 0, out);
        QCOMPARE(DeflateWriter::compress(data, size_t(input.size()), rowBytes, out), size);
        QVERIFY(std::equal(first.begin(), first.end(), out.begin()));

        QByteArray back(input.size(), 0);
        size_t got = 0;
        libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
        const auto result = libdeflate_zlib_decompress(inflater, first.data(), size, back.data(),
                                                       size_t(back.size()), &got);
        libdeflate_free_decompressor(inflater);
        QCOMPARE(int(result), int(LIBDEFLATE_SUCCESS));
        QCOMPARE(got, size_t(input.size()));
        QCOMPARE(back, input);
        // qUncompress wants the length in front, big-endian.
        QByteArray framed(4, 0);
        qToBigEndian(quint32(input.size()), framed.data());
        framed.append(reinterpret_cast<const char *>(first.data()), int(size));
        QCOMPARE(qUncompress(framed), input);
        // Never much over the input: blocks that would grow are stored.
        QVERIFY(size <= size_t(input.size()) + size_t(input.size()) / 1000 + 64);
    }

    // The choice between encodings on either side of each threshold.
    void encoder_choosesByThresholds_data()
    {
        using E = PngEncoder::Encoding;
        QTest::addColumn<double>("share");
        QTest::addColumn<double>("gain");
        QTest::addColumn<E>("encoding");
        const double flat = PngEncoder::MinFlatShare, rough = PngEncoder::MaxRoughGain,
                     smooth = PngEncoder::MinSmoothGain, less = 1 - 1e-9;
        QTest::newRow("flat, whatever the gain") << flat << smooth << E::Adaptive;
        QTest::newRow("below flat, rough") << flat * less << rough * less << E::Unfiltered;
        QTest::newRow("rough threshold") << 0.5 << rough << E::Adaptive;
        QTest::newRow("below smooth") << 0.5 << smooth * less << E::Adaptive;
        QTest::newRow("smooth threshold") << 0.0 << smooth << E::Thorough;
        QTest::newRow("gain unmeasured (one row)") << 0.0 << 1.0 << E::Unfiltered;
    }
    void encoder_choosesByThresholds()
    {
        QFETCH(double, share);
        QFETCH(double, gain);
        QTEST(PngEncoder::chooseEncoding({share, gain}), "encoding");
    }

    // The share of pixels that repeat their left or upper neighbour, with
    // and without alpha, in widths the vector loop takes whole or in part.
    void encoder_measuresRepeats_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<double>("share");
        for (int width : {128, 7, 4})
            for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGB32}) {
                const QString tag = QString(" %1 px, format %2").arg(width).arg(format);
                QImage rows(width, 6, format), columns = rows, checks = rows;
                for (int y = 0; y < 6; ++y)
                    for (int x = 0; x < width; ++x) {
                        rows.setPixel(x, y, y % 2 ? 0xff102030u : 0xff405060u);
                        columns.setPixel(x, y, x % 2 ? 0xff102030u : 0xff405060u);
                        checks.setPixel(x, y, (x + y) % 2 ? 0xff102030u : 0xff405060u);
                    }
                QTest::newRow(qPrintable("one colour a row" + tag))
                    << rows << (width - 1.0) / width;
                QTest::newRow(qPrintable("one colour a column" + tag)) << columns << 5 / 6.0;
                QTest::newRow(qPrintable("checks" + tag)) << checks << 0.0;
                QTest::newRow(qPrintable("solid" + tag))
                    << solid(width, 6, format == QImage::Format_RGB32 ? ~0u : 0u)
                    << 1 - 1.0 / (6 * width);
            }
    }
    void encoder_measuresRepeats()
    {
        QFETCH(QImage, image);
        QFETCH(double, share);
        QCOMPARE(PngEncoder::measure(image).repeatShare, share);
    }

    // The adaptive filter picks, row by row, what libpng picks: the rows of
    // Qt's own file, inflated, are ours byte for byte.
    void encoder_filtersRowsAsLibpng_data()
    {
        QTest::addColumn<QImage>("image");
        QTemporaryDir dir;
        for (const QString style : {"top=grass", "top=grass topPattern=specks bottomPattern=bricks",
                                    "top=pixel bottomOpacity=0.5 topOpacity=0.5"}) {
            const TilePipeline pipeline(styleFrom(style, dir.path()));
            for (int i : {0, 1, 5, 7})
                for (int size : {128, 64, 7})
                    QTest::newRow(
                        qPrintable(QString("%1, mask %2, %3 px").arg(style).arg(i).arg(size)))
                        << pipeline.makeTile(variedMask(i), true, size);
        }
        QImage noise(61, 40, QImage::Format_ARGB32);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.bits()), 61 * 40);
        QImage gradient(128, 30, QImage::Format_RGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 128; ++x)
                gradient.setPixel(x, y, qRgb(x * 2, y * 8, (x * y) & 255));
        QTest::newRow("noise") << noise;
        QTest::newRow("gradient, no alpha") << gradient;
        QTest::newRow("1 x 1") << solid(1, 1, 0x80402010u);
    }
    void encoder_filtersRowsAsLibpng()
    {
        QFETCH(QImage, image);
        const QByteArray file = PngReadBack::qtFile(image);
        QByteArray idat;
        for (int at = 8; at + 12 <= file.size();) {
            const int length = int(qFromBigEndian<quint32>(file.constData() + at));
            if (file.mid(at + 4, 4) == "IDAT")
                idat += file.mid(at + 8, length);
            at += 12 + length;
        }
        const int channels = file.at(25) == 6 ? 4 : 3; // IHDR colour type
        QCOMPARE(channels, image.hasAlphaChannel() ? 4 : 3);
        std::vector<uchar> rows, ours, scratch;
        QVERIFY(PngFilter::unfilteredRows(image, channels, rows));
        PngFilter::adaptiveRows(rows, image.width(), image.height(), channels, ours, scratch);
        std::vector<uchar> libpngs(rows.size());
        libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
        const libdeflate_result inflated =
            libdeflate_zlib_decompress(inflater, idat.constData(), size_t(idat.size()),
                                       libpngs.data(), libpngs.size(), nullptr);
        libdeflate_free_decompressor(inflater);
        QCOMPARE(inflated, LIBDEFLATE_SUCCESS);
        const size_t stride = size_t(image.width()) * channels + 1;
        for (size_t y = 0; y < size_t(image.height()); ++y)
            QVERIFY2(std::memcmp(ours.data() + y * stride, libpngs.data() + y * stride, stride) ==
                         0,
                     qPrintable(QString("row %1: filter %2, libpng's %3")
                                    .arg(y)
                                    .arg(ours[y * stride])
                                    .arg(libpngs[y * stride])));
    }

    // Masks are decoded by PngDecoder where it takes the file, else by Qt:
    // either way the image Qt's reader gives, resolution included.
    void maskDecoding_givesQtsImage_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("fast"); // PngDecoder takes it
        const auto png = [](const QImage &image) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            return bytes;
        };
        QImage noise = solid(128, 128, 0);
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(noise.bits()), 128 * 128);
        const QImage mask = variedMask(3);
        const QByteArray saved = png(mask);
        QTest::newRow("Qt's file, resolution") << saved << true;
        QTest::newRow("no alpha") << png(mask.convertToFormat(QImage::Format_RGB32)) << true;
        QTest::newRow("noise, every filter, 8 KiB pieces") << png(noise) << true;
        QTest::newRow("our encoder's, filtered") << PngEncoder::encode(mask) << true;
        QTest::newRow("our encoder's, unfiltered") << PngEncoder::encode(noise) << true;
        // Widths with and without a part short of a whole vector.
        for (int width : {1, 5, 37})
            for (int first = 0; first < 5; ++first)
                for (const bool alpha : {true, false}) {
                    const QImage image =
                        noise.copy(0, 0, width, 11)
                            .convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
                    QTest::newRow(qPrintable(QString("%1 px, %2, filter %3 first")
                                                 .arg(width)
                                                 .arg(alpha ? "RGBA" : "RGB")
                                                 .arg(first)))
                        << pngFilteredFrom(image, first) << true;
                }
        QTest::newRow("palette") << png(mask.convertToFormat(QImage::Format_Indexed8)) << false;
        QTest::newRow("grey") << png(mask.convertToFormat(QImage::Format_Grayscale8)) << false;
        QTest::newRow("16-bit") << png(mask.convertToFormat(QImage::Format_RGBA64)) << false;
        QByteArray damaged = saved;
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x40);
        QTest::newRow("damaged data") << damaged << false;
        QTest::newRow("cut short") << saved.left(saved.size() - 20) << false;
        QTest::newRow("bytes after the end") << saved + "more" << false;
        QByteArray inches = saved; // pHYs in no unit, its CRC made right
        const int phys = inches.indexOf("pHYs");
        QVERIFY(phys > 0);
        inches[phys + 12] = 0;
        const quint32 crc = qToBigEndian(quint32(
            libdeflate_crc32(0, reinterpret_cast<const uchar *>(inches.constData()) + phys, 13)));
        inches.replace(phys + 13, 4, reinterpret_cast<const char *>(&crc), 4);
        QTest::newRow("resolution without unit") << inches << false;
    }
    void maskDecoding_givesQtsImage()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, fast);
        const QImage qt = QImage::fromData(file), ours = SafeImageReader::fromData(file);
        QCOMPARE(ours, qt);
        QCOMPARE(ours.format(), qt.format());
        QCOMPARE(ours.dotsPerMeterX(), qt.dotsPerMeterX());
        QCOMPARE(ours.dotsPerMeterY(), qt.dotsPerMeterY());
        QCOMPARE(!PngDecoder::decode(file).isNull(), fast);
    }

    // The guarded reader takes regular files only, without blocking on a
    // pipe, and weighs the file and its declared size before decoding. Small
    // files are read whole at once, larger ones header first; either way the
    // image is Qt's and the cost covers the bytes and the pixels.
    void maskReader_checksBeforeDecoding_data()
    {
        QTest::addColumn<FileEntry>("entry");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason"); // at construction; "decoded": at read()
        QTest::addColumn<qint64>("grownTo"); // the file's size, if not the bytes'
        const auto row = [](const char *tag, const QByteArray &bytes, const char *reason = "",
                            FileEntry entry = FileEntry::Bytes, qint64 grownTo = 0) {
            QTest::newRow(tag) << entry << bytes << QString(reason) << grownTo;
        };
        const auto saved = [](const QImage &image, const char *format) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, format);
            return bytes;
        };
        QImage noise = solid(300, 300, 0);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.bits()), 300 * 300);
        const QByteArray mask = saved(variedMask(3), "PNG"), large = saved(noise, "PNG");
        QVERIFY(large.size() > SafeImageReader::WholeReadBytes);
        row("small PNG", mask);
        row("small BMP", saved(variedMask(3), "BMP"));
        row("large PNG", large);
        row("large BMP", saved(noise, "BMP"));
        row("PNG cut in its data", mask.left(mask.indexOf("IDAT") + 8), "decoded");
        row("large PNG cut in its data", large.left(large.size() - 100), "decoded");
        row("declares 60000 x 60000", PreviewFixtures::absurdPng(), "60000 x 60000");
        row("over the size cap", mask, "more than the", FileEntry::Bytes,
            SafeImageReader::MaxFileBytes + 1);
        row("empty", "", "not a readable image");
        row("missing", "", "No such file", FileEntry::Missing);
        row("folder", "", "a folder", FileEntry::Folder);
        row("named pipe", "", "a named pipe", FileEntry::Pipe);
        row("link to a device", "", "a device", FileEntry::DeviceLink);
    }
    void maskReader_checksBeforeDecoding()
    {
        QFETCH(FileEntry, entry);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QFETCH(qint64, grownTo);
        QTemporaryDir dir;
        const QString path = dir.filePath("mask.png");
        QVERIFY(place(entry, path, bytes) && (!grownTo || QFile::resize(path, grownTo)));
        SafeImageReader reader(path);
        const bool opens = reason.isEmpty() || reason == "decoded";
        QCOMPARE(reader.canRead(), opens);
        const QImage image = reader.read();
        QVERIFY2(reader.errorString().contains(reason), qPrintable(reader.errorString()));
        QCOMPARE(image.isNull(), !reason.isEmpty());
        if (!reason.isEmpty())
            return;
        const QImage qt = QImage::fromData(bytes);
        QCOMPARE(image, qt);
        QCOMPARE(reader.size(), qt.size());
        // As promised: the file, the image at up to 8 bytes a pixel, a 4-byte copy.
        QVERIFY(reader.decodeCost() >= bytes.size() + 12 * qint64(qt.width()) * qt.height());
    }

    // A file is read to its end as it is when read, which may be past the
    // size it had when opened, but never more than the cap.
    void regularFile_readsToTheEndWithinTheCap_data()
    {
        QTest::addColumn<int>("opened"); // bytes when opened
        QTest::addColumn<int>("now");    // bytes when read
        QTest::addColumn<bool>("read");
        const auto row = [](const char *tag, int opened, int now, bool read) {
            QTest::newRow(tag) << opened << now << read;
        };
        row("empty", 0, 0, true);
        row("as opened", 1000, 1000, true);
        row("exactly the cap", 4096, 4096, true);
        row("over the cap", 4097, 4097, false);
        row("grown", 1000, 3000, true);
        row("grown to the cap", 1000, 4096, true);
        row("grown past the cap", 1000, 4097, false);
        row("grown from the cap", 4096, 4097, false);
        row("shrunk", 3000, 1000, true);
    }
    void regularFile_readsToTheEndWithinTheCap()
    {
        QFETCH(int, opened);
        QFETCH(int, now);
        QFETCH(bool, read);
        QTemporaryDir dir;
        const QString path = dir.filePath("file");
        QByteArray bytes(qMax(opened, now), 0);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        QVERIFY(writeFile(path, bytes.left(opened)));
        RegularFile::Handle file;
        QVERIFY(file.open(path));
        QCOMPARE(file.size(), qint64(opened));
        QVERIFY(writeFile(path, bytes.left(now))); // the same file, truncated and written
        QByteArray data;
        QString error;
        QCOMPARE(file.readAll(4096, &data, &error), read);
        QCOMPARE(data, read ? bytes.left(now) : QByteArray());
        QVERIFY2(read || error.contains("4096"), qPrintable(error));
    }

    // Every mask reported in order, a failure with its reason; a tile for each
    // other mask. Each field is off its default in a row, lest setStyle() skip it.
    void run_reportsEachMask_writesOracleTiles_data()
    {
        QTest::addColumn<QStringList>("names"); // masks() by name, else a wave
        QTest::addColumn<QString>("output");    // read-only, full: a tmpfs with an older a.png
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("threads"); // 0: one per core
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("reason"); // part of the first failure's reason
        QTest::addColumn<QRgb>("top");       // of "three parts.png", if not 0
        const auto run = [](const char *tag, const QStringList &names, const QString &output,
                            int size, const QString &events, const QString &reason = QString()) {
            QTest::newRow(tag) << names << output << QString() << 2 << size << events << reason
                               << QRgb(0);
        };
        const QStringList two{"a.png", "b.png"};
        const QString refused = "total 2, failed (run), complete error 0",
                      failed =
                          "total 2, failed a.png, step 1, failed b.png, step 2, complete error 2";
        run("three masks, one unreadable", {"a.png", "bad.png", "c.png"}, "out", 128,
            "total 3, step 1, failed bad.png, step 2, step 3, complete 3");
        run("capital suffix, absurd mask", {"Slope.PNG", "wide.png"}, "out", 64,
            "total 2, step 1, failed wide.png, step 2, complete 2", "5000 x 1");
        run("no masks", {}, "out", 128, counted(0, 0));
        run("missing output directory", two, "not/there", 128, failed, "not/there");
        run("read-only output directory", two, "read-only", 128, failed);
        // Where QImage::save claims small files written.
        run("full disk", two, "full", 128, failed, "space");
        for (int size : {0, -64, 1000000})
            run(qPrintable(QString("tile size %1").arg(size)), two, "out", size, refused,
                QString::number(size));
        run("no output directory, not /", two, "", 128, refused);
        run("output is the mask folder", two, "alpha", 128, refused, "a folder of masks");
        run("output inside the mask folder", two, "alpha/new", 128, refused, "lies inside");
        QStringList all;
        for (const QString &mask : masks().keys())
            all << mask + ".png" << mask + "_notop.png";
        const auto design = [&](const char *tag, const QString &style, int threads, int size,
                                QRgb top = 0) {
            // A part that cannot be read is said once, before the first tile.
            QString events = counted(all.size(), all.size());
            if (style.contains("missing"))
                events.replace(", step 1,", ", design incomplete, step 1,");
            QTest::newRow(tag) << all << "out" << style << threads << size << events
                               << (style.contains("missing") ? "missing.png" : "") << top;
        };
        const QString textured = "top=grass topPattern=specks bottomPattern=bricks ";
        design("stripe, 64", "top=stripe", 2, 64, Top);
        design("stripe, topOpacity 0.5", "top=stripe topOpacity=0.5", 4, 128, HalfTop);
        // Nor may a top pattern bring the shadow back.
        design("stripe, topOpacity 0", "top=stripe topPattern=specks topOpacity=0", 0, 128, Bottom);
        design("grass top, flat", "top=grass", 1, 128);
        design("textured", textured, 2, 64);
        design("unreadable top", "top=missing.png", 4, 32);
        design("top without alpha", "top=opaque", 0, 128);
        design("pixel top, translucent tufts", "top=pixel topPattern=holes", 0, 64);
        design("translucent base, small pattern, stronger shade",
               "top=grass bottomOpacity=0.5 bottomPattern=smallspecks shade=0.7", 1, 64);
        design("invisible base, narrow tall top", "top=narrow bottomOpacity=0", 4, 128);
        design("every opacity 0.5, colours",
               textured + "topOpacity=0.5 bottomOpacity=0.5 topPatternOpacity=0.5 "
                          "bottomPatternOpacity=0.5 topPatternColorOpacity=0.5 "
                          "bottomPatternColorOpacity=0.5 bottomColor=#285ac8 topColor=#fafafa "
                          "topPatternColor=#284 bottomPatternColor=#a32",
               2, 64);
    }

    void run_reportsEachMask_writesOracleTiles()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, output);
        QFETCH(QString, style);
        QFETCH(int, threads);
        QFETCH(int, size);
        QFETCH(QString, events);
        QFETCH(QString, reason);
        QFETCH(QRgb, top);
        QTemporaryDir dir;
        const auto path = [&](const QString &name) { return dir.filePath(name); };
        QVERIFY(QDir().mkpath(path("alpha")) && QDir().mkpath(path("out")));
        QMap<QString, QImage> all = masks();
        all.insert("wide", solid(5000, 1, 0)); // more pixels than the guarded loader takes
        for (const QString &name : names) {
            const QString file = path("alpha/" + name);
            const QImage mask = all.value(name.section('.', 0, 0).remove("_notop"), variedMask(2));
            QVERIFY(mask.save(file) && (name != "bad.png" || QFile::resize(file, 40))); // cut short
        }
        const bool tmpfs = output == "full" || output == "read-only";
        TmpfsMount disk(path("out"));
        if (tmpfs && !disk.mount())
            QSKIP("needs root to mount a small tmpfs");
        QVERIFY(!tmpfs || QFile::copy(path("alpha/a.png"), path("out/a.png"))); // an older tile
        QVERIFY(!tmpfs || (output == "full" ? disk.fill() : disk.remountReadOnly()));
        const TileStyle design = styleFrom(style, dir.path());
        generateTiles worker;
        worker.setStyle(design);
        worker.alphaDirectory = path("alpha");
        worker.outputDirectory = output.isEmpty() ? QString() : path(tmpfs ? "out" : output);
        worker.threadCount = threads;
        worker.tileSize = size;
        QStringList tiles = tmpfs ? QStringList{"a.png"} : QStringList();
        for (const QString &name : names)
            if (!events.contains("failed " + name) && !events.contains("(run)"))
                tiles << name;
        tiles.sort(Qt::CaseInsensitive);
        const auto masksAsTheyAre = [&] {
            QStringList files;
            for (const QString &name : QDir(path("alpha")).entryList(QDir::Files))
                files << name + ' ' + readFile(path("alpha/" + name)).toBase64();
            return files;
        };
        const QStringList masksBefore = masksAsTheyAre();
        QStringList reasons;
        QCOMPARE(record(worker, reasons), events);
        QCOMPARE(masksAsTheyAre(), masksBefore);
        QVERIFY2(reasons.value(0).contains(reason), qPrintable(reasons.join('\n')));
        QVERIFY2(!reasons.contains(QString()), qPrintable(reasons.join('\n')));
        QStringList files = QDir(path("out")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.removeOne("filler"), output == "full");
        QCOMPARE(files, tiles);
        const GeneratorOracle::Layers layers = GeneratorOracle::prepare(design);
        qint64 ourTotal = 0, qtTotal = 0;
        for (const QString &name : files) {
            // The older tile survives a failed write.
            const QImage want =
                tmpfs ? QImage(path("alpha/a.png"))
                      : GeneratorOracle::makeTile(layers, QImage(path("alpha/" + name)),
                                                  !name.contains("_notop"), size);
            const QByteArray ours = readFile(path("out/" + name));
            qint64 qtSize = 0;
            compareWithQtsFile(ours, want, name, &qtSize);
            if (QTest::currentTestFailed())
                return;
            ourTotal += ours.size();
            qtTotal += qtSize;
        }
        QVERIFY2(ourTotal <= qtTotal, qPrintable(QString("%1 > %2").arg(ourTotal).arg(qtTotal)));
        QVERIFY(!QFileInfo::exists(path("not")));
        QVERIFY(!QFileInfo::exists("/a.png"));
        // Nothing over the empty columns; at the surface the top's 4 rows, 2
        // of bottom, 4 of shadow, then bottom; without a top, bottom only.
        for (const QString name : {"three parts.png", "three parts_notop.png"}) {
            const QRgb t = name.contains("_notop") ? Bottom : top, s = t == Bottom ? t : Shadow;
            QImage want = solid(Size, Size, 0);
            for (int x = 42; x < Size; ++x)
                for (int y = x < 85 ? 0 : 20, y0 = y; y < Size; ++y)
                    want.setPixel(x, y, y < y0 + 4 ? t : y < y0 + 6 || y >= y0 + 10 ? Bottom : s);
            QVERIFY2(!top || QImage(path("out/" + name)) == want.scaled(size, size),
                     qPrintable(name));
        }
    }

    // Every size takes the oracle's tile pixel for pixel: those Qt's scaling
    // picks, as the file stores them, whatever the mask keeps in part.
    void pipeline_tileAtAnySize_isTheOraclesFile_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("mask"); // of masks()
        QTest::addColumn<bool>("withTop");
        QTest::addColumn<QList<int>>("sizes");
        const QList<int> sizes{1, 2, 3, 31, 33, 63, 65, 100, 127, 129, 255, 256, 301};
        const QString textured = "top=grass topPattern=specks bottomPattern=bricks";
        QTest::newRow("flat, anti-aliased") << "top=grass"
                                            << "varied 0" << true << sizes;
        QTest::newRow("flat, grey") << "top=grass"
                                    << "grey" << true << sizes;
        QTest::newRow("textured, translucent") << textured << "translucent" << true << sizes;
        QTest::newRow("textured, notched") << textured << "varied 1" << true << sizes;
        QTest::newRow("textured, no top") << textured << "varied 3" << false << sizes;
        QTest::newRow("translucent bottom, noise") << "top=pixel bottomOpacity=0.5 topOpacity=0.5"
                                                   << "noise" << true << sizes;
        QTest::newRow("large") << textured << "varied 0" << true << QList<int>{1000, 2048};
    }
    void pipeline_tileAtAnySize_isTheOraclesFile()
    {
        QFETCH(QString, style);
        QFETCH(QString, mask);
        QFETCH(bool, withTop);
        QFETCH(QList<int>, sizes);
        QTemporaryDir dir;
        const TileStyle design = styleFrom(style, dir.path());
        const TilePipeline pipeline(design);
        const GeneratorOracle::Layers layers = GeneratorOracle::prepare(design);
        const QImage source = masks().value(mask);
        QVERIFY(!source.isNull());
        for (int size : sizes) {
            const QImage tile = pipeline.makeTile(source, withTop, size);
            QCOMPARE(tile.format(), QImage::Format_RGBA8888);
            QVERIFY2(tile == GeneratorOracle::makeTile(layers, source, withTop, size)
                                 .convertToFormat(QImage::Format_RGBA8888),
                     qPrintable(QString("%1 px").arg(size)));
        }
    }

    // A cut pixel, as the file stores it, is Qt's: every straight value,
    // alpha and grey through setAlphaChannel() and back to straight colour.
    void pipeline_cutPixel_isQtsSteps_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("cut away") << 0 << 0;
        QTest::newRow("kept in part") << 1 << 254;
        QTest::newRow("kept whole") << 255 << 255;
    }
    void pipeline_cutPixel_isQtsSteps()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        const QImage straight = everyValueAndAlpha();
        for (int grey = from; grey <= to; ++grey) {
            QImage cut = straight.copy();
            QImage alpha(256, 256, QImage::Format_Grayscale8);
            alpha.fill(uint(grey));
            cut.setAlphaChannel(alpha);
            const QImage qt = cut.convertToFormat(QImage::Format_RGBA8888);
            for (int a = 0; a < 256; ++a)
                for (int c = 0; c < 256; ++c) {
                    uchar ours[4];
                    TilePipeline::cutPixel(straight.constScanLine(a) + 4 * c, grey, ours);
                    if (std::memcmp(ours, qt.constScanLine(a) + 4 * c, 4) != 0)
                        QFAIL(qPrintable(QString("grey %1, alpha %2, value %3: %4 against %5")
                                             .arg(grey)
                                             .arg(a)
                                             .arg(c)
                                             .arg(qRgba(ours[0], ours[1], ours[2], ours[3]), 8, 16)
                                             .arg(qt.pixel(c, a), 8, 16)));
                }
        }
    }

    // The pipeline leaves out the draws of a transparent layer over the bottom: on a
    // straight pixel such a draw is only the trip through premultiplied, which changes
    // nothing a tile is made of (its premultiplied value, hence every cut and stored word).
    void pipeline_transparentDraw_changesNoTilePixel_data()
    {
        QTest::addColumn<float>("opacity");
        for (float opacity : {1.0f, 0.8f, 0.5f, 0.3f, 0.0f})
            QTest::addRow("opacity %g", double(opacity)) << opacity;
    }
    void pipeline_transparentDraw_changesNoTilePixel()
    {
        QFETCH(float, opacity);
        const QImage straight = everyValueAndAlpha();
        QImage transparent(256, 256, QImage::Format_ARGB32_Premultiplied);
        transparent.fill(0);
        QImage drawn = straight.copy();
        ImageOperations::drawImageOver(&drawn, transparent, 0, 0, opacity);
        const auto premultiplied = QImage::Format_RGBA8888_Premultiplied;
        QCOMPARE(drawn.convertToFormat(premultiplied), straight.convertToFormat(premultiplied));
        for (int a = 0; a < 256; ++a)
            for (int c = 0; c < 256; ++c)
                for (int grey : {1, 128, 254}) {
                    uchar fromDrawn[4], fromStraight[4];
                    TilePipeline::cutPixel(drawn.constScanLine(a) + 4 * c, grey, fromDrawn);
                    TilePipeline::cutPixel(straight.constScanLine(a) + 4 * c, grey, fromStraight);
                    QVERIFY(std::memcmp(fromDrawn, fromStraight, 4) == 0);
                }
    }

    // Masks of other sizes take the pixels Qt's nearest-neighbour scaling
    // takes, in each format normaliseMask() leaves.
    void pipeline_normaliseMask_scalesAsQt_data()
    {
        QTest::addColumn<QImage>("mask");
        QImage noise(300, 7, QImage::Format_ARGB32);
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.bits()), 300 * 7);
        QTest::newRow("64 x 64") << variedMask(1, 64);
        QTest::newRow("1 x 1") << solid(1, 1, 0xff000000u);
        QTest::newRow("200 x 100, no alpha")
            << variedMask(3, 200).scaled(200, 100).convertToFormat(QImage::Format_RGB32);
        QTest::newRow("300 x 7, premultiplied")
            << noise.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("palette, 100 x 130")
            << variedMask(2, 100).scaled(100, 130).convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("5000 x 2, wider than coordinates go") << solid(5000, 2, 0x80000000u);
    }
    void pipeline_normaliseMask_scalesAsQt()
    {
        QFETCH(QImage, mask);
        const QImage working = ImageOperations::toWorkingFormat(mask);
        const QImage ours = TilePipeline::normaliseMask(mask);
        QCOMPARE(ours.format(), working.format());
        QVERIFY(ours == working.scaled(128, 128, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }

    // A project file may hold any number: NaN and infinities must not reach a
    // conversion to int, and each opacity acts as the nearest of 0 and 1.
    void nonFiniteOpacity_actsAsClamped_data()
    {
        QTest::addColumn<int>("field"); // index into the six opacities a project holds
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("clamped");
        const float inf = std::numeric_limits<float>::infinity();
        const float values[][2] = {{std::nanf(""), 0}, {inf, 1}, {-inf, 0}, {1e30f, 1}, {-2, 0}};
        for (int field = 0; field < 6; ++field)
            for (const auto &v : values)
                QTest::newRow(qPrintable(QString("opacity %1 = %2").arg(field).arg(v[0])))
                    << field << v[0] << v[1];
    }
    void nonFiniteOpacity_actsAsClamped()
    {
        QFETCH(int, field);
        QFETCH(float, value);
        QFETCH(float, clamped);
        QCOMPARE(generateTiles::opacityToAlpha(value), int(clamped * 255));
        QTemporaryDir dir;
        const auto design = [&](float opacity) {
            TileStyle style =
                styleFrom("top=grass topPattern=specks bottomPattern=bricks", dir.path());
            float *fields[] = {&style.topOpacity,
                               &style.topPatternOpacity,
                               &style.topPatternColorOpacity,
                               &style.bottomOpacity,
                               &style.bottomPatternOpacity,
                               &style.bottomPatternColorOpacity};
            *fields[field] = opacity;
            return TilePipeline(style).makeTile(variedMask(3), true, 64);
        };
        QCOMPARE(design(value), design(clamped));
    }

    // The outcome the window and the command-line tool report, from the worker's signals.
    void runOutcome_countsNamesAndVerdict_data()
    {
        QTest::addColumn<Script>("script"); // the signals, then finish() unless it is a test
        QTest::addColumn<QStringList>("requested");
        QTest::addColumn<int>("written");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<bool>("everythingWritten");
        QTest::addColumn<QStringList>("unaccounted");
        QTest::addColumn<QStringList>("problems");
        const QStringList set{"tileset.png", "tileset.tsx"};
        QTest::newRow("all written") << Script([](generateTiles &w, RunOutcome &o) {
            emit w.TotalSteps(2), emit w.NextStep(1), emit w.NextStep(2);
            emit w.ExportWritten(QStringList{"tileset.png", "tileset.tsx"});
            o.finish(false, 2, false);
        }) << set << 2 << false << true
                                     << QStringList() << QStringList();
        QTest::newRow("a tile failed, the export not reached")
            << Script([](generateTiles &w, RunOutcome &o) {
                   emit w.TotalSteps(3), emit w.NextStep(1), emit w.TileFailed("b.png", "why");
                   emit w.NextStep(2), emit w.NextStep(3);
                   emit w.ExportFailed("tileset.png", "incomplete");
                   o.finish(false, 3, false);
               })
            << set << 2 << false << false << QStringList{"tileset.tsx"}
            << QStringList{"b.png: why", "tileset.png: incomplete"};
        QTest::newRow("refused") << Script([](generateTiles &w, RunOutcome &o) {
            emit w.TotalSteps(2), emit w.TileFailed("", "locked");
            o.finish(true, 0, false);
        }) << QStringList() << 0 << false
                                 << false << QStringList() << QStringList{"locked"};
        QTest::newRow("stopped") << Script([](generateTiles &w, RunOutcome &o) {
            emit w.TotalSteps(5), emit w.NextStep(1), emit w.NextStep(2);
            o.finish(false, 2, true);
        }) << QStringList() << 2 << true
                                 << false << QStringList() << QStringList();
        QTest::newRow("stop asked after the last tile")
            << Script([](generateTiles &w, RunOutcome &o) {
                   emit w.TotalSteps(1), emit w.NextStep(1);
                   o.finish(false, 1, true);
               })
            << QStringList() << 1 << false << true << QStringList() << QStringList();
        QTest::newRow("design incomplete") << Script([](generateTiles &w, RunOutcome &o) {
            emit w.TotalSteps(1), emit w.DesignIncomplete("Top shape t.png left out");
            emit w.NextStep(1);
            o.finish(false, 1, false);
        }) << QStringList() << 1 << false << false
                                           << QStringList()
                                           << QStringList{"Top shape t.png left out"};
        QTest::newRow("not finished") << Script([](generateTiles &w, RunOutcome &) {
            emit w.TotalSteps(1), emit w.NextStep(1);
        }) << QStringList() << 1 << false
                                      << false << QStringList() << QStringList();
    }
    void runOutcome_countsNamesAndVerdict()
    {
        QFETCH(Script, script);
        QFETCH(QStringList, requested);
        generateTiles worker;
        RunOutcome outcome;
        outcome.listenTo(&worker);
        emit worker.TileFailed("", "from the run before");
        outcome.reset();
        script(worker, outcome);
        QTEST(outcome.written(), "written");
        QTEST(outcome.stopped(), "stopped");
        QTEST(outcome.everythingWritten(requested), "everythingWritten");
        QTEST(outcome.exportsUnaccounted(requested), "unaccounted");
        QTEST(outcome.problems(), "problems");
    }

    // Stopped while the threads share the masks out: the tiles made are the first ones
    // listed, each whole, and every one is reported; a stop asked before the first tile
    // makes none.
    void run_stopped_leavesFirstTilesWhole_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("stopAt"); // the step after which the stop is asked; 0: at the start
        for (int threads : {1, 2, 8})
            for (int stopAt : {0, 1, 7})
                QTest::addRow("%d threads, stop after %d", threads, stopAt) << threads << stopAt;
    }
    void run_stopped_leavesFirstTilesWhole()
    {
        QFETCH(int, threads);
        QFETCH(int, stopAt);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("alpha")) && QDir().mkpath(dir.filePath("out")));
        const int count = 200;
        const QStringList names = writeMasks(dir.filePath("alpha"), count);
        QCOMPARE(names.size(), count);
        generateTiles worker;
        QThread thread;
        int steps = 0, reported = -1; // both touched on the worker's thread only until it ends
        setUpOnThread(worker, thread, styleFrom("top=grass", dir.path()), dir.filePath("alpha"),
                      dir.filePath("out"), threads, 64, &reported);
        const auto stopAfter = [&](int step) {
            steps = step;
            if (step == stopAt)
                thread.requestInterruption();
        };
        connect(&worker, &generateTiles::TotalSteps, &worker, [&] { stopAfter(0); });
        connect(&worker, &generateTiles::NextStep, &worker, stopAfter);
        thread.start();
        QVERIFY(thread.wait(60000));
        QStringList tiles = QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(reported >= stopAt && reported < count, qPrintable(QString::number(reported)));
        QVERIFY(threads > 1 || reported == stopAt);
        QCOMPARE(steps, reported);
        QCOMPARE(tiles, names.mid(0, reported));
        for (const QString &name : tiles)
            QCOMPARE(QImage(dir.filePath("out/" + name)).size(), QSize(64, 64));
    }

    // Runs at once share the tile-making threads: each makes every one of its
    // tiles and waits for its own jobs only, also when the other's jobs hold
    // every thread as it starts. A tile already in the folder is
    // replaced and keeps its permissions; the new ones are whole files.
    void run_concurrentRuns_eachWritesAllItsTiles_data()
    {
        QTest::addColumn<int>("first");  // threads of the first run
        QTest::addColumn<int>("second"); // and of the second
        QTest::newRow("2 and 2 threads") << 2 << 2;
        QTest::newRow("2 and 8 threads") << 2 << 8;
        QTest::newRow("8 and 1 threads") << 8 << 1;
        QTest::newRow("8 and 8 threads, more jobs than threads") << 8 << 8;
    }
    void run_concurrentRuns_eachWritesAllItsTiles()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("alpha")));
        const int count = 100;
        const QStringList names = writeMasks(dir.filePath("alpha"), count);
        QCOMPARE(names.size(), count);
        const TileStyle design = styleFrom("top=grass topPattern=specks", dir.path());
        struct Run
        {
            generateTiles worker;
            QThread thread;
            int reported = -1;
        };
        Run runs[2];
        for (int r = 0; r < 2; ++r) {
            const QString out = dir.filePath(QString("out%1").arg(r));
            QVERIFY(QDir().mkpath(out) && writeFile(out + "/" + names[5], "old"));
            QVERIFY(::chmod(qPrintable(out + "/" + names[5]), 0604) == 0);
            setUpOnThread(runs[r].worker, runs[r].thread, design, dir.filePath("alpha"), out,
                          r == 0 ? first : second, 128, &runs[r].reported);
        }
        // The second starts once the first makes tiles, its threads taken.
        bool secondStarted = false; // touched on the first run's thread only
        connect(&runs[0].worker, &generateTiles::NextStep, &runs[0].worker,
                [&runs, &secondStarted] {
                    if (!std::exchange(secondStarted, true))
                        runs[1].thread.start();
                });
        runs[0].thread.start();
        const GeneratorOracle::Layers layers = GeneratorOracle::prepare(design);
        const bool ended = runs[0].thread.wait(60000) && runs[1].thread.wait(60000);
        QVERIFY(ended);
        for (int r = 0; r < 2; ++r) {
            QCOMPARE(runs[r].reported, count);
            const QString out = dir.filePath(QString("out%1").arg(r));
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), names);
            for (const QString &name : names) {
                const QImage mask(dir.filePath("alpha/" + name));
                compareWithQtsFile(
                    readFile(out + "/" + name),
                    GeneratorOracle::makeTile(layers, mask, !name.contains("_notop"), 128), name);
                if (QTest::currentTestFailed())
                    return;
            }
            struct stat status;
            QVERIFY(::lstat(qPrintable(out + "/" + names[5]), &status) == 0);
            QCOMPARE(status.st_mode & 0777, 0604u);
        }
    }

    // A run whose helpers find every shared thread held (by other runs'
    // jobs) makes every tile on its own thread and ends without waiting for
    // one; its jobs that begin afterwards never touch it.
    void run_sharedThreadsAllHeld_runEndsOnItsOwn_data()
    {
        QTest::addColumn<int>("threads");
        for (int threads : {2, 3, 8})
            QTest::addRow("%d threads", threads) << threads;
    }
    void run_sharedThreadsAllHeld_runEndsOnItsOwn()
    {
        QFETCH(int, threads);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("alpha")) && QDir().mkpath(dir.filePath("out")));
        const int count = 20;
        const QStringList names = writeMasks(dir.filePath("alpha"), count);
        QCOMPARE(names.size(), count);
        {
            const TileThreads asked(threads - 1);
        } // the pool as large as the run makes it
        QThreadPool &pool = TileThreads::pool();
        const int held = pool.maxThreadCount();
        QSemaphore begun, release;
        for (int i = 0; i < held; ++i) {
            pool.start([&] {
                begun.release();
                release.acquire();
            });
        }
        QVERIFY(begun.tryAcquire(held, 10000));
        generateTiles worker;
        QThread thread;
        int reported = -1;
        setUpOnThread(worker, thread, styleFrom("top=grass", dir.path()), dir.filePath("alpha"),
                      dir.filePath("out"), threads, 32, &reported);
        thread.start();
        const bool ended = thread.wait(20000);
        release.release(held);
        pool.waitForDone();
        QVERIFY(ended || thread.wait(60000)); // not torn down while it runs
        QVERIFY2(ended, "the run waited for a thread");
        QCOMPARE(reported, count);
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden), names);
    }

    // Leases go in the order asked for: a later ask that would fit waits behind an earlier
    // one that does not, so no thread starves behind others that keep coming back.
    void memoryBudget_grantsLeasesInTurn_data()
    {
        QTest::addColumn<qint64>("held"); // by this thread, until both have asked
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("second");
        // Never both at once, so the order they note is the order granted.
        QTest::newRow("a later ask that fits waits behind one that does not")
            << 50LL << 60LL << 50LL;
        QTest::newRow("both wait for the holder") << 100LL << 60LL << 50LL;
        QTest::newRow("an ask beyond the budget, then a small one") << 50LL << 500LL << 10LL;
    }
    void memoryBudget_grantsLeasesInTurn()
    {
        QFETCH(qint64, held);
        QFETCH(qint64, first);
        QFETCH(qint64, second);
        MemoryBudget budget(100);
        QMutex mutex;
        QStringList granted;
        auto ask = [&](qint64 bytes, const QString &name) {
            return QThread::create([&budget, &mutex, &granted, bytes, name] {
                const MemoryBudget::Lease lease(&budget, bytes);
                QMutexLocker lock(&mutex);
                granted << name;
            });
        };
        // Waited for on every way out, a failed check too; the lease below goes first.
        const auto join = [](QThread *thread) {
            thread->wait();
            delete thread;
        };
        std::unique_ptr<QThread, decltype(join)> a(nullptr, join), b(nullptr, join);
        {
            const MemoryBudget::Lease lease(&budget, held);
            a.reset(ask(first, "first"));
            a->start();
            QTRY_COMPARE(budget.waiting(), 1);
            b.reset(ask(second, "second"));
            b->start();
            QTRY_COMPARE(budget.waiting(), 2);
        }
        QVERIFY(a->wait(10000) && b->wait(10000));
        QCOMPARE(granted, QStringList({"first", "second"}));
        QVERIFY(budget.peak() <= 100);
    }

    // One run at a time per folder; what a killed run left is removed by the next.
    void outputFolder_heldByAnotherRunOrLeftOver_data()
    {
        QTest::addColumn<bool>("held");
        QTest::newRow("held by another run") << true;
        QTest::newRow("left over by a killed run") << false;
    }
    void outputFolder_heldByAnotherRunOrLeftOver()
    {
        QFETCH(bool, held);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("alpha")) && QDir().mkpath(dir.filePath("out")));
        QVERIFY(variedMask(1).save(dir.filePath("alpha/a.png")));
        // Staged names as a kill leaves them, beside a user's own hidden file.
        const QStringList leftovers{".tilewright-partial-a.png",
                                    ".tilewright-partial-a.png.Xy12Ab"};
        for (const QString &name : leftovers + QStringList{".keep"})
            QVERIFY(writeFile(dir.filePath("out/" + name), "part"));
        // A link under a staged name goes (not what it points to); a folder stays.
        QVERIFY(
            QFile::link(dir.filePath("out/.keep"), dir.filePath("out/.tilewright-partial-b.png")));
        QVERIFY(QDir().mkpath(dir.filePath("out/.tilewright-partial-folder")));
        QLockFile other(dir.filePath("out/.tilewright.lock"));
        QVERIFY(!held || other.tryLock(0));
        generateTiles worker;
        worker.alphaDirectory = dir.filePath("alpha");
        worker.outputDirectory = dir.filePath("out");
        QStringList reasons;
        QCOMPARE(record(worker, reasons),
                 held ? "total 1, failed (run), complete error 0" : counted(1, 1));
        QVERIFY2(!held || reasons.value(0).contains("Another run"), qPrintable(reasons.join('\n')));
        const QStringList files = QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden);
        const QStringList kept = QStringList{".keep"} + leftovers +
                                 QStringList{".tilewright-partial-b.png", ".tilewright.lock"};
        QCOMPARE(files, held ? kept : QStringList({".keep", "a.png"}));
        QCOMPARE(readFile(dir.filePath("out/.keep")), QByteArray("part"));
        QVERIFY(QFileInfo(dir.filePath("out/.tilewright-partial-folder")).isDir());
    }

    // A tile goes through a staged file made afresh, or when likely new an
    // unnamed one: what lies under either name is replaced, never written
    // through; an existing tile keeps its permissions, a new one gets 0666
    // less the umask. A failure gives the reason and leaves the old tile as
    // it was and nothing staged. A tile made unnamed never takes the staged
    // name, so a leftover there waits for the next claim. (Full and
    // read-only disks: run_reportsEachMask_writesOracleTiles.)
    void outputFolder_writesWholeTileOrNothing_data()
    {
        QTest::addColumn<QString>("tile");   // under the tile's name: "", "file", "link"
        QTest::addColumn<QString>("staged"); // under the staged name: "", "file", "link", "folder"
        QTest::addColumn<bool>("likelyNew");
        QTest::addColumn<QString>("reason"); // empty when written
        for (const bool likelyNew : {false, true}) {
            const auto row = [likelyNew](const char *tag, const char *tile, const char *staged,
                                         const char *reason = "") {
                QTest::newRow(qPrintable(QString(tag) + (likelyNew ? ", likely new" : "")))
                    << QString(tile) << QString(staged) << likelyNew << QString(reason);
            };
            row("new tile", "", "");
            row("existing tile, its mode wider than the umask", "file", "");
            row("link under the tile's name", "link", "");
            row("leftover under the staged name", "file", "file");
            row("link under the staged name", "", "link");
            row("folder under the staged name", "file", "folder", "directory");
            row("missing folder", "", "", "No such file");
        }
    }
    void outputFolder_writesWholeTileOrNothing()
    {
        QFETCH(QString, tile);
        QFETCH(QString, staged);
        QFETCH(bool, likelyNew);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString out = dir.filePath(reason.contains("No such") ? "gone" : "out");
        const QString path = out + "/a.png", victim = dir.filePath("victim"),
                      stagedPath = out + "/" + OutputFolder::StagingPrefix + "a.png";
        QVERIFY(QDir().mkpath(dir.filePath("out")) && writeFile(victim, "victim"));
        const auto place = [&](const QString &what, const QString &at) {
            return what.isEmpty() || (what == "link"   ? QFile::link(victim, at)
                                      : what == "file" ? writeFile(at, "old")
                                                       : QDir().mkpath(at));
        };
        QVERIFY(place(tile, path) && place(staged, stagedPath));
        QVERIFY(tile != "file" || ::chmod(qPrintable(path), 0666) == 0);
        const bool unnamed = likelyNew && tile.isEmpty() && hasUnnamedFiles(out);
        const mode_t umask = ::umask(027);
        QString error;
        const bool written = OutputFolder::writeFile(path, "new", &error, likelyNew);
        ::umask(umask);
        QCOMPARE(written, reason.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(readFile(victim), QByteArray("victim"));
        QCOMPARE(readFile(path), QByteArray(written ? "new" : tile == "file" ? "old" : ""));
        QStringList want;
        if (staged == "folder" || (staged == "link" && unnamed))
            want << OutputFolder::StagingPrefix + "a.png";
        if (written || tile == "file")
            want << "a.png";
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), want);
        struct stat status;
        QVERIFY(!written || (::lstat(qPrintable(path), &status) == 0 && S_ISREG(status.st_mode)));
        QVERIFY(!written || (status.st_mode & 0777) == (tile == "file" ? 0666u : 0640u));
    }

    // A claim lists what the folder holds, its leftovers gone; before a
    // claim, or after the release, any name may be there.
    void outputFolder_mayHold_namesListedByTheClaim()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.png"), "old") &&
                writeFile(dir.filePath(OutputFolder::StagingPrefix + "b.png"), "part") &&
                QDir().mkpath(dir.filePath("folder")));
        OutputFolder output(dir.path());
        QVERIFY(output.mayHold("c.png"));
        QVERIFY(output.claim());
        QVERIFY(output.mayHold("a.png") && output.mayHold("folder"));
        QVERIFY(!output.mayHold("c.png") && !output.mayHold("A.png"));
        QVERIFY(!output.mayHold(OutputFolder::StagingPrefix + "b.png"));
        output.release();
        QVERIFY(output.mayHold("c.png"));
    }
};

QTEST_GUILESS_MAIN(TestGenerator)
#include "tst_generator.moc"
