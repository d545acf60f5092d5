#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

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

// The library's folders a run must never write into: Assets/ and, within
// it, those of the three kinds.
QStringList libraryDirectories(const QString &appDirPath);

// Why a run must not write its tiles into outputDirectory: it is, lies inside
// or contains one of protectedDirectories (the mask folder, the library's
// folders), where tiles would replace the masks and assets they are made
// from. Compared by canonical paths, so links and "..", and an output folder
// that does not exist yet, are seen through. Empty when it may.
QString outputConflict(const QString &outputDirectory, const QStringList &protectedDirectories);

// The name test of listPngFiles: ends with suffix, ignoring case.
bool matchesSuffix(const QString &fileName, const QString &suffix);

// Every entry of directory whose name ends in suffix, whatever it is: files,
// folders, pipes, devices, broken or looping links (hidden ones excepted, as
// in listPngFiles, whose order it keeps). A run goes through these, so that
// it can name each one it cannot use instead of passing over it in silence.
QList<QFileInfo> listEntries(const QString &directory, const QString &suffix);

} // namespace AssetLibrary

// The files (and links to files) of one directory whose names end in suffix,
// compared ignoring case, sorted by name ignoring case. Directories, hidden
// files and a missing or unreadable directory give nothing.
QList<QFileInfo> listPngFiles(const QString &directory, const QString &suffix);
