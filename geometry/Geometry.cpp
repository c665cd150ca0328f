#include "Geometry.h"

#include <algorithm>
#include <cmath>

namespace Geometry {

ScreenTransform ScreenTransform::fromMatrices(
    const QMatrix4x4 &modelView, const QMatrix4x4 &projection, const std::array<int, 4> &viewport)
{
    ScreenTransform t;
    const float *mv = modelView.constData();
    const float *pr = projection.constData();
    for (int i = 0; i < 16; ++i) {
        t.modelView[i] = mv[i];
        t.projection[i] = pr[i];
    }
    t.viewport = viewport;
    return t;
}

QVector3D unitVector(const QVector3D &v)
{
    // qHypot scales before squaring, so the length neither underflows nor overflows.
    const float length = v.length();
    if (!(length > 0.0f) || !std::isfinite(length))
        return QVector3D();
    if (qFuzzyIsNull(length - 1.0f))
        return v;
    return v / length;
}

QVector3D triangleNormal(const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    return unitVector(QVector3D::crossProduct(b - a, c - a));
}

float distanceSquaredToSegment(const QVector3D &p, const QVector3D &a, const QVector3D &b)
{
    const QVector3D ab = b - a;
    const float t = QVector3D::dotProduct(p - a, ab) / ab.lengthSquared();
    if (t < 0.0f)
        return (p - a).lengthSquared();
    // A zero-length segment gives a NaN t, which fails both tests and ends here as well.
    if (!(t < 1.0f))
        return (p - b).lengthSquared();
    return (p - (a + t * ab)).lengthSquared();
}

bool sphereTouchesEdges(const QVector3D &p, float radiusSquared, const QVector3D &a,
    const QVector3D &b, const QVector3D &c)
{
    return distanceSquaredToSegment(p, a, b) < radiusSquared
        || distanceSquaredToSegment(p, b, c) < radiusSquared
        || distanceSquaredToSegment(p, a, c) < radiusSquared;
}

QVector3D projectOnLine(const QVector3D &p, const QVector3D &a, const QVector3D &b)
{
    const QVector3D ab = b - a;
    const float t = QVector3D::dotProduct(p - a, ab) / ab.lengthSquared();
    return a + t * ab;
}

bool intersectionSegmentTriangle(const QVector3D &p1, const QVector3D &p2, const QVector3D &v1,
    const QVector3D &v2, const QVector3D &v3, const QVector3D &n, QVector3D &intersection)
{
    const float d1 = QVector3D::dotProduct(p1 - v1, n);
    const float d2 = QVector3D::dotProduct(p2 - v1, n);
    if (d1 * d2 >= 0.0f || d1 == d2)
        return false;
    const float t = -d1 / (d2 - d1);
    intersection = p1 + t * (p2 - p1);
    // Inclusive edge tests, with an allowance for rounding: a segment through a vertex or along
    // an edge crosses several triangles there, each of which computes its own crossing point on
    // its own plane, and rounding must not make every one of them refuse it (the segment would
    // fall through the surface). The allowance is a distance from the edge of a few float steps
    // of the coordinates involved, so it means the same in any units.
    const float slack = edgeAllowance * (p1.length() + (intersection - p1).length());
    auto outside = [&](const QVector3D &a, const QVector3D &b) {
        const QVector3D edge = b - a;
        return QVector3D::dotProduct(QVector3D::crossProduct(n, edge), intersection - a)
            < -slack * edge.length();
    };
    return !outside(v1, v2) && !outside(v2, v3) && !outside(v3, v1);
}

bool pointInTriangle(const QVector3D &p, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    const float s = QVector3D::crossProduct(a - b, a - c).length();
    const float s1 = QVector3D::crossProduct(a - b, p - b).length();
    const float s2 = QVector3D::crossProduct(a - c, p - c).length();
    const float s3 = QVector3D::crossProduct(p - b, p - c).length();
    return std::abs(s - ((s1 + s2) + s3)) < 0.0001f;
}

namespace {

// out = m * in, column-major 4x4 by a 4-vector.
void multiply(const std::array<double, 16> &m, const double in[4], double out[4])
{
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * in[0] + m[4 + r] * in[1] + m[8 + r] * in[2] + m[12 + r] * in[3];
}

// Column-major product a * b.
std::array<double, 16> multiply(const std::array<double, 16> &a, const std::array<double, 16> &b)
{
    std::array<double, 16> r {};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k)
                s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    return r;
}

// General 4x4 inverse by cofactors; false when the matrix is singular.
bool invert(const std::array<double, 16> &m, std::array<double, 16> &inv)
{
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14]
        + m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15]
        - m[8] * m[7] * m[14] - m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13]
        + m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14]
        - m[8] * m[6] * m[13] - m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15]
        - m[9] * m[3] * m[14] - m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14]
        + m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13]
        - m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13]
        + m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14]
        + m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14]
        - m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13]
        + m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13]
        - m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10]
        - m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10]
        + m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9]
        - m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9]
        + m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0)
        return false;
    for (double &v : inv)
        v /= det;
    return true;
}

} // namespace

bool project(const QVector3D &world, const ScreenTransform &t, double window[3])
{
    const double in[4] = {world.x(), world.y(), world.z(), 1.0};
    double eye[4];
    double clip[4];
    multiply(t.modelView, in, eye);
    multiply(t.projection, eye, clip);
    if (clip[3] == 0.0)
        return false;
    for (int k = 0; k < 3; ++k)
        clip[k] = clip[k] / clip[3] * 0.5 + 0.5;
    window[0] = clip[0] * t.viewport[2] + t.viewport[0];
    window[1] = clip[1] * t.viewport[3] + t.viewport[1];
    window[2] = clip[2];
    return true;
}

bool unProject(double winX, double winY, double winZ, const ScreenTransform &t, double world[3])
{
    std::array<double, 16> inverse;
    if (!invert(multiply(t.projection, t.modelView), inverse))
        return false;
    const double in[4] = {(winX - t.viewport[0]) / t.viewport[2] * 2.0 - 1.0,
        (winY - t.viewport[1]) / t.viewport[3] * 2.0 - 1.0, winZ * 2.0 - 1.0, 1.0};
    double out[4];
    multiply(inverse, in, out);
    if (out[3] == 0.0)
        return false;
    for (int k = 0; k < 3; ++k)
        world[k] = out[k] / out[3];
    return true;
}

QPointF worldToScreen(const QVector3D &world, const ScreenTransform &t, double /*width*/,
    double height, double &depth)
{
    double w[3] = {0.0, 0.0, 0.0};
    project(world, t, w);
    depth = w[2];
    return QPointF(w[0], height - w[1]);
}

QVector3D screenToWorld(
    const QPointF &pixel, const ScreenTransform &t, double /*width*/, double height, float depth)
{
    double w[3] = {0.0, 0.0, 0.0};
    unProject(pixel.x(), height - pixel.y(), depth, t, w);
    return QVector3D(float(w[0]), float(w[1]), float(w[2]));
}

void mouseRay(const QPointF &pixel, const ScreenTransform &t, double width, double height,
    QVector3D &nearPoint, QVector3D &farPoint)
{
    nearPoint = screenToWorld(pixel, t, width, height, 0.0f);
    farPoint = screenToWorld(pixel, t, width, height, 1.0f);
}

QVector3D screenDirection(
    const QPointF &from, const QPointF &to, const ScreenTransform &t, double width, double height)
{
    const QVector3D a = screenToWorld(from, t, width, height, 0.0f);
    const QVector3D b = screenToWorld(to, t, width, height, 0.0f);
    return unitVector(b - a);
}

} // namespace Geometry
