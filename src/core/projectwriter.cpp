#include "projectwriter.h"

#include "level.h"
#include "safefilewriter.h"
#include "tilestyle.h"

#include <QBuffer>
#include <QDir>
#include <QXmlStreamWriter>

namespace {

// Opacities are floats; widening to double before formatting gives "0.4"
// rather than the float's exact expansion.
QString number(float value)
{
    return QString::number(double(value), 'g', 6);
}

void writeDocument(QXmlStreamWriter &xml, const TileStyle &style, const Level *level)
{
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("project"));
    xml.writeTextElement(QStringLiteral("topStyle"), style.topStyle);
    xml.writeTextElement(QStringLiteral("topColor"), style.topColor.name());
    xml.writeTextElement(QStringLiteral("topOpacity"), number(style.topOpacity));
    xml.writeTextElement(QStringLiteral("topPattern"), TileStyle::patternPath(style.topPattern));
    xml.writeTextElement(QStringLiteral("topPatternColor"), style.topPatternColor.name());
    xml.writeTextElement(QStringLiteral("topPatternOpacity"), number(style.topPatternOpacity));
    xml.writeTextElement(QStringLiteral("bottomColor"), style.bottomColor.name());
    xml.writeTextElement(QStringLiteral("bottomOpacity"), number(style.bottomOpacity));
    xml.writeTextElement(QStringLiteral("bottomPattern"),
                         TileStyle::patternPath(style.bottomPattern));
    xml.writeTextElement(QStringLiteral("bottomPatternColor"), style.bottomPatternColor.name());
    xml.writeTextElement(QStringLiteral("bottomPatternColorOpacity"),
                         number(style.bottomPatternColorOpacity));
    xml.writeTextElement(QStringLiteral("bottomPatternOpacity"),
                         number(style.bottomPatternOpacity));
    xml.writeTextElement(QStringLiteral("topDown"),
                         style.topDown ? QStringLiteral("1") : QStringLiteral("0"));
    // Only a level that was changed: a project that never touched it stays
    // byte for byte as before.
    if (level && *level != Level::defaultLevel()) {
        xml.writeStartElement(QStringLiteral("level"));
        for (const QString &row : level->rows())
            xml.writeTextElement(QStringLiteral("row"), row);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
}

} // namespace

bool ProjectWriter::write(QIODevice *device, const TileStyle &style, const Level *level)
{
    m_errorString.clear();
    if (!device || !device->isOpen() || !device->isWritable()) {
        m_errorString = tr("the device is not open for writing");
        return false;
    }
    QXmlStreamWriter xml(device);
    writeDocument(xml, style, level);
    if (xml.hasError()) {
        m_errorString = tr("the document could not be written: %1").arg(device->errorString());
        return false;
    }
    return true;
}

bool ProjectWriter::write(const QString &fileName, const TileStyle &style, const Level *level)
{
    m_errorString.clear();
    // QXmlStreamWriter reports a full disk only at its final flush, and
    // QSaveFile::commit() does not report it at all; writing to memory first
    // leaves the one real write to SafeFileWriter, which checks everything.
    QString reason;
    if (!SafeFileWriter::write(fileName, toByteArray(style, level), &reason)) {
        m_errorString =
            tr("Cannot save \"%1\": %2").arg(QDir::toNativeSeparators(fileName), reason);
        return false;
    }
    return true;
}

QByteArray ProjectWriter::toByteArray(const TileStyle &style, const Level *level)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    writeDocument(xml, style, level);
    return bytes;
}
