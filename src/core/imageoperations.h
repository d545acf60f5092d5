#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

class QPaintDevice;

// The image operations the preview and the generator share. They are
// stateless, so the preview on the GUI thread and a generation on worker
// threads can call them at the same time.
//
// Pixel conventions: a visible pixel has alpha not 0; new intermediate
// images are Format_RGBA8888; operations on a null image do nothing.
namespace ImageOperations {

// The decoded file, or a null image when it cannot be opened, does not
// decode or is absurdly large. Palette, grey and 16-bit images come back
// as ARGB32 (RGB32 without alpha) so that the colouring operations work
// on them; PNGs with and without alpha keep ARGB32 and RGB32.
QImage loadImage(const QString &path, QString *errorString = nullptr);
// The same conversion for an image already decoded.
QImage toWorkingFormat(const QImage &image);

// Every opacity goes through here before it is used: a project file may
// hold any number, and NaN or infinity must not reach a conversion to
// int. NaN gives 0; the rest is clamped to 0..1.
float clampOpacity(float opacity);
// clampOpacity(opacity) * 255, truncated toward zero (0.4 gives 102).
int opacityToAlpha(float opacity);

void clearImage(QImage &image);

// Every pixel when allPixels, else only the visible ones, becomes colour
// (alpha included).
void paintPixels(QImage &image, QRgb colour, bool allPixels);

// Converts to Format_RGBA8888; every visible pixel gets this alpha and
// keeps its red, green and blue.
void setVisibleAlpha(QImage &image, int alpha);

// The colour with delta added to its HSL lightness (clamped to 0..255), as
// QColor's getHsl() and setHsl() of Qt 5.15 give it; opaque.
QRgb shiftedLightness(QRgb rgb, int delta);

// Adds delta to the HSL lightness (clamped to 0..255) of the visible
// pixels in columns x0..x1-1 and rows y0..y1-1; they come out opaque.
void shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1);

// The image painted at this opacity onto a transparent Format_RGBA8888
// image.
void applyOpacity(QImage &image, float opacity);

// The image painted over opaque white, as Format_RGBA8888.
void flattenOnWhite(QImage &image);

void fillWithMode(QImage &image, const QColor &colour, QPainter::CompositionMode mode);
// As fillWithMode with QColor(colour): the fill is always opaque.
void fillWithModeRgb(QImage &image, QRgb colour, QPainter::CompositionMode mode);

void drawImageOver(QPaintDevice *target, const QImage &source, int x, int y, float opacity);

// Loads the file, overlays it with (tint's RGB, tintAlpha) unless tint is
// 0, and paints it at (0, 0) on target. An unreadable file draws nothing.
void drawTintedImage(const QString &path, float opacity, QPaintDevice *target, QRgb tint,
                     int tintAlpha);
// The same with the file's image already loaded.
void drawTintedImage(QImage image, float opacity, QPaintDevice *target, QRgb tint, int tintAlpha);

void rotateImage(QImage &image, int degrees);

} // namespace ImageOperations
