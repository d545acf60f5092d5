#include "checkupdates.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>

using WA = WindowAssets;

namespace {

// The vendor's server on 127.0.0.1: serves one version file or, with no body, never answers.
class VersionServer : public QTcpServer
{
public:
    explicit VersionServer(const QByteArray &body = QByteArray())
    {
        listen(QHostAddress::LocalHost);
        TestEnv::resetSettings(QString("http://127.0.0.1:%1").arg(serverPort()));
        connect(this, &QTcpServer::newConnection, this, [this, body] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, body] {
                if (!socket->readAll().startsWith("GET /versions/tilewright_version.txt HTTP/1.1"))
                    return;
                ++requests;
                if (!body.isEmpty())
                    socket->write(
                        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body);
            });
        });
    }
    int requests = 0, disconnects = 0;
};

} // namespace

// The shell, its settings and the window's side of the update check (the rest: tst_checkupdates).
class TestMainWindow : public QObject
{
    Q_OBJECT

    // A menu's items in order: submenus in brackets, shortcuts after the name.
    static QString entries(const QWidget *menu)
    {
        QStringList items;
        for (const QAction *a : menu->actions())
            items << (a->isSeparator() ? "-"
                      : a->menu()      ? a->menu()->objectName() + '[' + entries(a->menu()) + ']'
                                  : (a->objectName() + ' ' + a->shortcut().toString()).trimmed());
        return items.join(", ");
    }
    static QVariant stored(const QString &key) { return TestEnv::settings().value(key); }

private slots:
    void init() { TestEnv::resetSettings(); }
    void cleanup() { qApp->setStyleSheet(QString()); }

    // "lines of details|lines shown under the text|then": a long list keeps the box on the
    // screen; all of it is behind "Show Details...", collapsed and scrollable.
    void warningDetails_longListCollapsedBoxFitsScreen_data()
    {
        WA::addRows({"lines", "inline", "then"}, "1|1|;6|6|;7|5|and 2 more;1651|5|and 1646 more");
    }
    void warningDetails_longListCollapsedBoxFitsScreen()
    {
        const int lines = WA::field("lines").toInt(), inlined = WA::field("inline").toInt();
        QStringList details;
        for (int i = 0; i < lines; ++i)
            details << QString("m%1.png: cannot write /srv/no-such-folder/m%1.png").arg(i);
        const WA::ShownWarning box =
            WA::realWarning("The tileset could not be generated.", details.join('\n'));
        QCOMPARE(box.offScreen(), QString());
        QStringList underText = details.mid(0, inlined);
        if (!WA::field("then").isEmpty())
            underText << WA::field("then");
        QCOMPARE(box.informative, underText.join('\n'));
        QCOMPARE(box.detailed, lines > inlined ? details.join('\n') : QString());
    }

