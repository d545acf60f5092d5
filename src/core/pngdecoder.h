#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Decodes the kind of PNG file masks nearly always are (8-bit RGB or RGBA,
// not interlaced, nothing but the image data and a resolution) several times
// faster than Qt's reader, to the very image Qt's reader gives: Format_ARGB32
// or Format_RGB32, same pixels, same resolution. Any other file (palette,
// grey, 16-bit, interlaced, transparency, colour or text chunks, damage of
// any kind) is not taken: header() gives an invalid size and decode() a null
// image, and the caller goes through Qt's reader, which then decides.
//
// It checks nothing about size beyond what the data itself declares: callers
// (SafeImageReader) check the declared size first.
class PngDecoder
{
public:
    // The size in the header, when `data` starts like a file decode() takes.
    static QSize header(const QByteArray &data);

    static QImage decode(const QByteArray &data);
};
