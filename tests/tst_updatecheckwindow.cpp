#include "checkupdates.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Warnings of every thread, counted; they are still printed as usual.
QAtomicInt warnings;
QtMessageHandler passOn = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    warnings += type == QtDebugMsg || type == QtInfoMsg ? 0 : 1;
    passOn(type, context, text);
}

// The vendor's server as the check sees it: one version file served from
// 127.0.0.1, or, with no body, a server that takes the request and never answers.
class VersionServer : public QTcpServer
{
public:
    explicit VersionServer(const QByteArray &body = QByteArray()) : body(body)
    {
        listen(QHostAddress::LocalHost);
        TestEnv::resetSettings(QString("http://127.0.0.1:%1").arg(serverPort()));
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
            }
        });
    }
    QList<QByteArray> requests;
    int disconnects = 0;

private:
    void answer(QTcpSocket *socket)
    {
        received += socket->readAll();
        if (!received.contains("\r\n\r\n"))
            return;
        requests << received.left(received.indexOf("\r\n")); // the request line
        received.clear();
        if (body.isEmpty())
            return; // hangs
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QByteArray body;
    QByteArray received;
};

} // namespace

class TestUpdateCheckWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { passOn = qInstallMessageHandler(countWarnings); }

    void offer_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("answer"); // 0: nothing is asked
        QTest::newRow("1.09, answered Yes") << QByteArray("1.09") << int(QMessageBox::Yes);
        QTest::newRow("1.09, answered No") << QByteArray("1.09") << int(QMessageBox::No);
        QTest::newRow("1.08, the running version") << QByteArray("1.08") << 0;
    }
    void offer()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, answer);
        VersionServer server(body);
        const QString base = TestEnv::settings().value(AppSettings::ServerUrl).toString();
        WindowAssets::Session s;
        s.prompts->answers.enqueue(QMessageBox::StandardButton(answer));
        QCOMPARE(s.window.updateChecker->thread(), s.window.updateThread);
        // The thread is quit once the answer has been evaluated, whatever it was.
        QTRY_VERIFY_WITH_TIMEOUT(s.window.updateThread->isFinished(), 20000);
        QTest::qWait(200); // nothing further arrives
        QCOMPARE(server.requests,
                 QList<QByteArray>{"GET /versions/tilewright_version.txt HTTP/1.1"});
        const auto asked = s.prompts->callsOf("information");
        QCOMPARE(asked.size(), answer ? 1 : 0);
        if (answer) {
            QCOMPARE(asked[0].title + ": " + asked[0].text,
                     QStringLiteral("Update Available: There is a new update of Tilewright "
                                    "available for download. Download it now?"));
            QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        }
        QCOMPARE(s.prompts->openedUrls,
                 answer == QMessageBox::Yes ? QList<QUrl>{base + "/my-account/"} : QList<QUrl>());
    }

    void toggleTwice_storesFinalStateSendsNothing_data()
    {
        QTest::addColumn<bool>("initially");
        QTest::newRow("on, off, on") << true;
        QTest::newRow("off, on, off") << false;
    }
    void toggleTwice_storesFinalStateSendsNothing()
    {
        QFETCH(bool, initially);
        VersionServer server("1.09");
        TestEnv::settings().setValue("checkForUpdates", initially);
        WindowAssets::Session s;
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), initially ? 1 : 0, 20000);
        QAction *action = s.window.ui->actionUpdate_Checking;
        QCOMPARE(action->isChecked(), initially);
        for (bool on : {!initially, initially}) {
            QTest::ignoreMessage(QtDebugMsg,
                                 on ? "Check for updates on startup." : "Don't check for updates.");
            action->trigger();
            QCOMPARE(TestEnv::settings().value("checkForUpdates").toBool(), on);
        }
        // The choice is for the next start: the toggles sent nothing.
        QTest::qWait(500);
        QCOMPARE(server.requests.size(), initially ? 1 : 0);
        if (!initially) {
            QVERIFY(!s.window.updateThread->isRunning() && !s.window.updateThread->isFinished());
            QCOMPARE(s.window.updateChecker->thread(), QThread::currentThread());
            QVERIFY(s.prompts->calls.isEmpty());
        }
    }

    void closeWhileServerHangs_joinsAtOnce()
    {
        VersionServer server;
        auto s = std::make_unique<WindowAssets::Session>();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 10000);
        QVERIFY(s->window.updateThread->isRunning());
        warnings = 0;
        QElapsedTimer timer;
        timer.start();
        s->window.close();
        s.reset();
        // Only catches a hang: the check's own time-out is several seconds.
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed()) + " ms"));
        QCOMPARE(int(warnings), 0);
        // The pending request was dropped, not left open.
        QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 5000);
    }
};

QTEST_MAIN(TestUpdateCheckWindow)
#include "tst_updatecheckwindow.moc"
