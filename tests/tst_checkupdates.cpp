#include "checkupdates.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

const QByteArray VersionPath = "/versions/tilewright_version.txt";

QByteArray httpResponse(int status, const QByteArray &reason, const QByteArray &body,
                        const QByteArray &extraHeaders = QByteArray())
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

// Collects warnings from every thread while it exists.
class WarningCatcher
{
public:
    WarningCatcher()
    {
        current = this;
        previous = qInstallMessageHandler(handler);
    }
    ~WarningCatcher()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    QStringList warnings() const
    {
        QMutexLocker lock(&mutex);
        return caught;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        if (type != QtDebugMsg && type != QtInfoMsg && current) {
            QMutexLocker lock(&current->mutex);
            current->caught << msg;
        }
        if (current && current->previous)
            current->previous(type, context, msg);
    }

    static inline WarningCatcher *current = nullptr;
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QStringList caught;
};

} // namespace

// A tiny HTTP server on 127.0.0.1 that answers with canned behaviour.
class FakeServer : public QObject
{
    Q_OBJECT

public:
    enum class Mode
    {
        Answer,      // the response stored for the path, 404 otherwise
        Hang,        // sends the stored response, if any, and never closes
        CloseAtOnce, // drops every connection as soon as it is accepted
        Stream,      // "9.99" followed by blanks without end
        Trickle,     // the stored response's head at once, its body a byte every 50 ms
    };

    explicit FakeServer(Mode mode = Mode::Answer) : mode(mode)
    {
        connect(&server, &QTcpServer::newConnection, this, &FakeServer::onConnection);
        QVERIFY(server.listen(QHostAddress::LocalHost));
    }

    QString baseUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    }
    void answer(const QByteArray &path, const QByteArray &response)
    {
        responses.insert(path, response);
    }

    QList<QByteArray> requests; // the head of every request, in order
    int disconnects = 0;
    qint64 bytesSent = 0;
    static constexpr qint64 StreamLimit = 32 * 1024 * 1024;

private:
    void onConnection()
    {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                ++disconnects;
                socket->deleteLater();
            });
            if (mode == Mode::CloseAtOnce) {
                socket->close();
                continue;
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
        }
    }

    void onData(QTcpSocket *socket)
    {
        QByteArray &buffer = received[socket];
        buffer += socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end);
        buffer.clear();
        requests << head;
        const QByteArray path = head.split(' ').value(1);
        const QByteArray response =
            responses.value(path, httpResponse(404, "Not Found", "<html>none</html>"));
        switch (mode) {
        case Mode::Answer:
            socket->write(response);
            socket->disconnectFromHost();
            break;
        case Mode::Hang:
            socket->write(responses.value(path));
            break;
        case Mode::CloseAtOnce:
            break;
        case Mode::Stream:
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n9.99");
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 written) {
                bytesSent += written;
                if (socket->bytesToWrite() < 256 * 1024 && bytesSent < StreamLimit)
                    socket->write(QByteArray(64 * 1024, ' '));
            });
            break;
        case Mode::Trickle: {
            auto *timer = new QTimer(socket);
            const int bodyStart = response.indexOf("\r\n\r\n") + 4;
            socket->write(response.left(bodyStart));
            auto position = std::make_shared<int>(bodyStart);
            connect(timer, &QTimer::timeout, socket, [socket, response, position] {
                if (*position < response.size())
                    socket->write(response.mid((*position)++, 1));
            });
            timer->start(50);
            break;
        }
        }
    }

    Mode mode;
    QTcpServer server;
    QHash<QByteArray, QByteArray> responses;
    QHash<QTcpSocket *, QByteArray> received;
};

// Stands in for the window: receives Complete on the GUI thread.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QThread *quitOnComplete = nullptr;
    QThread *arrivedOn = nullptr;

public slots:
    void onComplete(bool updateAvailable)
    {
        arrivedOn = QThread::currentThread();
        if (quitOnComplete)
            quitOnComplete->quit();
        emit arrived(updateAvailable);
    }

signals:
    void arrived(bool updateAvailable);
};

// One check wired and torn down the way the window does it.
struct Check
{
    QThread *thread = new QThread;
    checkUpdates *checker = new checkUpdates;
    Receiver receiver;
    QSignalSpy spy{&receiver, &Receiver::arrived};

