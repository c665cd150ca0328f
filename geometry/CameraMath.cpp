#include "CameraMath.h"

#include <cmath>

namespace Geometry {

QPointF normalizedMouse(const QPointF &pixel, double width, double height)
{
    if (!(width > 0.0) || !(height > 0.0))
        return QPointF(0.0, 0.0);
    return QPointF(2.0 * pixel.x() / width - 1.0, 1.0 - 2.0 * pixel.y() / height);
}

QVector3D mouseOnSphere(const QPointF &normalized)
{
    const double x = normalized.x();
    const double y = normalized.y();
    const double zSquared = 1.0 - x * x - y * y;
    const double z = zSquared > 0.0 ? std::sqrt(zSquared) : 0.0;
    return QVector3D(float(x), float(y), float(z)).normalized();
}

} // namespace Geometry
