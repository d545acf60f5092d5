#include "checkupdates.h"
#include "testenv.h"

#include <QtNetwork>
#include <QtTest>

#include <atomic>

using TestEnv::http;

class TestCheckUpdates : public QObject
{
    Q_OBJECT

private slots:
    // Each check must end well within the 10 s wait, while both time-outs
    // are 20 s unless the row shortens one: only the case under test ends it.
    void check_data()
    {
        QTest::addColumn<QByteArray>("response"); // none: the server never answers
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<int>("transferTimeoutMs");
        auto row = [](const char *name, const QByteArray &response, bool offered,
                      bool listening = true, int deadline = 20000, int inactivity = 20000) {
            QTest::newRow(name) << response << offered << listening << deadline << inactivity;
        };
        // The running version is 1.08.
        for (const bool offered : {true, false})
            for (const char *text :
                 offered ? QList<const char *>{"1.09", "1.1", " 1.09\n", "1.09\r\n",
                                               "\xef\xbb\xbf\x31.09"}
                         : QList<const char *>{"1.08", "1.080", "1.07", "version 1.09", "1,09",
                                               "1.09 beta", "", " \n", "inf", "nan", "1e40",
                                               "1.09\xff", "<html>1.09</html>"})
                row(QByteArray(text).toPercentEncoding(" .").constData(), http("200 OK", text),
                    offered);
        row("at the cap", http("200 OK", QByteArray(checkUpdates::MaxBodySize - 4, ' ') + "9.99"),
            true);
        row("one byte over the cap",
            http("200 OK", QByteArray(checkUpdates::MaxBodySize - 3, ' ') + "9.99"), false);
        for (const char *status : {"404 Not Found", "500 Internal Server Error"})
            row(status, http(status, "<html><h1>Error</h1>1.09</html>"), false);
        for (const char *status : {"301 Moved Permanently", "302 Found", "307 Temporary Redirect"})
            row(status, http(status, "moved", "Location: /moved.txt\r\n"), false);
        row("refused connection", {}, false, false);
        row("huge body announced", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n9.99",
            false);
        row("huge body, no length", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(1 << 20, ' '), false);
        row("hanging server, cut off by the deadline", {}, false, true, 300);
        row("silent server, cut off by inactivity", {}, false, true, 20000, 300);
    }

    void check()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, offered);
        QFETCH(bool, listening);
        QFETCH(int, deadlineMs);
        QFETCH(int, transferTimeoutMs);
        std::atomic<QThread *> replyOn{nullptr};
        std::atomic<bool> replyGone{false};
        TestEnv::VendorServer server(response);
        QVERIFY(server.isListening());
        const QString url = server.url();
        if (!listening)
            server.close();
        // Wired, started and torn down the way the window does it.
        QThread thread;
        checkUpdates *checker = new checkUpdates;
        const auto teardown = qScopeGuard([&] {
            checker->stop();
            delete checker;
        });
        checker->attachToThread(&thread);
        checker->deadlineMs = deadlineMs;
        checker->transferTimeoutMs = transferTimeoutMs;
        QList<bool> results;
        connect(checker, &checkUpdates::Complete, this, [&](bool result) { results << result; });
        // Runs where the manager emits, which must be the reply's thread too.
        QNetworkAccessManager *manager = checker->networkManager;
        QObject::connect(
            manager, &QNetworkAccessManager::finished, manager,
            [&](QNetworkReply *reply) {
                replyOn = reply->thread() == QThread::currentThread() ? reply->thread() : nullptr;
                QObject::connect(reply, &QObject::destroyed, [&] { replyGone = true; });
            },
            Qt::DirectConnection);
        TestEnv::resetSettings(url); // read when the check starts, not when wired
        checker->moveToThread(&thread);
        checker->currentVersion = QStringLiteral("1.08").toFloat();
        thread.start();
        QVERIFY(QTest::qWaitFor([&] { return !results.isEmpty(); }, 10000));
        QCOMPARE(replyOn.load(), &thread);
        QTRY_VERIFY(replyGone.load()); // released while the thread still runs
        QVERIFY(thread.isRunning());
        // A redirect is not followed: one plain GET of the version file.
        const QByteArrayList get{"GET /versions/tilewright_version.txt HTTP/1.1"};
        QCOMPARE(server.requests, listening ? get : QByteArrayList());
        thread.quit(); // as the window does on Complete
        QVERIFY(thread.wait(5000));
        QTest::qWait(20);
        QCOMPARE(results, QList<bool>{offered}); // exactly once
    }
};

QTEST_GUILESS_MAIN(TestCheckUpdates)
#include "tst_checkupdates.moc"
