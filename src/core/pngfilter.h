#pragma once

#include <QImage>

#include <cstddef>
#include <vector>

// A PNG image's scan lines before compression: the pixels as PNG stores
// them, libpng's own choice of filter per row, and the measures the encoder
// judges an image by. Each function works on rows laid out as PNG has them:
// per row one filter byte, then width * bpp bytes.
class PngFilter
{
public:
    // Fills `out` with the image's rows, each led by filter byte 0 (none):
    // R, G, B and, with 4 channels, A, unpremultiplied. Qt's writer converts
    // every other format to ARGB32 (or RGB32 without alpha), so the same
    // conversion is used here and the pixel values match. False when the
    // conversion runs out of memory.
    static bool unfilteredRows(const QImage &image, int channels, std::vector<uchar> &out);

    // libpng's default filtering: per row the filter whose output has the
    // smallest sum of absolute values (bytes read as signed), the first one
    // on a tie, in the order none, sub, up, average, Paeth. `scratch` holds
    // a row of zeros.
    static void adaptiveRows(const std::vector<uchar> &unfiltered, int width, int height, int bpp,
                             std::vector<uchar> &out, std::vector<uchar> &scratch);

    // The Paeth filter's prediction from the left, upper and upper-left
    // bytes; the decoder undoes the filter with the same rule.
    static uchar paethPredictor(int a, int b, int c)
    {
        const int pa = b > c ? b - c : c - b;
        const int pb = a > c ? a - c : c - a;
        const int pc = a + b > 2 * c ? a + b - 2 * c : 2 * c - a - b;
        if (pa <= pb && pa <= pc)
            return uchar(a);
        return uchar(pb <= pc ? b : c);
    }

    // The share of pixels equal to the pixel on their left or above them.
    static double repeatShare(const std::vector<uchar> &unfiltered, int width, int height, int bpp);

    // Order-0 entropy, in bytes, of every step-th row (from row 1), as they
    // are (up = false) or less the row above (the up filter): what a Huffman
    // coder alone could reach on them, for an estimate of both at a quarter
    // of the cost when step is 4.
    static double sampledEntropy(const std::vector<uchar> &unfiltered, int width, int height,
                                 int bpp, int step, bool up);
};
