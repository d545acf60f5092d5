#include "checkupdates.h"
#include "mainwindow.h"
#include "scriptedprompts.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

// Collects the messages of every thread while it exists.
class MessageLog
{
public:
    MessageLog()
    {
        current = this;
        previous = qInstallMessageHandler(handler);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    QStringList debugLines() const
    {
        QMutexLocker lock(&mutex);
        return debug;
    }
    QStringList warnings() const
    {
        QMutexLocker lock(&mutex);
        return others;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        if (MessageLog *log = current) {
            {
                QMutexLocker lock(&log->mutex);
                (type == QtDebugMsg || type == QtInfoMsg ? log->debug : log->others) << msg;
            }
            if (log->previous)
                log->previous(type, context, msg);
        }
    }

    static inline MessageLog *current = nullptr;
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QStringList debug;
    QStringList others;
};

} // namespace

// The vendor's web server as far as the check sees it: one plain-text
// version file, served from 127.0.0.1, or a server that takes the request
// and never answers.
class VersionServer : public QObject
{
    Q_OBJECT

public:
    explicit VersionServer(const QByteArray &body, bool hang = false) : body(body), hang(hang)
    {
        connect(&server, &QTcpServer::newConnection, this, &VersionServer::onConnection);
    }

    bool listen() { return server.listen(QHostAddress::LocalHost); }
    QString baseUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    }
    // A URL on which nothing listens: the port of a server that has closed.
    static QString closedUrl()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return QString();
        const QString url = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        return url;
    }

    int connections = 0;
    int disconnects = 0;
    QList<QByteArray> requests; // the head of every request

private:
    void onConnection()
    {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            ++connections;
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                ++disconnects;
                socket->deleteLater();
            });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
        }
    }
    void onData(QTcpSocket *socket)
    {
        received += socket->readAll();
        const int end = received.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        requests << received.left(end);
        received.clear();
        if (hang)
            return;
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server;
    QByteArray body;
    bool hang;
    QByteArray received;
};

class TestUpdateCheckWindow : public QObject
{
    Q_OBJECT

private:
    struct Session
    {
        MainWindow window;
        ScriptedPrompts *prompts = nullptr;
        // Installed before the event loop runs, so the answer to the check
        // cannot reach the window ahead of the prompts.
        Session()
        {
            auto scripted = std::make_unique<ScriptedPrompts>();
            prompts = scripted.get();
            window.setPrompts(std::move(scripted));
        }
    };

    static bool storedCheck() { return TestEnv::settings().value("checkForUpdates").toBool(); }

private slots:
    void init();
    void cleanup();

    void checkDisabled_sendsNothingAndNeverStarts();
    void checkEnabled_asksOnceForHigherVersion_data();
    void checkEnabled_asksOnceForHigherVersion();
    void toggleTwice_storesFinalStateAndLogsInOrder_data();
    void toggleTwice_storesFinalStateAndLogsInOrder();
    void closeWhileServerHangs_returnsAtOnce();
    void destroyRightAfterStart_isClean();
};

void TestUpdateCheckWindow::init()
{
    QVERIFY(WindowAssets::makeEmpty());
    QVERIFY(WindowAssets::save(WindowAssets::topShape(QColor(60, 150, 40)),
                               WindowAssets::topStyles() + "/hill.png"));
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::darkGray),
                               WindowAssets::patterns() + "/checks.png"));
    QVERIFY(WindowAssets::save(WindowAssets::mask(), WindowAssets::alpha() + "/slope.png"));
}

void TestUpdateCheckWindow::cleanup()
{
    QVERIFY(WindowAssets::removeAll());
}

void TestUpdateCheckWindow::checkDisabled_sendsNothingAndNeverStarts()
{
    VersionServer server("1.09");
    QVERIFY(server.listen());
    TestEnv::resetSettings(server.baseUrl());
    {
        QSettings settings = TestEnv::settings();
        settings.setValue("checkForUpdates", false);
    }
    Session s;
    QVERIFY(!s.window.ui->actionUpdate_Checking->isChecked());
    QVERIFY(!s.window.updateThread->isRunning());
    QCOMPARE(s.window.updateChecker->thread(), QThread::currentThread());
    QTest::qWait(500);
    QCOMPARE(server.connections, 0);
    QVERIFY(!s.window.updateThread->isRunning());
    QVERIFY(!s.window.updateThread->isFinished());

    // Switching it on is for the next start: nothing is sent now.
    s.window.ui->actionUpdate_Checking->trigger();
    QVERIFY(storedCheck());
    QTest::qWait(300);
    QCOMPARE(server.connections, 0);
    QVERIFY(!s.window.updateThread->isRunning());
    QVERIFY(s.prompts->calls.isEmpty());
}

void TestUpdateCheckWindow::checkEnabled_asksOnceForHigherVersion_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("answer");
    QTest::newRow("1.09, answered Yes")
        << true << QByteArray("1.09") << true << int(QMessageBox::Yes);
    QTest::newRow("1.09, answered No")
        << true << QByteArray("1.09") << true << int(QMessageBox::No);
    QTest::newRow("1.08, same version") << true << QByteArray("1.08") << false << 0;
    QTest::newRow("connection refused") << false << QByteArray() << false << 0;
}

