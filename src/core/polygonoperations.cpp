#include "polygonoperations.h"

#include <QLineF>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// Coordinates are pixel positions of at most a few thousand; anything this
// close to zero is rounding.
constexpr double Epsilon = 1e-9;

double cross(const QPointF &a, const QPointF &b, const QPointF &c)
{
    return (b.x() - a.x()) * (c.y() - b.y()) - (b.y() - a.y()) * (c.x() - b.x());
}

double orientation(const QPointF &a, const QPointF &b, const QPointF &c)
{
    return (b.x() - a.x()) * (c.y() - a.y()) - (b.y() - a.y()) * (c.x() - a.x());
}

bool onSegment(const QPointF &p, const QPointF &a, const QPointF &b)
{
    return p.x() >= std::min(a.x(), b.x()) - Epsilon && p.x() <= std::max(a.x(), b.x()) + Epsilon &&
           p.y() >= std::min(a.y(), b.y()) - Epsilon && p.y() <= std::max(a.y(), b.y()) + Epsilon;
}

// Closed segments: touching counts.
bool segmentsMeet(const QPointF &a, const QPointF &b, const QPointF &c, const QPointF &d)
{
    const double o1 = orientation(a, b, c), o2 = orientation(a, b, d);
    const double o3 = orientation(c, d, a), o4 = orientation(c, d, b);
    auto sign = [](double v) { return v > Epsilon ? 1 : v < -Epsilon ? -1 : 0; };
    if (sign(o1) * sign(o2) < 0 && sign(o3) * sign(o4) < 0)
        return true;
    return (sign(o1) == 0 && onSegment(c, a, b)) || (sign(o2) == 0 && onSegment(d, a, b)) ||
           (sign(o3) == 0 && onSegment(a, c, d)) || (sign(o4) == 0 && onSegment(b, c, d));
}

// Inside or on the border of the clockwise triangle abc.
bool inTriangle(const QPointF &p, const QPointF &a, const QPointF &b, const QPointF &c)
{
    return orientation(a, b, p) >= -Epsilon && orientation(b, c, p) >= -Epsilon &&
           orientation(c, a, p) >= -Epsilon;
}

} // namespace

namespace PolygonOperations {

QVector<QPolygonF> traceOutlines(const QImage &solid)
{
    QVector<QPolygonF> outlines;
    if (solid.isNull())
        return outlines;
    const QImage grey = solid.format() == QImage::Format_Grayscale8
                            ? solid
                            : solid.convertToFormat(QImage::Format_Grayscale8);
    // One empty pixel of padding all round, so that the background is one
    // region that reaches around every solid one.
    const int w = grey.width() + 2, h = grey.height() + 2;
    constexpr int Unlabelled = 0, Background = -1;
    std::vector<int> label(size_t(w) * size_t(h), Unlabelled);
    auto isSolid = [&](int x, int y) {
        return x >= 1 && y >= 1 && x < w - 1 && y < h - 1 && grey.constScanLine(y - 1)[x - 1] != 0;
    };
    const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1}; // east, south, west, north
    std::vector<int> stack;
    auto flood = [&](int start, int id, bool background) {
        label[size_t(start)] = id;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            for (int d = 0; d < 4; ++d) {
                const int x = i % w + dx[d], y = i / w + dy[d];
                if (x < 0 || y < 0 || x >= w || y >= h || label[size_t(y * w + x)] != Unlabelled)
                    continue;
                // The background spreads over empty pixels; a region over
                // whatever the background left, holes included.
                if (background && isSolid(x, y))
                    continue;
                label[size_t(y * w + x)] = id;
                stack.push_back(y * w + x);
            }
        }
    };
    // Whatever the background does not reach is solid or a hole, both of
    // which the region around them takes in.
    flood(0, Background, true);

    for (int start = 0; start < w * h; ++start) {
        if (label[size_t(start)] != Unlabelled)
            continue;
        const int id = outlines.size() + 1;
        flood(start, id, false);
        auto in = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < w && y < h && label[size_t(y * w + x)] == id;
        };
        // The region's first pixel in reading order has nothing of its own
        // above or to its left, so its top-left corner is a convex corner
        // where the walk turns east. With the region on the right and holes
        // filled, no vertex has two ways on.
        const int sx = start % w, sy = start / w;
        const int rightX[4] = {0, -1, -1, 0}, rightY[4] = {0, 0, -1, -1};
        const int leftX[4] = {0, 0, -1, -1}, leftY[4] = {-1, 0, 0, -1};
        QPolygonF outline;
        outline << QPointF(sx - 1, sy - 1);
        int x = sx, y = sy, d = 0;
        for (;;) {
            x += dx[d];
            y += dy[d];
            int next = (d + 1) % 4; // right
            if (in(x + leftX[d], y + leftY[d]))
                next = (d + 3) % 4; // left
            else if (in(x + rightX[d], y + rightY[d]))
                next = d;
            if (x == sx && y == sy)
                break;
            if (next != d)
                outline << QPointF(x - 1, y - 1);
            d = next;
        }
        outlines << outline;
    }
    return outlines;
}

