#include "Sculptor.h"

#include "mesh/Mesh.h"
#include "topology/Topology.h"

void Sculptor::updateTopologyThresholds(float radiusSquared)
{
    d2Max = (1.1f - detail) * radiusSquared * 0.2f;
    d2Min = d2Max / 4.2025f;
    d2Move = d2Min * 0.2375f;
    d2Fusion = 1.1f * (4.0f * d2Move + d2Max / 3.0f);
}

void Sculptor::listWorking(const int *vertices, std::size_t count, const QVector3D &eyeDir)
{
    const std::vector<Vertex> &records = mesh->getVertices();
    const int stamp = Vertex::brushCounter;
    working.clear();
    for (std::size_t k = 0; k < count; ++k) {
        const int i = vertices[k];
        const Vertex &v = records[i];
        if (v.brushStamp != stamp)
            continue;
        if (culling && !(QVector3D::dotProduct(eyeDir, v.normal) <= 0.0f))
            continue;
        working.push_back(i);
    }
}

Picking::Pieces *Sculptor::startPickedStep(
    const QVector3D &brushCenter, float radiusSquared, const QVector3D &eyeDir)
{
    pickedStep =
        mesh && topoMode == STATIC && (tool == INFLATE || tool == DEFLATE || tool == SWEEP);
    if (!pickedStep)
        return nullptr;
    center = brushCenter;
    stepRadiusSquared = radiusSquared;
    stepEye = eyeDir;
    stepPieces.sculptor = this;
    piecesMade = false;
    mesh->startPieces();
    return &stepPieces;
}

void Sculptor::sculptPiece(const int *triangles, int nbTriangles, const int *inside, int nbInside,
    const int *corners, int nbCorners)
{
    // As sculpt does for the whole lists: the records saved, the vertices deformed, then
    // (trianglesOfPiece) the triangles' boxes and normals.
    piecesMade = true;
    mesh->pushState(triangles, triangles + nbTriangles, inside, inside + nbInside);
    listWorking(corners, static_cast<std::size_t>(nbCorners), stepEye);
    if (tool == SWEEP)
        sweep(working, stepRadiusSquared, intensity);
    else
        inflate(working, stepRadiusSquared, intensity);
}

void Sculptor::StepPieces::trianglesOfPiece(const int *triangles, int nbTriangles, bool beside)
{
    sculptor->mesh->updateTrianglePiece(triangles, nbTriangles, beside);
}

void Sculptor::sculpt(std::vector<int> &vertices, const QVector3D &brushCenter, float radiusSquared,
    const QVector3D &eyeDir, std::vector<int> *gatheredTriangles, std::vector<int> *gatheredCorners)
{
    if (!mesh)
        return;
    // A step is finished here only when the picking did hand its pieces over.
    const bool picked = pickedStep && piecesMade;
    pickedStep = false;
    piecesMade = false;
    center = brushCenter;

    // Painting the mask changes no shape: the triangles stay as they are.
    const int mode = tool == MASK ? STATIC : topoMode;
    // Without topology changes, the triangles and their corners gathered by the picking serve
    // as they are; the corners replace the picked vertices.
    std::vector<int> &triangles = stepTriangles;
    const bool gathered =
        mode == STATIC && gatheredTriangles && gatheredCorners && !gatheredTriangles->empty();
    if (gathered && picked) {
        // Deformed piece by piece during the pick: what is left is for the whole lists.
        triangles.swap(*gatheredTriangles);
        vertices.swap(*gatheredCorners);
        updateTopologyThresholds(radiusSquared);
        mesh->finishPieces(triangles, vertices);
        return;
    }
    if (gathered) {
        triangles.swap(*gatheredTriangles);
        mesh->pushState(triangles, vertices);
        vertices.swap(*gatheredCorners);
    } else {
        triangles = mesh->pushStateAround(vertices);
    }

    updateTopologyThresholds(radiusSquared);

    // Dynamic topology around the selection. Each mode extends `triangles` in place with the
    // triangles it creates or changes.
    Topology topology(mesh, center, radiusSquared);
    switch (mode) {
    case SUBDIVISION:
        topology.subdivision(triangles, d2Max);
        break;
    case DECIMATION:
        topology.decimation(triangles, d2Min);
        break;
    case UNIFORMISATION:
    case ADAPTIVE:
        topology.uniformisation(triangles, d2Min, d2Max);
        break;
    default:
        break;
    }

    // The corners of the triangles, as getVerticesFromTriangles lists them, and among them, in
    // the same order, those to deform (the topology keeps the stamps right for the vertices it
    // creates).
    if (!gathered)
        vertices = mesh->getVerticesFromTriangles(triangles);
    listWorking(vertices.data(), vertices.size(), eyeDir);

    switch (tool) {
    case INFLATE:
    case DEFLATE:
        inflate(working, radiusSquared, intensity);
        break;
    case SMOOTH:
        smooth(working, intensity);
        break;
    case FLATTEN:
        flatten(working, radiusSquared, intensity);
        break;
    case SWEEP:
        sweep(working, radiusSquared, intensity);
        break;
    case MASK:
        paintMask(working, radiusSquared, intensity);
        // Only masks changed: normals, boxes and octree stay as they are.
        if (MeshGpu *gpu = mesh->getGpu())
            gpu->patchMasks(*mesh, working);
        return;
    case CREASE:
        crease(working, radiusSquared, intensity);
        break;
    default:
        break;
    }

    if (mode == ADAPTIVE) {
        // Surfaces that the tool brought closer than the fusion threshold are fused.
        topology.adaptive(triangles, d2Fusion);
        vertices = mesh->getVerticesFromTriangles(triangles);
    }

    mesh->updateMesh(triangles, vertices);
}

void Sculptor::advanceLine(const QVector3D &point)
{
    if (hasLinePoint && point != linePoint)
        lineDir = (point - linePoint).normalized();
    linePoint = point;
    hasLinePoint = true;
}