    explicit Check(int deadlineMs = 10000)
    {
        checker->attachToThread(thread);
        QObject::connect(checker, &checkUpdates::Complete, &receiver, &Receiver::onComplete);
        checker->deadlineMs = deadlineMs;
    }
    ~Check()
    {
        checker->stop();
        delete thread;
        delete checker;
    }
    void start(const QString &runningVersion = QStringLiteral("1.08"))
    {
        checker->moveToThread(thread);
        checker->currentVersion = runningVersion.toFloat();
        thread->start(QThread::InheritPriority);
    }
    bool waitComplete(int ms = 5000) { return !spy.isEmpty() || spy.wait(ms); }
    bool result() const { return spy.value(0).value(0).toBool(); }
};

class TestCheckUpdates : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void isNewer_data();
    void isNewer();
    void endToEnd_data();
    void endToEnd();
    void request_isPlainGetOfVersionFile();
    void managerAndReply_liveOnUpdateThread();
    void reply_releasedAfterEvaluation();

    void httpErrorPage_noUpdate_data();
    void httpErrorPage_noUpdate();
    void refusedConnection_noUpdate();
    void connectionClosedAtOnce_noUpdate();
    void redirect_notFollowed_data();
    void redirect_notFollowed();

    void hangingServer_cutOffByDeadline();
    void silentServer_cutOffByInactivityTimeout();
    void tricklingServer_cutOffByDeadline_data();
    void tricklingServer_cutOffByDeadline();
    void bodyAroundCap_data();
    void bodyAroundCap();
    void endlessBody_capped();
    void hugeAnnouncedBody_cappedBeforeDeadline();

    void stop_duringHangingRequest_joinsAtOnce();
    void stop_neverStarted_sendsNothing();
    void normalLifecycle_noThreadWarnings();

private:
    std::unique_ptr<WarningCatcher> catcher;
};

void TestCheckUpdates::init()
{
    TestEnv::resetSettings();
    catcher = std::make_unique<WarningCatcher>();
}

// No case may make Qt warn, from any thread: a warning here means an object
// was used or destroyed on the wrong thread, or a closed reply was read.
void TestCheckUpdates::cleanup()
{
    const QStringList warnings = catcher->warnings();
    catcher.reset();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TestCheckUpdates::isNewer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("newer");
    QTest::newRow("higher") << QByteArray("1.09") << true;
    QTest::newRow("equal") << QByteArray("1.08") << false;
    QTest::newRow("equal, trailing zero") << QByteArray("1.080") << false;
    QTest::newRow("lower") << QByteArray("1.07") << false;
    QTest::newRow("1.1 is higher than 1.08") << QByteArray("1.1") << true;
    QTest::newRow("blank before, line break after") << QByteArray(" 1.09\n") << true;
    QTest::newRow("windows line break") << QByteArray("1.09\r\n") << true;
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf"
                                                   "1.09")
                                     << true;
    QTest::newRow("word before") << QByteArray("version 1.09") << false;
    QTest::newRow("comma") << QByteArray("1,09") << false;
    QTest::newRow("word after") << QByteArray("1.09 beta") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blanks only") << QByteArray(" \n") << false;
    QTest::newRow("html page") << QByteArray("<html><body>1.09</body></html>") << false;
    QTest::newRow("infinity") << QByteArray("inf") << false;
    QTest::newRow("not a number") << QByteArray("nan") << false;
    QTest::newRow("too large for a float") << QByteArray("1e40") << false;
    QTest::newRow("invalid utf-8") << QByteArray("1.09\xff") << false;
}

void TestCheckUpdates::isNewer()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, newer);
    QCOMPARE(checkUpdates::isNewer(QStringLiteral("1.08").toFloat(), body), newer);
}

void TestCheckUpdates::endToEnd_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("offered");
    QTest::newRow("higher") << QByteArray("1.09") << true;
    QTest::newRow("equal") << QByteArray("1.08") << false;
    QTest::newRow("blank and line break") << QByteArray(" 1.09\n") << true;
    QTest::newRow("word after") << QByteArray("1.09 beta") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCheckUpdates::endToEnd()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, offered);
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", body));
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.spy.count(), 1);
    QCOMPARE(check.result(), offered);
    // Delivered queued, on the thread of the receiver.
    QCOMPARE(check.receiver.arrivedOn, QThread::currentThread());
    QTest::qWait(50);
    QCOMPARE(check.spy.count(), 1);
}

void TestCheckUpdates::request_isPlainGetOfVersionFile()
{
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", "1.09"));
    Check check;
    // The address is read when the check starts, not when it is wired.
    TestEnv::resetSettings(server.baseUrl() + QLatin1Char('/'));
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(server.requests.size(), 1);
    const QList<QByteArray> lines = server.requests.first().split('\n');
    QCOMPARE(lines.first().trimmed(), QByteArray("GET " + VersionPath + " HTTP/1.1"));
    QVERIFY(!server.requests.first().toLower().contains("content-length"));
}

