// The deformations of one brush step and the smoothing operations the topology reuses.
#include "Sculptor.h"

#include "geometry/Geometry.h"
#include "geometry/LengthFour.h"
#include "mesh/Mask.h"
#include "mesh/Mesh.h"
#include "mesh/Parallel.h"

#include <algorithm>
#include <cmath>

namespace {

bool isInner(const Vertex &v)
{
    return v.ringIndices.size() == v.triangleIndices.size();
}

// Average position of a vertex's ring. A border vertex is averaged with its border neighbours
// only; with nothing to average (no ring, or a border vertex without border neighbour) the
// vertex stays where it is.
QVector3D ringAverage(const std::vector<Vertex> &vertices, const Vertex &v)
{
    const bool inner = isInner(v);
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    int count = 0;
    for (int j : v.ringIndices) {
        const Vertex &w = vertices[j];
        if (!inner && isInner(w))
            continue;
        x += w.position.x();
        y += w.position.y();
        z += w.position.z();
        ++count;
    }
    return count > 0 ? QVector3D(x / count, y / count, z / count) : v.position;
}

// Sum of one vector field (position or normal) over the listed vertices, in two halves (the
// first one the longer when the count is odd), each summed in list order, then added to zero
// in order. Long lists have their halves summed by two threads at once: the result does not
// depend on the threads.
QVector3D parallelSum(
    const std::vector<Vertex> &vertices, const std::vector<int> &list, QVector3D Vertex::*field)
{
    const int n = static_cast<int>(list.size());
    const int half = n - n / 2;
    float partial[2][3] = {};
    forEachIndex(2, n > parallelMinimum, [&](int part) {
        float x = 0.0f;
        float y = 0.0f;
        float z = 0.0f;
        const int end = part == 0 ? half : n;
        for (int k = part == 0 ? 0 : half; k < end; ++k) {
            const QVector3D &value = vertices[list[k]].*field;
            x += value.x();
            y += value.y();
            z += value.z();
        }
        partial[part][0] = x;
        partial[part][1] = y;
        partial[part][2] = z;
    });
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    for (const auto &p : partial) {
        x += p[0];
        y += p[1];
        z += p[2];
    }
    return QVector3D(x, y, z);
}

} // namespace

template<typename Apply>
void Sculptor::forEachFalloff(
    const std::vector<int> &list, const QVector3D &c, float r, const Apply &apply)
{
    const std::vector<Vertex> &vertices = mesh->getVertices();
    const int n = static_cast<int>(list.size());
#if defined(__SSE2__)
    // Four at a time, with the operations of (p - c).length() / r and falloff in the same order,
    // lane by lane: the same bits as one vertex alone. The last block repeats its last vertex.
    const int blocks = (n + 3) / 4;
    const __m128 centre[3] = {_mm_set1_ps(c.x()), _mm_set1_ps(c.y()), _mm_set1_ps(c.z())};
    const __m128 radius = _mm_set1_ps(r);
    forEachIndex(blocks, n > parallelMinimum, [&](int block) {
        const int first = block * 4;
        const int size = std::min(4, n - first);
        __m128 rows[4];
        for (int j = 0; j < 4; ++j) {
            const QVector3D &p = vertices[list[first + std::min(j, size - 1)]].position;
            rows[j] = _mm_setr_ps(p.x(), p.y(), p.z(), 0.0f);
        }
        _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
        const __m128 t =
            _mm_div_ps(Geometry::lengthFour(_mm_sub_ps(rows[0], centre[0]),
                           _mm_sub_ps(rows[1], centre[1]), _mm_sub_ps(rows[2], centre[2])),
                radius);
        // 3 * t * t * t * t - 4 * t * t * t + 1, from left to right.
        const __m128 quartic =
            _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(3.0f), t), t), t), t);
        const __m128 cubic = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(4.0f), t), t), t);
        alignas(16) float f[4];
        _mm_store_ps(f, _mm_add_ps(_mm_sub_ps(quartic, cubic), _mm_set1_ps(1.0f)));
        for (int j = 0; j < size; ++j)
            apply(first + j, f[j]);
    });
#else
    forEachIndex(
        n, [&](int k) { apply(k, falloff((vertices[list[k]].position - c).length() / r)); });
#endif
}

