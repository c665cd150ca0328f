#include "Aabb.h"

#include <algorithm>
#include <cmath>
#include <limits>

Aabb Aabb::empty()
{
    const float inf = std::numeric_limits<float>::infinity();
    return Aabb(QVector3D(inf, inf, inf), QVector3D(-inf, -inf, -inf));
}

void Aabb::expandsWithPoint(const QVector3D &p)
{
    for (int k = 0; k < 3; ++k) {
        if (p[k] > max[k])
            max[k] = p[k];
        if (p[k] < min[k])
            min[k] = p[k];
    }
}

bool Aabb::intersectRay(const QVector3D &origin, const QVector3D &direction) const
{
    float entry;
    return intersectRay(origin, direction, &entry);
}

bool Aabb::intersectRay(const QVector3D &origin, const QVector3D &direction, float *entry) const
{
    // The box is closed, and widened by a rounding allowance: what lies in the box is tested
    // exactly afterwards (a segment-triangle crossing), and a crossing at a vertex, along an edge
    // or on a face of the box must not be lost because the slab parameters, computed in floats
    // from a normalised direction, put the entry a few float steps beyond the exit. The allowance
    // follows the size of the coordinates involved, so it means the same in any units.
    float scale = 0.0f;
    for (int k = 0; k < 3; ++k)
        scale = std::max({scale, std::abs(origin[k]), std::abs(min[k]), std::abs(max[k])});
    const float slack = rayAllowance * scale;
    float tmin = -std::numeric_limits<float>::infinity();
    float tmax = std::numeric_limits<float>::infinity();
    for (int k = 0; k < 3; ++k) {
        const float low = min[k] - slack;
        const float high = max[k] + slack;
        if (direction[k] == 0.0f) {
            // Parallel to the slab: inside it for the whole ray or never (no 0/0 here).
            if (!(low <= origin[k] && origin[k] <= high))
                return false;
            continue;
        }
        const float t1 = (low - origin[k]) / direction[k];
        const float t2 = (high - origin[k]) / direction[k];
        if (std::isnan(t1) || std::isnan(t2))
            return false;
        tmin = std::max(tmin, std::min(t1, t2));
        tmax = std::min(tmax, std::max(t1, t2));
    }
    if (!(tmax >= 0.0f && tmin <= tmax))
        return false;
    *entry = tmin;
    return true;
}

bool Aabb::intersectSphere(const QVector3D &center, float radiusSquared) const
{
    QVector3D clamped;
    for (int k = 0; k < 3; ++k)
        clamped[k] = std::max(min[k], std::min(max[k], center[k]));
    return radiusSquared > (center - clamped).lengthSquared();
}

void Aabb::enlargeIfFlat(float d)
{
    for (int k = 0; k < 3; ++k) {
        if (min[k] == max[k]) {
            min[k] -= d;
            max[k] += d;
        }
    }
}
