#pragma once

#include <QCoreApplication>
#include <QString>

class Level;
class QIODevice;
struct TileStyle;

// Writes a design as a project file (".twr"): root <project> holding the
// thirteen stored fields of TileStyle, always all of them, in a fixed order,
// then the level when one is given and it is not the default level.
class ProjectWriter
{
    Q_DECLARE_TR_FUNCTIONS(ProjectWriter)

public:
    // The device must be open for writing. Returns false when the stream
    // reports a write error.
    bool write(QIODevice *device, const TileStyle &style, const Level *level = nullptr);

    // Builds the whole document in memory and hands it to SafeFileWriter, so
    // a failed save (missing or read-only folder, full disk) returns false
    // and leaves an existing file as it was.
    bool write(const QString &fileName, const TileStyle &style, const Level *level = nullptr);

    // The document exactly as write() produces it.
    static QByteArray toByteArray(const TileStyle &style, const Level *level = nullptr);

    // What went wrong, naming the file when there is one.
    QString errorString() const { return m_errorString; }

private:
    QString m_errorString;
};