void Sculptor::computeFalloffs(const std::vector<int> &list, const QVector3D &c, float r)
{
    falloffs.resize(list.size());
    forEachFalloff(list, c, r, [this](int k, float f) { falloffs[k] = f; });
}

void Sculptor::laplacianSmooth(const std::vector<int> &list, std::vector<QVector3D> &out)
{
    const int n = static_cast<int>(list.size());
    out.resize(list.size());
    if (!mesh)
        return;
    const std::vector<Vertex> &vertices = mesh->getVertices();
    forEachIndex(n, [&](int k) { out[k] = ringAverage(vertices, vertices[list[k]]); });
}

void Sculptor::inflate(const std::vector<int> &list, float radiusSquared, float strength)
{
    if (!mesh || !(radiusSquared > 0.0f))
        return;
    const float r = std::sqrt(radiusSquared);
    float d = strength * r * 0.1f;
    if (topoMode == ADAPTIVE) {
        const float s = std::sqrt(d2Move);
        if (s <= d)
            d = s;
    }
    if ((tool == DEFLATE) != invert)
        d = -d;
    std::vector<Vertex> &vertices = mesh->getVertices();
    forEachFalloff(list, center, r, [&](int k, float f) {
        Vertex &v = vertices[list[k]];
        Mask::move(v, (v.normal * d) * f);
    });
}

void Sculptor::smooth(const std::vector<int> &list, float strength)
{
    if (!mesh)
        return;
    std::vector<QVector3D> smoothed;
    laplacianSmooth(list, smoothed);
    std::vector<Vertex> &vertices = mesh->getVertices();
    const int n = static_cast<int>(list.size());
    if (topoMode != ADAPTIVE) {
        forEachIndex(n, [&](int k) {
            Vertex &v = vertices[list[k]];
            Mask::move(v, (smoothed[k] - v.position) * strength);
        });
        return;
    }
    const float limit = d2Move;
    const float s = std::sqrt(d2Move);
    forEachIndex(n, [&](int k) {
        Vertex &v = vertices[list[k]];
        QVector3D m = (smoothed[k] - v.position) * strength;
        const float l2 = m.lengthSquared();
        if (l2 > limit || std::isnan(l2))
            m = Geometry::unitVector(m) * s;
        Mask::move(v, m);
    });
}

void Sculptor::smoothFlat(const std::vector<int> &list, float strength)
{
    if (!mesh)
        return;
    std::vector<QVector3D> smoothed;
    laplacianSmooth(list, smoothed);
    std::vector<Vertex> &vertices = mesh->getVertices();
    const int n = static_cast<int>(list.size());
    forEachIndex(n, [&](int k) {
        Vertex &v = vertices[list[k]];
        const QVector3D &p = v.position;
        const QVector3D &normal = v.normal;
        QVector3D q = smoothed[k];
        q -= normal * QVector3D::dotProduct(normal, q - p);
        Mask::move(v, (q - p) * strength);
    });
}

void Sculptor::smoothNoLimit(const std::vector<int> &list, bool tangential)
{
    if (!mesh)
        return;
    std::vector<Vertex> &vertices = mesh->getVertices();
    const std::size_t n = list.size();
    std::vector<QVector3D> averages(n);
    for (std::size_t k = 0; k < n; ++k)
        averages[k] = ringAverage(vertices, vertices[list[k]]);
    for (std::size_t k = 0; k < n; ++k) {
        Vertex &v = vertices[list[k]];
        QVector3D q = averages[k];
        if (tangential)
            q -= v.normal * QVector3D::dotProduct(v.normal, q - v.position);
        v.setPosition(q);
    }
}

QVector3D Sculptor::areaNormal(const std::vector<int> &list)
{
    if (!mesh)
        return QVector3D();
    return parallelSum(mesh->getVertices(), list, &Vertex::normal).normalized();
}

QVector3D Sculptor::areaCenter(const std::vector<int> &list)
{
    if (!mesh || list.empty())
        return QVector3D();
    const int n = static_cast<int>(list.size());
    return parallelSum(mesh->getVertices(), list, &Vertex::position) / float(n);
}

