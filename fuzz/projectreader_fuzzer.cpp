// Feeds arbitrary bytes to ProjectReader through a QBuffer, as the window
// does with a file. Run from the build folder, e.g.
//   fuzz/projectreader_fuzzer -runs=1000000 \
//       -dict=../fuzz/projectreader.dict corpus-work ../fuzz/corpus
#include "projectreader.h"
#include "tilestyle.h"

#include <QBuffer>
#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

// Unknown colour names make QColor warn on every input; the noise would
// drown libFuzzer's own output and slow it down.
void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(discardMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    ProjectReader reader;
    reader.setApplicationDirPath(QStringLiteral("/opt/tilewright"));
    TileStyle style;
    const bool ok = reader.read(&buffer, style);
    // A failure always says why.
    if (!ok && reader.errorString().isEmpty())
        __builtin_trap();
    return 0;
}
