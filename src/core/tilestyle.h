#pragma once

#include <QColor>
#include <QFileInfo>
#include <QString>

// The two parts of a design that the editor switches between.
enum class StylePart
{
    Top,
    Bottom
};

// "Top" selects the top part; any other text selects the bottom part.
StylePart stylePartFromText(const QString &text);
QString stylePartName(StylePart part);

// The one design being edited: a top shape plus colour, pattern and
// opacities for each part.
struct TileStyle
{
    QString topStyle; // full path of the top-shape PNG, empty for none

    QColor topColor;
    QColor bottomColor;
    QColor topPatternColor;
    QColor bottomPatternColor;
    float topOpacity = 1.0f;
    float topPatternOpacity = 0.4f;
    float shade = 0.4f; // fixed strength of the top's shadow; not stored
    float topPatternColorOpacity = 1.0f;
    float bottomOpacity = 1.0f;
    float bottomPatternOpacity = 0.4f;
    float bottomPatternColorOpacity = 1.0f;
    QFileInfo topPattern; // empty file name: no pattern
    QFileInfo bottomPattern;
    bool topDown = false;

    TileStyle();

    // Colours and opacities back to their defaults; topStyle, the patterns
    // and topDown are left alone (the window handles topDown through its
    // check box).
    void resetColoursAndOpacities();

    QColor &color(StylePart part) { return part == StylePart::Top ? topColor : bottomColor; }
    QColor &patternColor(StylePart part)
    {
        return part == StylePart::Top ? topPatternColor : bottomPatternColor;
    }
    float &opacity(StylePart part) { return part == StylePart::Top ? topOpacity : bottomOpacity; }
    float &patternOpacity(StylePart part)
    {
        return part == StylePart::Top ? topPatternOpacity : bottomPatternOpacity;
    }
    float &patternColorOpacity(StylePart part)
    {
        return part == StylePart::Top ? topPatternColorOpacity : bottomPatternColorOpacity;
    }
    QFileInfo &pattern(StylePart part)
    {
        return part == StylePart::Top ? topPattern : bottomPattern;
    }

    const QColor &color(StylePart part) const { return const_cast<TileStyle *>(this)->color(part); }
    const QColor &patternColor(StylePart part) const
    {
        return const_cast<TileStyle *>(this)->patternColor(part);
    }
    float opacity(StylePart part) const { return const_cast<TileStyle *>(this)->opacity(part); }
    float patternOpacity(StylePart part) const
    {
        return const_cast<TileStyle *>(this)->patternOpacity(part);
    }
    float patternColorOpacity(StylePart part) const
    {
        return const_cast<TileStyle *>(this)->patternColorOpacity(part);
    }
    const QFileInfo &pattern(StylePart part) const
    {
        return const_cast<TileStyle *>(this)->pattern(part);
    }

    // Full path of a pattern as the rest of the program forms it, or an
    // empty string when the part has none.
    static QString patternPath(const QFileInfo &pattern);
};
