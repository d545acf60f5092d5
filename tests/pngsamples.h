#pragma once

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cmath>

// Tile-like images of many kinds for the PNG encoder's tests and benchmark:
// what PNG compression finds easy (flat colour), hard (noise) and tricky
// (smooth gradients, fine repeats, dithering). Deterministic for a seed.
namespace PngSamples {

enum Kind
{
    Flat,          // base colour, top band and shadow, cut by a mask
    Textured,      // base with a noisy pattern overlaid
    Noise,         // random pixels, partly transparent
    Gradient,      // linear gradient with varying alpha
    Sparse,        // mostly transparent, a few pixels set
    SoftShapes,    // antialiased translucent ellipses on transparency
    FineTexture,   // low-amplitude pattern
    Stripes,       // thin vertical stripes
    Photo,         // smooth, photograph-like colour field
    Radial,        // radial gradient
    TiledPattern,  // a small random motif repeated
    TopShapes,     // antialiased strokes on the base, like a draped top
    ScaledTexture, // a textured 128 px tile scaled by nearest neighbour
    Dither,        // base with +-1..3 noise per channel
    KindCount
};

inline const char *kindName(int kind)
{
    static const char *names[] = {"flat",  "textured", "noise",     "gradient", "sparse",
                                  "soft",  "finetex",  "stripes",   "photo",    "radial",
                                  "tiled", "shapes",   "scaledtex", "dither"};
    return kind >= 0 && kind < KindCount ? names[kind] : "?";
}

// An 8-bit mask: a slope, a wavy surface, an empty left half or full.
inline QImage surfaceMask(int size, quint32 seed)
{
    QImage mask(size, size, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int x = 0; x < size; ++x) {
        int top = 0;
        switch (seed % 4) {
        case 0:
            top = x * (size - 10) / size;
            break;
        case 1:
            top = size / 3 + int(std::sin(x * 0.1 + seed) * size / 8);
            break;
        case 2:
            top = x < size / 2 ? size : size / 4;
            break;
        default:
            top = 0;
        }
        for (int y = qMax(0, top); y < size; ++y)
            mask.scanLine(y)[x] = 255;
    }
    return mask;
}

inline QImage sample(int kind, int size, quint32 seed)
{
    QRandomGenerator r(seed * 7919 + quint32(kind));
    QImage b(size, size, QImage::Format_RGBA8888_Premultiplied);
    const QColor base = QColor::fromHsv(r.bounded(360), 80 + r.bounded(150), 80 + r.bounded(170));
    b.fill(base);
    auto randomColor = [&r](int alpha) {
        return QColor(r.bounded(256), r.bounded(256), r.bounded(256), alpha);
    };
    bool cut = true;
    QPainter p(&b);
    switch (kind) {
    case Flat:
        p.fillRect(0, 0, size, size / 8, base.darker(150));
        p.fillRect(0, size / 8, size, 6 * size / 128, QColor(0, 0, 0, 51));
        break;
    case Textured:
    case FineTexture: {
        const int amp = kind == Textured ? 40 + r.bounded(80) : 6 + r.bounded(10);
        const int cell = 4 + r.bounded(16);
        QImage pattern(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const int check = ((x / cell) + (y / (cell / 2 + 1))) % 2;
                const int v = qBound(0, 128 + r.bounded(amp) - amp / 2 + check * 20, 255);
                pattern.setPixel(x, y, qRgba(v, v, v, 100 + r.bounded(2) * 50));
            }
        }
        p.setCompositionMode(QPainter::CompositionMode_Overlay);
        p.drawImage(0, 0, pattern);
        break;
    }
    case Noise: {
        p.end();
        QImage n(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                n.setPixel(x, y, r.generate());
        return n.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    }
    case Gradient: {
        QLinearGradient g(r.bounded(size), r.bounded(size), r.bounded(size), r.bounded(size));
        g.setColorAt(0, randomColor(255));
        g.setColorAt(1, randomColor(r.bounded(256)));
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(b.rect(), g);
        break;
    }
    case Sparse:
        cut = false;
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(b.rect(), Qt::transparent);
        for (int i = 0, n = 10 + r.bounded(60); i < n; ++i)
            p.fillRect(r.bounded(size), r.bounded(size), 1 + r.bounded(3), 1 + r.bounded(3),
                       randomColor(1 + r.bounded(255)));
        break;
    case SoftShapes:
        cut = false;
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(b.rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 12; ++i) {
            p.setBrush(randomColor(40 + r.bounded(216)));
            p.drawEllipse(QPointF(r.bounded(size), r.bounded(size)), 3 + r.bounded(size / 3),
                          3 + r.bounded(size / 3));
        }
        break;
    case Stripes:
        for (int x = 0; x < size; x += 3)
            p.fillRect(x, 0, 1, size, base.lighter(110 + r.bounded(40)));
        break;
    case Photo: {
        p.end();
        QImage n(size / 8 + 2, size / 8 + 2, QImage::Format_ARGB32);
        for (int y = 0; y < n.height(); ++y)
            for (int x = 0; x < n.width(); ++x)
                n.setPixel(x, y, qRgb(r.bounded(256), r.bounded(256), r.bounded(256)));
        b = n.scaled(size * 10 / 8, size * 10 / 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .copy(0, 0, size, size)
                .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        p.begin(&b);
        break;
    }
    case Radial: {
        QRadialGradient g(r.bounded(size), r.bounded(size), size);
        g.setColorAt(0, randomColor(60 + r.bounded(196)));
        g.setColorAt(1, randomColor(r.bounded(256)));
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(b.rect(), g);
        break;
    }
    case TiledPattern: {
        const int period = 4 + r.bounded(29);
        const int amp = 10 + r.bounded(120);
        QImage motif(period, period, QImage::Format_ARGB32);
        for (int y = 0; y < period; ++y) {
            for (int x = 0; x < period; ++x) {
                const int v = 128 + r.bounded(amp) - amp / 2;
                motif.setPixel(x, y, qRgba(v, v, v, 80 + r.bounded(120)));
            }
        }
        p.setCompositionMode(QPainter::CompositionMode_Overlay);
        p.fillRect(b.rect(), QBrush(motif));
        break;
    }
    case TopShapes:
        p.setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < 20; ++i) {
            p.setPen(
                QPen(QColor::fromHsv(r.bounded(360), 150, 150 + r.bounded(100)), 1 + r.bounded(4)));
            p.setBrush(QColor::fromHsv(r.bounded(360), 100 + r.bounded(150), 100 + r.bounded(150),
                                       128 + r.bounded(128)));
            p.drawEllipse(QPointF(r.bounded(size), r.bounded(size / 3)), 2 + r.bounded(size / 6),
                          2 + r.bounded(size / 8));
        }
        break;
    case ScaledTexture:
        p.end();
        b = sample(Textured, 128, seed + 1000)
                .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        p.begin(&b);
        break;
    case Dither: {
        p.end();
        const int amp = 1 + r.bounded(3);
        for (int y = 0; y < size; ++y) {
            uchar *line = b.scanLine(y);
            for (int x = 0; x < size * 4; ++x)
                if ((x & 3) != 3) // colour only; the base is opaque
                    line[x] = uchar(qBound(0, line[x] + r.bounded(2 * amp + 1) - amp, 255));
        }
        p.begin(&b);
        break;
    }
    default:
        break;
    }
    p.end();
    // Most tiles are cut to a mask, some are left whole.
    if (cut && r.bounded(3) != 0)
        b.setAlphaChannel(surfaceMask(size, seed));
    return b;
}

} // namespace PngSamples
