#include "checkupdates.h"
#include "testenv.h"

#include <QtNetwork>
#include <QtTest>

#include <atomic>

namespace {

// Warnings from any thread; a Qt warning here means an object was used or
// destroyed on the wrong thread, or a closed reply was read.
QStringList warnings;
QMutex warningsLock;
QtMessageHandler previousHandler = nullptr;

void catchWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg) {
        QMutexLocker lock(&warningsLock);
        warnings << text;
    }
    previousHandler(type, context, text);
}

QByteArray http(const QByteArray &status, const QByteArray &body, const QByteArray &extra = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

// Serves every request on 127.0.0.1 with one canned response, and closes
// the connection after it only when the response says so.
class FakeServer : public QTcpServer
{
public:
    explicit FakeServer(const QByteArray &response)
    {
        QVERIFY(listen(QHostAddress::LocalHost));
        url = QStringLiteral("http://127.0.0.1:%1/").arg(serverPort());
        connect(this, &QTcpServer::newConnection, this, [=] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [=] {
                const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                socket->setProperty("head", head);
                if (!head.endsWith("\r\n\r\n"))
                    return;
                requests << head.left(head.indexOf("\r\n"));
                socket->write(response);
                if (response.contains("Connection: close"))
                    socket->disconnectFromHost();
            });
        });
    }

    QString url;
    QList<QByteArray> requests; // the request lines, in order
};

// One check wired, started and torn down the way the window does it.
struct Check
{
    QThread *thread = new QThread;
    checkUpdates *checker = new checkUpdates;
    QObject receiver; // stands in for the window, on this thread
    QList<bool> results;

    Check(int deadlineMs = 20000, int transferMs = 20000)
    {
        checker->attachToThread(thread);
        checker->deadlineMs = deadlineMs;
        checker->transferTimeoutMs = transferMs;
        QObject::connect(checker, &checkUpdates::Complete, &receiver, [this](bool offered) {
            QCOMPARE(QThread::currentThread(), receiver.thread()); // delivered queued
            results << offered;
        });
    }
    ~Check()
    {
        checker->stop();
        delete thread;
        delete checker;
    }
    void start(const QString &url)
    {
        TestEnv::resetSettings(url); // read when the check starts, not when wired
        checker->moveToThread(thread);
        checker->currentVersion = QStringLiteral("1.08").toFloat();
        thread->start(QThread::InheritPriority);
    }
};

} // namespace

class TestCheckUpdates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(catchWarnings); }
    void cleanup()
    {
        QMutexLocker lock(&warningsLock);
        const QStringList caught = std::exchange(warnings, {});
        QVERIFY2(caught.isEmpty(), qPrintable(caught.join('\n')));
    }
    void check_data();
    void check();
    void stop_whileWaiting_joinsAtOnce();
};

// Each check must end well within the 10 s wait, while both time-outs are
// 20 s unless a row says otherwise: only the behaviour under test can end it.
void TestCheckUpdates::check_data()
{
    QTest::addColumn<QByteArray>("response"); // "refused": nobody listens
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<int>("transferMs");
    QTest::addColumn<bool>("offered");
    auto row = [](const char *name, const QByteArray &response, bool offered,
                  int deadlineMs = 20000, int transferMs = 20000) {
        QTest::newRow(name) << response << deadlineMs << transferMs << offered;
    };
    auto body = [&](const char *text, bool offered) {
        row(QByteArray(text).toPercentEncoding(" .").constData(), http("200 OK", text), offered);
    };
    // The running version is 1.08.
    for (const char *text : {"1.09", "1.1", " 1.09\n", "1.09\r\n", "\xef\xbb\xbf\x31.09"})
        body(text, true);
    for (const char *text : {"1.08", "1.080", "1.07", "version 1.09", "1,09", "1.09 beta", "",
                             " \n", "inf", "nan", "1e40", "1.09\xff", "<html>1.09</html>"})
        body(text, false);
    row("at the cap", http("200 OK", QByteArray(checkUpdates::MaxBodySize - 4, ' ') + "9.99"),
        true);
    row("one byte over the cap",
        http("200 OK", QByteArray(checkUpdates::MaxBodySize - 3, ' ') + "9.99"), false);
    for (const char *status : {"404 Not Found", "500 Internal Server Error"})
        row(status, http(status, "<html><h1>Error</h1>1.09</html>"), false);
    for (const char *status : {"301 Moved Permanently", "302 Found", "307 Temporary Redirect"})
        row(status, http(status, "moved", "Location: /moved.txt\r\n"), false);
    row("refused connection", "refused", false);
    row("huge body announced", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n9.99", false);
    row("huge body, no length", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(1 << 20, ' '), false);
    row("hanging server, cut off by the deadline", {}, false, 300);
    row("silent server, cut off by inactivity", {}, false, 20000, 300);
}

void TestCheckUpdates::check()
{
    QFETCH(QByteArray, response);
    QFETCH(int, deadlineMs);
    QFETCH(int, transferMs);
    QFETCH(bool, offered);
    std::atomic<QThread *> replyOn{nullptr};
    std::atomic<bool> replyGone{false};
    FakeServer server(response);
    if (response == "refused")
        server.close();
    Check check(deadlineMs, transferMs);
    QNetworkAccessManager *manager = check.checker->networkManager;
    // Runs where the manager emits, which must be the reply's thread too.
    QObject::connect(
        manager, &QNetworkAccessManager::finished, manager,
        [&](QNetworkReply *reply) {
            replyOn = reply->thread() == QThread::currentThread() ? reply->thread() : nullptr;
            QObject::connect(reply, &QObject::destroyed, [&] { replyGone = true; });
        },
        Qt::DirectConnection);
    check.start(server.url);
    QVERIFY(QTest::qWaitFor([&] { return !check.results.isEmpty(); }, 10000));
    QCOMPARE(replyOn.load(), check.thread);
    QTRY_VERIFY(replyGone.load()); // released while the thread still runs
    QVERIFY(check.thread->isRunning());
    // A redirect is not followed: one plain GET of the version file.
    const QByteArray get = "GET /versions/tilewright_version.txt HTTP/1.1";
    QCOMPARE(server.requests.join('|'), response == "refused" ? QByteArray() : get);
    check.thread->quit(); // as the window does on Complete
    QVERIFY(check.thread->wait(5000));
    QTest::qWait(20);
    QCOMPARE(check.results, QList<bool>{offered}); // exactly once
}

// Closing the window while a check waits aborts it and joins the thread at
// once, without a Complete, long before the 20 s time-outs.
void TestCheckUpdates::stop_whileWaiting_joinsAtOnce()
{
    FakeServer server({});
    Check check;
    check.start(server.url);
    QTRY_COMPARE(server.requests.size(), 1);
    QElapsedTimer clock;
    clock.start();
    check.checker->stop();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(check.thread->isFinished());
    QTest::qWait(100);
    QVERIFY(check.results.isEmpty());
}

QTEST_GUILESS_MAIN(TestCheckUpdates)
#include "tst_checkupdates.moc"
