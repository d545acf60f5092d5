// Feeds arbitrary bytes to the fast mask decoder, which reads untrusted
// files. Whatever it takes must be the image Qt's reader gives. Run from the
// build folder, e.g.
//   fuzz/pngdecoder_fuzzer -runs=1000000 -max_len=65536 corpus-work
#include "pngdecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QSize declared = PngDecoder::header(bytes);
    // As SafeImageReader does: nothing is decoded past the size it allows.
    if (!declared.isValid() || qint64(declared.width()) * declared.height() > 1024 * 1024)
        return 0;
    const QImage ours = PngDecoder::decode(bytes);
    if (ours.isNull())
        return 0;
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QImage qt = reader.read();
    // Qt's libpng checks the checksums this build skips: compare only what
    // both read.
    if (!qt.isNull() && qt.convertToFormat(ours.format()) != ours)
        std::abort(); // taken, but not Qt's image
    return 0;
}
