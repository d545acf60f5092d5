#include "solidmask.h"

SolidMask::SolidMask() : solid(Size * Size, false) {}

bool SolidMask::isSolid(int x, int y) const
{
    if (x < 0 || y < 0 || x >= Size || y >= Size)
        return false;
    return solid[y * Size + x];
}

void SolidMask::set(int x, int y, bool value)
{
    if (x < 0 || y < 0 || x >= Size || y >= Size)
        return;
    solid[y * Size + x] = value;
}

void SolidMask::fillRect(int x, int y, int width, int height, bool value)
{
    for (int yy = y; yy < y + height; ++yy)
        for (int xx = x; xx < x + width; ++xx)
            set(xx, yy, value);
}

void SolidMask::roundCorner(int x, int y, int dx, int dy, int radius)
{
    // Pixel i steps into the shape lies (radius - i - 0.5) from the circle's
    // centre; doubled to stay in whole numbers.
    for (int i = 0; i < radius; ++i) {
        for (int j = 0; j < radius; ++j) {
            const int cx = 2 * (radius - i) - 1;
            const int cy = 2 * (radius - j) - 1;
            if (cx * cx + cy * cy > 4 * radius * radius)
                set(x + i * dx, y + j * dy, false);
        }
    }
}

SolidMask SolidMask::mirrored() const
{
    SolidMask m;
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x)
            m.set(Size - 1 - x, y, isSolid(x, y));
    return m;
}

QImage SolidMask::toImage() const
{
    constexpr int s = ArtGrid::Scale;
    QImage image(ArtGrid::TileSize, ArtGrid::TileSize, QImage::Format_ARGB32);
    for (int y = 0; y < ArtGrid::TileSize; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < ArtGrid::TileSize; ++x)
            line[x] = solid[(y / s) * Size + x / s] ? qRgba(0, 0, 0, 255) : qRgba(0, 0, 0, 0);
    }
    return image;
}
