#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>

// The three kinds of asset kept under "Assets/" beside the executable. The
// numbers are the ones the import commands pass.
enum AssetKind
{
    TopShapes = 1,
    Patterns = 2,
    AlphaMasks = 3
};

// Directory layout of the asset library and its directory scan.
namespace AssetLibrary {

// "TopStyles", "Patterns" or "Alpha"; an unknown value gives "TopStyles".
QString subdirectory(AssetKind kind);
QString subdirectory(int kind);

// The kind shown on a page of the window's tool box: 0 top shapes,
// 1 patterns, any other page alpha masks.
AssetKind kindForPage(int pageIndex);

// appDirPath + "/Assets/" + the kind's subdirectory.
QString assetDirectory(const QString &appDirPath, AssetKind kind);

// The name test of listPngFiles: ends with suffix, ignoring case.
bool matchesSuffix(const QString &fileName, const QString &suffix);

} // namespace AssetLibrary

// The files (and links to files) of one directory whose names end in suffix,
// compared ignoring case, sorted by name ignoring case. Directories, hidden
// files and a missing or unreadable directory give nothing.
QList<QFileInfo> listPngFiles(const QString &directory, const QString &suffix);
