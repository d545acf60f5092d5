#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

class QSettings;
struct TilesetExportOptions;

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
// The engine export dialog's last choices, one key per option.
inline const char *const ExportAtlas = "engineExport/atlas";
inline const char *const ExportTsx = "engineExport/tsx";
inline const char *const ExportTres = "engineExport/tres";
inline const char *const ExportBaseName = "engineExport/baseName";
inline const char *const ExportColumns = "engineExport/columns";
inline const char *const ExportMargin = "engineExport/margin";
inline const char *const ExportSpacing = "engineExport/spacing";
inline const char *const ExportExtrusion = "engineExport/extrusion";
inline const char *const ExportPowerOfTwo = "engineExport/powerOfTwo";
inline const char *const ExportTres3 = "engineExport/tres3";
inline const char *const ExportTmx = "engineExport/tmx";
inline const char *const ExportTscn = "engineExport/tscn";

// The stored export choices; an option never stored, or not readable as its
// type (a number that is not one reads as 0), takes its default. Unlike a
// fresh TilesetExportOptions, all three files are asked for by default, and
// the atlas is always named after the base name.
TilesetExportOptions loadExportOptions(const QSettings &settings);
void storeExportOptions(QSettings &settings, const TilesetExportOptions &options);

QString defaultServerUrl();
QString serverUrl();

// A page or file on the vendor's web server, e.g. vendorUrl("/support/").
QUrl vendorUrl(const QString &path);

// The window's rectangle centred on a screen of the given size. Each half
// is computed with integer division, and the screen's origin is ignored.
QRect centredRect(const QSize &window, const QSize &screen);

} // namespace AppSettings
