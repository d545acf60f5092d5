#pragma once

#include <QImage>
#include <QPolygonF>
#include <QVector>

// The plane geometry collision shapes are made with.
//
// Conventions: screen coordinates (y down); a polygon is a list of vertices
// without the first repeated at the end, and "clockwise" means clockwise on
// screen, which Godot's convex shapes need for their normals to point
// outward. The shoelace sum of a clockwise polygon is positive here.
namespace PolygonOperations {

// The outline of every 4-connected region of 'solid' (Format_Grayscale8;
// 0 is empty, anything else solid), along the pixel edges, clockwise, with
// no two consecutive edges in line. Holes are filled: nothing can reach
// them, and an outline with a hole is not one polygon in every target.
// Regions that touch only at a corner are separate.
QVector<QPolygonF> traceOutlines(const QImage &solid);

// Douglas-Peucker over the vertices and the edges' midpoints, so that a
// staircase of pixel steps becomes the straight line through its middle:
// every point of 'outline' stays within 'tolerance' of the result and the
// other way round. Vertices with pinned[i] set are kept exactly. The
// result may cross itself; check with isSimple().
QPolygonF simplify(const QPolygonF &outline, double tolerance, const QVector<bool> &pinned);

// Consecutive duplicate vertices and vertices in line with their
// neighbours removed.
QPolygonF withoutCollinear(const QPolygonF &polygon);

double signedArea(const QPolygonF &polygon);
// At least three vertices, an area, and no two edges that touch except
// neighbours at their shared vertex.
bool isSimple(const QPolygonF &polygon);
bool isConvex(const QPolygonF &polygon);
double distanceToSegment(const QPointF &point, const QPointF &a, const QPointF &b);

// A simple clockwise polygon as convex clockwise pieces that cover it
// exactly: ear-clipping triangles merged while they stay convex
// (Hertel-Mehlhorn), at most four times the fewest possible.
QVector<QPolygonF> convexPieces(const QPolygonF &polygon);

} // namespace PolygonOperations