void TestCheckUpdates::managerAndReply_liveOnUpdateThread()
{
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", "1.09"));
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    std::atomic<QThread *> managerThread{nullptr}, replyThread{nullptr}, runningOn{nullptr};
    QObject::connect(
        check.checker->networkManager, &QNetworkAccessManager::finished,
        check.checker->networkManager,
        [&](QNetworkReply *reply) {
            runningOn = QThread::currentThread();
            managerThread = check.checker->networkManager->thread();
            replyThread = reply->thread();
        },
        Qt::DirectConnection);
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(runningOn.load(), check.thread);
    QCOMPARE(managerThread.load(), check.thread);
    QCOMPARE(replyThread.load(), check.thread);
}

void TestCheckUpdates::reply_releasedAfterEvaluation()
{
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", "1.09"));
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    std::atomic<bool> replyGone{false}, managerGone{false}, managerGoneFirst{false};
    QNetworkAccessManager *manager = check.checker->networkManager;
    QObject::connect(manager, &QObject::destroyed, [&] { managerGone = true; });
    QObject::connect(
        manager, &QNetworkAccessManager::finished, manager,
        [&](QNetworkReply *reply) {
            QObject::connect(reply, &QObject::destroyed, [&] {
                managerGoneFirst = managerGone.load();
                replyGone = true;
            });
        },
        Qt::DirectConnection);
    check.start();
    QVERIFY(check.waitComplete());
    // The thread keeps running (nobody quits it here), yet the reply goes.
    QTRY_VERIFY(replyGone.load());
    QVERIFY(!managerGoneFirst.load());
    QVERIFY(check.thread->isRunning());
}

void TestCheckUpdates::httpErrorPage_noUpdate_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("404") << 404 << QByteArray("Not Found");
    QTest::newRow("500") << 500 << QByteArray("Internal Server Error");
}

void TestCheckUpdates::httpErrorPage_noUpdate()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    FakeServer server;
    server.answer(VersionPath,
                  httpResponse(status, reason, "<html><body><h1>Error</h1>1.09</body></html>"));
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.spy.count(), 1);
    QCOMPARE(check.result(), false);
}

void TestCheckUpdates::refusedConnection_noUpdate()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    TestEnv::resetSettings(QStringLiteral("http://127.0.0.1:%1").arg(port));

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.spy.count(), 1);
    QCOMPARE(check.result(), false);
}

void TestCheckUpdates::connectionClosedAtOnce_noUpdate()
{
    FakeServer server(FakeServer::Mode::CloseAtOnce);
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.spy.count(), 1);
    QCOMPARE(check.result(), false);
}

void TestCheckUpdates::redirect_notFollowed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("301") << 301 << QByteArray("Moved Permanently");
    QTest::newRow("302") << 302 << QByteArray("Found");
    QTest::newRow("307") << 307 << QByteArray("Temporary Redirect");
}

void TestCheckUpdates::redirect_notFollowed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    FakeServer server;
    TestEnv::resetSettings(server.baseUrl());
    const QByteArray target = server.baseUrl().toLatin1() + "/moved/version.txt";
    server.answer(VersionPath, httpResponse(status, reason, "<a href=\"" + target + "\">moved</a>",
                                            "Location: " + target + "\r\n"));
    server.answer("/moved/version.txt", httpResponse(200, "OK", "9.99"));

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.result(), false);
    QTest::qWait(100);
    QCOMPARE(server.requests.size(), 1);
    QVERIFY(server.requests.first().startsWith("GET " + VersionPath + ' '));
}

void TestCheckUpdates::hangingServer_cutOffByDeadline()
{
    FakeServer server(FakeServer::Mode::Hang);
    TestEnv::resetSettings(server.baseUrl());

    Check check(300);
    QElapsedTimer clock;
    clock.start();
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.result(), false);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server.requests.size(), 1);
    QTRY_COMPARE(server.disconnects, 1);
}

void TestCheckUpdates::silentServer_cutOffByInactivityTimeout()
{
    FakeServer server(FakeServer::Mode::Hang);
    TestEnv::resetSettings(server.baseUrl());

    Check check(60000);
    check.checker->transferTimeoutMs = 300;
    QElapsedTimer clock;
    clock.start();
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.result(), false);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

void TestCheckUpdates::tricklingServer_cutOffByDeadline_data()
{
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<bool>("offered");
    QTest::newRow("cut off") << 600 << false;
    // Proves that the inactivity timeout alone lets the trickle run its course.
    QTest::newRow("no deadline in reach") << 60000 << true;
}

