#pragma once

#include <QVector3D>

class Mesh;
class Picking;
class Sculptor;

// The mesh-side steps of a brush stroke, shared by the view's mouse handling and by scripted
// strokes, so that both sculpt the same way. Everything is in the mesh's own coordinates.
namespace Stroke {

// Right-button press: opens the history state of the stroke, and when the last pick hit the
// mesh, puts the sweep centre and the start of the stroke's line on the picked point.
void press(Mesh &mesh, const Picking &picking, Sculptor &sculptor);

// One accepted brush step, after the step's pick: `picking` holds either the pick of the ray
// nearPoint-farPoint (Picking::intersectionRayMesh or Picking::intersectRay followed by setting
// the world radius) or, for the sweep tool, the brush placed on the sweep centre
// (Picking::pickAtPoint). Gathers the vertices inside the brush sphere, sculpts, and when
// `symmetry` is set and the tool is not sweep, applies the brush a second time mirrored across
// the plane x = 0 with the radius of the first application; the picking's point and radius are
// restored afterwards. Returns the number of brush applications made (0 when the picking has
// no mesh, which is the case after a missed pick). The mirrored application has the mirrored
// line of the stroke.
int sculptDab(Mesh &mesh, Picking &picking, Sculptor &sculptor, const QVector3D &nearPoint,
    const QVector3D &farPoint, bool symmetry);

// Button release: reorganises the octree leaves that the stroke's brush queries met.
void release(Mesh &mesh);

// The mirror image of a point across the plane x = 0.
QVector3D mirror(const QVector3D &p);

} // namespace Stroke
