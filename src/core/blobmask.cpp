#include "blobmask.h"

#include <QFileInfo>
#include <QRegularExpression>

int BlobMask::canonical(int raw)
{
    int mask = raw & 0xff;
    // Each corner with the two edges it needs.
    static const int corners[4][3] = {{NE, N, E}, {SE, S, E}, {SW, S, W}, {NW, N, W}};
    for (const auto &c : corners) {
        if ((mask & c[1]) == 0 || (mask & c[2]) == 0)
            mask &= ~c[0];
    }
    return mask;
}

bool BlobMask::isCanonical(int mask)
{
    return mask >= 0 && mask <= 0xff && canonical(mask) == mask;
}

const QVector<int> &BlobMask::all()
{
    static const QVector<int> masks = [] {
        QVector<int> list;
        for (int raw = 0; raw < 256; ++raw) {
            if (isCanonical(raw))
                list.append(raw);
        }
        return list;
    }();
    return masks;
}

int BlobMask::fromFileName(const QString &fileName)
{
    // [0-9] rather than \d: \d also matches other scripts' digits, which
    // toInt() would not read as the same number.
    static const QRegularExpression pattern(QStringLiteral("^blob_([0-9]{3})(_notop)?\\.png$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QFileInfo(fileName).fileName());
    if (!match.hasMatch())
        return None;
    const int mask = match.captured(1).toInt();
    return isCanonical(mask) ? mask : None;
}

QString BlobMask::fileName(int mask)
{
    return QStringLiteral("blob_%1%2.png")
        .arg(mask, 3, 10, QLatin1Char('0'))
        .arg((mask & N) ? QStringLiteral("_notop") : QString());
}

int BlobMask::bit(Direction direction)
{
    switch (direction) {
    case Direction::Top:
        return N;
    case Direction::TopRight:
        return NE;
    case Direction::Right:
        return E;
    case Direction::BottomRight:
        return SE;
    case Direction::Bottom:
        return S;
    case Direction::BottomLeft:
        return SW;
    case Direction::Left:
        return W;
    case Direction::TopLeft:
        return NW;
    }
    return 0;
}

std::array<bool, BlobMask::DirectionCount> BlobMask::solidDirections(int mask)
{
    std::array<bool, DirectionCount> solid{};
    for (int i = 0; i < DirectionCount; ++i)
        solid[size_t(i)] = isSolid(mask, Direction(i));
    return solid;
}
