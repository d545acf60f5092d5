// The image operations. Each one either goes through
// QPainter (so blending, overlay and rounding are the toolkit's) or is a
// plain per-pixel rule. The per-pixel rules have scanLine() fast paths for
// the 32-bit formats the program works in; they give the same pixels as the
// pixel()/setPixel() walk they replace, which the tests check.

#include "imageoperations.h"

#include "safeimagereader.h"

#include <QPaintDevice>
#include <QTransform>

#include <cstring>

namespace {

// QPainter refuses null, palette and 1-bit images (and warns about it);
// those operations then have nothing to do anyway.
bool canPaintOn(const QImage &image)
{
    if (image.isNull())
        return false;
    switch (image.format()) {
    case QImage::Format_Invalid:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return false;
    default:
        return true;
    }
}

bool canPaintOn(QPaintDevice *device)
{
    if (!device)
        return false;
    if (device->devType() == QInternal::Image)
        return canPaintOn(*static_cast<QImage *>(device));
    return true;
}

// How the 32-bit formats store a pixel, for the scanLine() paths.
enum class Layout
{
    Other,
    Argb,
    ArgbPremultiplied,
    Rgb,
    Rgba,
    RgbaPremultiplied,
    Rgbx
};

Layout layoutOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_ARGB32:
        return Layout::Argb;
    case QImage::Format_ARGB32_Premultiplied:
        return Layout::ArgbPremultiplied;
    case QImage::Format_RGB32:
        return Layout::Rgb;
    case QImage::Format_RGBA8888:
        return Layout::Rgba;
    case QImage::Format_RGBA8888_Premultiplied:
        return Layout::RgbaPremultiplied;
    case QImage::Format_RGBX8888:
        return Layout::Rgbx;
    default:
        return Layout::Other;
    }
}

// RGBA8888 keeps its bytes in R, G, B, A order whatever the machine's byte
// order; QRgb is 0xAARRGGBB.
inline QRgb fromRgbaBytes(const uchar *p)
{
    return qRgba(p[0], p[1], p[2], p[3]);
}

inline void toRgbaBytes(uchar *p, QRgb value)
{
    p[0] = uchar(qRed(value));
    p[1] = uchar(qGreen(value));
    p[2] = uchar(qBlue(value));
    p[3] = uchar(qAlpha(value));
}

// The QRgb that pixel() reports for a stored word. Like pixel(), this does
// not unpremultiply the premultiplied formats.
inline QRgb readPixel(Layout layout, const uchar *p)
{
    switch (layout) {
    case Layout::Argb:
    case Layout::ArgbPremultiplied:
        return *reinterpret_cast<const QRgb *>(p);
    case Layout::Rgb:
        return 0xff000000u | *reinterpret_cast<const QRgb *>(p);
    case Layout::Rgba:
    case Layout::RgbaPremultiplied:
        return fromRgbaBytes(p);
    case Layout::Rgbx:
        return 0xff000000u | fromRgbaBytes(p);
    case Layout::Other:
        break;
    }
    return 0;
}

// What setPixel() stores for a QRgb (taken as already premultiplied by the
// premultiplied formats, as setPixel() does).
inline void writePixel(Layout layout, uchar *p, QRgb value)
{
    switch (layout) {
    case Layout::Argb:
    case Layout::ArgbPremultiplied:
        *reinterpret_cast<QRgb *>(p) = value;
        return;
    case Layout::Rgb:
        *reinterpret_cast<QRgb *>(p) = 0xff000000u | value;
        return;
    case Layout::Rgba:
    case Layout::RgbaPremultiplied:
        toRgbaBytes(p, value);
        return;
    case Layout::Rgbx:
        toRgbaBytes(p, 0xff000000u | value);
        return;
    case Layout::Other:
        return;
    }
}

// The alpha byte pixel() would report, without converting the pixel.
inline int storedAlpha(Layout layout, const uchar *p)
{
    switch (layout) {
    case Layout::Argb:
    case Layout::ArgbPremultiplied:
        return qAlpha(*reinterpret_cast<const QRgb *>(p));
    case Layout::Rgba:
    case Layout::RgbaPremultiplied:
        return p[3];
    case Layout::Rgb:
    case Layout::Rgbx:
    case Layout::Other:
        break;
    }
    return 255;
}

// A 16-bit colour channel (0..65535) to 8 bits, rounded to nearest.
int channel8(int value)
{
    return (value + 128 - ((value + 128) >> 8)) >> 8;
}

int roundToInt(double value)
{
    return value >= 0.0 ? int(value + 0.5) : int(value - 0.5);
}

} // namespace

