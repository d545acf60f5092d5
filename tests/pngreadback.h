#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <png.h>

// The two references our PNG files are held to, shared by the tests and
// the benchmarks: Qt's own file of an image, and the pixels libpng reads.
namespace PngReadBack {

// QImage::save into memory; empty when Qt cannot write it.
inline QByteArray qtFile(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? data : QByteArray();
}

// RGBA as libpng's simplified reader gives it; empty when it cannot.
inline QByteArray libpngPixels(const QByteArray &png)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.constData(), size_t(png.size())))
        return {};
    image.format = PNG_FORMAT_RGBA;
    QByteArray pixels(int(PNG_IMAGE_SIZE(image)), 0);
    return png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) ? pixels
                                                                             : QByteArray();
}

} // namespace PngReadBack
