#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

// Names of the settings store and its keys, shared by the window, the
// command-line tool and the tests.
namespace AppSettings {

inline const char *const Organisation = "Oakhollow";
inline const char *const Application = "Tilewright";

inline const char *const Geometry = "geometry";
inline const char *const WindowState = "windowState";
inline const char *const LastExportDirectory = "lastExportDirectory";
inline const char *const LastProjectDirectory = "lastProjectDirectory";
inline const char *const LastImportDirectory = "lastImportDirectory";
inline const char *const Theme = "theme";
inline const char *const TileWidthHeight = "tileWidthHeight";
inline const char *const CheckForUpdates = "checkForUpdates";
// Base URL of the vendor's web server ("https://host"); absent means the
// compiled-in default. Lets a test or an installer point the program
// elsewhere without a rebuild.
inline const char *const ServerUrl = "serverUrl";

QString defaultServerUrl();
QString serverUrl();

// A page or file on the vendor's web server, e.g. vendorUrl("/support/").
QUrl vendorUrl(const QString &path);

// The window's rectangle centred on a screen of the given size. Each half
// is computed with integer division, and the screen's origin is ignored.
QRect centredRect(const QSize &window, const QSize &screen);

} // namespace AppSettings