// QColor's HSL conversion changed in Qt 6 (single-precision channels, other
// rounding): through it 5.6% of all colours get another lightness, the
// default bottom colour among them, and the preview and the tiles of designs
// like a flipped top over a pattern other pixels. So the rule does its own
// arithmetic, step for step Qt 5.15's (16-bit channels, double precision),
// and every build, and every tile made before, gives the same pixels.
QRgb ImageOperations::shiftedLightness(QRgb rgb, int delta)
{
    // RGB to HSL, each kept as a 16-bit quantity (hue in 1/100 degree).
    const double r = qRed(rgb) * 257 / 65535.0;
    const double g = qGreen(rgb) * 257 / 65535.0;
    const double b = qBlue(rgb) * 257 / 65535.0;
    const double max = qMax(r, qMax(g, b));
    const double min = qMin(r, qMin(g, b));
    const double span = max - min;
    const double sum = max + min;
    const double mid = 0.5 * sum;
    const int lightness = qBound(0, channel8(roundToInt(mid * 65535)) + delta, 255);
    if (span == 0.0 || lightness == 0) // grey, or black whatever the hue
        return qRgb(lightness, lightness, lightness);
    const int saturation = channel8(roundToInt(span / (mid < 0.5 ? sum : 2.0 - sum) * 65535));
    if (saturation == 0)
        return qRgb(lightness, lightness, lightness);
    double hue = r == max ? (g - b) / span : g == max ? 2.0 + (b - r) / span : 4.0 + (r - g) / span;
    hue *= 60.0;
    if (hue < 0.0)
        hue += 360.0;
    // Whole degrees, as QColor::getHsl() hands them out.
    const int degrees = (roundToInt(hue * 100) / 100) % 360;

    // And back, from the 8-bit saturation and lightness as QColor::setHsl()
    // stores them.
    const double h = degrees / 360.0;
    const double s = saturation * 257 / 65535.0;
    const double l = lightness * 257 / 65535.0;
    const double high = l < 0.5 ? l * (1.0 + s) : l + s - l * s;
    const double low = 2.0 * l - high;
    int out[3];
    const double thirds[3] = {h + 1.0 / 3.0, h, h - 1.0 / 3.0};
    for (int i = 0; i < 3; ++i) {
        double t = thirds[i];
        if (t < 0.0)
            t += 1.0;
        else if (t > 1.0)
            t -= 1.0;
        const double sixths = t * 6.0;
        double value = low;
        if (sixths < 1.0)
            value = low + (high - low) * sixths;
        else if (t * 2.0 < 1.0)
            value = high;
        else if (t * 3.0 < 2.0)
            value = low + (high - low) * (2.0 / 3.0 - t) * 6.0;
        const int value16 = roundToInt(value * 65535);
        out[i] = channel8(value16 == 1 ? 0 : value16);
    }
    return qRgb(out[0], out[1], out[2]);
}

namespace {

// Images shaded here are mostly runs of one colour (a top shape painted in
// the bottom colour), so remembering the last conversion saves nearly all
// of the HSL work while giving exactly its answers.
class LightnessShifter
{
public:
    explicit LightnessShifter(int delta) : m_delta(delta) {}

    QRgb operator()(QRgb pixel)
    {
        const QRgb rgb = pixel & 0x00ffffffu;
        if (!m_valid || rgb != m_lastIn) {
            m_lastIn = rgb;
            m_lastOut = ImageOperations::shiftedLightness(rgb, m_delta);
            m_valid = true;
        }
        return m_lastOut;
    }

private:
    int m_delta;
    bool m_valid = false;
    QRgb m_lastIn = 0;
    QRgb m_lastOut = 0;
};

} // namespace

QImage ImageOperations::loadImage(const QString &path, QString *errorString)
{
    return toWorkingFormat(SafeImageReader::read(path, errorString));
}

QImage ImageOperations::toWorkingFormat(const QImage &image)
{
    if (image.isNull())
        return image;
    switch (image.format()) {
    case QImage::Format_ARGB32:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        // Palette and 1-bit images take neither a painter nor a QRgb in
        // setPixel(), and grey images cannot hold the colours painted into
        // them: give them the formats a truecolour PNG decodes to.
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                             : QImage::Format_RGB32);
    }
}

float ImageOperations::clampOpacity(float opacity)
{
    // Written so that NaN, which compares false with everything, lands on 0.
    if (!(opacity > 0.0f))
        return 0.0f;
    return opacity < 1.0f ? opacity : 1.0f;
}

int ImageOperations::opacityToAlpha(float opacity)
{
    return int(double(clampOpacity(opacity)) * 255.0);
}

void ImageOperations::clearImage(QImage &image)
{
    if (!image.isNull())
        image.fill(0);
}

