// Draws Tilewright's default asset library: top shapes, patterns and alpha
// masks, all made here from code, and writes them into the Assets folder
// that the program reads. The same input gives the same bytes on every run
// and every machine, so the build is reproducible.

#include "assetwriter.h"
#include "blobmasks.h"
#include "patterns.h"
#include "terrainmasks.h"
#include "topshapes.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "tilewright-assetgen: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args.at(1).isEmpty() || args.at(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: tilewright-assetgen <Assets folder>\n"
                             "Draws the default top shapes, patterns and alpha masks into\n"
                             "<Assets folder>/TopStyles, /Patterns and /Alpha.\n");
        return 2;
    }
    const QString root = QDir::cleanPath(QDir::current().absoluteFilePath(args.at(1)));

    NamedImages masks = TerrainMasks::drawAll();
    masks += BlobMasks::drawAll();

    AssetWriter writer(root);
    if (!writer.writeAll(QStringLiteral("TopStyles"), TopShapes::drawAll()) ||
        !writer.writeAll(QStringLiteral("Patterns"), Patterns::drawAll()) ||
        !writer.writeAll(QStringLiteral("Alpha"), masks)) {
        fail(writer.error());
        return 1;
    }
    std::printf("tilewright-assetgen: %d files written, %d unchanged, in %s\n",
                writer.writtenCount(), writer.unchangedCount(),
                qPrintable(QDir::toNativeSeparators(root)));
    return 0;
}
