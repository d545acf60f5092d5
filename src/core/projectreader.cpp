#include "projectreader.h"

#include "level.h"
#include "regularfile.h"
#include "tilestyle.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <cstring>

namespace {

// readElementText(ErrorOnUnexpectedElement) with a length cap: the stock
// call accumulates a text of any size. Returns false when the text is
// refused for its length; otherwise *text holds what was read, which after
// an error is the part before it, as the stock call returns.
bool readFieldText(QXmlStreamReader &xml, QString *text)
{
    QString result;
    for (;;) {
        switch (xml.readNext()) {
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            if (result.size() + xml.text().size() > ProjectReader::MaxTextLength) {
                xml.raiseError(QCoreApplication::translate(
                                   "ProjectReader", "the text of an element is longer than %1 "
                                                    "characters")
                                   .arg(ProjectReader::MaxTextLength));
                return false;
            }
            result += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            *text = result;
            return true;
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::Comment:
            break;
        default:
            // A child element, or the reader's own error.
            if (!xml.hasError())
                xml.raiseError(
                    QCoreApplication::translate("ProjectReader", "Expected character data."));
            *text = result;
            return true;
        }
    }
}

// QXmlStreamReader parses all attributes of a start tag before it reports
// the element, and checks them for duplicates in quadratic time: 256 KiB of
// attributes on one element take seconds. So the raw bytes are scanned for
// the largest attribute count first. The scan only needs to be right for
// documents the reader would accept; it stops at anything it does not know
// ("<!DOCTYPE" and the like), where the reader itself fails. Returns the
// number of the line where the first offending element starts, or 0.
int findCrowdedElement(const QByteArray &data)
{
    const char *p = data.constData();
    const char *const end = p + data.size();
    int line = 1;
    auto startsWith = [&](const char *text, size_t length) {
        return size_t(end - p) >= length && std::memcmp(p, text, length) == 0;
    };
    auto skipPast = [&](const char *terminator, size_t length) {
        for (; p < end; ++p) {
            if (*p == '\n')
                ++line;
            if (startsWith(terminator, length)) {
                p += length;
                return;
            }
        }
    };

    while (p < end) {
        if (*p != '<') {
            if (*p == '\n')
                ++line;
            ++p;
            continue;
        }
        if (startsWith("<!--", 4)) {
            p += 4;
            skipPast("-->", 3);
        } else if (startsWith("<![CDATA[", 9)) {
            p += 9;
            skipPast("]]>", 3);
        } else if (startsWith("<?", 2)) {
            p += 2;
            skipPast("?>", 2);
        } else if (startsWith("<!", 2)) {
            return 0;
        } else {
            // A start or end tag: count the '=' outside quoted values.
            const int tagLine = line;
            int attributes = 0;
            char quote = 0;
            for (++p; p < end; ++p) {
                const char c = *p;
                if (c == '\n')
                    ++line;
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '=') {
                    if (++attributes > ProjectReader::MaxAttributes)
                        return tagLine;
                } else if (c == '>') {
                    ++p;
                    break;
                }
            }
        }
    }
    return 0;
}

} // namespace

ProjectReader::ProjectReader()
{
    if (QCoreApplication::instance())
        m_appDir = QCoreApplication::applicationDirPath();
}

bool ProjectReader::read(QIODevice *device, TileStyle &style)
{
    m_errorString.clear();
    style.topDown = false;
    if (!device || !device->isOpen() || !device->isReadable()) {
        m_errorString = tr("the device is not open for reading");
        return false;
    }
    // Refuse by the declared size before reading anything when we can; a
    // sequential device is read up to one byte past the limit.
    if (!device->isSequential() && device->bytesAvailable() > MaxBytes) {
        m_errorString = tr("the file is %1 bytes, more than the %2 allowed")
                            .arg(device->bytesAvailable())
                            .arg(MaxBytes);
        return false;
    }
    QByteArray data;
    while (data.size() <= MaxBytes) {
        const QByteArray chunk = device->read(MaxBytes + 1 - data.size());
        if (chunk.isEmpty())
            break;
        data += chunk;
    }
    if (data.size() > MaxBytes) {
        m_errorString = tr("the file is more than %1 bytes").arg(MaxBytes);
        return false;
    }
    return parse(data, style);
}

bool ProjectReader::read(const QString &fileName, TileStyle &style)
{
    m_errorString.clear();
    style.topDown = false;
    QFile file;
    const QString name = QDir::toNativeSeparators(fileName);
    QString reason;
    if (!RegularFile::open(file, fileName, &reason)) {
        m_errorString = tr("Cannot open \"%1\": %2").arg(name, reason);
        return false;
    }
    if (read(&file, style))
        return true;
    m_errorString = tr("\"%1\": %2").arg(name, m_errorString);
    return false;
}

