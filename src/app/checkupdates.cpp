#include "checkupdates.h"

#include "appsettings.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QtMath>

checkUpdates::checkUpdates(QObject *parent) : QObject(parent)
{
    // A child, so it moves to the worker thread together with the checker.
    deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this] {
        if (pending)
            cutOff(pending);
    });
}

checkUpdates::~checkUpdates()
{
    // Only still here when the thread never ran; otherwise it went with the
    // thread's end, on that thread.
    delete networkManager;
}

void checkUpdates::attachToThread(QThread *thread)
{
    workerThread = thread;
    networkManager = new QNetworkAccessManager(this);
    // Never follow a redirect: its answer is judged like any other reply.
    networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(networkManager, &QNetworkAccessManager::finished, this, &checkUpdates::replyFinished);
    connect(thread, &QThread::started, this, &checkUpdates::doCheckForUpdate);
    // finished() is emitted on the ending thread itself, so the network
    // objects and the running timer are released where they live. Deleting
    // them later from the GUI thread would stop timers from the wrong thread.
    connect(thread, &QThread::finished, this, &checkUpdates::releaseNetwork);
}

void checkUpdates::stop()
{
    QThread *thread = workerThread;
    if (!thread)
        return;
    thread->quit();
    if (thread != QThread::currentThread())
        thread->wait();
}

bool checkUpdates::isNewer(float current, const QByteArray &body)
{
    const QString text = QString::fromUtf8(body);
    if (text.isEmpty())
        return false;
    bool ok = false;
    const float latest = text.toFloat(&ok);
    // "inf" converts too, but is no version a server could mean.
    return ok && qIsFinite(latest) && current < latest;
}

void checkUpdates::doCheckForUpdate()
{
    if (pending)
        return;
    if (!networkManager || silenced) {
        emit Complete(false);
        return;
    }
    networkManager->setTransferTimeout(transferTimeoutMs);
    const QNetworkRequest request(
        AppSettings::vendorUrl(QStringLiteral("/versions/tilewright_version.txt")));
    QNetworkReply *reply = networkManager->get(request);
    pending = reply;
    cutOffPending = false;
    // Keep little more than the cap in memory, and give up as soon as more
    // than the cap is announced or has arrived. (downloadProgress would be
    // too late: Qt throttles it and drops the early ones.)
    reply->setReadBufferSize(4 * MaxBodySize);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        bool known = false;
        const qint64 announced =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (reply == pending && known && announced > MaxBodySize)
            cutOff(reply);
    });
    connect(reply, &QIODevice::readyRead, this, [this, reply] {
        if (reply == pending && reply->bytesAvailable() > MaxBodySize)
            cutOff(reply);
    });
    deadline->start(deadlineMs);
}

void checkUpdates::replyFinished(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != pending)
        return;
    pending = nullptr;
    deadline->stop();

    bool updateAvailable = false;
    // A reply that timed out is already closed and has nothing to read.
    if (!cutOffPending && reply->isOpen()) {
        const QByteArray body = reply->read(MaxBodySize + 1);
        updateAvailable = body.size() <= MaxBodySize && isNewer(currentVersion, body);
    }
    cutOffPending = false;
    if (!silenced)
        emit Complete(updateAvailable);
}

// Aborting makes the manager report the reply at once, through replyFinished.
void checkUpdates::cutOff(QNetworkReply *reply)
{
    cutOffPending = true;
    // A reply that already failed is on its way to finished(); aborting it
    // again makes Qt complain that its error was reported twice.
    if (reply->error() == QNetworkReply::NoError)
        reply->abort();
}

void checkUpdates::releaseNetwork()
{
    silenced = true;
    deadline->stop();
    pending = nullptr;
    delete networkManager; // ends and takes any reply with it, quietly
    networkManager = nullptr;
}
