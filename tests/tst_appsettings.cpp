#include "appsettings.h"
#include "tilesetexport.h"

#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

    static QVariantMap fields(const TilesetExportOptions &o)
    {
        return {{"atlas", o.atlas},
                {"tsx", o.tsx},
                {"tres", o.tres},
                {"baseName", o.baseName},
                {"columns", o.columns},
                {"margin", o.margin},
                {"spacing", o.spacing},
                {"extrusion", o.extrusion},
                {"powerOfTwo", o.powerOfTwo},
                {"tres3", o.tres3},
                {"tmx", o.tmx},
                {"tscn", o.tscn}};
    }

private slots:
    // On a 1920 x 1080 screen: 960 - 573, 540 - 313; odd halves truncated.
    void centredRect()
    {
        QCOMPARE(AppSettings::centredRect({1146, 626}, {1920, 1080}), QRect(387, 227, 1146, 626));
        QCOMPARE(AppSettings::centredRect({1145, 625}, {1920, 1080}), QRect(388, 228, 1145, 625));
    }

    // Existing users' choices live under these keys: one written by hand is read into its
    // field alone (the rest keep their defaults), and stored back under the same key.
    void exportOptions_readFromItsKeyAndStoredBack_data()
    {
        QTest::addColumn<QString>("key"); // under engineExport/; empty: nothing stored
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("read");
        QTest::newRow("nothing stored") << QString() << QVariant() << QVariant();
        const QVariantMap changed = {{"atlas", false},       {"tsx", false},   {"tres", false},
                                     {"baseName", "forest"}, {"columns", 7},   {"margin", 3},
                                     {"spacing", 2},         {"extrusion", 5}, {"powerOfTwo", true},
                                     {"tres3", true},        {"tmx", true},    {"tscn", true}};
        for (auto it = changed.begin(); it != changed.end(); ++it)
            QTest::newRow(qPrintable(it.key())) << it.key() << it.value() << it.value();
        for (const char *key : {"columns", "margin", "spacing", "extrusion"})
            QTest::addRow("%s not a number", key)
                << QString(key) << QVariant("wide") << QVariant(0);
    }
    void exportOptions_readFromItsKeyAndStoredBack()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, read);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.ini");
        QSettings settings(path, QSettings::IniFormat);
        if (!key.isEmpty())
            settings.setValue("engineExport/" + key, stored);
        const TilesetExportOptions options = AppSettings::loadExportOptions(settings);
        QVariantMap expected = {{"atlas", true},         {"tsx", true},    {"tres", true},
                                {"baseName", "tileset"}, {"columns", 0},   {"margin", 0},
                                {"spacing", 0},          {"extrusion", 0}, {"powerOfTwo", false},
                                {"tres3", false},        {"tmx", false},   {"tscn", false}};
        if (!key.isEmpty())
            expected[key] = read;
        QCOMPARE(fields(options), expected);
        QCOMPARE(options.atlasFileName, options.baseName + ".png");

        settings.clear();
        AppSettings::storeExportOptions(settings, options);
        settings.sync();
        const QSettings reread(path, QSettings::IniFormat);
        QCOMPARE(fields(AppSettings::loadExportOptions(reread)), expected);
        if (!key.isEmpty())
            QCOMPARE(reread.value("engineExport/" + key).toString(), read.toString());
    }

    // A stored server overrides it (the window's help and update URLs: tst_mainwindow).
    void vendorUrl_buildTimeServerWhenNoneStored()
    {
        QSettings(AppSettings::Organisation, AppSettings::Application).clear();
        QCOMPARE(AppSettings::vendorUrl("/support/").toString(),
                 AppSettings::defaultServerUrl() + "/support/");
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
