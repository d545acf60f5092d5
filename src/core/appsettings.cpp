#include "appsettings.h"

#include "tilesetexport.h"

#include <QSettings>

namespace AppSettings {

TilesetExportOptions loadExportOptions(const QSettings &settings)
{
    const auto value = [&settings](const char *key, const QVariant &fallback) {
        return settings.value(QLatin1String(key), fallback);
    };
    TilesetExportOptions options;
    options.atlas = value(ExportAtlas, true).toBool();
    options.tsx = value(ExportTsx, true).toBool();
    options.tres = value(ExportTres, true).toBool();
    options.baseName = value(ExportBaseName, options.baseName).toString();
    options.atlasFileName = options.baseName + QStringLiteral(".png");
    options.columns = value(ExportColumns, 0).toInt();
    options.margin = value(ExportMargin, 0).toInt();
    options.spacing = value(ExportSpacing, 0).toInt();
    options.extrusion = value(ExportExtrusion, 0).toInt();
    options.powerOfTwo = value(ExportPowerOfTwo, false).toBool();
    options.tres3 = value(ExportTres3, false).toBool();
    options.tmx = value(ExportTmx, false).toBool();
    options.tscn = value(ExportTscn, false).toBool();
    return options;
}

void storeExportOptions(QSettings &settings, const TilesetExportOptions &options)
{
    settings.setValue(QLatin1String(ExportAtlas), options.atlas);
    settings.setValue(QLatin1String(ExportTsx), options.tsx);
    settings.setValue(QLatin1String(ExportTres), options.tres);
    settings.setValue(QLatin1String(ExportBaseName), options.baseName);
    settings.setValue(QLatin1String(ExportColumns), options.columns);
    settings.setValue(QLatin1String(ExportMargin), options.margin);
    settings.setValue(QLatin1String(ExportSpacing), options.spacing);
    settings.setValue(QLatin1String(ExportExtrusion), options.extrusion);
    settings.setValue(QLatin1String(ExportPowerOfTwo), options.powerOfTwo);
    settings.setValue(QLatin1String(ExportTres3), options.tres3);
    settings.setValue(QLatin1String(ExportTmx), options.tmx);
    settings.setValue(QLatin1String(ExportTscn), options.tscn);
}

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