// Every byte of the body resets the inactivity timer, so only the overall
// deadline can end this one early; run to the end, the body offers 9.99.
void TestCheckUpdates::tricklingServer_cutOffByDeadline()
{
    QFETCH(int, deadlineMs);
    QFETCH(bool, offered);
    FakeServer server(FakeServer::Mode::Trickle);
    server.answer(VersionPath, httpResponse(200, "OK", QByteArray(36, ' ') + "9.99"));
    TestEnv::resetSettings(server.baseUrl());

    Check check(deadlineMs);
    check.checker->transferTimeoutMs = 400;
    QElapsedTimer clock;
    clock.start();
    check.start();
    QVERIFY(check.waitComplete(10000));
    QCOMPARE(check.result(), offered);
    if (!offered)
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
}

void TestCheckUpdates::bodyAroundCap_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("offered");
    QTest::newRow("at the cap") << int(checkUpdates::MaxBodySize) << true;
    QTest::newRow("one byte over") << int(checkUpdates::MaxBodySize + 1) << false;
    QTest::newRow("64 KiB") << 64 * 1024 << false;
}

// Blanks around 9.99 would offer the update, if the body were read at all.
void TestCheckUpdates::bodyAroundCap()
{
    QFETCH(int, size);
    QFETCH(bool, offered);
    QByteArray body = "9.99";
    body.prepend(QByteArray(size - body.size(), ' '));
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", body));
    TestEnv::resetSettings(server.baseUrl());

    Check check;
    check.start();
    QVERIFY(check.waitComplete());
    QCOMPARE(check.result(), offered);
}

void TestCheckUpdates::endlessBody_capped()
{
    FakeServer server(FakeServer::Mode::Stream);
    TestEnv::resetSettings(server.baseUrl());

    // Neither time-out is in reach: only the cap can end this quickly.
    Check check(20000);
    check.checker->transferTimeoutMs = 20000;
    QElapsedTimer clock;
    clock.start();
    check.start();
    QVERIFY(check.waitComplete(10000));
    QCOMPARE(check.result(), false);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    // The checker hung up long before the server ran out of body.
    QTRY_COMPARE(server.disconnects, 1);
    QVERIFY2(server.bytesSent < FakeServer::StreamLimit,
             qPrintable(QString::number(server.bytesSent)));
}

void TestCheckUpdates::hugeAnnouncedBody_cappedBeforeDeadline()
{
    FakeServer server(FakeServer::Mode::Hang);
    server.answer(VersionPath, "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n9.99");
    TestEnv::resetSettings(server.baseUrl());

    Check check(20000);
    check.checker->transferTimeoutMs = 20000;
    QElapsedTimer clock;
    clock.start();
    check.start();
    QVERIFY(check.waitComplete(10000));
    QCOMPARE(check.result(), false);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

void TestCheckUpdates::stop_duringHangingRequest_joinsAtOnce()
{
    FakeServer server(FakeServer::Mode::Hang);
    TestEnv::resetSettings(server.baseUrl());

    auto check = std::make_unique<Check>();
    check->start();
    QTRY_COMPARE(server.requests.size(), 1);

    QElapsedTimer clock;
    clock.start();
    check->checker->stop();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(check->thread->isFinished());

    QTest::qWait(100);
    QCOMPARE(check->spy.count(), 0);
    // Thread, then checker, deleted from this thread; cleanup() checks that
    // Qt did not warn about timers or objects of another thread.
    check.reset();
    QTRY_COMPARE(server.disconnects, 1);
}

void TestCheckUpdates::stop_neverStarted_sendsNothing()
{
    FakeServer server;
    TestEnv::resetSettings(server.baseUrl());

    auto check = std::make_unique<Check>();
    QElapsedTimer clock;
    clock.start();
    check->checker->stop();
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!check->thread->isRunning());
    QCOMPARE(check->checker->thread(), QThread::currentThread());
    QTest::qWait(100);
    QVERIFY(server.requests.isEmpty());
    QVERIFY(check->spy.isEmpty());
    check.reset();
}

// The window's own path: Complete arrives, the window quits the thread, and
// at shutdown deletes the finished thread and then the checker.
void TestCheckUpdates::normalLifecycle_noThreadWarnings()
{
    FakeServer server;
    server.answer(VersionPath, httpResponse(200, "OK", "1.09"));
    TestEnv::resetSettings(server.baseUrl());

    auto check = std::make_unique<Check>();
    check->receiver.quitOnComplete = check->thread;
    check->start();
    QVERIFY(check->waitComplete());
    QCOMPARE(check->result(), true);
    QVERIFY(check->thread->wait(5000));
    check.reset(); // cleanup() checks that this went without warnings
}

QTEST_GUILESS_MAIN(TestCheckUpdates)
#include "tst_checkupdates.moc"
