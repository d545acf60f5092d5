// TilePipeline against the step-by-step generation: the same tiles, bit for
// bit, over designs and masks chosen to hit every shortcut it takes.

#include "generatorfixtures.h"
#include "generatororacle.h"
#include "tilepipeline.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstring>
#include <functional>

namespace {

using namespace GeneratorFixtures;

struct NamedMask
{
    const char *name;
    QImage image;
};

QList<NamedMask> masks()
{
    QList<NamedMask> list{
        {"full", fullMask()},
        {"slope", slopeMask()},
        {"empty left half", emptyLeftHalfMask()},
        {"edge at the top", edgeAtTopMask()},
        {"off the bottom", offBottomMask()},
        {"empty columns", emptyColumnsMask()},
        {"grey", greyMask()},
        {"coloured", colouredMask()},
        {"anti-aliased", antialiasedMask()},
        {"translucent", translucentMask()},
        {"anti-aliased, premultiplied",
         antialiasedMask().convertToFormat(QImage::Format_ARGB32_Premultiplied)},
        {"grey palette", greyMask().convertToFormat(QImage::Format_Grayscale8)},
        {"64 x 64", smallMask()},
        {"200 x 100 anti-aliased", antialiasedMask(200).scaled(200, 100)},
        {"no alpha channel", rgbMask()},
        {"palette", indexedMask()},
        {"noise", noiseMask()},
        {"empty", emptyMask()},
    };
    for (int i = 0; i < 6; ++i)
        list.append({"varied", variedMask(i)});
    return list;
}

// The first difference between two tiles, or an empty string.
QString difference(const QImage &expected, const QImage &actual)
{
    if (expected.format() != actual.format())
        return QStringLiteral("format %1, expected %2").arg(actual.format()).arg(expected.format());
    if (expected.size() != actual.size())
        return QStringLiteral("size %1 x %2, expected %3 x %4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    const int bytes = expected.width() * expected.depth() / 8;
    for (int y = 0; y < expected.height(); ++y) {
        if (std::memcmp(expected.constScanLine(y), actual.constScanLine(y), size_t(bytes)) == 0)
            continue;
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixel(x, y) != actual.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
        }
    }
    return QString();
}

using StyleMaker = std::function<TileStyle(const QDir &)>;

} // namespace

Q_DECLARE_METATYPE(StyleMaker)

class TestTilePipeline : public QObject
{
    Q_OBJECT

private slots:
    void sameTilesAsStepByStep_data();
    void sameTilesAsStepByStep();
    void sameTilesOnSeveralThreads();

    void preparedLayers_matchStepByStep();
    void unreadableTopAndPatterns_areLeftOutWithWarnings();
    void readMask_absurdDeclaredSize_isRefused();
    void readMask_corruptFile_isRefused();
    void readMask_otherSizes_areScaledTo128();
    void makeTile_badTileSize_givesNullImage_data();
    void makeTile_badTileSize_givesNullImage();
    void wantsTop_data();
    void wantsTop();

private:
    QTemporaryDir m_dir;
};

