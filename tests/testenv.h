#pragma once

#include "appsettings.h"

#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>

// Shared set-up for tests that construct the window: a clean settings store
// whose vendor server is a closed local port, so no test reaches the network.
namespace TestEnv {

inline QSettings settings()
{
    return QSettings(QLatin1String(AppSettings::Organisation),
                     QLatin1String(AppSettings::Application));
}

inline void resetSettings(const QString &serverUrl = QStringLiteral("http://127.0.0.1:9"))
{
    QSettings s = settings();
    s.clear();
    s.setValue(QLatin1String(AppSettings::ServerUrl), serverUrl);
    s.sync();
}

inline QByteArray http(const QByteArray &status, const QByteArray &body,
                       const QByteArray &extra = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

// The vendor's server on 127.0.0.1: notes each request line and answers with the canned
// response (none: it never answers), closing the connection after it only when that says so.
class VendorServer : public QTcpServer
{
public:
    explicit VendorServer(const QByteArray &response = {})
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, response] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, response] {
                head += socket->readAll();
                if (!head.endsWith("\r\n\r\n"))
                    return;
                requests << head.left(head.indexOf("\r\n"));
                head.clear();
                socket->write(response);
                if (response.contains("Connection: close"))
                    socket->disconnectFromHost();
            });
        });
    }
    QString url() const { return QString("http://127.0.0.1:%1/").arg(serverPort()); }

    QByteArrayList requests;
    int disconnects = 0;

private:
    QByteArray head;
};

} // namespace TestEnv
