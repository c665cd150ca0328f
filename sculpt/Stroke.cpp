#include "Stroke.h"

#include "Sculptor.h"
#include "geometry/Geometry.h"
#include "geometry/Picking.h"
#include "mesh/Mesh.h"

namespace Stroke {

QVector3D mirror(const QVector3D &p)
{
    const QVector3D normal(1.0f, 0.0f, 0.0f);
    const float s = p.distanceToPlane(QVector3D(0.0f, 0.0f, 0.0f), normal);
    return p - 2.0f * s * normal;
}

void press(Mesh &mesh, const Picking &picking, Sculptor &sculptor)
{
    mesh.newState();
    sculptor.startLine();
    if (picking.getMesh()) {
        sculptor.setSweepCenter(picking.getIntersectionPoint());
        sculptor.advanceLine(picking.getIntersectionPoint());
    }
}

int sculptDab(Mesh &mesh, Picking &picking, Sculptor &sculptor, const QVector3D &nearPoint,
    const QVector3D &farPoint, bool symmetry)
{
    if (picking.getMesh() != &mesh)
        return 0;

    const float radiusSquared = picking.getRadiusWorldSquared();
    const QVector3D center = picking.getIntersectionPoint();
    const QVector3D eye = Geometry::unitVector(farPoint - nearPoint);
    sculptor.setMesh(picking.getMesh());
    picking.pickVerticesInSphere(
        radiusSquared, sculptor.startPickedStep(center, radiusSquared, eye));
    sculptor.advanceLine(center);
    sculptor.sculpt(picking.getPickedVertices(), center, radiusSquared, eye,
        &picking.getPickedTriangles(), &picking.getPickedCorners());

    if (!symmetry || sculptor.isSweep())
        return 1;

    const QVector3D nearMirrored = mirror(nearPoint);
    const QVector3D farMirrored = mirror(farPoint);
    const QVector3D centerMirrored = mirror(picking.getIntersectionPoint());
    // Only the picked triangle of this pick matters (for the fallback selection): the mirrored
    // half works with the first half's radius, and goes on even when the mirrored ray misses.
    picking.intersectRay(&mesh, nearMirrored, farMirrored);
    picking.setMesh(&mesh);
    picking.setIntersectionPoint(centerMirrored);
    const QVector3D eyeMirrored = Geometry::unitVector(farMirrored - nearMirrored);
    picking.pickVerticesInSphere(
        radiusSquared, sculptor.startPickedStep(centerMirrored, radiusSquared, eyeMirrored));
    const QVector3D lineDir = sculptor.getLineDir();
    sculptor.setLineDir(mirror(lineDir));
    sculptor.sculpt(picking.getPickedVertices(), picking.getIntersectionPoint(), radiusSquared,
        eyeMirrored, &picking.getPickedTriangles(), &picking.getPickedCorners());
    sculptor.setLineDir(lineDir);

    picking.setIntersectionPoint(center);
    picking.setRadiusWorldSquared(radiusSquared);
    return 2;
}

void release(Mesh &mesh)
{
    mesh.checkLeavesUpdate();
}

} // namespace Stroke