QPolygonF simplify(const QPolygonF &outline, double tolerance, const QVector<bool> &pinned)
{
    const int n = outline.size();
    if (n < 4)
        return outline;
    // Vertex i at 2i, the midpoint of the edge after it at 2i + 1. A vertex
    // that the line between its edges' midpoints passes within the
    // tolerance (a pixel step) may be cut off, and is then no place to
    // split at; every other point is.
    const int m = 2 * n;
    QVector<QPointF> points(m);
    for (int i = 0; i < n; ++i) {
        points[2 * i] = outline[i];
        points[2 * i + 1] = (outline[i] + outline[(i + 1) % n]) / 2;
    }
    QVector<bool> keep(m, false), splittable(m, true);
    for (int i = 0; i < n; ++i) {
        keep[2 * i] = pinned.value(i, false);
        splittable[2 * i] =
            keep[2 * i] || distanceToSegment(points[2 * i], points[(2 * i + m - 1) % m],
                                             points[2 * i + 1]) > tolerance;
    }
    QVector<int> anchors;
    for (int i = 0; i < m; ++i) {
        if (keep[i])
            anchors << i;
    }
    // A closed outline needs two fixed points to split it into open runs.
    if (anchors.size() < 2) {
        const int first = anchors.isEmpty() ? int(splittable.indexOf(true)) : anchors.first();
        int far = first;
        double farthest = -1;
        for (int i = 0; i < m; ++i) {
            const double d = QLineF(points[first], points[i]).length();
            if (splittable[i] && d > farthest) {
                farthest = d;
                far = i;
            }
        }
        keep[first] = keep[far] = true;
        anchors = {std::min(first, far), std::max(first, far)};
    }
    std::vector<std::pair<int, int>> runs;
    for (int i = 0; i < anchors.size(); ++i)
        runs.emplace_back(anchors[i], anchors[(i + 1) % anchors.size()]);
    while (!runs.empty()) {
        const auto [a, b] = runs.back();
        runs.pop_back();
        const int length = (b - a + m) % m;
        int worst = -1;
        double worstDistance = tolerance;
        for (int k = 1; k < length; ++k) {
            const int i = (a + k) % m;
            const double d = distanceToSegment(points[i], points[a], points[b]);
            if (d > worstDistance) {
                worstDistance = d;
                worst = i;
            }
        }
        if (worst < 0)
            continue;
        // A step's corner too far from the chord: split beside it instead,
        // at the midpoint farther from the chord.
        if (!splittable[worst]) {
            const int offset = (worst - a + m) % m;
            const int before = (worst + m - 1) % m, after = (worst + 1) % m;
            const bool beforeInside = offset - 1 > 0, afterInside = offset + 1 < length;
            if (beforeInside &&
                (!afterInside || distanceToSegment(points[before], points[a], points[b]) >=
                                     distanceToSegment(points[after], points[a], points[b])))
                worst = before;
            else if (afterInside)
                worst = after;
        }
        keep[worst] = true;
        runs.emplace_back(a, worst);
        runs.emplace_back(worst, b);
    }
    QPolygonF result;
    for (int i = 0; i < m; ++i) {
        if (keep[i])
            result << points[i];
    }
    return withoutCollinear(result);
}

QPolygonF withoutCollinear(const QPolygonF &polygon)
{
    QPolygonF result = polygon;
    bool changed = true;
    while (changed && result.size() >= 3) {
        changed = false;
        for (int i = 0; i < result.size() && result.size() >= 3; ++i) {
            const int n = result.size();
            const QPointF &prev = result[(i + n - 1) % n];
            const QPointF &next = result[(i + 1) % n];
            if (std::abs(cross(prev, result[i], next)) <= Epsilon) {
                result.remove(i);
                changed = true;
                --i;
            }
        }
    }
    return result;
}

double signedArea(const QPolygonF &polygon)
{
    double sum = 0;
    for (int i = 0; i < polygon.size(); ++i) {
        const QPointF &a = polygon[i];
        const QPointF &b = polygon[(i + 1) % polygon.size()];
        sum += a.x() * b.y() - b.x() * a.y();
    }
    return sum / 2;
}

bool isSimple(const QPolygonF &polygon)
{
    const int n = polygon.size();
    if (n < 3 || std::abs(signedArea(polygon)) <= Epsilon)
        return false;
    for (int i = 0; i < n; ++i) {
        const QPointF &a = polygon[i], &b = polygon[(i + 1) % n];
        if (QLineF(a, b).length() <= Epsilon)
            return false;
        // Neighbours share a vertex; they must not fold back onto each other.
        const QPointF &c = polygon[(i + 2) % n];
        if (std::abs(cross(a, b, c)) <= Epsilon &&
            (c.x() - b.x()) * (b.x() - a.x()) + (c.y() - b.y()) * (b.y() - a.y()) < 0)
            return false;
        for (int j = i + 2; j < n; ++j) {
            if (i == 0 && j == n - 1)
                continue;
            if (segmentsMeet(a, b, polygon[j], polygon[(j + 1) % n]))
                return false;
        }
    }
    return true;
}