void TestUpdateCheckWindow::checkEnabled_asksOnceForHigherVersion()
{
    QFETCH(bool, serverUp);
    QFETCH(QByteArray, body);
    QFETCH(bool, asked);
    QFETCH(int, answer);
    VersionServer server(body);
    QString base = VersionServer::closedUrl();
    if (serverUp) {
        QVERIFY(server.listen());
        base = server.baseUrl();
    }
    QVERIFY(!base.isEmpty());
    TestEnv::resetSettings(base);

    Session s;
    if (asked)
        s.prompts->answers.enqueue(QMessageBox::StandardButton(answer));
    QVERIFY(s.window.ui->actionUpdate_Checking->isChecked());
    QCOMPARE(s.window.updateChecker->thread(), s.window.updateThread);
    // The thread is quit once the answer has been handled, whatever it was.
    QTRY_VERIFY_WITH_TIMEOUT(s.window.updateThread->isFinished(), 20000);
    QTest::qWait(200); // nothing further arrives

    const QList<ScriptedPrompts::Call> questions = s.prompts->callsOf("information");
    QCOMPARE(questions.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(questions.first().parent, &s.window);
        QCOMPARE(questions.first().title, QStringLiteral("Update Available"));
        QCOMPARE(questions.first().text,
                 QStringLiteral("There is a new update of Tilewright available for download. "
                                "Download it now?"));
        QCOMPARE(questions.first().buttons,
                 QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(questions.first().defaultButton, QMessageBox::NoButton);
    }
    const bool opened = asked && answer == QMessageBox::Yes;
    QCOMPARE(s.prompts->openedUrls,
             opened ? QList<QUrl>{QUrl(base + "/my-account/")} : QList<QUrl>());
    QCOMPARE(s.prompts->kinds().size(), questions.size() + (opened ? 1 : 0));
    if (serverUp) {
        QCOMPARE(server.requests.size(), 1);
        QVERIFY2(
            server.requests.first().startsWith("GET /versions/tilewright_version.txt HTTP/1.1\r\n"),
            server.requests.first().constData());
    }
}

void TestUpdateCheckWindow::toggleTwice_storesFinalStateAndLogsInOrder_data()
{
    QTest::addColumn<bool>("initially");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("on, off, on") << true
                                 << QStringList{"Don't check for updates.",
                                                "Check for updates on startup."};
    QTest::newRow("off, on, off") << false
                                  << QStringList{"Check for updates on startup.",
                                                 "Don't check for updates."};
}

void TestUpdateCheckWindow::toggleTwice_storesFinalStateAndLogsInOrder()
{
    QFETCH(bool, initially);
    QFETCH(QStringList, lines);
    VersionServer server("1.08");
    QVERIFY(server.listen());
    TestEnv::resetSettings(server.baseUrl());
    {
        QSettings settings = TestEnv::settings();
        settings.setValue("checkForUpdates", initially);
    }
    Session s;
    if (initially)
        QTRY_VERIFY_WITH_TIMEOUT(s.window.updateThread->isFinished(), 20000);
    const int requestsBefore = server.requests.size();

    MessageLog log;
    QAction *action = s.window.ui->actionUpdate_Checking;
    QCOMPARE(action->isChecked(), initially);
    action->trigger();
    QCOMPARE(storedCheck(), !initially);
    action->trigger();
    QCOMPARE(storedCheck(), initially);
    QCOMPARE(action->isChecked(), initially);

    QStringList logged;
    for (const QString &line : log.debugLines())
        if (line.contains("heck for updates"))
            logged << line;
    QCOMPARE(logged, lines);
    // The choice is for the next start; the running check state is as it was.
    QCOMPARE(s.window.checkForUpdatesOnStartup, initially);
    QTest::qWait(200);
    QCOMPARE(server.requests.size(), requestsBefore);
    QCOMPARE(requestsBefore, initially ? 1 : 0);
}

void TestUpdateCheckWindow::closeWhileServerHangs_returnsAtOnce()
{
    VersionServer server(QByteArray(), true);
    QVERIFY(server.listen());
    TestEnv::resetSettings(server.baseUrl());
    auto s = std::make_unique<Session>();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 10000);
    QVERIFY(s->window.updateThread->isRunning());

    MessageLog log;
    QElapsedTimer timer;
    timer.start();
    s->window.close();
    s.reset();
    // Only catches a hang: the check's own time-out is several seconds.
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    QVERIFY2(log.warnings().isEmpty(), qPrintable(log.warnings().join('\n')));
    // The pending request was dropped, not left open.
    QTRY_COMPARE_WITH_TIMEOUT(server.disconnects, 1, 5000);
}

void TestUpdateCheckWindow::destroyRightAfterStart_isClean()
{
    VersionServer server(QByteArray(), true);
    QVERIFY(server.listen());
    TestEnv::resetSettings(server.baseUrl());
    MessageLog log;
    QElapsedTimer timer;
    timer.start();
    {
        Session s;
    }
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    QTest::qWait(200);
    QVERIFY2(log.warnings().isEmpty(), qPrintable(log.warnings().join('\n')));
    QTRY_COMPARE(server.disconnects, server.connections);
}

QTEST_MAIN(TestUpdateCheckWindow)
#include "tst_updatecheckwindow.moc"
