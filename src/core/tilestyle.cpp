#include "tilestyle.h"

StylePart stylePartFromText(const QString &text)
{
    return text == QLatin1String("Top") ? StylePart::Top : StylePart::Bottom;
}

QString stylePartName(StylePart part)
{
    return part == StylePart::Top ? QStringLiteral("Top") : QStringLiteral("Bottom");
}

TileStyle::TileStyle()
{
    resetColoursAndOpacities();
}

void TileStyle::resetColoursAndOpacities()
{
    topColor = QColor(QStringLiteral("#80be1f"));
    topOpacity = 1.0f;
    bottomColor = QColor(QStringLiteral("#c39366"));
    bottomOpacity = 1.0f;
    topPatternColor = QColor(QStringLiteral("#80be1f"));
    topPatternOpacity = 0.4f;
    topPatternColorOpacity = 1.0f;
    bottomPatternColor = QColor(QStringLiteral("#c39366"));
    bottomPatternOpacity = 0.4f;
    bottomPatternColorOpacity = 1.0f;
    shade = 0.4f;
}

QString TileStyle::patternPath(const QFileInfo &pattern)
{
    if (pattern.fileName().isEmpty())
        return QString();
    return pattern.path() + QLatin1Char('/') + pattern.fileName();
}
