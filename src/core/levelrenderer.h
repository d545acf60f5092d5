#pragma once

#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

class Level;
struct TileStyle;

// Paints a level with a design's tiles: the tiles a generation run would
// write, composed by the same pipeline, but only those the level uses and
// at the cell size shown. Empty cells stay transparent, so a view can put
// its own sky behind and the picture is the one a map editor draws from the
// exported tileset.
//
// Masks are read once and kept; call forgetMasks() when the library changes.
class LevelRenderer
{
public:
    explicit LevelRenderer(const QString &maskDirectory = QString());

    void setMaskDirectory(const QString &maskDirectory);
    const QString &maskDirectory() const { return m_maskDirectory; }
    void forgetMasks();

    // The level at cellSize pixels a cell, Format_ARGB32_Premultiplied.
    // Cells whose tile has no mask in the library are marked with a red
    // cross and listed in *missing.
    QImage render(const Level &level, const TileStyle &style, int cellSize,
                  QStringList *missing = nullptr);

    // The cross drawn where a cell's mask is missing; exposed for tests.
    static QImage missingMarker(int cellSize);

private:
    // The library's mask for a tile name (letter case ignored); null when
    // there is none or it cannot be read.
    QImage mask(const QString &tileName);

    QString m_maskDirectory;
    QHash<QString, QString> m_files; // lower-case name -> path
    bool m_listed = false;
    QHash<QString, QImage> m_masks; // lower-case name -> normalised mask
};