void ImageOperations::paintPixels(QImage &image, QRgb colour, bool allPixels)
{
    if (image.isNull())
        return;
    const Layout layout = layoutOf(image.format());
    if (layout == Layout::Other) {
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                if (allPixels || qAlpha(image.pixel(x, y)) != 0)
                    image.setPixel(x, y, colour);
            }
        }
        return;
    }
    uchar stored[4];
    writePixel(layout, stored, colour);
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        uchar *p = image.scanLine(y);
        for (int x = 0; x < width; ++x, p += 4) {
            if (allPixels || storedAlpha(layout, p) != 0)
                std::memcpy(p, stored, 4);
        }
    }
}

void ImageOperations::setVisibleAlpha(QImage &image, int alpha)
{
    if (image.isNull())
        return;
    QImage converted(image.size(), QImage::Format_RGBA8888);
    converted.fill(0);
    QPainter painter(&converted);
    painter.drawImage(0, 0, image);
    painter.end();
    image = converted;

    const uchar a = uchar(qBound(0, alpha, 255));
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        uchar *p = image.scanLine(y);
        for (int x = 0; x < width; ++x, p += 4) {
            if (p[3] != 0)
                p[3] = a;
        }
    }
}

void ImageOperations::shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1)
{
    if (image.isNull())
        return;
    x0 = qMax(x0, 0);
    y0 = qMax(y0, 0);
    x1 = qMin(x1, image.width());
    y1 = qMin(y1, image.height());
    LightnessShifter shift(delta);
    const Layout layout = layoutOf(image.format());
    if (layout == Layout::Other) {
        for (int x = x0; x < x1; ++x) {
            for (int y = y0; y < y1; ++y) {
                const QRgb pixel = image.pixel(x, y);
                if (qAlpha(pixel) != 0)
                    image.setPixel(x, y, shift(pixel));
            }
        }
        return;
    }
    for (int y = y0; y < y1; ++y) {
        uchar *p = image.scanLine(y) + 4 * x0;
        for (int x = x0; x < x1; ++x, p += 4) {
            if (storedAlpha(layout, p) != 0)
                writePixel(layout, p, shift(readPixel(layout, p)));
        }
    }
}

void ImageOperations::applyOpacity(QImage &image, float opacity)
{
    if (image.isNull())
        return;
    QImage faded(image.size(), QImage::Format_RGBA8888);
    faded.fill(0);
    QPainter painter(&faded);
    painter.setOpacity(clampOpacity(opacity));
    painter.drawImage(0, 0, image);
    painter.end();
    image = faded;
}

void ImageOperations::flattenOnWhite(QImage &image)
{
    if (image.isNull())
        return;
    QImage flat(image.size(), QImage::Format_RGBA8888);
    QPainter painter(&flat);
    painter.fillRect(flat.rect(), QBrush(QColor(255, 255, 255, 255), Qt::SolidPattern));
    painter.drawImage(0, 0, image);
    painter.end();
    image = flat;
}

void ImageOperations::fillWithMode(QImage &image, const QColor &colour,
                                   QPainter::CompositionMode mode)
{
    if (!canPaintOn(image))
        return;
    QPainter painter(&image);
    painter.setCompositionMode(mode);
    painter.fillRect(image.rect(), colour);
    painter.end();
}

void ImageOperations::fillWithModeRgb(QImage &image, QRgb colour, QPainter::CompositionMode mode)
{
    fillWithMode(image, QColor(colour), mode);
}

void ImageOperations::drawImageOver(QPaintDevice *target, const QImage &source, int x, int y,
                                    float opacity)
{
    if (source.isNull() || !canPaintOn(target))
        return;
    QPainter painter(target);
    painter.setOpacity(clampOpacity(opacity));
    painter.drawImage(x, y, source);
    painter.end();
}

void ImageOperations::drawTintedImage(const QString &path, float opacity, QPaintDevice *target,
                                      QRgb tint, int tintAlpha)
{
    drawTintedImage(loadImage(path), opacity, target, tint, tintAlpha);
}

void ImageOperations::drawTintedImage(QImage image, float opacity, QPaintDevice *target, QRgb tint,
                                      int tintAlpha)
{
    if (image.isNull())
        return;
    if (tint != 0) {
        QColor colour;
        // An alpha outside 0..255 would make QColor invalid and the fill
        // black; the nearest valid alpha is what was meant.
        colour.setRgb(qRed(tint), qGreen(tint), qBlue(tint), qBound(0, tintAlpha, 255));
        fillWithMode(image, colour, QPainter::CompositionMode_Overlay);
    }
    drawImageOver(target, image, 0, 0, opacity);
}

void ImageOperations::rotateImage(QImage &image, int degrees)
{
    if (image.isNull())
        return;
    QTransform transform;
    transform.rotate(double(degrees), Qt::ZAxis);
    image = image.transformed(transform, Qt::SmoothTransformation);
}
