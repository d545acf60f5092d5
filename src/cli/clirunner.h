#pragma once

#include "level.h"
#include "tilesetexport.h"
#include "tilestyle.h"

#include <QCoreApplication>
#include <QString>

// One command-line generation: the design from a project file (or the
// window's first-start design), one tile per mask through the same worker
// the window runs, then the atlas and tilesets. Reports on stdout (what was
// written) and stderr (progress and failures) and gives the exit status.
class CliRunner
{
    Q_DECLARE_TR_FUNCTIONS(CliRunner)

public:
    enum ExitCode
    {
        Success = 0,
        SomeFailed = 1,  // tiles or export files not written; each was named
        BadArguments = 2 // unusable arguments, masks or project; nothing was written
    };

    struct Options
    {
        QString outputDirectory; // created when missing
        QString projectFile;     // empty: the default design
        QString maskDirectory;   // empty: the bundled library's Alpha folder
        int tileSize = 128;
        int threads = 0; // 0: one per core
        TilesetExportOptions exportOptions;
        QString levelPng; // where to draw the level; empty: not drawn
    };

    // appDirPath: where the bundled Assets/ folder is and what "$app$" in a
    // project's paths stands for.
    CliRunner(const Options &options, const QString &appDirPath);

    ExitCode run();

    // The window's design at its first start: default colours, no patterns,
    // and the library's first top shape (none when the library has none).
    static TileStyle defaultStyle(const QString &appDirPath);

private:
    bool loadStyle(TileStyle &style);
    bool writeLevelPicture(const TileStyle &style, const QString &maskDirectory);
    void printError(const QString &text);

    Options m_options;
    QString m_appDirPath;
    Level m_level = Level::defaultLevel(); // the project's, else the default
};
