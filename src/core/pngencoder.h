#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodes an image as PNG in memory, about twice as fast as QImage::save for
// the 32-bit tiles this program writes. The decoded pixels are exactly
// those that QImage::save's file decodes to: premultiplied images are
// un-premultiplied by Qt's own conversion, and images without an alpha
// channel are written without one.
//
// The size rule is per tileset, not per file: over a set of tiles no more
// bytes than Qt's writer gives for the same tiles, and no file more than
// MaxExcess over Qt's. It is met by measurement (see the .cpp and the tests
// over the default library and the benchmark masks), not by proof.
//
// Only the pixels are written: no resolution, text or gamma chunks.
// Monochrome, indexed, grey and 16-bit images go through Qt's own writer.
//
// Safe to call from several threads at once.
class PngEncoder
{
public:
    static constexpr double MaxExcess = 0.05;

    // The PNG file's bytes, or an empty array with *errorString saying why.
    static QByteArray encode(const QImage &image, QString *errorString = nullptr);

    // How the rows are compressed (see the .cpp): as they are, with
    // libdeflate; through libpng's filter choice, with our DeflateWriter; or
    // filtered the same way, with libdeflate's slow thorough search.
    enum class Encoding
    {
        Unfiltered,
        Adaptive,
        Thorough
    };

    // The choice's thresholds; the .cpp says how they were set.
    static constexpr double MinFlatShare = 0.85;
    static constexpr double MaxRoughGain = 1.5;
    static constexpr double MinSmoothGain = 2;

    // What the choice looks at, measured on the unfiltered rows.
    struct Measures
    {
        double repeatShare; // pixels equal to their left or upper neighbour
        double filterGain;  // entropy of the rows over that of the rows less the row above
    };
    static Encoding chooseEncoding(const Measures &measures);
    // The measures of an image as encode() takes them.
    static Measures measure(const QImage &image);
};