// Advances to the next start tag, counting depth against its limit; false
// at the end, on an error, or once the element open at depth `within`
// closes.
bool ProjectReader::nextElement(QXmlStreamReader &xml, int &depth, int within)
{
    while (!xml.atEnd() && !xml.hasError()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD) {
            // Entity declarations are the only way to blow a small file up;
            // a project file never needs them.
            xml.raiseError(tr("a document type declaration is not allowed"));
            return false;
        }
        if (token == QXmlStreamReader::EndElement) {
            if (--depth < within)
                return false;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (++depth > MaxDepth) {
            xml.raiseError(tr("elements are nested deeper than %1 levels").arg(MaxDepth));
            return false;
        }
        return true;
    }
    return false;
}

// The <row> texts up to the level's end tag, then the level made of them.
void ProjectReader::readLevel(QXmlStreamReader &xml, int &depth)
{
    const int levelDepth = depth;
    QStringList rows;
    while (nextElement(xml, depth, levelDepth)) {
        if (xml.name() != QLatin1String("row"))
            continue;
        if (rows.size() >= Level::MaxHeight) {
            xml.raiseError(tr("the level has more than %1 rows").arg(Level::MaxHeight));
            return;
        }
        QString text;
        if (readFieldText(xml, &text))
            rows << text;
        --depth;
    }
    if (xml.hasError())
        return;
    QString reason;
    if (!Level::fromRows(rows, &m_level, &reason))
        xml.raiseError(tr("the level: %1").arg(reason));
    else
        m_hasLevel = true;
}

bool ProjectReader::parse(const QByteArray &data, TileStyle &style)
{
    m_level = Level::defaultLevel();
    m_hasLevel = false;
    if (const int line = findCrowdedElement(data)) {
        m_errorString =
            tr("line %1: an element has more than %2 attributes").arg(line).arg(MaxAttributes);
        return false;
    }
    QXmlStreamReader xml(data);
    bool found = false;
    int depth = 0;

    auto path = [this](QString text) { return text.replace(QLatin1String("$app$"), m_appDir); };
    auto readText = [&](auto store) {
        QString text;
        if (readFieldText(xml, &text))
            store(text);
        --depth; // the field's end tag has been read
    };
    auto readColor = [&](QColor &color) {
        readText([&](const QString &text) {
            QColor value;
            value.setNamedColor(text);
            color = value;
        });
    };
    // toFloat() gives 0 for text that is not a number, and that is the value
    // such a file opens with.
    auto readOpacity = [&](float &opacity) {
        readText([&](const QString &text) { opacity = text.toFloat(); });
    };
    auto readPattern = [&](QFileInfo &pattern) {
        readText([&](const QString &text) {
            pattern = text.isEmpty() ? QFileInfo() : QFileInfo(path(text));
        });
    };

    while (nextElement(xml, depth, 0)) {
        // QStringRef in Qt 5, QStringView in Qt 6: both compare with QLatin1String.
        const auto name = xml.name();
        if (name == QLatin1String("project"))
            found = true;
        else if (name == QLatin1String("topStyle"))
            readText([&](const QString &text) { style.topStyle = path(text); });
        else if (name == QLatin1String("topColor"))
            readColor(style.topColor);
        else if (name == QLatin1String("topOpacity"))
            readOpacity(style.topOpacity);
        else if (name == QLatin1String("topPattern"))
            readPattern(style.topPattern);
        else if (name == QLatin1String("topPatternColor"))
            readColor(style.topPatternColor);
        else if (name == QLatin1String("topPatternOpacity"))
            readOpacity(style.topPatternOpacity);
        else if (name == QLatin1String("bottomColor"))
            readColor(style.bottomColor);
        else if (name == QLatin1String("bottomOpacity"))
            readOpacity(style.bottomOpacity);
        else if (name == QLatin1String("bottomPattern"))
            readPattern(style.bottomPattern);
        else if (name == QLatin1String("bottomPatternColor"))
            readColor(style.bottomPatternColor);
        else if (name == QLatin1String("bottomPatternOpacity"))
            readOpacity(style.bottomPatternOpacity);
        else if (name == QLatin1String("bottomPatternColorOpacity"))
            readOpacity(style.bottomPatternColorOpacity);
        else if (name == QLatin1String("topDown"))
            readText([&](const QString &text) { style.topDown = text.toInt() == 1; });
        else if (name == QLatin1String("level"))
            readLevel(xml, depth);
    }

    if (xml.hasError()) {
        m_errorString = tr("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    if (!found) {
        m_errorString = tr("there is no <project> element");
        return false;
    }
    return true;
}
