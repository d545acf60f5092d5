#pragma once

#include "appsettings.h"

#include <QSettings>

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
    QSettings s{QLatin1String(AppSettings::Organisation), QLatin1String(AppSettings::Application)};
    s.clear();
    s.setValue(QLatin1String(AppSettings::ServerUrl), serverUrl);
    s.sync();
}

} // namespace TestEnv
