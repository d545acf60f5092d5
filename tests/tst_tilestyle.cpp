#include "tilestyle.h"

#include <QtTest>

class TestTileStyle : public QObject
{
    Q_OBJECT

private slots:
    void defaults()
    {
        const TileStyle s;
        QVERIFY(s.topStyle.isEmpty() && !s.topDown && s.topPattern.fileName().isEmpty() &&
                s.bottomPattern.fileName().isEmpty());
        QCOMPARE((QStringList{s.topColor.name(), s.bottomColor.name(), s.topPatternColor.name(),
                              s.bottomPatternColor.name()}),
                 (QStringList{"#80be1f", "#c39366", "#80be1f", "#c39366"}));
        QCOMPARE((QVector<float>{s.topOpacity, s.bottomOpacity, s.topPatternOpacity,
                                 s.bottomPatternOpacity, s.topPatternColorOpacity,
                                 s.bottomPatternColorOpacity, s.shade}),
                 (QVector<float>{1, 1, .4f, .4f, 1, 1, .4f}));
    }

    void partSelector_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isTop");
        QTest::newRow("Top") << "Top" << true;
        QTest::newRow("Bottom") << "Bottom" << false;
        QTest::newRow("lower-case top") << "top" << false;
        QTest::newRow("preview item text") << "Top Shape" << false; // matched by "contains"
    }

    // Edits reach the selected part's fields and leave the other part alone.
    void partSelector()
    {
        QFETCH(QString, text);
        QFETCH(bool, isTop);
        const StylePart part = stylePartFromText(text);
        QCOMPARE(part == StylePart::Top, isTop);
        TileStyle style;
        style.opacity(part) = 0.25f;
        style.pattern(part).setFile("/p/dirt.png");
        QCOMPARE((QVector<float>{style.topOpacity, style.bottomOpacity}),
                 (isTop ? QVector<float>{0.25f, 1} : QVector<float>{1, 0.25f}));
        QCOMPARE(style.topPattern.fileName() + "|" + style.bottomPattern.fileName(),
                 QString(isTop ? "dirt.png|" : "|dirt.png"));
    }
};

QTEST_GUILESS_MAIN(TestTileStyle)
#include "tst_tilestyle.moc"
