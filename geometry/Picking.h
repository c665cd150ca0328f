#pragma once

#include "geometry/Geometry.h"

#include <QPointF>
#include <QVector3D>

#include <atomic>
#include <memory>
#include <vector>

class Mesh;

// What lies under the cursor: the nearest triangle crossed by the mouse segment, the point where
// it is crossed, the brush radius converted from pixels to mesh units at that point, and the
// vertices inside the brush sphere around it. Points are in the mesh's own coordinates.
class Picking
{
public:
    Picking() = default;

    // Nearest triangle crossed by the segment nearPoint-farPoint (mesh coordinates), then the
    // world radius at the hit for the cursor at `mouse` in a view of width x height pixels
    // drawn with `screen`. On a miss: mesh null, triangle -1, world radius 0; the intersection
    // point keeps its previous value.
    void intersectionRayMesh(Mesh *mesh, const QVector3D &nearPoint, const QVector3D &farPoint,
        const QPointF &mouse, const Geometry::ScreenTransform &screen, double width, double height);
    // The triangle part of intersectionRayMesh alone: the world radius is left as it is on a
    // hit and set to 0 on a miss. Returns true on a hit. For callers that set the radius
    // themselves (scripted strokes, the mirrored half of a symmetric step).
    bool intersectRay(Mesh *mesh, const QVector3D &nearPoint, const QVector3D &farPoint);
    // Puts the brush at `point` (mesh coordinates) on `mesh` and recomputes the world radius
    // there; the picked triangle does not change.
    void pickAtPoint(Mesh *mesh, const QVector3D &point, const QPointF &mouse,
        const Geometry::ScreenTransform &screen, double width, double height);
    // Fills the picked vertices with those strictly within sqrt(radiusSquared) of the
    // intersection point, stamping each with a new Vertex::brushCounter, and records the octree
    // leaves met in the mesh's leaves-to-update list. When none is inside, the picked
    // triangle's three corners are listed unstamped. Without a mesh the list is left empty.
    // In the same pass, the triangles with a picked corner and their corners are gathered (see
    // getPickedTriangles). With `pieces`, each piece of those lists is handed over as soon as
    // it is gathered (see Pieces).
    class Pieces;
    void pickVerticesInSphere(float radiusSquared, Pieces *pieces = nullptr);

    Mesh *getMesh() const { return mesh; }
    void setMesh(Mesh *m) { mesh = m; }
    const QVector3D &getIntersectionPoint() const { return intersectionPoint; }
    void setIntersectionPoint(const QVector3D &p) { intersectionPoint = p; }
    std::vector<int> &getPickedVertices() { return pickedVertices; }
    const std::vector<int> &getPickedVertices() const { return pickedVertices; }
    // After pickVerticesInSphere: the triangles with at least one picked corner (the same set
    // as Mesh::getTrianglesFromVertices of the picked vertices, in the order the octree leaves
    // list them), and their corners as Mesh::getVerticesFromTriangles lists them. Both empty
    // when no vertex is inside. Sculptor::sculpt takes them over (what they hold after it is
    // its working room).
    std::vector<int> &getPickedTriangles() { return pickedTriangles; }
    std::vector<int> &getPickedCorners() { return pickedCorners; }
    float getRadiusWorldSquared() const { return radiusWorldSquared; }
    void setRadiusWorldSquared(float r2) { radiusWorldSquared = r2; }
    float getRadiusScreen() const { return radiusScreen; }
    void setRadiusScreen(float r) { radiusScreen = r; }
    int getPickedTriangle() const { return pickedTriangle; }

    // Receives the lists of pickVerticesInSphere piece by piece, while the picking goes on: the
    // triangles gathered since the last piece, the vertices found inside among their corners,
    // and the corners listed for the first time. Every corner of a piece's triangles has been
    // tested by then, and is listed in this piece or an earlier one; every vertex found inside
    // is among the corners of its own piece. The pieces, joined in order, are the whole lists.
    // The receiver may move the pieces' vertices and update their triangles (a later test
    // reads only the stamps of a vertex already tested, and no triangle is met twice), but
    // must leave the stamps and the octree as they are.
    //
    // piece() is called on the calling thread. Once it returned, the piece's triangles are
    // given again to trianglesOfPiece(), in order (several pieces may come joined): right
    // after, or, on a large pick, on a second thread while the picking goes on. No later piece
    // moves a corner of them, and trianglesOfPiece may write only the triangles it is given
    // (and memory of its own). pickVerticesInSphere returns when every call has returned.
    class Pieces
    {
    public:
        virtual ~Pieces() = default;
        virtual void piece(const int *triangles, int nbTriangles, const int *inside, int nbInside,
            const int *corners, int nbCorners) = 0;
        // `beside`: called on the second thread, to which the records are not near.
        virtual void trianglesOfPiece(const int *triangles, int nbTriangles, bool beside) = 0;
    };

private:
    void computeRadiusWorld(
        const QPointF &mouse, const Geometry::ScreenTransform &screen, double width, double height);

    Mesh *mesh = nullptr; // not owning
    int pickedTriangle = -1;
    std::vector<int> pickedVertices;
    std::vector<int> pickedTriangles;
    std::vector<int> pickedCorners;
    QVector3D intersectionPoint {0.0f, 0.0f, 0.0f};
    float radiusScreen = 50.0f;
    float radiusWorldSquared = 0.0f;
    // A run of at most 256 entries of one leaf's list, as pickVerticesInSphere tests them.
    struct Block
    {
        const int *entries;
        int count;
        std::size_t total; // entries of the blocks before this one
    };
    // Working memory of pickVerticesInSphere.
    std::vector<Block> blockWork;
    std::vector<int> nearWork;
    std::vector<int> nearCounts;
    std::unique_ptr<std::atomic<int>[]> blockStates;
    std::size_t blockStateCapacity = 0;
};
