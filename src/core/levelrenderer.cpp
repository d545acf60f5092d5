#include "levelrenderer.h"

#include "assetlibrary.h"
#include "level.h"
#include "tilepipeline.h"
#include "tilestyle.h"

#include <QPainter>

LevelRenderer::LevelRenderer(const QString &maskDirectory) : m_maskDirectory(maskDirectory) {}

void LevelRenderer::setMaskDirectory(const QString &maskDirectory)
{
    if (maskDirectory == m_maskDirectory)
        return;
    m_maskDirectory = maskDirectory;
    forgetMasks();
}

void LevelRenderer::forgetMasks()
{
    m_files.clear();
    m_masks.clear();
    m_listed = false;
}

QImage LevelRenderer::mask(const QString &tileName)
{
    if (!m_listed) {
        m_listed = true;
        if (!m_maskDirectory.isEmpty()) {
            for (const QFileInfo &file : listPngFiles(m_maskDirectory, QStringLiteral(".png")))
                m_files.insert(file.fileName().toLower(), file.filePath());
        }
    }
    const QString key = tileName.toLower();
    auto cached = m_masks.constFind(key);
    if (cached != m_masks.constEnd())
        return *cached;
    // A mask that cannot be read is remembered as null: it stays missing
    // until the library changes.
    const QString path = m_files.value(key);
    const QImage image = path.isEmpty() ? QImage() : TilePipeline::readMask(path);
    m_masks.insert(key, image);
    return image;
}

QImage LevelRenderer::missingMarker(int cellSize)
{
    QImage marker(cellSize, cellSize, QImage::Format_ARGB32_Premultiplied);
    marker.fill(QColor(220, 40, 40, 60));
    QPainter painter(&marker);
    painter.setPen(QPen(QColor(220, 40, 40), qMax(1, cellSize / 16)));
    painter.drawLine(0, 0, cellSize - 1, cellSize - 1);
    painter.drawLine(cellSize - 1, 0, 0, cellSize - 1);
    return marker;
}

QImage LevelRenderer::render(const Level &level, const TileStyle &style, int cellSize,
                             QStringList *missing)
{
    cellSize = qBound(1, cellSize, TilePipeline::MaxTileSize);
    if (missing)
        missing->clear();
    // Each distinct tile once, as a run would make it.
    const QVector<QString> cells = level.cellTiles();
    const TilePipeline pipeline(style);
    QHash<QString, QImage> tiles;
    for (const QString &name : Level::tileNames(cells)) {
        const QImage source = mask(name);
        if (source.isNull()) {
            if (missing)
                *missing << name;
            continue;
        }
        // In the picture's format once, not converted again for every cell.
        tiles.insert(name, pipeline.makeTile(source, TilePipeline::wantsTop(name), cellSize)
                               .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    const QImage marker = missingMarker(cellSize);

    QImage image(level.width() * cellSize, level.height() * cellSize,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int y = 0; y < level.height(); ++y) {
        for (int x = 0; x < level.width(); ++x) {
            const QString &name = cells.at(y * level.width() + x);
            if (name.isEmpty())
                continue;
            const auto tile = tiles.constFind(name);
            painter.drawImage(x * cellSize, y * cellSize,
                              tile != tiles.constEnd() ? *tile : marker);
        }
    }
    return image;
}
