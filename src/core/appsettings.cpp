#include "appsettings.h"

#include <QSettings>

namespace AppSettings {

QString defaultServerUrl()
{
    return QStringLiteral(TILEWRIGHT_SERVER_URL);
}

QString serverUrl()
{
    QSettings settings{QLatin1String(Organisation), QLatin1String(Application)};
    QString url = settings.value(QLatin1String(ServerUrl), defaultServerUrl()).toString().trimmed();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url.isEmpty() ? defaultServerUrl() : url;
}

QUrl vendorUrl(const QString &path)
{
    return QUrl(serverUrl() + path, QUrl::TolerantMode);
}

QRect centredRect(const QSize &window, const QSize &screen)
{
    const int left = screen.width() / 2 - window.width() / 2;
    const int top = screen.height() / 2 - window.height() / 2;
    return QRect(left, top, window.width(), window.height());
}

} // namespace AppSettings
