#pragma once

#include <QPointF>
#include <QVector3D>

namespace Geometry {

// Pixel position (origin top left, y downwards) in a view of width x height pixels, mapped to
// -1..1 from left to right and from bottom to top. A view without area maps everything to (0, 0).
QPointF normalizedMouse(const QPointF &pixel, double width, double height);

// Lifts a normalized position onto the unit sphere facing the viewer; points outside the unit
// circle land on the sphere's equator.
QVector3D mouseOnSphere(const QPointF &normalized);

} // namespace Geometry
