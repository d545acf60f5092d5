#include "tilestyle.h"

#include <QtTest>

class TestTileStyle : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void resetKeepsPathsAndPatterns();
    void partFromText_data();
    void partFromText();
    void partAccessorsReachTheirOwnFields();
};

void TestTileStyle::defaults()
{
    const TileStyle style;
    QCOMPARE(style.topColor.name(), QStringLiteral("#80be1f"));
    QCOMPARE(style.bottomColor.name(), QStringLiteral("#c39366"));
    QCOMPARE(style.topPatternColor.name(), QStringLiteral("#80be1f"));
    QCOMPARE(style.bottomPatternColor.name(), QStringLiteral("#c39366"));
    QCOMPARE(style.topOpacity, 1.0f);
    QCOMPARE(style.bottomOpacity, 1.0f);
    QCOMPARE(style.topPatternOpacity, 0.4f);
    QCOMPARE(style.bottomPatternOpacity, 0.4f);
    QCOMPARE(style.topPatternColorOpacity, 1.0f);
    QCOMPARE(style.bottomPatternColorOpacity, 1.0f);
    QCOMPARE(style.shade, 0.4f);
    QVERIFY(style.topStyle.isEmpty());
    QVERIFY(style.topPattern.fileName().isEmpty());
    QVERIFY(style.bottomPattern.fileName().isEmpty());
    QVERIFY(!style.topDown);
}

void TestTileStyle::resetKeepsPathsAndPatterns()
{
    TileStyle style;
    style.topStyle = QStringLiteral("/assets/grass.png");
    style.topPattern.setFile(QStringLiteral("/assets/bricks.png"));
    style.topColor = Qt::red;
    style.bottomPatternOpacity = 0.9f;
    style.topPatternColorOpacity = 0.1f;
    style.shade = 0.7f;
    style.resetColoursAndOpacities();
    QCOMPARE(style.topStyle, QStringLiteral("/assets/grass.png"));
    QCOMPARE(style.topPattern.fileName(), QStringLiteral("bricks.png"));
    QCOMPARE(style.topColor.name(), QStringLiteral("#80be1f"));
    QCOMPARE(style.bottomPatternOpacity, 0.4f);
    QCOMPARE(style.topPatternColorOpacity, 1.0f);
    QCOMPARE(style.shade, 0.4f);
}

void TestTileStyle::partFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isTop");
    QTest::newRow("Top") << "Top" << true;
    QTest::newRow("Bottom") << "Bottom" << false;
    QTest::newRow("lower-case top is not Top") << "top" << false;
    QTest::newRow("empty") << "" << false;
    // The preview item texts are matched by "contains", not here.
    QTest::newRow("Top Shape") << "Top Shape" << false;
}

void TestTileStyle::partFromText()
{
    QFETCH(QString, text);
    QFETCH(bool, isTop);
    QCOMPARE(stylePartFromText(text) == StylePart::Top, isTop);
}

void TestTileStyle::partAccessorsReachTheirOwnFields()
{
    TileStyle style;
    style.opacity(StylePart::Bottom) = 0.25f;
    style.patternColorOpacity(StylePart::Bottom) = 0.5f;
    style.patternColor(StylePart::Top) = Qt::blue;
    style.pattern(StylePart::Bottom).setFile(QStringLiteral("/p/dirt.png"));
    QCOMPARE(style.bottomOpacity, 0.25f);
    QCOMPARE(style.topOpacity, 1.0f);
    QCOMPARE(style.bottomPatternColorOpacity, 0.5f);
    QCOMPARE(style.topPatternColorOpacity, 1.0f);
    QCOMPARE(style.topPatternColor, QColor(Qt::blue));
    QCOMPARE(style.bottomPatternColor.name(), QStringLiteral("#c39366"));
    QCOMPARE(TileStyle::patternPath(style.bottomPattern), QStringLiteral("/p/dirt.png"));
    QVERIFY(TileStyle::patternPath(style.topPattern).isEmpty());
}

QTEST_GUILESS_MAIN(TestTileStyle)
#include "tst_tilestyle.moc"
