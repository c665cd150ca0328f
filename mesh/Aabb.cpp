#include "Aabb.h"

#include <algorithm>
#include <limits>

void Aabb::expandsWithPoint(const QVector3D &p)
{
    for (int k = 0; k < 3; ++k) {
        if (p[k] > max[k])
            max[k] = p[k];
        if (p[k] < min[k])
            min[k] = p[k];
    }
}

void Aabb::expandsWithBox(const Aabb &b)
{
    for (int k = 0; k < 3; ++k) {
        max[k] = std::max(max[k], b.max[k]);
        min[k] = std::min(min[k], b.min[k]);
    }
}

bool Aabb::intersectRay(const QVector3D &origin, const QVector3D &direction) const
{
    float entry;
    return intersectRay(origin, direction, &entry);
}

bool Aabb::intersectRay(const QVector3D &origin, const QVector3D &direction, float *entry) const
{
    float tmin = -std::numeric_limits<float>::infinity();
    float tmax = std::numeric_limits<float>::infinity();
    for (int k = 0; k < 3; ++k) {
        const float t1 = (min[k] - origin[k]) / direction[k];
        const float t2 = (max[k] - origin[k]) / direction[k];
        const float lo = std::min(t1, t2);
        const float hi = std::max(t1, t2);
        // Written so that a NaN poisons the result rather than being skipped.
        tmin = (k == 0) ? lo : std::max(tmin, lo);
        tmax = (k == 0) ? hi : std::min(tmax, hi);
        if (lo != lo || hi != hi)
            return false;
    }
    *entry = tmin;
    return tmax >= 0.0f && tmax > tmin;
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
