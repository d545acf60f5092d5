#include "appsettings.h"
#include "testenv.h"

#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    // On a 1920 x 1080 screen: 960 - 573, 540 - 313; odd halves truncated.
    void centredRect()
    {
        QCOMPARE(AppSettings::centredRect({1146, 626}, {1920, 1080}), QRect(387, 227, 1146, 626));
        QCOMPARE(AppSettings::centredRect({1145, 625}, {1920, 1080}), QRect(388, 228, 1145, 625));
    }

    void vendorUrl_storedServerOverridesDefault()
    {
        QSettings settings = TestEnv::settings();
        settings.clear();
        QCOMPARE(AppSettings::vendorUrl("/support/").toString(),
                 AppSettings::defaultServerUrl() + "/support/");
        settings.setValue(AppSettings::ServerUrl, "http://127.0.0.1:8080/");
        settings.sync();
        QCOMPARE(AppSettings::vendorUrl("/support/"), QUrl("http://127.0.0.1:8080/support/"));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