    void firstRun_defaultsMenusHelpThemesAndExit()
    {
        WA::Session s;
        MainWindow &window = s.window;
        const Ui::MainWindow *ui = window.ui;
        QCOMPARE(entries(window.menuBar()),
                 "menu_File[actionNew, action_Open_2, action_Save Ctrl+S, action_Save_As, -, "
                 "menuImport[actionTop_Shapes, actionPatterns, actionAlphaMasks], -, actionE_xit "
                 "Ctrl+X], menuCreate[actionGenerate_Tileset Ctrl+G, actionExport_Engine_Tileset "
                 "Ctrl+Shift+G], menu_Help_2[actionDocumentation_2, actionDocumentation, "
                 "actionUpdate_Checking, -, menuTheme[actionLight, actionDark], -, actionAbout]");
        for (QListWidget *list : {ui->topsList, ui->fillIcons, ui->alphaMaskList})
            QVERIFY(list->selectionMode() == QAbstractItemView::SingleSelection &&
                    list->contextMenuPolicy() == Qt::CustomContextMenu);
        for (QListWidget *list :
             {ui->spritePreviewWidget, ui->spriteSidebySide, ui->spriteSelectedParts})
            QVERIFY(list->selectionMode() == QAbstractItemView::NoSelection && !list->count());
        QVERIFY(!window.isModified()); // and no preview composed, above
        QCOMPARE(window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr"));
        QCOMPARE(window.geometry(),
                 AppSettings::centredRect({1146, 626}, qApp->primaryScreen()->size()));
        QCOMPARE(
            QStringList({window.lastExportDirectory, window.lastProjectDirectory,
                         window.lastImportDirectory, window.currentTheme() + qApp->styleSheet(),
                         QString::number(window.tileSize())}),
            QStringList({QDir::homePath(), QDir::homePath(), QDir::homePath(), "", "128"}));
        QVERIFY(ui->actionUpdate_Checking->isChecked() && ui->toolBox->currentIndex() == 0);
        for (const char *action : {"actionDocumentation_2", "actionDocumentation", "actionAbout"})
            s.trigger(action);
        QCOMPARE(s.prompts->kinds().join(' '), QStringLiteral("openUrl openUrl about"));
        QCOMPARE(s.prompts->calls[0].text + ' ' + s.prompts->calls[1].text,
                 "http://127.0.0.1:9/tilewright/documentation/ http://127.0.0.1:9/support/");
        // The theme is stored at once; File, Exit stores no geometry.
        window.show();
        ui->actionDark->trigger();
        QVERIFY(qApp->styleSheet().contains("#298ce1") && stored("theme") == "dark");
        ui->actionLight->trigger();
        QVERIFY(qApp->styleSheet().isEmpty() && stored("theme").toString().isEmpty());
        ui->actionDark->trigger();
        ui->actionE_xit->trigger();
        QVERIFY(!stored("geometry").isValid() && stored("theme") == "dark");
    }

    // Only "dark" applies the sheet, before the window shows; other theme texts survive a save.
    void settings_roundTripAndRecentre_data()
    {
        WA::addRows({"theme", "tileWidthHeight", "dark", "tileSize"},
                    "dark|64|1|64;Dark|32|0|32;|abc|0|0");
    }
    void settings_roundTripAndRecentre()
    {
        const QStringList keys{"lastExportDirectory", "lastProjectDirectory", "lastImportDirectory",
                               "theme", "tileWidthHeight"};
        QStringList values{"/tmp/out dir", "/tmp/p/level.twr", "/tmp/in/grass.png",
                           WA::field("theme"), WA::field("tileWidthHeight")};
        for (int i = 0; i < keys.size(); ++i)
            TestEnv::settings().setValue(keys[i], values[i]);
        values.last() = WA::field("tileSize"); // as read, and so written back
        TestEnv::settings().setValue("checkForUpdates", false);
        {
            MainWindow window;
            QCOMPARE(qApp->styleSheet().contains("#298ce1"), WA::field("dark") == "1");
            QCOMPARE(QStringList({window.lastExportDirectory, window.lastProjectDirectory,
                                  window.lastImportDirectory, window.currentTheme(),
                                  QString::number(window.tileSize())}),
                     values);
            QVERIFY(!window.ui->actionUpdate_Checking->isChecked());
            TestEnv::settings().clear();
            window.saveSettings();
            window.setGeometry(5, 7, 900, 500); // far from the centre
            window.show();
            window.close(); // stores the geometry, unlike File, Exit
            QCOMPARE(stored("windowState").toByteArray(), window.saveState(0));
        }
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(stored(keys[i]).toString(), values[i]);
        QVERIFY(!stored("checkForUpdates").isValid()); // only its own action writes it
        MainWindow again;
        QCOMPARE(again.geometry(),
                 AppSettings::centredRect({900, 500}, qApp->primaryScreen()->size()));
    }

    void updateCheck_asksOnceTogglesForNextStart_data()
    {
        WA::addRows({"enabled", "body", "answer", "calls"},
                    "1|1.09|Yes|information openUrl;1|1.09|No|information;1|1.08||;0|1.09||");
    }
    void updateCheck_asksOnceTogglesForNextStart()
    {
        const bool enabled = WA::field("enabled") == "1";
        VersionServer server(WA::field("body").toLatin1());
        TestEnv::settings().setValue("checkForUpdates", enabled);
        WA::Session s;
        s.prompts->answers << (WA::field("answer") == "Yes" ? QMessageBox::Yes : QMessageBox::No);
        QThread *thread = s.window.updateThread;
        QCOMPARE(s.window.updateChecker->thread(), enabled ? thread : QThread::currentThread());
        // The thread is quit once the answer has been evaluated, whatever it was.
        QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished() || !enabled, 20000);
        for (bool on : {!enabled, enabled}) { // stored for the next start
            QTest::ignoreMessage(QtDebugMsg,
                                 on ? "Check for updates on startup." : "Don't check for updates.");
            s.trigger("actionUpdate_Checking");
            QCOMPARE(stored("checkForUpdates").toBool(), on);
        }
        QTest::qWait(300); // nothing further is sent
        QCOMPARE(server.requests, enabled ? 1 : 0);
        QVERIFY(enabled || !(thread->isRunning() || thread->isFinished()));
        QCOMPARE(s.prompts->kinds().join(' '), WA::field("calls"));
        QCOMPARE(s.prompts->callsOf("openUrl").value(0).text.remove(stored("serverUrl").toString()),
                 WA::field("answer") == "Yes" ? "/my-account/" : "");
    }

    void updateCheck_closeWhileServerHangs_joinsAtOnce()
    {
        VersionServer server;
        auto s = std::make_unique<WA::Session>();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests, 1, 10000);
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
