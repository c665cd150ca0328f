#pragma once

#include <QVector3D>

#include <algorithm>

// Axis-aligned box given by its minimum and maximum corners. No invariant min <= max is kept.
// The tests that every brush step makes per triangle are defined here, to be inlined.
class Aabb
{
public:
    Aabb() = default;
    Aabb(const QVector3D &min, const QVector3D &max)
        : min(min)
        , max(max)
    { }

    // The box that any point or box expanding it replaces: +infinity to -infinity.
    static Aabb empty();

    QVector3D computeCenter() const
    {
        return QVector3D(
            (min.x() + max.x()) * 0.5f, (min.y() + max.y()) * 0.5f, (min.z() + max.z()) * 0.5f);
    }
    // Half-open on each axis: min < p <= max.
    bool containsPoint(const QVector3D &p) const
    {
        return min.x() < p.x() && p.x() <= max.x() && min.y() < p.y() && p.y() <= max.y()
            && min.z() < p.z() && p.z() <= max.z();
    }
    // True when this box lies inside b, boundaries included.
    bool contains(const Aabb &b) const
    {
        return b.min.x() <= min.x() && b.min.y() <= min.y() && b.min.z() <= min.z()
            && max.x() <= b.max.x() && max.y() <= b.max.y() && max.z() <= b.max.z();
    }
    // True when the boxes are disjoint on some axis; touching boxes are not outside each other.
    bool isOutside(const Aabb &b) const
    {
        return b.min.x() > max.x() || b.min.y() > max.y() || b.min.z() > max.z()
            || min.x() > b.max.x() || min.y() > b.max.y() || min.z() > b.max.z();
    }
    void expandsWithPoint(const QVector3D &p);
    // Grows to hold b; a NaN coordinate of b is ignored.
    void expandsWithBox(const Aabb &b)
    {
        for (int k = 0; k < 3; ++k) {
            max[k] = std::max(max[k], b.max[k]);
            min[k] = std::min(min[k], b.min[k]);
        }
    }
    // Slab test of the closed box: a ray that only touches a face, an edge or a corner hits it,
    // and so does one parallel to an axis with its origin on a face (a zero direction component
    // is tested as the slab's interval, never divided by). The box is widened on every side by
    // rayAllowance times the largest coordinate of the box and the origin, so that rounding never
    // turns a touch into a miss. A NaN gives no hit.
    bool intersectRay(const QVector3D &origin, const QVector3D &direction) const;
    // Same test; on a hit, *entry receives the ray parameter where the ray enters the widened
    // box (tmin, negative when the origin is inside), never later than the entry into the box.
    bool intersectRay(const QVector3D &origin, const QVector3D &direction, float *entry) const;
    static constexpr float rayAllowance = 1e-5f;
    // A sphere that only touches the box is no hit.
    bool intersectSphere(const QVector3D &center, float radiusSquared) const;
    // On each axis of zero extent: min -= d, max += d.
    void enlargeIfFlat(float d);

    bool operator==(const Aabb &other) const { return min == other.min && max == other.max; }

    QVector3D min;
    QVector3D max;
};
