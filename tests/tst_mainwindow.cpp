#include "checkupdates.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QScreen>

using WA = WindowAssets;
using TestEnv::VendorServer;

// The shell, its settings and the window's side of the update check (the rest: tst_checkupdates).
class TestMainWindow : public QObject
{
    Q_OBJECT

    static QVariant stored(const QString &key) { return TestEnv::settings().value(key); }

private slots:
    void init() { TestEnv::resetSettings(); }
    void cleanup() { qApp->setStyleSheet(QString()); }

    // A long list keeps the box on the screen: the lines shown under the text and what
    // follows them; all of it is behind "Show Details...", collapsed and scrollable.
    void warningDetails_longListCollapsedBoxFitsScreen_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("inlined");
        QTest::addColumn<QString>("then");
        QTest::newRow("1") << 1 << 1 << QString();
        QTest::newRow("6") << 6 << 6 << QString();
        QTest::newRow("7") << 7 << 5 << "and 2 more";
        QTest::newRow("1651") << 1651 << 5 << "and 1646 more";
    }
    void warningDetails_longListCollapsedBoxFitsScreen()
    {
        QFETCH(int, lines);
        QFETCH(int, inlined);
        QFETCH(QString, then);
        QStringList details;
        for (int i = 0; i < lines; ++i)
            details << QString("m%1.png: cannot write /srv/no-such-folder/m%1.png").arg(i);
        const WA::ShownWarning box =
            WA::realWarning("The tileset could not be generated.", details.join('\n'));
        QCOMPARE(box.offScreen(), QString());
        QStringList underText = details.mid(0, inlined);
        if (!then.isEmpty())
            underText << then;
        QCOMPARE(box.informative, underText.join('\n'));
        QCOMPARE(box.detailed, lines > inlined ? details.join('\n') : QString());
    }

    // Help and the shortcuts do their work; the theme is stored at once; File, Exit stores no
    // geometry. (The defaults: settings_roundTripAndRecentre.)
    void helpShortcutsThemesAndExit()
    {
        WA::Session s;
        MainWindow &window = s.window;
        const Ui::MainWindow *ui = window.ui;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const char *action : {"actionDocumentation_2", "actionDocumentation", "actionAbout"})
            s.trigger(action);
        for (const char *keys : {"Ctrl+S", "Ctrl+G", "Ctrl+Shift+G"})
            QTest::keySequence(&window, QKeySequence(keys));
        QCOMPARE(s.prompts->kinds(), "openUrl openUrl about getSaveFileName execDialog execDialog");
        QCOMPARE(s.prompts->calls[0].text + ' ' + s.prompts->calls[1].text,
                 "http://127.0.0.1:9/tilewright/documentation/ http://127.0.0.1:9/support/");
        QCOMPARE(s.prompts->calls[4].text + ' ' + s.prompts->calls[5].text,
                 "ExportDialog EngineExportDialog");
        ui->actionDark->trigger();
        QVERIFY(qApp->styleSheet().contains("#298ce1"));
        QCOMPARE(stored("theme"), QVariant("dark"));
        ui->actionLight->trigger();
        QCOMPARE(qApp->styleSheet(), QString());
        QCOMPARE(stored("theme").toString(), QString());
        ui->actionDark->trigger();
        QSignalSpy exit(ui->actionE_xit, &QAction::triggered);
        QTest::keySequence(&window, QKeySequence("Ctrl+X"));
        QCOMPARE(exit.count(), 1);
        QVERIFY(!stored("geometry").isValid());
        QCOMPARE(stored("theme"), QVariant("dark"));
    }

    // Read before the window shows, only "dark" applying the sheet; none stored: the defaults.
    // Close writes them back, other theme texts too, with the geometry the next start centres.
    void settings_roundTripAndRecentre_data()
    {
        QTest::addColumn<QStringList>("given"); // the directories, theme, tile size; none: nothing
        QTest::addColumn<QStringList>("read");  // and so written back
        QTest::addColumn<bool>("dark");
        const QStringList dirs{"/tmp/out dir", "/tmp/p/level.twr", "/tmp/in/grass.png"};
        const QString home = QDir::homePath();
        QTest::newRow("nothing stored")
            << QStringList() << QStringList{home, home, home, "", "128"} << false;
        QTest::newRow("dark") << dirs + QStringList{"dark", "64"}
                              << dirs + QStringList{"dark", "64"} << true;
        QTest::newRow("Dark") << dirs + QStringList{"Dark", "32"}
                              << dirs + QStringList{"Dark", "32"} << false;
        QTest::newRow("no theme, bad size")
            << dirs + QStringList{"", "abc"} << dirs + QStringList{"", "0"} << false;
    }
    void settings_roundTripAndRecentre()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, read);
        const QStringList keys{"lastExportDirectory", "lastProjectDirectory", "lastImportDirectory",
                               "theme", "tileWidthHeight"};
        for (int i = 0; i < given.size(); ++i)
            TestEnv::settings().setValue(keys[i], given[i]);
        if (!given.isEmpty())
            TestEnv::settings().setValue("checkForUpdates", false);
        const QSize screen = qApp->primaryScreen()->size();
        {
            MainWindow window;
            QCOMPARE(window.geometry(), AppSettings::centredRect({1146, 626}, screen));
            QTEST(qApp->styleSheet().contains("#298ce1"), "dark");
            QCOMPARE(QStringList({window.lastExportDirectory, window.lastProjectDirectory,
                                  window.lastImportDirectory, window.currentTheme(),
                                  QString::number(window.tileSize())}),
                     read);
            QCOMPARE(window.ui->actionUpdate_Checking->isChecked(), given.isEmpty());
            TestEnv::settings().clear();
            window.saveSettings();
            window.setGeometry(5, 7, 900, 500); // far from the centre
            window.show();
            window.close(); // stores the geometry, unlike File, Exit
            QCOMPARE(stored("windowState").toByteArray(), window.saveState(0));
        }
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(stored(keys[i]).toString(), read[i]);
        QVERIFY(!stored("checkForUpdates").isValid()); // only its own action writes it
        MainWindow again;
        QCOMPARE(again.geometry(), AppSettings::centredRect({900, 500}, screen));
    }

    // A newer version asks once; Yes opens the account page. Either way the thread is quit.
    void updateCheck_asksOnceTogglesForNextStart_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QByteArray>("body"); // the version served
        QTest::addColumn<bool>("yes");        // the answer, if asked
        QTest::addColumn<QString>("calls");
        QTest::newRow("newer, Yes") << true << QByteArray("1.09") << true << "information openUrl";
        QTest::newRow("newer, No") << true << QByteArray("1.09") << false << "information";
        QTest::newRow("same") << true << QByteArray("1.08") << false << "";
        QTest::newRow("disabled") << false << QByteArray("1.09") << false << "";
    }
    void updateCheck_asksOnceTogglesForNextStart()
    {
        QFETCH(bool, enabled);
        QFETCH(QByteArray, body);
        QFETCH(bool, yes);
        VendorServer server(TestEnv::http("200 OK", body));
        TestEnv::resetSettings(server.url());
        TestEnv::settings().setValue("checkForUpdates", enabled);
        WA::Session s;
        s.prompts->answers << (yes ? QMessageBox::Yes : QMessageBox::No);
        QThread *thread = s.window.updateThread;
        QCOMPARE(s.window.updateChecker->thread(), enabled ? thread : QThread::currentThread());
        QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished() || !enabled, 20000);
        for (bool on : {!enabled, enabled}) { // stored for the next start
            QTest::ignoreMessage(QtDebugMsg,
                                 on ? "Check for updates on startup." : "Don't check for updates.");
            s.trigger("actionUpdate_Checking");
            QCOMPARE(stored("checkForUpdates").toBool(), on);
        }
        QTest::qWait(300); // nothing further is sent
        QCOMPARE(server.requests.size(), enabled ? 1 : 0);
        QCOMPARE(thread->isRunning() || thread->isFinished(), enabled); // started at all
        QTEST(s.prompts->kinds(), "calls");
        QCOMPARE(s.prompts->callsOf("openUrl").value(0).text,
                 yes ? server.url() + "my-account/" : QString());
    }

    void updateCheck_closeWhileServerHangs_joinsAtOnce()
    {
        VendorServer server;
        TestEnv::resetSettings(server.url());
        auto s = std::make_unique<WA::Session>();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 10000);
        QVERIFY(s->window.updateThread->isRunning());
        QElapsedTimer timer;
        timer.start();
        s->window.close();
        s.reset();
        // Only catches a hang: the check's own time-out is several seconds.
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed()) + " ms"));
        // The pending request was dropped, not left open.
        QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 5000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
