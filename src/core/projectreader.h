#pragma once

#include <QCoreApplication>
#include <QString>

#include "level.h"

class QIODevice;
class QXmlStreamReader;
struct TileStyle;

// Reads a project file into a design.
//
// Field elements are matched by name at any depth; unknown elements are
// passed over. Each value is stored into the style as soon as it is read, so
// a read that fails part-way leaves the fields read before the failure
// changed. read() first sets style.topDown to false: a file that does not
// set it, or fails before setting it, leaves it false. The other fields keep
// their values unless the file names them.
//
// An optional <level> element holds the level the design is shown in, one
// <row> of cell characters per grid row (see Level).
//
// A project file is a few hundred bytes (a few KiB with the longest paths,
// up to some 70 KiB with the largest level),
// and the XML reader has no limits of its own, so hostile input is refused
// early: more than MaxBytes, any document type declaration (and with it
// every entity-expansion trick), elements nested deeper than MaxDepth, an
// element with more than MaxAttributes attributes (the reader checks them
// for duplicates in quadratic time), and a field text longer than
// MaxTextLength characters.
class ProjectReader
{
    Q_DECLARE_TR_FUNCTIONS(ProjectReader)

public:
    // Room for the largest level (Level::MaxWidth x MaxHeight cells).
    static constexpr qint64 MaxBytes = 256 * 1024;
    static constexpr int MaxDepth = 64;
    static constexpr int MaxAttributes = 64;
    static constexpr int MaxTextLength = 32 * 1024;

    // The application directory defaults to
    // QCoreApplication::applicationDirPath() (empty without an application
    // object).
    ProjectReader();

    // What "$app$" in a path stands for.
    void setApplicationDirPath(const QString &path) { m_appDir = path; }
    QString applicationDirPath() const { return m_appDir; }

    // The device must be open for reading. True only when the document is
    // well formed, within the limits above, and has a <project> element.
    bool read(QIODevice *device, TileStyle &style);
    bool read(const QString &fileName, TileStyle &style);

    // The level the last read found, the default level when the file has
    // none (hasLevel() false).
    const Level &level() const { return m_level; }
    bool hasLevel() const { return m_hasLevel; }

    // Why the last read failed, e.g. "line 3: ...", with the file name in
    // front for the file overload.
    QString errorString() const { return m_errorString; }

private:
    bool parse(const QByteArray &data, TileStyle &style);
    bool nextElement(QXmlStreamReader &xml, int &depth, int within);
    void readLevel(QXmlStreamReader &xml, int &depth);

    QString m_appDir;
    QString m_errorString;
    Level m_level = Level::defaultLevel();
    bool m_hasLevel = false;
};
