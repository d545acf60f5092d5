#include "appsettings.h"
#include "testenv.h"

#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void centredRect_data();
    void centredRect();
    void vendorUrl_data();
    void vendorUrl();
};

void TestAppSettings::centredRect_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("default window")
        << QSize(1146, 626) << QSize(1920, 1080) << QRect(387, 227, 1146, 626);
    // Each half is truncated on its own: 960 - 572 and 540 - 312.
    QTest::newRow("odd window") << QSize(1145, 625) << QSize(1920, 1080)
                                << QRect(388, 228, 1145, 625);
    QTest::newRow("window larger than screen")
        << QSize(2000, 1200) << QSize(1280, 720) << QRect(-360, -240, 2000, 1200);
}

void TestAppSettings::centredRect()
{
    QFETCH(QSize, window);
    QFETCH(QSize, screen);
    QFETCH(QRect, expected);
    QCOMPARE(AppSettings::centredRect(window, screen), expected);
}

void TestAppSettings::vendorUrl_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing stored") << QVariant() << AppSettings::defaultServerUrl() + "/support/";
    QTest::newRow("local server") << QVariant("http://127.0.0.1:8080")
                                  << QString("http://127.0.0.1:8080/support/");
    QTest::newRow("trailing slashes dropped")
        << QVariant("http://127.0.0.1:8080//") << QString("http://127.0.0.1:8080/support/");
    QTest::newRow("blank falls back")
        << QVariant("  ") << AppSettings::defaultServerUrl() + "/support/";
}

void TestAppSettings::vendorUrl()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    QSettings settings = TestEnv::settings();
    settings.clear();
    if (stored.isValid())
        settings.setValue(AppSettings::ServerUrl, stored);
    settings.sync();
    QCOMPARE(AppSettings::vendorUrl("/support/").toString(), expected);
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
