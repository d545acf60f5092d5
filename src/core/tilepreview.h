#pragma once

#include "tilestyle.h"

#include <QImage>
#include <QList>
#include <QString>

// One composed preview of a design: the 128 x 128 tile, the named parts it
// is made of and the layers drawn over the bottom shape. The window only
// puts these into its lists.
class TilePreview
{
public:
    struct Part
    {
        QString name; // "Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"
        QImage image;
    };

    static constexpr int TileSize = 128;

    QImage tile;
    QList<Part> parts;
    // Drawn over the bottom shape in this order. The shade and top layers
    // hold their final (for topDown, rotated) state.
    QList<QImage> layers;
    int shadeIndex = -1; // into layers, -1 without a top
    int topIndex = -1;

    // Composes the design, reading the top shape and pattern files from disk
    // every time. Missing or unreadable files leave their layers out as the
    // window expects; nothing is reported.
    static TilePreview compose(const TileStyle &style);
};
