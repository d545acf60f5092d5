#include "greymap.h"

#include "artgrid.h"

#include <algorithm>

GreyMap::GreyMap(int width, int height, int fill)
    : w(width), h(height), values(width * height, fill)
{
}

int GreyMap::index(int x, int y) const
{
    const int wx = ((x % w) + w) % w;
    const int wy = ((y % h) + h) % h;
    return wy * w + wx;
}

void GreyMap::set(int x, int y, int value)
{
    values[index(x, y)] = value == Transparent ? Transparent : std::clamp(value, 0, 255);
}

void GreyMap::add(int x, int y, int delta)
{
    const int i = index(x, y);
    if (values[i] != Transparent)
        values[i] = std::clamp(values[i] + delta, 0, 255);
}

void GreyMap::fillRect(int x, int y, int width, int height, int value)
{
    for (int yy = y; yy < y + height; ++yy)
        for (int xx = x; xx < x + width; ++xx)
            set(xx, yy, value);
}

QImage GreyMap::toImage() const
{
    const bool opaque = std::find(values.cbegin(), values.cend(), Transparent) == values.cend();
    constexpr int s = ArtGrid::Scale;
    QImage image(w * s, h * s, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    for (int y = 0; y < h * s; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w * s; ++x) {
            const int v = values[(y / s) * w + x / s];
            line[x] = v == Transparent ? qRgba(0, 0, 0, 0) : qRgb(v, v, v);
        }
    }
    return image;
}