void TestTilePipeline::sameTilesAsStepByStep_data()
{
    QTest::addColumn<StyleMaker>("makeStyle");

    auto flat = [](const QDir &dir) { return flatStyle(dir); };
    auto textured = [](const QDir &dir) { return texturedStyle(dir); };
    QTest::newRow("grass top, flat") << StyleMaker(flat);
    QTest::newRow("textured base, patterned top") << StyleMaker(textured);
    QTest::newRow("no top") << StyleMaker([](const QDir &) { return TileStyle(); });
    QTest::newRow("unreadable top") << StyleMaker([](const QDir &dir) {
        TileStyle style;
        style.topStyle = dir.filePath("missing.png");
        return style;
    });
    QTest::newRow("top without alpha") << StyleMaker([](const QDir &dir) {
        TileStyle style;
        style.topStyle = PreviewFixtures::save(opaqueTop(), dir, "opaque-top.png");
        return style;
    });
    QTest::newRow("pixel top with translucent tufts") << StyleMaker([](const QDir &dir) {
        TileStyle style;
        style.topStyle = PreviewFixtures::save(PreviewFixtures::pixelTop(), dir, "pixel.png");
        style.topPattern =
            QFileInfo(PreviewFixtures::save(PreviewFixtures::holes(), dir, "holes.png"));
        return style;
    });
    QTest::newRow("top opacity 0, patterned") << StyleMaker([textured](const QDir &dir) {
        TileStyle style = textured(dir);
        style.topOpacity = 0.0f;
        return style;
    });
    QTest::newRow("top opacity 0.5, textured") << StyleMaker([textured](const QDir &dir) {
        TileStyle style = textured(dir);
        style.topOpacity = 0.5f;
        return style;
    });
    QTest::newRow("translucent base with holes") << StyleMaker([flat](const QDir &dir) {
        TileStyle style = flat(dir);
        style.bottomOpacity = 0.5f;
        style.bottomPattern =
            QFileInfo(PreviewFixtures::save(PreviewFixtures::holes(), dir, "holes.png"));
        return style;
    });
    QTest::newRow("invisible base") << StyleMaker([flat](const QDir &dir) {
        TileStyle style = flat(dir);
        style.bottomOpacity = 0.0f;
        return style;
    });
    QTest::newRow("every opacity 0.5") << StyleMaker([textured](const QDir &dir) {
        TileStyle style = textured(dir);
        style.topOpacity = style.bottomOpacity = 0.5f;
        style.topPatternOpacity = style.bottomPatternOpacity = 0.5f;
        style.topPatternColorOpacity = style.bottomPatternColorOpacity = 0.5f;
        style.bottomColor = QColor(40, 90, 200);
        style.topColor = QColor(250, 250, 250);
        return style;
    });
    QTest::newRow("opacities 1, odd colours") << StyleMaker([textured](const QDir &dir) {
        TileStyle style = textured(dir);
        style.topPatternOpacity = style.bottomPatternOpacity = 1.0f;
        style.bottomColor = QColor(0, 0, 0);
        style.topColor = QColor(255, 0, 255);
        return style;
    });
    QTest::newRow("narrow, tall top") << StyleMaker([](const QDir &dir) {
        TileStyle style;
        style.topStyle =
            PreviewFixtures::save(PreviewFixtures::topShape(64, 150), dir, "narrow.png");
        return style;
    });
    QTest::newRow("stronger shade, small pattern") << StyleMaker([flat](const QDir &dir) {
        TileStyle style = flat(dir);
        style.shade = 0.7f;
        style.bottomPattern = QFileInfo(
            PreviewFixtures::save(PreviewFixtures::specks(50, 40), dir, "small-specks.png"));
        return style;
    });
}

void TestTilePipeline::sameTilesAsStepByStep()
{
    QFETCH(StyleMaker, makeStyle);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TileStyle style = makeStyle(QDir(dir.path()));
    const GeneratorOracle::Layers expected = GeneratorOracle::prepare(style);
    const TilePipeline pipeline(style);

    for (const NamedMask &mask : masks()) {
        for (bool withTop : {true, false}) {
            for (int size : {128, 64, 32}) {
                const QImage want = GeneratorOracle::makeTile(expected, mask.image, withTop, size);
                const QImage got = pipeline.makeTile(mask.image, withTop, size);
                const QString diff = difference(want, got);
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("mask %1, %2, size %3: %4")
                                                        .arg(QLatin1String(mask.name))
                                                        .arg(withTop ? "top" : "no top")
                                                        .arg(size)
                                                        .arg(diff)));
            }
        }
    }
}

// The grey-level cache is shared between threads; results must not depend
// on who filled it.
void TestTilePipeline::sameTilesOnSeveralThreads()
{
    QVERIFY(m_dir.isValid());
    const TileStyle style = texturedStyle(QDir(m_dir.path()));
    const TilePipeline pipeline(style);
    const GeneratorOracle::Layers expected = GeneratorOracle::prepare(style);
    const QList<NamedMask> list = masks();

    QVector<QImage> results(list.size() * 4);
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads.append(QThread::create([&, t] {
            for (int i = 0; i < list.size(); ++i)
                results[t * list.size() + i] = pipeline.makeTile(list[i].image, true, 128);
        }));
        threads.last()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(60000));
        delete thread;
    }
    for (int i = 0; i < results.size(); ++i) {
        const NamedMask &mask = list[i % list.size()];
        const QString diff =
            difference(GeneratorOracle::makeTile(expected, mask.image, true, 128), results[i]);
        QVERIFY2(diff.isEmpty(), qPrintable(QLatin1String(mask.name) + ": " + diff));
    }
}

