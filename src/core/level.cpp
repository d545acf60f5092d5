#include "level.h"

#include "blobmask.h"

#include <QSet>

#include <algorithm>

namespace {

struct Preset
{
    const char *name;
    const char *rows;
};

// Hills, caves, an overhang, a floating island, a one-tile pillar, slopes and
// platforms: every kind of joint a terrain set has to get right.
const Preset Presets[] = {
    {QT_TRANSLATE_NOOP("Level", "Hills and caves"), "................................\n"
                                                    "................................\n"
                                                    "......................####......\n"
                                                    ".........=====.......######.....\n"
                                                    "........................##......\n"
                                                    "..##............................\n"
                                                    ".####..........#...=====...#....\n"
                                                    ".#..##.........#..........###...\n"
                                                    "##...##/#\\.....#.........#####..\n"
                                                    "###.######\\....#........###.###.\n"
                                                    "###.#######\\..###......###...###\n"
                                                    "#.....#######.#####...###..#.###\n"
                                                    "#..##..#########################\n"
                                                    "################################"},
    {QT_TRANSLATE_NOOP("Level", "Islands"), "................................\n"
                                            "...........##...................\n"
                                            "..###.....####.........####.....\n"
                                            ".#####.....##.....=...######....\n"
                                            "..###.................##..##....\n"
                                            "...#.......====........#..#.....\n"
                                            "......##...........###..........\n"
                                            ".....####.........#####....#....\n"
                                            "......##...###.....###....###...\n"
                                            "..........#####............#....\n"
                                            "...==......###......===.........\n"
                                            "................................\n"
                                            "...##########.....###########...\n"
                                            "................................"},
    {QT_TRANSLATE_NOOP("Level", "Flat ground"), "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "................................\n"
                                                "################################\n"
                                                "################################\n"
                                                "################################"},
};

bool isCell(QChar c)
{
    switch (c.unicode()) {
    case Level::Empty:
    case Level::Solid:
    case Level::SlopeUp:
    case Level::SlopeDown:
    case Level::Platform:
        return true;
    default:
        return false;
    }
}

} // namespace

Level::Level(int width, int height)
    : m_width(qBound(1, width, MaxWidth)), m_height(qBound(1, height, MaxHeight)),
      m_cells(m_width * m_height, Empty)
{
}

QStringList Level::presetNames()
{
    QStringList names;
    for (const Preset &preset : Presets)
        names << tr(preset.name);
    return names;
}

Level Level::preset(int index)
{
    const Preset &preset = Presets[qBound(0, index, int(std::size(Presets)) - 1)];
    Level level;
    fromRows(QString::fromLatin1(preset.rows).split(QLatin1Char('\n')), &level);
    return level;
}

bool Level::fromRows(const QStringList &rows, Level *level, QString *errorString)
{
    auto fail = [&](const QString &reason) {
        if (errorString)
            *errorString = reason;
        return false;
    };
    const int height = rows.size();
    const int width = rows.isEmpty() ? 0 : rows.first().size();
    if (width < 1 || height < 1 || width > MaxWidth || height > MaxHeight)
        return fail(tr("the level is %1 x %2 cells; it must be from 1 x 1 to %3 x %4")
                        .arg(width)
                        .arg(height)
                        .arg(MaxWidth)
                        .arg(MaxHeight));
    Level result(width, height);
    for (int y = 0; y < height; ++y) {
        const QString &row = rows.at(y);
        if (row.size() != width)
            return fail(tr("row %1 of the level has %2 cells, not %3")
                            .arg(y + 1)
                            .arg(row.size())
                            .arg(width));
        for (int x = 0; x < width; ++x) {
            if (!isCell(row.at(x)))
                return fail(tr("row %1 of the level has \"%2\", which is no cell")
                                .arg(y + 1)
                                .arg(row.at(x)));
            result.m_cells[y * width + x] = Cell(row.at(x).toLatin1());
        }
    }
    if (level)
        *level = result;
    return true;
}

QStringList Level::rows() const
{
    QStringList result;
    for (int y = 0; y < m_height; ++y) {
        QString row;
        for (int x = 0; x < m_width; ++x)
            row += QLatin1Char(m_cells[y * m_width + x]);
        result << row;
    }
    return result;
}

Level::Cell Level::cell(int x, int y) const
{
    return contains(x, y) ? m_cells[y * m_width + x] : Empty;
}

void Level::setCell(int x, int y, Cell cell)
{
    if (contains(x, y) && isCell(QLatin1Char(cell)))
        m_cells[y * m_width + x] = cell;
}

bool Level::solidFor(int x, int y, int dx, int dy) const
{
    switch (cell(x + dx, y + dy)) {
    case Solid:
        return true;
    case SlopeUp:
        return dy == -1 || (dx == -1 && dy == 0);
    case SlopeDown:
        return dy == -1 || (dx == 1 && dy == 0);
    default:
        return false;
    }
}

QString Level::tileName(int x, int y) const
{
    switch (cell(x, y)) {
    case Solid: {
        static const int offsets[8][3] = {{0, -1, BlobMask::N}, {1, -1, BlobMask::NE},
                                          {1, 0, BlobMask::E},  {1, 1, BlobMask::SE},
                                          {0, 1, BlobMask::S},  {-1, 1, BlobMask::SW},
                                          {-1, 0, BlobMask::W}, {-1, -1, BlobMask::NW}};
        int raw = 0;
        for (const auto &o : offsets) {
            if (solidFor(x, y, o[0], o[1]))
                raw |= o[2];
        }
        return BlobMask::fileName(BlobMask::canonical(raw));
    }
    case SlopeUp:
        return QStringLiteral("slope45_up.png");
    case SlopeDown:
        return QStringLiteral("slope45_down.png");
    case Platform: {
        const bool left = cell(x - 1, y) == Platform, right = cell(x + 1, y) == Platform;
        return left && right ? QStringLiteral("platform_middle.png")
               : right       ? QStringLiteral("platform_left.png")
               : left        ? QStringLiteral("platform_right.png")
                             : QStringLiteral("platform_single.png");
    }
    default:
        return QString();
    }
}

QVector<QString> Level::cellTiles() const
{
    QVector<QString> names(m_width * m_height);
    for (int y = 0; y < m_height; ++y)
        for (int x = 0; x < m_width; ++x)
            names[y * m_width + x] = tileName(x, y);
    return names;
}

QStringList Level::tileNames() const
{
    return tileNames(cellTiles());
}

QStringList Level::tileNames(const QVector<QString> &cellTiles)
{
    QSet<QString> names;
    for (const QString &name : cellTiles)
        if (!name.isEmpty())
            names.insert(name);
    QStringList sorted(names.cbegin(), names.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

bool Level::operator==(const Level &other) const
{
    return m_width == other.m_width && m_height == other.m_height && m_cells == other.m_cells;
}