bool isConvex(const QPolygonF &polygon)
{
    const int n = polygon.size();
    if (n < 3)
        return false;
    const double sign = signedArea(polygon) >= 0 ? 1 : -1;
    for (int i = 0; i < n; ++i) {
        if (sign * cross(polygon[(i + n - 1) % n], polygon[i], polygon[(i + 1) % n]) < -Epsilon)
            return false;
    }
    return true;
}

double distanceToSegment(const QPointF &point, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = lengthSquared > 0 ? QPointF::dotProduct(point - a, ab) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    return QLineF(point, a + t * ab).length();
}

QVector<QPolygonF> convexPieces(const QPolygonF &polygon)
{
    const QPolygonF outline = withoutCollinear(polygon);
    const int n = outline.size();
    if (n < 3)
        return {};
    if (isConvex(outline))
        return {outline};

    // Ear clipping, by vertex index so that the merge below can find the
    // diagonals two pieces share.
    QVector<QVector<int>> pieces;
    QVector<int> left(n);
    for (int i = 0; i < n; ++i)
        left[i] = i;
    // Of all ears, the one whose smallest angle is largest: the pieces
    // merged from such triangles are stout, not slivers fanning out of one
    // vertex.
    auto smallestAngle = [&](int a, int b, int c) {
        double smallest = M_PI;
        const int corner[3][3] = {{a, b, c}, {b, c, a}, {c, a, b}};
        for (const auto &k : corner) {
            const QPointF u = outline[k[0]] - outline[k[1]], v = outline[k[2]] - outline[k[1]];
            smallest = std::min(smallest, std::abs(std::atan2(u.x() * v.y() - u.y() * v.x(),
                                                              QPointF::dotProduct(u, v))));
        }
        return smallest;
    };
    while (left.size() > 3) {
        const int k = left.size();
        int best = -1;
        double bestAngle = -1;
        for (int i = 0; i < k; ++i) {
            const int a = left[(i + k - 1) % k], b = left[i], c = left[(i + 1) % k];
            if (cross(outline[a], outline[b], outline[c]) <= Epsilon)
                continue; // reflex or flat: not an ear
            bool empty = true;
            for (int j : left) {
                if (j != a && j != b && j != c && outline[j] != outline[a] &&
                    outline[j] != outline[b] && outline[j] != outline[c] &&
                    inTriangle(outline[j], outline[a], outline[b], outline[c])) {
                    empty = false;
                    break;
                }
            }
            const double angle = empty ? smallestAngle(a, b, c) : -1;
            if (angle > bestAngle) {
                bestAngle = angle;
                best = i;
            }
        }
        if (best < 0) {
            // Only a polygon that is not simple has no ear; give it back
            // whole rather than lose part of it.
            return {outline};
        }
        pieces.append({left[(best + k - 1) % k], left[best], left[(best + 1) % k]});
        left.remove(best);
    }
    pieces.append(left);

    auto merged = [&](const QVector<int> &p, const QVector<int> &q, int u, int v) {
        // p runs ... u, v ...; q runs ... v, u .... Walk p from v round to
        // u, then q from u round to v.
        QVector<int> result;
        const int pv = p.indexOf(v), qu = q.indexOf(u);
        for (int k = 0; k < p.size() - 1; ++k)
            result << p[(pv + k) % p.size()];
        for (int k = 0; k < q.size() - 1; ++k)
            result << q[(qu + k) % q.size()];
        return result;
    };
    auto toPolygon = [&](const QVector<int> &indices) {
        QPolygonF piece;
        for (int i : indices)
            piece << outline[i];
        return piece;
    };
    bool mergedAny = true;
    while (mergedAny) {
        mergedAny = false;
        for (int a = 0; !mergedAny && a < pieces.size(); ++a) {
            const QVector<int> &p = pieces[a];
            for (int e = 0; !mergedAny && e < p.size(); ++e) {
                const int u = p[e], v = p[(e + 1) % p.size()];
                for (int b = 0; !mergedAny && b < pieces.size(); ++b) {
                    const QVector<int> &q = pieces[b];
                    const int qv = q.indexOf(v);
                    if (b == a || qv < 0 || q[(qv + 1) % q.size()] != u)
                        continue;
                    const QVector<int> joined = merged(p, q, u, v);
                    if (!isConvex(toPolygon(joined)))
                        continue;
                    pieces[a] = joined;
                    pieces.remove(b);
                    mergedAny = true;
                }
            }
        }
    }
    QVector<QPolygonF> result;
    for (const QVector<int> &piece : pieces)
        result << withoutCollinear(toPolygon(piece));
    return result;
}

} // namespace PolygonOperations