void Sculptor::flatten(const std::vector<int> &list, float radiusSquared, float strength)
{
    if (!mesh || !(radiusSquared > 0.0f))
        return;
    const QVector3D normal = areaNormal(list).normalized();
    const QVector3D plane = areaCenter(list);
    if (normal.lengthSquared() < 0.0001f)
        return;
    const float r = std::sqrt(radiusSquared);
    const float d = strength * 0.3f;
    computeFalloffs(list, center, r);
    std::vector<Vertex> &vertices = mesh->getVertices();
    const int n = static_cast<int>(list.size());
    if (topoMode != ADAPTIVE) {
        forEachIndex(n, [&](int k) {
            Vertex &v = vertices[list[k]];
            const float h = v.position.distanceToPlane(plane, normal);
            Mask::move(v, -(((normal * h) * d) * falloffs[k]));
        });
        return;
    }
    const float s = std::sqrt(d2Move);
    forEachIndex(n, [&](int k) {
        Vertex &v = vertices[list[k]];
        const float h = v.position.distanceToPlane(plane, normal);
        float a = h * d * falloffs[k];
        // Limits the pull towards the plane from above only: a negative amount stays.
        if (s <= a || std::isnan(a))
            a = s;
        Mask::move(v, -(normal * a));
    });
}

void Sculptor::sweep(const std::vector<int> &list, float radiusSquared, float strength)
{
    if (!mesh || !(radiusSquared > 0.0f))
        return;
    const float r = std::sqrt(radiusSquared);
    const float d = strength * r * 0.5f;
    std::vector<Vertex> &vertices = mesh->getVertices();
    const QVector3D dir = sweepDir;
    if (topoMode != ADAPTIVE) {
        forEachFalloff(list, sweepCenter, r,
            [&](int k, float f) { Mask::move(vertices[list[k]], (dir * d) * f); });
        return;
    }
    const float s = std::sqrt(d2Move);
    forEachFalloff(list, sweepCenter, r, [&](int k, float f) {
        float a = f * d;
        if (s <= a)
            a = s;
        Mask::move(vertices[list[k]], dir * a);
    });
}

void Sculptor::paintMask(const std::vector<int> &list, float radiusSquared, float strength)
{
    if (!mesh || !(radiusSquared > 0.0f))
        return;
    const float r = std::sqrt(radiusSquared);
    const float d = invert ? -strength : strength;
    computeFalloffs(list, center, r);
    std::vector<Vertex> &vertices = mesh->getVertices();
    const int n = static_cast<int>(list.size());
    forEachIndex(n, [&](int k) {
        Vertex &v = vertices[list[k]];
        v.mask = Mask::clamped(v.mask + d * falloffs[k]);
    });
}

void Sculptor::crease(const std::vector<int> &list, float radiusSquared, float strength)
{
    if (!mesh || !(radiusSquared > 0.0f))
        return;
    const QVector3D normal = areaNormal(list).normalized();
    if (normal.lengthSquared() < 0.0001f)
        return;
    const float r = std::sqrt(radiusSquared);
    // Along the normal as far as deflate goes; across, a share of the distance to the line.
    float d = strength * r * 0.1f;
    const float pinch = strength * 0.5f;
    const bool limited = topoMode == ADAPTIVE;
    const float s = std::sqrt(d2Move);
    if (limited && s <= d)
        d = s;
    if (!invert)
        d = -d;
    // The line's direction within the surface; without one the pull goes towards the centre.
    const QVector3D along =
        (lineDir - normal * QVector3D::dotProduct(lineDir, normal)).normalized();
    // |c - p| is |p - c|: each difference is the other's negation, exactly.
    computeFalloffs(list, center, r);
    std::vector<Vertex> &vertices = mesh->getVertices();
    const QVector3D c = center;
    const int n = static_cast<int>(list.size());
    forEachIndex(n, [&](int k) {
        Vertex &v = vertices[list[k]];
        const QVector3D toCenter = c - v.position;
        const QVector3D across = toCenter - normal * QVector3D::dotProduct(toCenter, normal)
            - along * QVector3D::dotProduct(toCenter, along);
        QVector3D m = (normal * d + across * pinch) * falloffs[k];
        const float l2 = m.lengthSquared();
        if (limited && (l2 > d2Move || std::isnan(l2)))
            m = m.normalized() * s;
        Mask::move(v, m);
    });
}
