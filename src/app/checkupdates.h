#pragma once

#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;
class QThread;
class QTimer;

// Asks the vendor's web server once for the latest version number, on a
// thread of its own. Use: attachToThread(), connect Complete, moveToThread(),
// set currentVersion, start the thread. Complete(bool) reports the outcome
// exactly once per check; any failure is simply "no update".
class checkUpdates : public QObject
{
    Q_OBJECT

public:
    explicit checkUpdates(QObject *parent = nullptr);
    ~checkUpdates() override;

    // Written before the thread starts, read only on the worker thread.
    float currentVersion = 0.0f;
    QNetworkAccessManager *networkManager = nullptr;

    // Inactivity limit of the transfer and overall limit of the whole check.
    // Set them before the thread starts.
    int transferTimeoutMs = 10000;
    int deadlineMs = 10000;

    // The version file is a few bytes; anything longer is not one.
    static constexpr qint64 MaxBodySize = 1024;

    void attachToThread(QThread *thread);

    // Call from the GUI thread: aborts a pending request, ends the worker
    // thread and returns once it has finished. No Complete follows. Harmless
    // when the thread never started or has already finished.
    void stop();

    // True when body holds a number strictly higher than current.
    static bool isNewer(float current, const QByteArray &body);

signals:
    void Complete(bool updateAvailable);

public slots:
    void doCheckForUpdate();
    void replyFinished(QNetworkReply *reply);

private:
    void cutOff(QNetworkReply *reply);
    void releaseNetwork();

    QPointer<QThread> workerThread;
    QTimer *deadline = nullptr;
    QNetworkReply *pending = nullptr;
    bool cutOffPending = false;
    bool silenced = false;
};
