#pragma once

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

// A small side-view level: a grid of cells painted with the design's tiles,
// so a terrain can be judged where it will be used. Which tile each cell
// shows follows the blob rule that labels the Tiled and Godot tilesets.
class Level
{
    Q_DECLARE_TR_FUNCTIONS(Level)

public:
    enum Cell : char
    {
        Empty = '.',
        Solid = '#',
        SlopeUp = '/',    // rising to the right
        SlopeDown = '\\', // falling to the right
        Platform = '=',
    };

    // Larger levels only make a hostile project file expensive.
    static constexpr int MaxWidth = 256;
    static constexpr int MaxHeight = 256;

    // width x height empty cells (clamped to 1..Max).
    Level(int width = 32, int height = 14);

    // The ready-made levels, by name; the first is the default.
    static QStringList presetNames();
    static Level preset(int index);
    static Level defaultLevel() { return preset(0); }

    // One text row per grid row, one character per cell (see Cell). False
    // with *errorString for ragged rows, unknown characters or a size
    // outside 1..Max.
    static bool fromRows(const QStringList &rows, Level *level, QString *errorString = nullptr);
    QStringList rows() const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }
    // Empty outside the level.
    Cell cell(int x, int y) const;
    void setCell(int x, int y, Cell cell);

    // The mask (and so tile) file name the cell shows, empty for an empty
    // cell. Solid cells take the blob tile of their neighbours; slopes and
    // platforms their own pieces.
    QString tileName(int x, int y) const;
    // tileName() of every cell, row by row, worked out once.
    QVector<QString> cellTiles() const;
    // Every tile name the level uses, sorted.
    QStringList tileNames() const;
    // The same of cellTiles() already worked out.
    static QStringList tileNames(const QVector<QString> &cellTiles);

    bool operator==(const Level &other) const;
    bool operator!=(const Level &other) const { return !(*this == other); }

private:
    // Whether the neighbour at (x + dx, y + dy) counts as solid ground for
    // the cell at (x, y): a slope does so for the cells below it and on its
    // high side, where its mask is full to the border; a platform never.
    bool solidFor(int x, int y, int dx, int dy) const;

    int m_width;
    int m_height;
    QVector<Cell> m_cells;
};
