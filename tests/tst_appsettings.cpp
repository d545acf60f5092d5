#include "appsettings.h"
#include "testenv.h"

#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void centredRect_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("default window: 960 - 573, 540 - 313")
            << QSize(1146, 626) << QRect(387, 227, 1146, 626);
        QTest::newRow("odd window, each half truncated: 960 - 572, 540 - 312")
            << QSize(1145, 625) << QRect(388, 228, 1145, 625);
    }

    void centredRect()
    {
        QFETCH(QSize, window);
        QTEST(AppSettings::centredRect(window, QSize(1920, 1080)), "expected");
    }

    void vendorUrl_storedServerOverridesDefault()
    {
        QSettings settings = TestEnv::settings();
        settings.clear();
        QCOMPARE(AppSettings::vendorUrl("/support/").toString(),
                 AppSettings::defaultServerUrl() + "/support/");
        settings.setValue(AppSettings::ServerUrl, "http://127.0.0.1:8080/");
        settings.sync();
        QCOMPARE(AppSettings::vendorUrl("/support/").toString(),
                 QString("http://127.0.0.1:8080/support/"));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