void TestTilePipeline::preparedLayers_matchStepByStep()
{
    QVERIFY(m_dir.isValid());
    const TileStyle style = texturedStyle(QDir(m_dir.path()));
    const TilePipeline pipeline(style);
    const GeneratorOracle::Layers expected = GeneratorOracle::prepare(style);
    QVERIFY(!pipeline.top().isNull());
    QCOMPARE(difference(expected.base, pipeline.base()), QString());
    QCOMPARE(difference(expected.top, pipeline.top()), QString());
    QVERIFY(pipeline.warnings().isEmpty());
}

void TestTilePipeline::unreadableTopAndPatterns_areLeftOutWithWarnings()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString corrupt = dir.filePath("corrupt.png");
    QFile file(corrupt);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\nnot really");
    file.close();

    TileStyle style;
    style.topStyle = corrupt;
    style.bottomPattern = QFileInfo(dir.filePath("gone.png"));
    const TilePipeline pipeline(style);
    QVERIFY(pipeline.top().isNull());
    QCOMPARE(pipeline.warnings().size(), 2);
    QVERIFY2(pipeline.warnings().join('\n').contains("corrupt.png"),
             qPrintable(pipeline.warnings().join('\n')));

    // The tile is the plain bottom, cut to the mask.
    const QImage tile = pipeline.makeTile(fullMask(), true, 128);
    QCOMPARE(tile.pixelColor(5, 5).name(), style.bottomColor.name());
}

void TestTilePipeline::readMask_absurdDeclaredSize_isRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("huge.png");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(declaredPng(60000, 60000));
    file.close();
    QCOMPARE(QImageReader(path).size(), QSize(60000, 60000));

    QString error;
    QVERIFY(TilePipeline::readMask(path, &error).isNull());
    QVERIFY2(error.contains("60000 x 60000"), qPrintable(error));
}

void TestTilePipeline::readMask_corruptFile_isRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("broken.png");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDRtruncated", 25));
    file.close();
    QString error;
    QVERIFY(TilePipeline::readMask(path, &error).isNull());
    QVERIFY(!error.isEmpty());
    QVERIFY(TilePipeline::readMask(dir.filePath("absent.png"), &error).isNull());
    QVERIFY(!error.isEmpty());
}

void TestTilePipeline::readMask_otherSizes_areScaledTo128()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("small.png");
    QVERIFY(smallMask().save(path));
    const QImage mask = TilePipeline::readMask(path);
    QCOMPARE(mask.size(), QSize(128, 128));
    // 64 x 64 doubled: the surface of column 0 at row 10 moves to row 20.
    QCOMPARE(qAlpha(mask.pixel(0, 19)), 0);
    QCOMPARE(qAlpha(mask.pixel(1, 20)), 255);

    // And it cuts its tile: the part above the surface is empty.
    const TilePipeline pipeline{TileStyle()};
    const QImage tile = pipeline.makeTile(smallMask(), true, 128);
    QCOMPARE(qAlpha(tile.pixel(0, 5)), 0);
    QCOMPARE(qAlpha(tile.pixel(0, 100)), 255);
}

void TestTilePipeline::makeTile_badTileSize_givesNullImage_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("0") << 0;
    QTest::newRow("negative") << -64;
    QTest::newRow("absurd") << 100000;
}

void TestTilePipeline::makeTile_badTileSize_givesNullImage()
{
    QFETCH(int, size);
    const TilePipeline pipeline{TileStyle()};
    QVERIFY(pipeline.makeTile(fullMask(), true, size).isNull());
    QVERIFY(pipeline.makeTile(QImage(), true, 128).isNull());
}

void TestTilePipeline::wantsTop_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("top");
    QTest::newRow("plain") << "slope.png" << true;
    QTest::newRow("marker") << "slope_notop.png" << false;
    QTest::newRow("marker in the middle") << "a_notop_b.PNG" << false;
    QTest::newRow("capitals are not the marker") << "slope_NOTOP.png" << true;
}

void TestTilePipeline::wantsTop()
{
    QFETCH(QString, name);
    QFETCH(bool, top);
    QCOMPARE(TilePipeline::wantsTop(name), top);
}

QTEST_GUILESS_MAIN(TestTilePipeline)
#include "tst_tilepipeline.moc"
