#pragma once

#include "mesh/Aabb.h"

#include <QMatrix4x4>
#include <QPointF>
#include <QVector3D>

#include <algorithm>
#include <array>

namespace Geometry {

// The matrices and viewport that a frame was drawn with, in double precision, column-major like
// OpenGL. The camera fills it with the very matrices it loads into OpenGL.
struct ScreenTransform
{
    std::array<double, 16> modelView {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::array<double, 16> projection {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::array<int, 4> viewport {0, 0, 1, 1};

    static ScreenTransform fromMatrices(const QMatrix4x4 &modelView, const QMatrix4x4 &projection,
        const std::array<int, 4> &viewport);
};

// The vector scaled to unit length, or the zero vector when it has no direction (null, NaN or
// infinite). Unlike QVector3D::normalized, which gives the zero vector for anything shorter than
// 1e-5, the result does not depend on the vector's length: the same for a triangle's cross product
// in millimetres as in kilometres. Equal to QVector3D::normalized wherever that one is not null.
QVector3D unitVector(const QVector3D &v);
// Unit normal of the triangle a b c (counter-clockwise seen from where it points), whatever the
// triangle's size; the zero vector only for a triangle without area.
QVector3D triangleNormal(const QVector3D &a, const QVector3D &b, const QVector3D &c);

float distanceSquaredToSegment(const QVector3D &p, const QVector3D &a, const QVector3D &b);
bool sphereTouchesEdges(const QVector3D &p, float radiusSquared, const QVector3D &a,
    const QVector3D &b, const QVector3D &c);
QVector3D projectOnLine(const QVector3D &p, const QVector3D &a, const QVector3D &b);
// Crossing of the segment p1-p2 with the triangle v1 v2 v3 of normal n; the crossing point goes
// to intersection whenever the segment crosses the plane. A crossing on an edge or a corner is a
// hit, and so is one outside an edge by less than edgeAllowance times the size of the segment's
// start and of its distance to the crossing (rounding), so a segment through a vertex or along
// an edge that several triangles share is found in at least one of them.
constexpr float edgeAllowance = 1e-6f;
bool intersectionSegmentTriangle(const QVector3D &p1, const QVector3D &p2, const QVector3D &v1,
    const QVector3D &v2, const QVector3D &v3, const QVector3D &n, QVector3D &intersection);
bool pointInTriangle(
    const QVector3D &p, const QVector3D &a, const QVector3D &b, const QVector3D &c);
// Inline: every brush step computes it for each triangle it touches.
inline Aabb triangleBox(const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    return Aabb(QVector3D(std::min({a.x(), b.x(), c.x()}), std::min({a.y(), b.y(), c.y()}),
                    std::min({a.z(), b.z(), c.z()})),
        QVector3D(std::max({a.x(), b.x(), c.x()}), std::max({a.y(), b.y(), c.y()}),
            std::max({a.z(), b.z(), c.z()})));
}

// Pixel positions have their origin at the top left of the view, y downwards; height is the
// view height in pixels used to flip y against the window's y.
bool project(const QVector3D &world, const ScreenTransform &t, double window[3]);
bool unProject(double winX, double winY, double winZ, const ScreenTransform &t, double world[3]);

QPointF worldToScreen(
    const QVector3D &world, const ScreenTransform &t, double width, double height, double &depth);
QVector3D screenToWorld(
    const QPointF &pixel, const ScreenTransform &t, double width, double height, float depth);
void mouseRay(const QPointF &pixel, const ScreenTransform &t, double width, double height,
    QVector3D &nearPoint, QVector3D &farPoint);
QVector3D screenDirection(
    const QPointF &from, const QPointF &to, const ScreenTransform &t, double width, double height);

} // namespace Geometry
